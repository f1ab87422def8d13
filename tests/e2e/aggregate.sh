#!/usr/bin/env bash
# Aggregation in the kernel's table, with the real binary's background copy.
#
#   private network + mount namespace (lib.sh):
#
#     lanx0  10.1.0.2/24 ==veth== lanx0p    Lanx gateway 10.1.0.1 (on the link)
#     world0 10.2.0.2/24 ==veth== world0p   world gateway 10.2.0.1
#     lo 127.0.0.1:80  python3 http.server serving $work/www/list.txt
#
# The list holds two stretches that merge differently: 10.0.0.0/22 merges in one pass with one gap
# absorbed; 10.8.0.0/22 needs a second pass that finds what the first made possible.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_BIN:?LANX_BIN must name the program}"
work_dir aggregate
mkdir -p "$work/www"
gateway_links 10.1.0.2/24 10.2.0.2/24

printf '%s\n' 10.0.0.0/24 10.0.1.0/25 10.0.2.0/23 10.8.1.128/25 10.8.2.0/23 >"$work/www/list.txt"
serve_dir "$work/www"

lanx() { (cd "$run" && "$LANX_BIN" "$@") 2>/dev/null || true; }
log() { cat "$run/lanxroute.log" 2>/dev/null || true; }
cycles() { log | grep -c -x "Updated route table successfully" || true; }
cycles_at_least() { [ "$(cycles)" -ge "$1" ]; }
# next_cycle: waits for one more successful cycle than there are now.
next_cycle() { local n; n=$(cycles); wait_for 15 cycles_at_least $((n + 1)) || fail "no further cycle: $(log)"; }
# Our routes in the table, as "prefix gateway" lines.
ours() {
	ip -4 route show proto 76 | sed -n 's/^\([0-9./]*\) via \([0-9.]*\) dev [a-z0-9]* .*/\1 \2/p' | sort
}
table_is() { [ "$(ours)" = "$(printf '%s\n' "$@" | sort)" ]; }
# table_within SECONDS ROUTE...: the table holds exactly these routes of ours before the time is up.
table_within() {
	local seconds=$1; shift
	wait_for "$seconds" table_is "$@" || fail "expected routes $*; table has: $(ours); log: $(log)"
}

unaggregated=(
	"10.0.0.0/24 10.1.0.1" "10.0.1.0/25 10.1.0.1" "10.0.2.0/23 10.1.0.1"
	"10.8.1.128/25 10.1.0.1" "10.8.2.0/23 10.1.0.1"
)
# Absorbed gaps via the world gateway, merged blocks via the lanx gateway.
aggregated=(
	"10.0.1.128/25 10.2.0.1" "10.0.0.0/22 10.1.0.1"
	"10.8.1.0/25 10.2.0.1" "10.8.0.0/24 10.2.0.1" "10.8.0.0/22 10.1.0.1"
)

# Aggregation and the change lines from the start.
lanx -11 @127.0.0.1/list.txt 10.1.0.1 10.2.0.1
table_within 15 "${aggregated[@]}"
log | grep -q -x -- "+10.0.1.128/255.255.255.128\[[0-9a-f]*\]: 0" || fail "gap route line missing: $(log)"

# A later cycle with aggregation still on changes nothing.
next_cycle
before=$(log | grep -c '^[-+*]' || true)
next_cycle
expect_eq "$(log | grep -c '^[-+*]' || true)" "$before" "changes in an aggregated cycle with nothing new"
table_is "${aggregated[@]}" || fail "aggregated table moved: $(ours)"

# Clearing the bit brings back the list's own routes and sweeps the aggregate ones.
lanx --changes
table_within 15 "${unaggregated[@]}"
log | grep -q -x -- "-10.0.0.0/255.255.252.0\[[0-9a-f]*\]: 0" || fail "merged route not swept: $(log)"
log | grep -q -x -- "-10.8.0.0/255.255.255.0\[[0-9a-f]*\]: 0" || fail "gap route not swept: $(log)"

# And setting it again aggregates again.
lanx -11
table_within 15 "${aggregated[@]}"

lanx --exit
wait_for 10 gone || fail "copy did not exit"
log | tail -n1 | grep -q -x Exiting || fail "no Exiting line: $(log | tail -n3)"
