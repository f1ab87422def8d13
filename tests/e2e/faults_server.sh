#!/usr/bin/env bash
# A list server that misbehaves: a reset mid-body, 50 MB, a redirect loop, an empty body,
# garbage bytes, and a stall after the headers with an exit request waiting behind it.
# Every case is followed by a good cycle that must bring the table back.
#
#   private network + mount namespace (lib.sh, faults_lib.sh):
#
#     lanx0  192.168.1.2/24 ==veth== lanx0p    Lanx gateway 192.168.1.1
#     world0 192.168.2.2/24 ==veth== world0p   world gateway 192.168.2.1
#     lo 127.0.0.1:80  list_server.py, /switch answering as the mode under test
#
#     $LANX_UPDATE_ONCE (one cycle each) and $LANX_BIN (the stall), cwd $run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/faults_lib.sh"

# The static file's prefix lies above every listed one, so it always joins the partition.
printf '203.0.113.0/24\n' >"$run/lanxroute.static"
# The list's two /8 are siblings: the partition joins them into one block.
good=(10.0.0.0/7 203.0.113.0/24)

recovers() { # WHAT
	mode list.txt
	cycle
	expect_eq "$(result_of "$out")" "Updated route table successfully" "$1: the next cycle"
	routes_are "${good[@]}" || fail "$1: the next cycle left $(ours)"
}

cycle
expect_eq "$(result_of "$out")" "Updated route table successfully" "first cycle: $out"
routes_are "${good[@]}" || fail "first cycle made $(ours)"

# A reset mid-body is a failed read: no text, the cycle fails before the table is read.
table=$(ip -4 route show table all)
mode reset
cycle
expect_eq "$(result_of "$out")" "Updated route table unsuccessfully" "reset mid-body: $out"
grep -q '^  len=' <<<"$out" || fail "reset mid-body: no piece arrived before the reset: $out"
expect_eq "$(ip -4 route show table all)" "$table" "the table after a reset mid-body"
recovers "reset mid-body"

# Bodies that are text, however odd: each cycle succeeds with what its lines give.
# The rows: mode, a line the cycle must log (or -), the prefixes routed afterwards.
while IFS='|' read -r what m line prefixes; do

	mode "$m"
	before=$(requests)
	cycle
	expect_eq "$(result_of "$out")" "Updated route table successfully" "$what: result: $(head -c 2000 <<<"$out")"
	[ "$line" = - ] || grep -qxF -- "$line" <<<"$out" || fail "$what: no line '$line': $(head -c 2000 <<<"$out")"
	only_statuses "$out" || fail "$what: change lines: $out"
	# shellcheck disable=SC2086
	routes_are $prefixes || fail "$what: routes $(ours)"
	[ $(($(requests) - before)) -le 11 ] || fail "$what: $(($(requests) - before)) requests for one cycle"
	recovers "$what"
done <<'ROWS'
50 MB body: the prefix at its end is routed|huge|-|10.1.0.0/16 10.200.0.0/16 203.0.113.0/24
redirect loop: an empty text after ten redirects|loop|Error sending HTTP request: 47|203.0.113.0/24
empty body: an empty text, the static file alone|empty|Error no data: 0|203.0.113.0/24
0xFF lines skipped, the text ends at the NUL|garbage|-|10.1.0.0/16 10.3.0.0/16 203.0.113.0/24
1 MiB of noise without line feeds is one skipped line|noise|-|203.0.113.0/24
ROWS

# A stall after the headers ends the cycle at the 60 s bound, and an exit request made
# during it is honoured after the cycle, not lost.
mode list.txt
lanx "$URL" "$LANX_GW" "$WORLD_GW"
expect_eq "$status" 0 "start of the background copy"
wait_for 15 lines_at_least "Updated route table successfully" 1 || fail "no first cycle: $(log)"
routes_are "${good[@]}" || fail "the copy's first cycle made $(ours)"
before=$(requests)
mode stall
stalled() { [ "$(requests)" -gt "$before" ]; }
wait_for 15 stalled || fail "the copy never asked for the stalled list"
started=$SECONDS
cycles=$(count_lines "Updating route table")
lanx --exit
expect_eq "$status" 1 "exit request during the stall"
expect_eq "$err" "" "exit request during the stall, message"
expect_eq "$(ndaemons)" 1 "copies while the cycle stalls"
wait_for 100 gone || fail "the copy did not end after the stall: $(log | tail)"
took=$((SECONDS - started))
[ "$took" -ge 50 ] && [ "$took" -le 85 ] || fail "the stalled cycle and its wait took $took s"
expect_eq "$(count_lines "Updating route table")" "$cycles" "cycles begun after the exit request"
expect_eq "$(log | grep -A 100 "^Loading subnet list from http://127.0.0.1/switch" | tail -n 6 | tr '\n' '|')" \
	"  handles hi=1, hc=2, hr=3|Error sending HTTP request: 28|  server: '127.0.0.1' path: '/switch'|Error no data: 28|Updated route table successfully|Exiting|" \
	"the stalled cycle's lines"
# The stalled text was empty: only the static prefix stayed. A new copy brings the list back.
routes_are 203.0.113.0/24 || fail "routes after the stalled cycle: $(ours)"
mode list.txt
lanx "$URL" "$LANX_GW" "$WORLD_GW"
expect_eq "$status" 0 "start after the stall"
wait_for 15 routes_are "${good[@]}" || fail "the new copy did not bring the list back: $(ours)"
lanx --exit
expect_eq "$status" 1 "exit request to the new copy"
wait_for 10 gone || fail "the new copy did not end"
echo "PASS: faults_server"
