#!/usr/bin/env bash
# The Windows program under wine: the list download through WinINet, one cycle per copy.
#
#   private network + mount namespace, loopback only
#
#     lanxroute.exe --no-fork --WinINet--> 127.0.0.1:80  tests/e2e/list_server.py (request log)
#                             --WinINet--> 127.0.0.2:80  nothing listens: refused
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

requests=$wine_work/requests
serve_list "$requests" "$wine_work/ready"

# one_cycle ARGS...: a fresh log, a copy run with ARGS --no-fork until its first cycle ended, then
# asked to exit; it must end with status 0.
one_cycle() {
	rm -f "$run/lanxroute.log"
	(cd "$run" && exec wine lanxroute.exe "$@" 10.1.0.1 10.2.0.1 --no-fork) \
		>"$wine_work/copy.out" 2>"$wine_work/copy.err" &
	local copy=$! copy_status=0
	wait_for 30 lines_at_least "Updated route table unsuccessfully" 1 || fail "$*: no cycle: $(log)"
	lanx --exit
	expect_eq "$status" 1 "$*: --exit to the copy"
	wait "$copy" || copy_status=$?
	expect_eq "$copy_status" 0 "$*: the copy's status"
	expect_stream "$wine_work/copy.err" "$*: the copy's standard error"
}
# The log lines from "Loading" to the first line of the gateway resolution (the listing or a failure).
download_lines() {
	log_lines | awk '/^Loading subnet list/ { on = 1 } /^(10\.1\.0\.1|Bad LANX gateway|GetIp)/ { on = 0 } on'
}
handles='  handles hi=[1-9a-f][0-9a-f]*, hc=[1-9a-f][0-9a-f]*, hr=[1-9a-f][0-9a-f]*'

# The request as it arrives, the lines of a short list and its dump (--verbose sets the dump flag).
one_cycle --verbose @127.0.0.1/dir/list.txt
expect_eq "$(head -n 1 "$requests" | od -c | head -2)" "$(printf 'GET /dir/list.txt HTTP/1.0\r\n' | od -c | head -2)" \
	"request line"
tr -d '\r' <"$requests" | grep -q -x 'User-Agent: LANXRoute' || fail "User-Agent: $(cat -A "$requests")"
tr -d '\r' <"$requests" | grep -q -x 'Host: 127.0.0.1' || fail "Host: $(cat -A "$requests")"
expect_eq "$(grep -c '^GET ' "$requests")" 1 "requests of one cycle"
download_lines >"$wine_work/lines"
expect_eq "$(sed -n 1p "$wine_work/lines")" "Loading subnet list from http://127.0.0.1/dir/list.txt" "loading line"
sed -n 2p "$wine_work/lines" | grep -q -x -- "$handles" || fail "handles line: $(sed -n 2p "$wine_work/lines")"
expect_eq "$(sed -n '3,$p' "$wine_work/lines" | tr '\n' '|')" "  len=16|||10.0.0.0/8|11.0.0.0/8|||" \
	"piece and dump lines"

# An error page is a body like any other.
: >"$requests"
one_cycle -2 @127.0.0.1/404
expect_eq "$(download_lines | sed -n '3,$p' | tr '\n' '|')" "  len=1e|||<html>gone</html>|10.9.8.0/24|||" \
	"error page lines"

# A body of 1 MiB comes in pieces whose lengths add up to it.
one_cycle @127.0.0.1/big
total=0
while read -r piece; do total=$((total + 16#$piece)); done < <(download_lines | sed -n 's/^  len=//p')
expect_eq "$total" $((1 << 20)) "bytes announced for /big"
[ "$(download_lines | grep -c '^  len=')" -ge 1 ] || fail "no piece lines for /big"
expect_eq "$(download_lines | grep -c -v -e '^  len=[0-9a-f]*$' -e '^Loading' -e '^  handles')" 0 "other lines for /big"

# A refused connection: WinINet's 12029 for the send and for the query after it.
one_cycle @127.0.0.2/list.txt
download_lines >"$wine_work/lines"
expect_eq "$(sed -n 1p "$wine_work/lines")" "Loading subnet list from http://127.0.0.2/list.txt" "refused: loading line"
sed -n 2p "$wine_work/lines" | grep -q -x -- "$handles" || fail "refused: handles line"
expect_eq "$(sed -n '3,$p' "$wine_work/lines" | tr '\n' '|')" \
	"Error sending HTTP request: 12029|  server: '127.0.0.2' path: '/list.txt'|Error no data: 12029|" "refused lines"
# The first cycle's download failed to connect, so the list stayed empty and the gateways failed.
expect_eq "$(count_lines "Updated route table unsuccessfully")" 1 "refused: result line"
