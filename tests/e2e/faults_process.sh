#!/usr/bin/env bash
# The process and its files: SIGKILL in the middle of a long cycle and a new start that
# converges, the log on a full disk and deleted while the copy runs, the static file replaced
# while cycles read it.
#
#   private network + mount namespace (lib.sh, faults_lib.sh):
#
#     lanx0  192.168.1.2/24 ==veth== lanx0p    Lanx gateway 192.168.1.1
#     world0 192.168.2.2/24 ==veth== world0p   world gateway 192.168.2.1
#     lo 127.0.0.1:80  list_server.py: /switch answering list.txt, garbage or many200000
#
#     $LANX_BIN / $LANX_UPDATE_ONCE, cwd $run (for the full disk: a 256 KiB tmpfs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/faults_lib.sh"

racer_pid=
cleanup_more() {
	[ -z "$racer_pid" ] || kill "$racer_pid" 2>/dev/null || true
	umount "$run" 2>/dev/null || true
}
at_exit cleanup_more
start_copy() { # ARGS...: a new background copy, started cleanly
	lanx "$@" "$URL" "$LANX_GW" "$WORLD_GW"
	expect_eq "$status" 0 "start status"
	expect_eq "$err" "" "start message"
}
stop_copy() {
	lanx --exit
	expect_eq "$status" 1 "exit request"
	wait_for 15 gone || fail "the copy did not end on --exit"
}

# --- SIGKILL in the middle of a cycle; the next start converges. ---
# Stale routes of ours that the killed cycle never got to sweep.
awk 'BEGIN { for (i = 0; i < 256; i++) printf "route add 40.0.%d.0/24 via 192.168.1.1 proto 76\n", i }' >"$work/stale" || fail "stale batch"
ip -batch "$work/stale" || fail "stale routes"
mode many$N
start_copy
wait_for 20 first_made || fail "the copy made no route: $(log)"
expect_eq "$(log | tail -n 1)" "Updating route table" "last line when the copy is killed"
kill -9 "$(daemon_pids)" || fail "kill -9"
wait_for 10 gone || fail "the killed copy is still there"
made=$(ours | wc -l)
[ "$made" -lt $((N + 256)) ] || fail "the killed cycle had finished: $made routes"
starts=$(count_lines "--------------")
start_copy
wait_for 10 lines_at_least "--------------" $((starts + 1)) || fail "no new copy after the kill"
wait_for 60 lines_at_least "Updated route table successfully" 1 || fail "no cycle after the kill: $(log | tail -n 3)"
expect_eq "$(ours)" "$(many 0 $N | sed "s/\$/ $LANX_GW lanx0/" | sort)" "routes after the new start"
expect_eq "$(count_lines "LanxRoute is already running.")" 0 "already-running lines"
stop_copy

# --- The log on a full disk, then deleted, while the copy runs on. ---
# The long list's routes go first, so that the copy's first cycle writes a short log.
mode list.txt
cycle
routes_are 10.0.0.0/7 || fail "short list: $(ours)"
rm -rf "${run:?}"/* || fail "emptying the working directory"
mount -t tmpfs -o size=256k tmpfs "$run" || fail "small tmpfs"
start_copy --changes
wait_for 60 routes_are 10.0.0.0/7 || fail "the copy did not follow the short list: $(ours)"
dd if=/dev/zero of="$run/filler" bs=4k 2>/dev/null || true
expect_eq "$(df --output=avail "$run" | tail -n 1 | tr -d ' ')" 0 "space left on the full disk"
mode garbage
wait_for 15 routes_are 10.1.0.0/16 10.3.0.0/16 || fail "the copy stopped following the list on a full disk: $(ours)"
expect_eq "$(ndaemons)" 1 "copies on a full disk"
size=$(stat -c %s "$run/lanxroute.log")
rm "$run/filler" || fail "freeing the disk"
grown() { [ "$(stat -c %s "$run/lanxroute.log")" -gt "$size" ] && log | tail -n 1 | grep -qx 'Updated route table successfully'; }
wait_for 15 grown || fail "the log did not go on once the disk had room: $(log | tail -n 3)"
rm "$run/lanxroute.log" || fail "deleting the log"
mode list.txt
wait_for 15 routes_are 10.0.0.0/7 || fail "the copy stopped following the list without its log: $(ours)"
[ ! -e "$run/lanxroute.log" ] || fail "the copy made a new log: it keeps the one it opened"
expect_eq "$(ndaemons)" 1 "copies without their log"
stop_copy
umount "$run" || fail "small tmpfs off"

# --- The static file replaced, rewritten, cut and swapped for other kinds of file while
# cycles read it. Every cycle succeeds with status lines only (the long file's line cut at
# 4096 bytes keeps its host bits, which the kernel refuses: a status); the last content counts. ---
long=$(for i in $(seq 0 499); do echo "203.0.$((i / 2)).$((i % 2 * 128))/25"; done)
(
	for i in $(seq 1 300); do
		case $((i % 6)) in
		0) printf '203.0.113.0/24\n' >"$run/lanxroute.static" ;;
		1) printf '198.51.100.0/24\n' >"$run/static.new" && mv "$run/static.new" "$run/lanxroute.static" ;;
		2) : >"$run/lanxroute.static" ;;
		3) printf '%s\n' "$long" >"$run/lanxroute.static" ;;
		4) rm -f "$run/lanxroute.static" && mkdir "$run/lanxroute.static" && rmdir "$run/lanxroute.static" ;;
		5) truncate -s 1G "$run/lanxroute.static" && rm -f "$run/lanxroute.static" ;;
		esac
	done
) &
racer_pid=$!
cycles=0
while kill -0 "$racer_pid" 2>/dev/null; do
	cycle
	expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle $cycles under the racer"
	only_statuses "$out" || fail "cycle $cycles under the racer: $out"
	cycles=$((cycles + 1))
done
wait "$racer_pid" || fail "the racer failed"
racer_pid=
[ "$cycles" -ge 2 ] || fail "only $cycles cycles ran under the racer"
printf '198.51.100.0/24\n' >"$run/lanxroute.static"
cycle
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle after the racer"
routes_are 10.0.0.0/7 198.51.100.0/24 || fail "routes after the racer: $(ours)"
# A FIFO in the static file's place is passed over, never waited on: the cycle goes on without it.
rm "$run/lanxroute.static" && mkfifo "$run/lanxroute.static" || fail "FIFO as the static file"
out=$(cd "$run" && timeout 30 "$LANX_UPDATE_ONCE" -10 "$URL" "$LANX_GW" "$WORLD_GW" 2>&1) ||
	fail "cycle with a FIFO as the static file: $out"
expect_eq "$(result_of "$out")" "Updated route table successfully" "cycle with a FIFO as the static file"
routes_are 10.0.0.0/7 || fail "routes with a FIFO as the static file: $(ours)"
rm "$run/lanxroute.static"
echo "PASS: faults_process ($cycles cycles under the racer)"
