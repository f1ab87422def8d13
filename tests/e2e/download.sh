#!/bin/bash
# Answers that must not become the list, and the list over TLS: a failed download changes nothing.
#
#   [own network + mount namespace, lib.sh]
#   lanx0  10.0.0.2/24  ==veth== lanx0p   Lanx gateway 10.0.0.1
#   world0 192.0.2.2/24 ==veth== world0p  world gateway 192.0.2.1
#   lo 127.0.0.1:80   list_server.py over $work/www (a *.raw file: those bytes, then a close)
#   lo 127.0.0.1:443  openssl s_server over $work/www, with a certificate made here
#   lo 127.0.0.2:80   python3 -m http.server over $work/same (Last-Modified in whole seconds)
#   update_once; the program's background copies, each in a folder of its own (its lanxroute.log)
set -e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_BIN:?}" "${LANX_UPDATE_ONCE:?}"
link lanx0 10.0.0.2/24
link world0 192.0.2.2/24
cd "$work" && mkdir www same
openssl req -x509 -newkey rsa:2048 -nodes -keyout tls.pem -out ca.pem -days 1 -subj /CN=127.0.0.1 \
	-addext subjectAltName=IP:127.0.0.1 2>/dev/null && cat ca.pem >>tls.pem
python3 "$here/list_server.py" www served &
(cd www && exec openssl s_server -quiet -accept 127.0.0.1:443 -cert ../tls.pem -WWW) >/dev/null 2>&1 &
python3 -m http.server 80 --bind 127.0.0.2 --directory same >/dev/null 2>&1 &
listening 127.0.0.1/80 127.0.0.1/443 127.0.0.2/80
L=$(ifx lanx0)
# cycle URL STATUS LINES ROUTES: one cycle; its status, its lines but the handles and len= ones, our routes.
cycle() {
	local rc=0 out; out=$("$LANX_UPDATE_ONCE" -10 "@$1" 10.0.0.1 192.0.2.1) || rc=$?
	expect "$1" "$rc $(sed -e 1d -e 3d -e '/^  len=/d' <<<"$out")" "$2 Loading subnet list from $1
$3"
	expect "$1: routes" "$(ours)" "$4"
}
base="10.1.0.0/16 10.0.0.1 lanx0"
failed() { cycle "$1" 1 "Error reading HTTP response: $2"$'\n'"Updated route table unsuccessfully" "$base"; }
# raw NAME HEADERS [BODY]: www/NAME.raw, a 200 answer with those header lines and that body.
raw() { { printf 'HTTP/1.0 200 OK\r\n%s\r\n' "$2"; cat "${3:-/dev/null}"; } >"www/$1.raw"; }
echo 10.1.0.0/16 >www/list.txt
cycle http://127.0.0.1/list.txt 0 "+10.1.0.0/255.255.0.0[$L]: 0"$'\nUpdated route table successfully' "$base"

# A gzip answer that breaks off (no length; the close ends it), headers then a close before the
# announced body, a certificate the system's store does not hold: failed downloads.
seq -f 11.%g.0.0/16 0 1999 | gzip >l.gz && head -c $(($(stat -c %s l.gz) / 2)) l.gz >cut.gz
raw cut $'Content-Encoding: gzip\r\n' cut.gz && failed http://127.0.0.1/cut.raw 61
raw close $'Content-Length: 100\r\n' && failed http://127.0.0.1/close.raw 18
failed https://127.0.0.1/list.txt 60

# start URL: the program's background copy, in a folder of its own ($d); its pid in $copy.
start() {
	d=$(mktemp -d "$work/copy.XXXXXX") && (cd "$d" && "$LANX_BIN" "@$1" 10.0.0.1 192.0.2.1) && copy=$(copies)
}
stop() { "$LANX_BIN" --exit || true; wait_for 15 seen Exiting || fail "the copy did not exit"; }
seen() { [ "$(grep -c -x -- "$1" "$d/lanxroute.log")" -ge "${2:-1}" ]; }
# peak LINE N: once LINE and the Nth unsuccessful cycle are in the log, the copy's peak memory so far.
peak() {
	wait_for 30 seen "$1" && wait_for 5 seen "Updated route table unsuccessfully" "$2" || fail "no line: $1"
	local kb; kb=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$copy/status")
	echo "$1: VmHWM $kb kB" && [ "$kb" -lt $((640 << 10)) ] || fail "$1: VmHWM $kb kB"
}
# A 1 MB gzip answer that decodes to 1 GiB passes the bound as it decodes, within 640 MiB.
python3 -c 'import sys, zlib; c = zlib.compressobj(9, zlib.DEFLATED, 31); b = b"\n" * (1 << 20)
sys.stdout.buffer.write(b"".join(c.compress(b) for _ in range(1024)) + c.flush())' >big.gz
raw bomb $'Content-Encoding: gzip\r\n' big.gz && start 127.0.0.1/bomb.raw && peak "List text passes 256 MiB" 1
expect "bombs: successes, routes" "$(grep -c -x "Updated route table successfully" "$d/lanxroute.log") $(ours)" \
	"0 $base"
stop

# A change within the second of the answer's Last-Modified (both versions stamped with one second
# that the first answer's Date does not pass): the next cycle fetches it.
stamp=@$(($(date +%s) + 60))
echo 10.1.0.0/16 >same/l.txt && touch -d "$stamp" same/l.txt && start 127.0.0.2/l.txt
wait_for 15 seen "Updated route table successfully" || fail "same second: no first cycle"
echo 10.2.0.0/16 >same/l.txt && touch -d "$stamp" same/l.txt
routes_are() { [ "$(ours)" = "$1" ]; }
wait_for 15 routes_are "10.2.0.0/16 10.0.0.1 lanx0" || fail "same second: the change is not fetched"
stop

# The system's store holding the certificate (in this namespace only): the list arrives over TLS.
mount --bind ca.pem /etc/ssl/certs/ca-certificates.crt && echo 10.3.0.0/16 >www/tls.txt
cycle https://127.0.0.1/tls.txt 0 "+10.3.0.0/255.255.0.0[$L]: 0
-10.2.0.0/255.255.0.0[$L]: 0
Updated route table successfully" "10.3.0.0/16 10.0.0.1 lanx0"
