#!/bin/bash
# The real program in the background: the start detaches a copy that runs a cycle every 5 s and
# takes the commands of later invocations through the shared word until --exit. Then signals to a
# copy run in the foreground: SIGTERM ends it with "Exiting" and status 0 within 10 s whether it
# waits or redials; SIGKILL takes pppd with it. A gzip bomb is cut off.
#
#   [own network + mount namespace, lib.sh; fresh tmpfs on /run and /dev/shm]
#   lanx0  10.0.0.2 peer 10.0.0.1  ==veth== lanx0p   Lanx gateway 10.0.0.1 (point-to-point)
#   world0 192.0.2.2/24            ==veth== world0p  world gateway 192.0.2.1
#   lo 127.0.0.1:80  list_server.py over $work/www (ETag, 304, gzip; its answers in served; *.raw)
#   /usr/sbin/pppd   overlay: peer "up" reports READY=1 and stays, "fail" ends
#   $LANX_BIN in $work --spawn--> the copy (in $work: lanxroute.log, lanxroute.static;
#                                           its word /run/lanxroute/LanxRouteShmem)
set -e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
link lanx0 10.0.0.2 peer 10.0.0.1
link world0 192.0.2.2/24
mkdir -p "$work/www" "$work/sbin" "$work/etc" "$work/etc.work"
cd "$work"
echo 10.1.0.0/16 >www/list.txt
cat >sbin/pppd <<'PPPD'
#!/bin/bash
[ "$2" = up ] && python3 -c 'import os, socket; n = os.environ["NOTIFY_SOCKET"]
socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(b"READY=1", "\0" + n[1:] if n[0] == "@" else n)'
[ "$2" = fail ] && exit 8
exec sleep 1000
PPPD
chmod 755 sbin/pppd
mount -t overlay overlay -o "lowerdir=$work/sbin:/usr/sbin" /usr/sbin
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc,workdir=$work/etc.work" /etc
mkdir -p /etc/ppp/peers && touch /etc/ppp/peers/{up,fail}
python3 "$here/list_server.py" www served &
listening 127.0.0.1/80

# lanx ARGS...: one invocation, holding a descriptor 9 of its own, bounded to 20 s; "status:output"
# in $got.
lanx() { local rc=0; timeout 20 "$LANX_BIN" "$@" >out 2>&1 9>held || rc=$?; got="$rc:$(cat out)"; }
has() { grep -qxF -- "$1" lanxroute.log 2>/dev/null; }
cycles() { [ "$(grep -csx "Updated route table successfully" lanxroute.log)" -ge "$1" ] 2>/dev/null; }
# via_lanx BLOCK...: each has the route this program makes via the Lanx gateway.
via_lanx() {
	for b; do
		[ "$(ip -4 route show exact "$b")" = "$b via 10.0.0.1 dev lanx0 proto 76 metric 1 " ] || return 1
	done
}

# The start returns at once, silent; the copy runs in a session of its own, with nothing of the
# invoker's but its word, at /run.
lanx @127.0.0.1/list.txt 10.0.0.1 192.0.2.1
expect "start" "$got" "0:"
wait_for 10 cycles 1 || fail "no first cycle: $(cat lanxroute.log)"
pid=$(copies)
expect "the copy's session, descriptors 0-3 and 9, folder" \
    "$(cut -d' ' -f6 "/proc/$pid/stat") $(readlink /proc/"$pid"/fd/{0,1,2,3,9}) $(stat -c '%a %U' /run/lanxroute)" \
    "$pid /dev/null
/dev/null
/dev/null
/run/lanxroute/LanxRouteShmem 755 root"

# --changes: a later invocation is a command; the copy logs the routes a list change makes, and
# reads the static file afresh.
lanx --changes
printf '10.1.0.0/16\n10.2.0.0/16\n' >www/list.txt
echo 198.18.0.0/15 >lanxroute.static
wait_for 15 has "+10.2.0.0/255.255.0.0[$(ifx lanx0)]: 0" || fail "no change line: $(cat lanxroute.log)"
wait_for 15 via_lanx 10.1.0.0/16 10.2.0.0/16 198.18.0.0/15 || fail "listed routes: $(ip -4 route)"
fds=$(ls /proc/"$pid"/fd | wc -l)

# The point-to-point Lanx link made anew under another index: the routes follow it.
ip link del lanx0
link lanx0 10.0.0.2 peer 10.0.0.1
wait_for 15 via_lanx 10.1.0.0/16 10.2.0.0/16 || fail "routes on the new link: $(ip -4 route)"
expect "descriptors after more cycles that read the static file" "$(ls /proc/"$pid"/fd | wc -l)" "$fds"

# --exit: silent for the invoker; the copy ends with "Exiting".
lanx --exit
wait_for 10 eval '[ -z "$(copies)" ]' || fail "the copy did not end"
expect "--exit: what the invoker got, the copy's last log line" "$got $(tail -n 1 lanxroute.log)" "1: Exiting"

# Signals to a copy in the foreground, over a list of 200 blocks.
awk 'BEGIN { for (i = 1; i < 400; i += 2) printf "10.%d.%d.0/24\n", i / 256, i % 256 }' >www/list.txt
rm lanxroute.static
pppds() { for p in $(ns_pids); do [ "$(cat "/proc/$p/comm" 2>/dev/null)" != sleep ] || echo "$p"; done; }
# start LIST PEER CHECK...: a copy in the foreground of a background job (LIST "": the list.txt), until CHECK.
start() {
	rm -f lanxroute.log
	"$LANX_BIN" "${1:-@127.0.0.1/list.txt}" 10.0.0.1 192.0.2.1 ${2:-} --no-fork &
	copy=$!
	wait_for 15 "${@:3}" || fail "$*: $(cat lanxroute.log)"
}
# stop WHAT: SIGTERM ends the copy with status 0 and "Exiting" within 10 s, and no pppd is left.
stop() {
	local t=$SECONDS rc=0
	kill -TERM "$copy"; wait "$copy" || rc=$?
	expect "$1: status, seconds, last line, pppd" "$rc $((SECONDS - t < 10)) $(tail -n 1 lanxroute.log) $(pppds)" \
	    "0 1 Exiting "
}

start "" fail has "Redialing fail"
stop "redialling"

start "" up cycles 1
kill -KILL "$copy"
{ wait "$copy"; } 2>/dev/null || true
wait_for 10 eval '[ -z "$(pppds)" ]' || fail "pppd outlived a killed copy"
# A killed copy's word does not keep the next one from running. That one gets a 1 MB gzip answer
# that decodes to 1 GiB: it passes the bound as it decodes, within 640 MiB; then the copy waits.
python3 -c 'import sys, zlib; c = zlib.compressobj(9, zlib.DEFLATED, 31); b = b"\n" * (1 << 20)
sys.stdout.buffer.write(b"".join(c.compress(b) for _ in range(1024)) + c.flush())' >big.gz
raw www/bomb.raw $'Content-Encoding: gzip\r\n' big.gz
start @127.0.0.1/bomb.raw "" eval 'has "List text passes 256 MiB" && has "Updated route table unsuccessfully"'
kb=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$copy/status")
[ "$kb" -lt $((640 << 10)) ] || fail "VmHWM $kb kB after the bomb"
stop "waiting after a killed copy and a bomb"
