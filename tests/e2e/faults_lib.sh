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
LANX_GW=192.168.1.1
WORLD_GW=192.168.2.1
URL=@127.0.0.1/switch
N=200000
# The prefixes of many$N: every other /24 from 30.0.0.0.
many() { awk -v from="$1" -v to="$2" 'BEGIN { for (i = from; i < to; i++) { a = 30 * 16777216 + i * 512
	printf "%d.%d.%d.0/24\n", int(a / 16777216), int(a / 65536) % 256, int(a / 256) % 256 } }'; }
first_made() { ip route list exact 30.0.2.0/24 | grep -q .; }

work_dir faults
gateway_links 192.168.1.2/24 192.168.2.2/24

echo list.txt >"$work/mode" || fail "mode file"
serve_list "$work/requests" "$work/ready" "$work/mode"

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
