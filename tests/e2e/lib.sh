# Shared by the end-to-end scripts: private namespaces, polling, assertions.
# Source it first thing; it re-runs the calling script inside a network and mount namespace of
# its own, with fresh tmpfs on /dev/shm and /run and the loopback up, so nothing leaks out.

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$(id -u)" != 0 ]; then
	echo "SKIP: needs root" >&2
	exit 0
fi

if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	export LANX_IN_NAMESPACE=1
	exec unshare --net --mount --propagation private -- bash "$0" "$@"
fi
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
ip link set lo up

# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds or the time is up.
wait_for() {
	local deadline=$((SECONDS + $1)); shift
	until "$@"; do
		[ "$SECONDS" -lt "$deadline" ] || return 1
		sleep 0.05
	done
}

# expect_eq ACTUAL EXPECTED WHAT
expect_eq() {
	[ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"
}

# The scripts talk to loopback only: no proxy may stand in between.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY ftp_proxy FTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

e2e_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Clean-up: first the program's copies running in $run, then the steps of at_exit, the last added
# first. A script adds its own steps rather than writing another cleanup.
cleanup_steps=()
# at_exit COMMAND: a step for the clean-up, evaluated at exit.
at_exit() { cleanup_steps=("$1" "${cleanup_steps[@]}"); }
cleanup() {
	local p s
	if [ -n "${run:-}" ] && [ -n "${LANX_BIN:-}" ]; then
		for p in $(daemon_pids); do kill -9 "$p" 2>/dev/null || true; done
		wait_for 10 gone || true
	fi
	for s in "${cleanup_steps[@]}"; do eval "$s" || true; done
}
trap cleanup EXIT

# work_dir NAME: a fresh $work under /run with $run inside it, removed at exit.
work_dir() {
	work=$(mktemp -d "/run/lanx_$1.XXXXXX") || fail "working directory"
	run=$work/run
	mkdir -p "$run" || fail "working directory"
	at_exit 'rm -rf "$work"'
}

# The background copies of this test: the program running with its cwd in $run.
daemon_pids() {
	local p bin
	bin=$(readlink -f "$LANX_BIN")
	for p in /proc/[0-9]*; do
		[ "$(readlink "$p/exe" 2>/dev/null)" = "$bin" ] || continue
		[ "$(readlink "$p/cwd" 2>/dev/null)" = "$run" ] || continue
		echo "${p#/proc/}"
	done
}
ndaemons() { daemon_pids | wc -l; }
gone() { [ "$(ndaemons)" = 0 ]; }

# gateway_links LANX_ADDRESS WORLD_ADDRESS: the veth pairs lanx0/lanx0p and world0/world0p, up,
# with these addresses on lanx0 and world0.
gateway_links() {
	local l
	ip link add lanx0 type veth peer name lanx0p || fail "lanx link"
	ip link add world0 type veth peer name world0p || fail "world link"
	for l in lanx0 lanx0p world0 world0p; do ip link set "$l" up || fail "up $l"; done
	ip addr add "$1" dev lanx0 || fail "lanx address"
	ip addr add "$2" dev world0 || fail "world address"
}

# The list server on 127.0.0.1:80, stopped at exit.
server_pid=
stop_list_server() {
	[ -n "$server_pid" ] || return 0
	kill "$server_pid" 2>/dev/null || true
	wait "$server_pid" 2>/dev/null || true
	server_pid=
}
server_up() { (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; }
# serve_dir DIR: python3 http.server serving the files of DIR.
serve_dir() {
	python3 -m http.server 80 --bind 127.0.0.1 --directory "$1" >/dev/null 2>&1 &
	server_pid=$!
	at_exit stop_list_server
	wait_for 10 server_up || fail "list server did not start"
}
# serve_list REQUESTS READY [MODE]: list_server.py, logging requests to REQUESTS; READY appears when it listens.
serve_list() {
	python3 "$e2e_lib/list_server.py" 127.0.0.1 80 "$@" &
	server_pid=$!
	at_exit stop_list_server
	wait_for 20 test -e "$2" || fail "list server did not start"
}
