#!/usr/bin/env bash
# The routing table changing under the program: routes added and deleted by another process
# between the snapshot and the sweep, the lanx link removed in the middle of a cycle and while
# the background copy runs, and a table of a million foreign routes.
#
#   private network + mount namespace (lib.sh, faults_lib.sh):
#
#     lanx0  192.168.1.2/24 ==veth== lanx0p    Lanx gateway 192.168.1.1 (removed, made anew)
#     world0 192.168.2.2/24 ==veth== world0p   world gateway 192.168.2.1
#     lo 127.0.0.1:80  list_server.py: /switch answering list.txt or many200000
#
#     ip -batch (the other process) ---> main table <--- $LANX_UPDATE_ONCE / $LANX_BIN, cwd $run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/faults_lib.sh"

index_hex() { printf '%x' "$(ip -o link show dev "$1" | cut -d: -f1)"; }
# background_cycle: one cycle in the background, its output in $work/cycle.
background_cycle() {
	(cd "$run" && "$LANX_UPDATE_ONCE" -10 "$URL" "$LANX_GW" "$WORLD_GW" >"$work/cycle" 2>&1) &
	cycle_pid=$!
}
cycle_pid=
cleanup_more() { [ -z "$cycle_pid" ] || kill "$cycle_pid" 2>/dev/null; }
at_exit cleanup_more

# --- Another process changes the table while a long cycle creates its routes. ---
# 2,000 stale routes of ours, which the sweep will want to delete; the other process deletes
# them first, and takes the list's last 2,000 prefixes with routes of its own (metric 1, as ours:
# the kernel tells routes apart by destination, length, tos and metric).
awk 'BEGIN { for (i = 0; i < 2000; i++) printf "route add 40.%d.%d.0/24 via 192.168.1.1 proto 76\n", int(i / 256), i % 256 }' >"$work/stale" || fail "stale batch"
ip -batch "$work/stale" || fail "stale routes"
sed 's/^route add/route del/' "$work/stale" >"$work/race" || fail "race batch"
many $((N - 2000)) $N | sed 's|^|route add |; s|$| via 192.168.1.1 proto static metric 1|' >>"$work/race" || fail "race batch"
mode many$N
background_cycle
wait_for 20 first_made || fail "the long cycle made no route"
ip -batch "$work/race" || fail "the other process's changes"
kill -0 "$cycle_pid" 2>/dev/null || fail "the cycle ended before the other process was done: timing too tight"
wait "$cycle_pid" || fail "the raced cycle failed: $(tail -n 3 "$work/cycle")"
cycle_pid=
out=$(cat "$work/cycle")
lanx=$(index_hex lanx0)
expect_eq "$(result_of "$out")" "Updated route table successfully" "raced cycle"
only_statuses "$out" || fail "raced cycle's change lines"
# Deleted before the sweep came: ESRCH. Taken before the create came: EEXIST.
expect_eq "$(grep -c "^-40\.[0-9.]*/255\.255\.255\.0\[$lanx\]: 3$" <<<"$out")" 2000 "sweep deletions that found nothing"
expect_eq "$(grep -c '^-' <<<"$out")" 2000 "sweep deletions"
expect_eq "$(grep -c "^+[0-9.]*/255\.255\.255\.0\[$lanx\]: 11$" <<<"$out")" 2000 "creations refused as existing"
expect_eq "$(grep -c "^+[0-9.]*/255\.255\.255\.0\[$lanx\]: 0$" <<<"$out")" $((N - 2000)) "creations that succeeded"
# The next cycle adopts the other process's routes and changes nothing.
cycle
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle after the race"
expect_eq "$(grep '^[-+*i]' <<<"$out" || true)" "" "changes after the race"
expect_eq "$(ours)" "$(many 0 $((N - 2000)) | sed "s/\$/ $LANX_GW lanx0/" | sort)" "our routes after the race"
expect_eq "$(ip -4 route show proto static | wc -l)" 2000 "the other process's routes"

# --- The lanx link removed in the middle of a cycle, and made again. ---
mode list.txt
cycle
routes_are 10.0.0.0/7 || fail "short list: $(ours)"
mode many$N
background_cycle
wait_for 20 first_made || fail "the long cycle made no route"
ip link del lanx0 || fail "removing lanx0"
wait "$cycle_pid" || fail "the cycle that lost its link failed: $(tail -n 3 "$work/cycle")"
cycle_pid=
out=$(cat "$work/cycle")
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle that lost its link"
only_statuses "$out" || fail "change lines of the cycle that lost its link"
# Creates after the link went are refused (ENETUNREACH or ENODEV); no other status shows.
statuses=$(grep '^+' <<<"$out" | sed 's/.*: //' | sort -u | tr '\n' ' ')
[[ "$statuses" =~ ^0\ (13\ )?(65\ )?$ && "$statuses" != "0 " ]] || fail "statuses of the cycle that lost its link: $statuses"
cycle
expect_eq "$(result_of "$out")" "Updated route table unsuccessfully" "cycle without the lanx link"
grep -qx "Bad LANX gateway specified: $LANX_GW" <<<"$out" || fail "no gateway failure line: $out"
expect_eq "$(ours)" "" "our routes without the lanx link"
ip link add lanx0 type veth peer name lanx0p || fail "lanx link anew"
ip link set lanx0 up && ip link set lanx0p up || fail "lanx link up"
ip addr add 192.168.1.2/24 dev lanx0 || fail "lanx address anew"
cycle
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle with the link back"
# The other process's routes went with the link: every block is made anew.
expect_eq "$(grep -c '^+.*: 0$' <<<"$out")" $N "creations on the link made anew"
expect_eq "$(grep '^[-+*i]' <<<"$out" | grep -vc ': 0$' || true)" 0 "failed changes on the link made anew"

# --- The background copy keeps running while the lanx link goes and comes back. ---
# It keeps the index it resolved last: its cycles go on, and their creates are refused until
# the link is back under a new index.
expect_eq "$(ip -4 route show proto static)" "" "routes of the other process after the link went"
mode list.txt
lanx --changes "$URL" "$LANX_GW" "$WORLD_GW"
expect_eq "$status" 0 "start of the background copy"
wait_for 15 routes_are 10.0.0.0/7 || fail "the copy did not follow the short list: $(ours)"
old=$(index_hex lanx0)
ip link del lanx0 || fail "removing lanx0 under the copy"
refused() { log | grep -qE "^\+10\.0\.0\.0/254\.0\.0\.0\[$old\]: (13|65)$"; }
wait_for 15 refused || fail "no refused create on the removed link: $(log | tail)"
ip link add lanx0 type veth peer name lanx0p || fail "lanx link anew"
ip link set lanx0 up && ip link set lanx0p up || fail "lanx link up"
ip addr add 192.168.1.2/24 dev lanx0 || fail "lanx address anew"
wait_for 15 routes_are 10.0.0.0/7 || fail "the copy did not bring the routes back: $(ours)"
expect_eq "$(ndaemons)" 1 "copies after the link came back"
expect_eq "$(count_lines "Updated route table unsuccessfully")" 0 "failed cycles of the copy"
lanx --exit
expect_eq "$status" 1 "exit request"
wait_for 10 gone || fail "the copy did not end"

# --- A million foreign routes: a cycle succeeds, touches none of them, and changes ours. ---
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "route add %d.%d.%d.0/24 via 192.168.2.1 proto static\n", 100 + int(i / 65536), int(i / 256) % 256, i % 256 }' >"$work/million" || fail "million batch"
ip -batch "$work/million" || fail "loading a million routes"
foreign() { awk '$3 == "0102A8C0"' /proc/net/route | md5sum; }
foreign_count() { awk '$3 == "0102A8C0"' /proc/net/route | wc -l; }
expect_eq "$(foreign_count)" 1000000 "foreign routes loaded"
before=$(foreign)
mode garbage
cycle
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle over a million routes"
expect_eq "$(grep '^[-+*i]' <<<"$out" | sort | tr '\n' ' ')" "$(printf '+10.1.0.0/255.255.0.0[%s]: 0 +10.3.0.0/255.255.0.0[%s]: 0 -10.0.0.0/254.0.0.0[%s]: 0 ' "$(index_hex lanx0)" "$(index_hex lanx0)" "$(index_hex lanx0)")" "changes over a million routes"
routes_are 10.1.0.0/16 10.3.0.0/16 || fail "our routes over a million: $(ours)"
expect_eq "$(foreign)" "$before" "the million foreign routes"
echo "PASS: faults_table"
