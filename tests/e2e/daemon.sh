#!/usr/bin/env bash
# The background copy of the real binary: relaunch, cycles, commands through the shared word,
# exit, single instance, a killed copy, a log that cannot be opened.
#
#   private network + mount namespace (lib.sh):
#
#     lanx0  10.1.0.2/24 ==veth== lanx0p    Lanx gateway 10.1.0.1 (on the link, no host)
#     world0 10.2.0.2/24 ==veth== world0p   world gateway 10.2.0.1
#     lo 127.0.0.1:80  python3 http.server serving $work/www/list.txt
#
#     $LANX_BIN (foreground) --spawn--> $LANX_BIN --no-fork (cwd $work/run: log, static file)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_BIN:?LANX_BIN must name the program}"
work_dir daemon
mkdir -p "$work/www"
at_exit 'umount "$work/ro" 2>/dev/null'
gateway_links 10.1.0.2/24 10.2.0.2/24

printf '192.0.2.0/24\n203.0.113.0/25\n' >"$work/www/list.txt"
serve_dir "$work/www"

# lanx ARGS...: the program in $run; sets status and err.
lanx() {
	status=0
	(cd "$run" && "$LANX_BIN" "$@") 2>"$work/err" || status=$?
	err=$(cat "$work/err")
}
log() { cat "$run/lanxroute.log" 2>/dev/null || true; }
count_lines() { log | grep -c -x -- "$1" || true; }
lanx_route() { ip route list exact "$1" | grep -q "via 10.1.0.1 dev lanx0 proto 76"; }
no_route() { [ -z "$(ip route list exact "$1")" ]; }
now_ms() { date +%s%3N; }
lines_at_least() { [ "$(count_lines "$1")" -ge "$2" ]; }

# The foreground copy returns at once; the background copy runs cycles about 5 s apart.
# It holds an extra descriptor, as a shell or a CI runner might; the copy must not keep it.
lanx @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 9>"$work/held"
expect_eq "$status" 0 "foreground status"
expect_eq "$err" "" "foreground standard error"
wait_for 10 lines_at_least "Updated route table successfully" 1 || fail "no first cycle: $(log)"
first=$(now_ms)
expect_eq "$(ndaemons)" 1 "background copies"
[ "$(cat "/proc/$(daemon_pids)/cmdline" | tr '\0' ' ')" = "$LANX_BIN @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 --no-fork " ] ||
	fail "child's arguments: $(tr '\0' ' ' <"/proc/$(daemon_pids)/cmdline")"
held_by_copy() { ls -l "/proc/$(daemon_pids)/fd" | grep -q -F "$work/held"; }
held_by_copy && fail "the background copy kept the invoker's descriptor"
lanx_route 192.0.2.0/24 || fail "listed route missing: $(ip route)"
lanx_route 203.0.113.0/25 || fail "listed route missing: $(ip route)"
wait_for 15 lines_at_least "Updated route table successfully" 3 || fail "cycles stopped: $(log)"
gap=$(($(now_ms) - first))
[ "$gap" -ge 9000 ] && [ "$gap" -le 13000 ] || fail "two waits took $gap ms"
expect_eq "$(log | head -n 3 | tr '\n' '|')" "--------------||Updating route table|" "start of the log"

# Routes follow the served list and the static file.
printf '192.0.2.0/24\n198.18.0.0/15\n' >"$work/www/list.txt"
wait_for 15 lanx_route 198.18.0.0/15 || fail "new listed route missing: $(ip route)"
wait_for 15 no_route 203.0.113.0/25 || fail "stale route kept: $(ip route)"
# The static file's prefixes follow the list's, so they come above its last one.
printf '198.51.100.0/24\n' >"$run/lanxroute.static"
wait_for 15 lanx_route 198.51.100.0/24 || fail "static route missing: $(ip route)"
rm "$run/lanxroute.static"
wait_for 15 no_route 198.51.100.0/24 || fail "static route kept after the file went: $(ip route)"
lanx_route 192.0.2.0/24 || fail "unchanged route lost: $(ip route)"

# A second invocation is a command: it reports the running copy; verbose lines follow.
lanx --verbose
expect_eq "$status" 1 "second invocation status"
expect_eq "$err" "LanxRoute is already running." "second invocation message"
has_verbose() { log | grep -q '^IF ID: '; }
wait_for 15 has_verbose || fail "no verbose lines after --verbose: $(log | tail)"
expect_eq "$(ndaemons)" 1 "background copies after a command"

# "--exit" ends the copy within one wait, silently for the commanding invocation.
lanx --exit
expect_eq "$status" 1 "exit command status"
expect_eq "$err" "" "exit command message"
wait_for 8 gone || fail "copy still running after --exit"
expect_eq "$(log | tail -n 1)" "Exiting" "last line after --exit"

# "--exit" with no copy running: this process is the copy, and exits at once.
before=$(log | wc -c)
lanx --exit
expect_eq "$status" 0 "exit with nothing running"
expect_eq "$err" "" "exit with nothing running, message"
expect_eq "$(log | tail -c +$((before + 1)) | tr '\n' '|')" "--------------||Exiting|" "log of a lone --exit"
gone || fail "a lone --exit left a copy"

# Two starts at the same moment leave exactly one background copy.
before=$(count_lines "--------------")
(s=0; cd "$run" && "$LANX_BIN" 10.1.0.1 10.2.0.1 2>"$work/e1" || s=$?; echo "$s" >"$work/s1") &
p1=$!
(s=0; cd "$run" && "$LANX_BIN" 10.1.0.1 10.2.0.1 2>"$work/e2" || s=$?; echo "$s" >"$work/s2") &
p2=$!
wait "$p1" "$p2"
expect_eq "$(sort "$work/s1" "$work/s2" | tr '\n' ' ')" "0 1 " "statuses of two starts"
expect_eq "$(cat "$work/e1" "$work/e2")" "LanxRoute is already running." "messages of two starts"
wait_for 10 lines_at_least "--------------" $((before + 1)) || fail "no new copy: $(log | tail)"
started=$(count_lines "Updated route table successfully")
wait_for 10 lines_at_least "Updated route table successfully" $((started + 1)) || fail "new copy runs no cycle"
expect_eq "$(ndaemons)" 1 "background copies after two starts"
expect_eq "$(count_lines "--------------")" $((before + 1)) "copies that started"

# A killed copy leaves nothing that stops a new start.
victim=$(daemon_pids)
kill -9 "$victim"
wait_for 10 gone || fail "killed copy still there"
lanx 10.1.0.1 10.2.0.1
expect_eq "$status" 0 "start after a kill"
wait_for 10 lines_at_least "--------------" $((before + 2)) || fail "no copy after a kill"
expect_eq "$(ndaemons)" 1 "background copies after a kill"
lanx --exit
expect_eq "$status" 1 "exit command after a kill"
wait_for 8 gone || fail "copy still running after the last --exit"

# A log that cannot be opened: the copy says so on standard error and ends.
mkdir "$work/ro"
mount -t tmpfs -o ro tmpfs "$work/ro"
status=0
(cd "$work/ro" && "$LANX_BIN" --no-fork 10.1.0.1 10.2.0.1) 2>"$work/err" || status=$?
expect_eq "$status" 1 "status with a read-only directory"
expect_eq "$(cat "$work/err")" "Cannot open lanxroute.log (error code 30)" "message with a read-only directory"
umount "$work/ro"
echo "PASS"
