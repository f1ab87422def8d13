#!/bin/bash
# The list download over the real HTTP client, against a local list server.
#
#   [private network namespace, loopback only]
#   fetch_once --GET, HTTP/1.0--> 127.0.0.1:80  list_server.py (answers by path)
#   fetch_once --------------->   127.0.0.2:80  nobody listens: refused
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_FETCH_ONCE:?LANX_FETCH_ONCE must name the fetch_once driver}"
work_dir http
serve_list "$work/requests" "$work/ready"

fetch() { "$LANX_FETCH_ONCE" "$@"; }
head_of() { printf 'Loading subnet list from http://%s\n  handles hi=1, hc=2, hr=3\n' "$1"; }

# A short list, its path sent exactly as given, and the request as it arrived.
out=$(fetch --out "$work/list" 127.0.0.1 /dir/../list.txt) || fail "fetch of the list"
expect_eq "$out" "$(head_of 127.0.0.1/dir/../list.txt; printf '  len=16\nlength 22')" "list output"
expect_eq "$(cat "$work/list")" "$(printf '10.0.0.0/8\n11.0.0.0/8')" "list text"
requests=$(tr -d '\r' <"$work/requests")
expect_eq "$(head -n1 <<<"$requests")" "GET /dir/../list.txt HTTP/1.0" "request line"
grep -qx 'User-Agent: LANXRoute' <<<"$requests" || fail "no User-Agent LANXRoute: $requests"
grep -qx 'Pragma: no-cache' <<<"$requests" || fail "no Pragma: no-cache: $requests"
grep -qx 'Cache-Control: no-cache' <<<"$requests" || fail "no Cache-Control: no-cache: $requests"
grep -qx 'Host: 127.0.0.1' <<<"$requests" || fail "Host header not for port 80: $requests"

# The '@' form of the driver, with the optional scheme.
out=$(fetch @http://127.0.0.1/list.txt) || fail "fetch with @"
expect_eq "$(tail -n1 <<<"$out")" "length 22" "@ form"

# The dump of the text when the control word asks for it.
out=$(fetch --dump 127.0.0.1 /list.txt) || fail "fetch with dump"
expect_eq "$out" "$(head_of 127.0.0.1/list.txt; printf '  len=16\n\n\n10.0.0.0/8\n11.0.0.0/8\n\n\nlength 22')" "dump"

# 1 MiB arrives whole, piece by piece.
out=$(fetch --out "$work/big" 127.0.0.1 /big) || fail "fetch of 1 MiB"
expect_eq "$(tail -n1 <<<"$out")" "length 1048576" "1 MiB length"
total=0
for piece in $(sed -n 's/^  len=//p' <<<"$out"); do total=$((total + 16#$piece)); done
expect_eq "$total" 1048576 "sum of the announced pieces"
python3 -c "import sys; sys.path.insert(0, '$here'); import list_server; sys.stdout.buffer.write(list_server.BIG)" |
	cmp -s - "$work/big" || fail "1 MiB body differs"

# Error pages are list text like any other body; a redirect is followed.
for status in 404 500; do
	out=$(fetch --out "$work/page" 127.0.0.1 "/$status") || fail "fetch of $status"
	expect_eq "$(tail -n1 <<<"$out")" "length 30" "error page $status"
	expect_eq "$(cat "$work/page")" "$(printf '<html>gone</html>\n10.9.8.0/24')" "error page text $status"
done
out=$(fetch 127.0.0.1 /redirect) || fail "fetch of a redirect"
expect_eq "$(tail -n1 <<<"$out")" "length 22" "redirect followed"

# Nothing listens: the send fails and the text is empty (7: could not connect).
out=$(fetch 127.0.0.2 /list.txt) || fail "fetch from nobody"
expect_eq "$out" "$(head_of 127.0.0.2/list.txt
	printf "Error sending HTTP request: 7\n  server: '127.0.0.2' path: '/list.txt'\nError no data: 7\nlength 0")" "refused"

# A body that breaks off before its Content-Length gives no text.
out=$(fetch 127.0.0.1 /cut) || fail "fetch of a cut body"
expect_eq "$(tail -n1 <<<"$out")" "none" "cut body"
grep -q '^  len=' <<<"$out" || fail "cut body: no piece before the break: $out"

# A server that accepts and says nothing: the attempt ends at the stall bound (28: timed out).
started=$SECONDS
out=$(timeout 120 "$LANX_FETCH_ONCE" 127.0.0.1 /silence) || fail "silent server: the attempt did not end"
[ $((SECONDS - started)) -le 90 ] || fail "silent server: took $((SECONDS - started)) s"
expect_eq "$(sed -n 3p <<<"$out")" "Error sending HTTP request: 28" "silent server"
expect_eq "$(tail -n1 <<<"$out")" "length 0" "silent server text"
echo "PASS: http"
