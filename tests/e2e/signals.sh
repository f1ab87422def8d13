#!/bin/bash
# Signals to a running copy: SIGTERM ends it with "Exiting" and status 0 within 10 s whether it
# waits, redials, dials or downloads from a server that drips; SIGKILL takes pppd with it; SIGHUP
# after a rename puts the next lines in a new log. The list is asked for conditionally: a changed
# list comes compressed, an unchanged one as "not modified".
#
#   [own network + mount namespace, lib.sh]
#   lanx0 10.0.0.2/24 ==veth== lanx0p     world0 192.0.2.2/24 ==veth== world0p
#   lo 127.0.0.1:80  bench/list_server.py over $work/www (ETag, 304, gzip; its answers in served)
#   lo 127.0.0.2:80  a server that sends a header, then one byte a second (each noted in dripped)
#   /usr/sbin/pppd   overlay: peer "up" reports READY=1 and stays, "hang" stays silent, "fail" ends
set -e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
link lanx0 10.0.0.2/24
link world0 192.0.2.2/24
mkdir -p "$work/sbin" "$work/www" "$work/etc" "$work/etc.work"
cd "$work"
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
mkdir -p /etc/ppp/peers && touch /etc/ppp/peers/{up,hang,fail}
awk 'BEGIN { for (i = 1; i < 400; i += 2) printf "10.%d.%d.0/24\n", i / 256, i % 256 }' >www/list.txt
python3 "$here/../../bench/list_server.py" www served &
python3 -c 'import socket, time
s = socket.create_server(("127.0.0.2", 80)); c = s.accept()[0]; c.recv(4096); c.send(b"HTTP/1.0 200 OK\r\n\r\n")
while True: c.send(b"1"); open("dripped", "a").write("1"); time.sleep(1)' 2>/dev/null &
wait_for 10 bash -c 'exec 3<>/dev/tcp/127.0.0.1/80' 2>/dev/null || fail "list server did not start"

pppds() { for p in $(ns_pids); do [ "$(cat "/proc/$p/comm" 2>/dev/null)" != sleep ] || echo "$p"; done; }
has() { grep -qF -- "$1" lanxroute.log 2>/dev/null; }
# start [@LIST] [PEER]: a copy in the foreground of a background job.
start() { rm -f lanxroute.log; "$LANX_BIN" "${1:-@127.0.0.1/list.txt}" 10.0.0.1 192.0.2.1 ${2:-} --no-fork & copy=$!; }
# stop WHAT: SIGTERM ends the copy with status 0 and "Exiting" within 10 s, and no pppd is left.
stop() {
	local t=$SECONDS rc=0
	kill -TERM "$copy"; wait "$copy" || rc=$?
	expect "$1: status, seconds, last line, pppd" "$rc $((SECONDS - t < 10)) $(tail -n 1 lanxroute.log) $(pppds)" "0 1 Exiting "
}

start
wait_for 15 eval '[ "$(grep -cs "^Updated route table successfully" lanxroute.log)" = 2 ]' || fail "two cycles: $(cat lanxroute.log)"
expect "the list's answers" "$(cut -c1-3 served)" $'200\n304'
[ "$(head -n 1 served | cut -d' ' -f2)" -lt "$(wc -c <www/list.txt)" ] || fail "the list was not compressed: $(cat served)"
expect "lengths delivered" "$(grep -c '^  len=' lanxroute.log)" 2
expect "routes" "$(ip -4 route show proto 76 | wc -l)" 200
mv lanxroute.log old.log
kill -HUP "$copy"
wait_for 10 has "Updating route table" || fail "no new log after SIGHUP"
stop "waiting"

start "" fail
wait_for 10 has "Redialing fail" || fail "no redial: $(cat lanxroute.log)"
stop "redialling"
start "" hang
wait_for 10 eval '[ -n "$(pppds)" ]' || fail "no pppd dialling"
stop "dialling"
start @127.0.0.2/drip
wait_for 10 eval '[ "$(cat dripped 2>/dev/null)" = 11 ]' || fail "no drip: $(cat lanxroute.log)"
stop "downloading"

start "" up
wait_for 15 has "Updated route table successfully" || fail "no cycle on the link: $(cat lanxroute.log)"
kill -KILL "$copy"
{ wait "$copy"; } 2>/dev/null || true
wait_for 10 eval '[ -z "$(pppds)" ]' || fail "pppd outlived a killed copy"
echo PASS
