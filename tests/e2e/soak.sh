#!/usr/bin/env bash
# A soak: 2,000 update cycles in one process against the kernel's table, the list changing with
# every request, under AddressSanitizer when $LANX_UPDATE_ONCE_SANITIZE (or the tree's own
# driver) is a sanitizer build: no error or leak report, descriptors constant, resident memory
# flat after the warm-up, every cycle's result line present.
#
#   private network + mount namespace (lib.sh, faults_lib.sh):
#
#     lanx0  192.168.1.2/24 ==veth== lanx0p    Lanx gateway 192.168.1.1
#     world0 192.168.2.2/24 ==veth== world0p   world gateway 192.168.2.1
#     lo 127.0.0.1:80  list_server.py /changing: 8 /24 that all move with every request
#
#     update_once --cycles 2000 --every 100, cwd $run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/faults_lib.sh"

CYCLES=2000 EVERY=100 WARM=500
# Resident growth allowed after the warm-up, in kB: a leak of a list buffer every few cycles passes it.
GROWTH=4096
driver=${LANX_UPDATE_ONCE_SANITIZE:-$LANX_UPDATE_ONCE}
case $(ldd "$driver") in *libasan*) sanitized=yes ;; *) sanitized=no ;; esac
# A small quarantine, so that the memory ASan holds back levels off early.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:quarantine_size_mb=8:exitcode=99
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

status=0
(cd "$run" && "$driver" --cycles $CYCLES --every $EVERY -10 @127.0.0.1/changing "$LANX_GW" "$WORLD_GW" \
	>"$work/out" 2>"$work/err") || status=$?
expect_eq "$status" 0 "driver status: $(head -c 3000 "$work/err")"
! grep -qE 'AddressSanitizer|LeakSanitizer|runtime error' "$work/err" || fail "sanitizer report: $(head -c 3000 "$work/err")"
expect_eq "$(grep -cx 'Updated route table successfully' "$work/out")" $CYCLES "successful cycles"
expect_eq "$(grep -c '^Updated route table' "$work/out")" $CYCLES "result lines"
# The first cycle creates 8 routes; every later one moves all 8.
expect_eq "$(grep -c '^+.*: 0$' "$work/out")" $((8 * CYCLES)) "creations that succeeded"
expect_eq "$(grep -c '^-.*: 0$' "$work/out")" $((8 * (CYCLES - 1))) "deletions that succeeded"
last=$((CYCLES - 1))
routes_are $(for k in 0 1 2 3 4 5 6 7; do echo "10.$k.$(((last + k) % 256)).0/24"; done) || fail "routes after the soak: $(ours)"

reports=$(sed -n 's/^cycle \([0-9]*\) rss \([0-9]*\) fds \([0-9]*\)$/\1 \2 \3/p' "$work/out")
expect_eq "$(wc -l <<<"$reports")" $((CYCLES / EVERY)) "memory reports"
expect_eq "$(awk '{ print $3 }' <<<"$reports" | sort -u | wc -l)" 1 "distinct descriptor counts: $reports"
read -r warm_rss < <(awk -v w=$WARM '$1 == w { print $2 }' <<<"$reports")
max_rss=$(awk '{ if ($2 > m) m = $2 } END { print m }' <<<"$(awk -v w=$WARM '$1 >= w' <<<"$reports")")
[ $((max_rss - warm_rss)) -le $GROWTH ] || fail "resident memory grew $((max_rss - warm_rss)) kB after cycle $WARM: $reports"
echo "PASS: soak (sanitized: $sanitized; rss $warm_rss..$max_rss kB after cycle $WARM; $(awk 'NR == 1 { print $3 }' <<<"$reports") descriptors)"
