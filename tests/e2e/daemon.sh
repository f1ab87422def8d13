#!/bin/bash
# The real program in the background: the start detaches a copy that runs a cycle every 5 s and
# takes the commands of later invocations through the shared word until --exit.
#
#   [own network + mount namespace, lib.sh; fresh tmpfs on /run and /dev/shm]
#   lanx0  10.0.0.2 peer 10.0.0.1  ==veth== lanx0p   Lanx gateway 10.0.0.1 (point-to-point)
#   world0 192.0.2.2/24            ==veth== world0p  world gateway 192.0.2.1
#   lo 127.0.0.1:80  python3 http.server over $work/www (list.txt)
#   /dev/shm/LanxRouteShmem  planted by the user nobody
#   $LANX_BIN in $work --spawn--> the copy (in $work: lanxroute.log, lanxroute.static;
#                                           its word /run/LanxRouteShmem)
set -e
source "$(dirname "$0")/lib.sh"
: "${LANX_BIN:?LANX_BIN must name the program}"
link lanx0 10.0.0.2 peer 10.0.0.1
link world0 192.0.2.2/24
mkdir "$work/www"
echo 10.1.0.0/16 >"$work/www/list.txt"
serve "$work/www"
cd "$work"

# lanx ARGS...: one invocation, holding a descriptor 9 of its own, bounded to 20 s; "status:output"
# in $got.
lanx() { local rc=0; timeout 20 "$LANX_BIN" "$@" >out 2>&1 9>held || rc=$?; got="$rc:$(cat out)"; }
copies() { for p in $(ns_pids); do [ "$(readlink "/proc/$p/exe")" != "$(readlink -f "$LANX_BIN")" ] || echo "$p"; done; }
log() { cat lanxroute.log; }
has() { grep -qxF -- "$1" lanxroute.log; }
cycles() { [ "$(grep -cx "Updated route table successfully" lanxroute.log 2>/dev/null)" -ge "$1" ]; }
# via_lanx BLOCK...: each has the route this program makes via the Lanx gateway.
via_lanx() { for b; do [ "$(ip -4 route show exact "$b")" = "$b via 10.0.0.1 dev lanx0 proto 76 metric 1 " ] || return 1; done; }

# Another user's file where a user's copy keeps its word does not stop root's copy.
printf ABCD >/dev/shm/LanxRouteShmem
chown nobody /dev/shm/LanxRouteShmem
chmod 600 /dev/shm/LanxRouteShmem

# The start returns at once, silent; the copy runs in a session of its own, with nothing of the
# invoker's but its word, at /run; it routes the list and goes on with cycles.
lanx @127.0.0.1/list.txt 10.0.0.1 192.0.2.1
expect "start" "$got" "0:"
wait_for 10 cycles 1 || fail "no first cycle: $(log)"
pid=$(copies)
expect "the copy's session" "$(cut -d' ' -f6 "/proc/$pid/stat")" "$pid"
expect "the copy's descriptors 0-3 and 9" "$(readlink /proc/"$pid"/fd/{0,1,2,3,9})" "/dev/null
/dev/null
/dev/null
/run/LanxRouteShmem"
expect "the planted file" "$(stat -c '%U %a' /dev/shm/LanxRouteShmem; cat /dev/shm/LanxRouteShmem)" "nobody 600
ABCD"
expect "the first cycle's log" "$(head -n 7 lanxroute.log)" "--------------

Updating route table
Loading subnet list from http://127.0.0.1/list.txt
  handles hi=1, hc=2, hr=3
  len=c
Updated route table successfully"
via_lanx 10.1.0.0/16 || fail "no route of the first cycle: $(ip -4 route)"
wait_for 15 cycles 2 || fail "no second cycle: $(log)"

# --changes: a later invocation is a command; the copy logs the routes a list change makes, and
# reads the static file afresh.
lanx --changes
expect "--changes" "$got" "1:LanxRoute is already running."
printf '10.1.0.0/16\n10.2.0.0/16\n' >www/list.txt
echo 198.18.0.0/15 >lanxroute.static
wait_for 15 has "+10.2.0.0/255.255.0.0[$(ifx lanx0)]: 0" || fail "no change line: $(log)"
wait_for 15 via_lanx 10.1.0.0/16 10.2.0.0/16 198.18.0.0/15 || fail "listed routes: $(ip -4 route)"

# The point-to-point Lanx link made anew under another index: the routes follow it.
ip link del lanx0
link lanx0 10.0.0.2 peer 10.0.0.1
wait_for 15 has "+10.2.0.0/255.255.0.0[$(ifx lanx0)]: 0" || fail "no route on the new link: $(log)"
wait_for 15 via_lanx 10.1.0.0/16 10.2.0.0/16 || fail "routes on the new link: $(ip -4 route)"

# --verbose adds each listed block's line; -0 turns every line off, and a route still goes.
lanx --verbose
expect "--verbose" "$got" "1:LanxRoute is already running."
wait_for 15 has U0000020a/16 || fail "no listed block lines: $(log)"
lanx -0
expect "-0" "$got" "1:LanxRoute is already running."
echo 10.1.0.0/16 >www/list.txt
wait_for 15 eval '[ -z "$(ip -4 route show exact 10.2.0.0/16)" ]' || fail "route kept: $(ip -4 route)"
has "-10.2.0.0/255.255.0.0[$(ifx lanx0)]: 0" && fail "a deletion logged with every flag off"

# --exit: silent for the invoker; the copy ends with "Exiting".
lanx --exit
expect "--exit" "$got" "1:"
wait_for 10 eval '[ -z "$(copies)" ]' || fail "the copy did not end"
expect "the last log line" "$(tail -n 1 lanxroute.log)" "Exiting"
echo PASS
