# Shared by the fault scripts, sourced after lib.sh: the two gateway links, the list server,
# the program's copies, and the views of the table the checks compare.
#
#   private network + mount namespace (lib.sh):
#
#     lanx0  192.168.1.2/24 ==veth== lanx0p    Lanx gateway 192.168.1.1 (on the link, no host)
#     world0 192.168.2.2/24 ==veth== world0p   world gateway 192.168.2.1
#     lo 127.0.0.1:80  list_server.py; the path /switch answers as the mode in $work/mode
#
#     $LANX_BIN / $LANX_UPDATE_ONCE, working directory $run (log, static file)
: "${LANX_BIN:?LANX_BIN must name the program}"
: "${LANX_UPDATE_ONCE:?LANX_UPDATE_ONCE must name the update_once driver}"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

LANX_GW=192.168.1.1
WORLD_GW=192.168.2.1
URL=@127.0.0.1/switch
work=$(mktemp -d /run/lanx_faults.XXXXXX)
run=$work/run
server_pid=
bin=$(readlink -f "$LANX_BIN")

# The background copies of this test: the program running with its cwd in $run.
daemon_pids() {
	local p
	for p in /proc/[0-9]*; do
		[ "$(readlink "$p/exe" 2>/dev/null)" = "$bin" ] || continue
		[ "$(readlink "$p/cwd" 2>/dev/null)" = "$run" ] || continue
		echo "${p#/proc/}"
	done
}
ndaemons() { daemon_pids | wc -l; }
gone() { [ "$(ndaemons)" = 0 ]; }

# A script may define cleanup_more for what it adds.
cleanup() {
	local p
	for p in $(daemon_pids); do kill -9 "$p" 2>/dev/null || true; done
	wait_for 10 gone || true
	if declare -F cleanup_more >/dev/null; then cleanup_more || true; fi
	if [ -n "$server_pid" ]; then
		kill "$server_pid" 2>/dev/null || true
		wait "$server_pid" 2>/dev/null || true
	fi
	rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$run" || fail "working directory"
ip link add lanx0 type veth peer name lanx0p || fail "lanx link"
ip link add world0 type veth peer name world0p || fail "world link"
for l in lanx0 lanx0p world0 world0p; do ip link set "$l" up || fail "up $l"; done
ip addr add 192.168.1.2/24 dev lanx0 || fail "lanx address"
ip addr add 192.168.2.2/24 dev world0 || fail "world address"

echo list.txt >"$work/mode" || fail "mode file"
python3 "$here/list_server.py" 127.0.0.1 80 "$work/requests" "$work/ready" "$work/mode" &
server_pid=$!
wait_for 20 test -e "$work/ready" || fail "list server did not start"

# mode WORD: what /switch answers from now on.
mode() { echo "$1" >"$work/mode" || fail "mode $1"; }
requests() { grep -c '^GET ' "$work/requests" 2>/dev/null || true; }

# lanx ARGS...: the program in $run; sets status and err.
lanx() {
	status=0
	(cd "$run" && "$LANX_BIN" "$@") 2>"$work/err" || status=$?
	err=$(cat "$work/err")
}
# cycle [ARGS...]: one cycle of the driver in $run with changes shown; sets status and out.
cycle() {
	status=0
	out=$(cd "$run" && "$LANX_UPDATE_ONCE" -10 "$@" "$URL" "$LANX_GW" "$WORLD_GW" 2>&1) || status=$?
}
result_of() { grep -x 'Updated route table \(un\)\?successfully' <<<"$1" || true; }
# Every change line carries only a status: op, prefix, mask, interface and a hex number.
only_statuses() { ! grep '^[-+*i~]' <<<"$1" | grep -qvE '^[-+*i~][0-9.]+/[0-9.]+\[[0-9a-f]+\]: [0-9a-f]+$'; }

log() { cat "$run/lanxroute.log" 2>/dev/null || true; }
count_lines() { log | grep -c -x -- "$1" || true; }
lines_at_least() { [ "$(count_lines "$1")" -ge "$2" ]; }

# Our routes as "prefix gateway link", sorted; want PREFIX... gives what they should be.
ours() { ip -4 route show proto 76 | awk '{ print $1, $3, $5 }' | sort; }
want() { [ $# = 0 ] || printf "%s $LANX_GW lanx0\n" "$@" | sort; }
routes_are() { [ "$(ours)" = "$(want "$@")" ]; }
