# Sourced first thing by the end-to-end scripts (and bench/compare.sh): re-runs the calling script,
# as root, inside a network + mount namespace of its own with fresh tmpfs on /dev/shm and /run and
# only the loopback up, so no route, address, file or packet of it leaves that namespace.

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root" >&2; exit 0; }
if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	export LANX_IN_NAMESPACE=1
	exec unshare --net --mount --propagation private -- bash "$0" "$@"
fi
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
ip link set lo up
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds or the time is up.
wait_for() {
	local deadline=$((SECONDS + $1)); shift
	until "$@"; do
		[ "$SECONDS" -lt "$deadline" ] || return 1
		sleep 0.05
	done
}
# expect WHAT ACTUAL EXPECTED
expect() { [ "$2" = "$3" ] || fail "$1: expected"$'\n'"$3"$'\n'"--- got ---"$'\n'"$2"; }

# The processes of this namespace but the script itself: the list server, the program's copies.
ns_pids() {
	local p ns; ns=$(readlink /proc/$$/ns/net)
	for p in /proc/[0-9]*; do
		[ "${p#/proc/}" != $$ ] && [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$ns" ] && echo "${p#/proc/}"
	done
}
# At exit every one of them ends, and with them the namespace and its tmpfs.
trap 'for p in $(ns_pids); do kill -9 "$p" 2>/dev/null || true; done' EXIT
work=$(mktemp -d /run/lanx.XXXXXX)

# link NAME ADDRESS...: a veth pair NAME/NAMEp, both up, NAME given `ip addr add ADDRESS...`.
link() {
	ip link add "$1" type veth peer name "$1p" && ip link set "$1p" up && ip link set "$1" up &&
	    ip addr add "${@:2}" dev "$1" || fail "link $1"
}
# listening HOST/PORT...: waits until each accepts a connection.
listening() {
	local a
	for a; do wait_for 10 bash -c "exec 3<>/dev/tcp/$a" 2>/dev/null || fail "nothing listens on $a"; done
}
# Routes as this program makes them, as "block gateway link"; the copies of the program running.
ours() { ip -4 route | sed -n 's/ via \([0-9.]*\) dev \([a-z0-9]*\) proto 76 metric 1 $/ \1 \2/p'; }
copies() {
	local p bin; bin=$(readlink -f "$LANX_BIN")
	for p in $(ns_pids); do [ "$(readlink "/proc/$p/exe")" != "$bin" ] || echo "$p"; done
}
ifx() { printf %x "$(ip -o link show dev "$1" | cut -d: -f1)"; }   # the index as the program logs it
# raw FILE HEADERS [BODY]: FILE, a 200 answer with those header lines and that body, for list_server.py.
raw() { { printf 'HTTP/1.0 200 OK\r\n%s\r\n' "$2"; cat "${3:-/dev/null}"; } >"$1"; }
