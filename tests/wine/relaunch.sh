#!/usr/bin/env bash
# The Windows program under wine: the relaunch into a detached copy, its cycles, commands through the
# named section, and "--exit".
#
#   private network + mount namespace, loopback only (nothing listens on 127.0.0.1:80)
#
#     wine lanxroute.exe ARGS (foreground) --CreateProcessA--> lanxroute.exe ARGS --no-fork
#       (detached, cwd $run: lanxroute.log)         later invocations --"LanxRouteShmem"--> the copy
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

args=(@127.0.0.1/list.txt 10.1.0.1 10.2.0.1)
ncopies() { exe_pids | wc -l; }
one_copy() { [ "$(ncopies)" = 1 ]; }

# The foreground copy returns 0 at once, writing nothing; its output goes to files, since the detached
# child inherits the handles and would hold a pipe open.
lanx "${args[@]}"
expect_eq "$status" 0 "foreground status"
expect_stream "$wine_work/out" "foreground standard output"
expect_stream "$wine_work/err" "foreground standard error"
wait_for 20 one_copy || fail "no background copy (copies: $(ncopies))"
cmdline=$(tr '\0' ' ' <"/proc/$(exe_pids)/cmdline" | sed 's/ *$//')
case "$cmdline" in
*"lanxroute.exe ${args[*]} --no-fork") ;;
*) fail "background copy's command line: '$cmdline'" ;;
esac

# It runs cycle after cycle; the list server refuses and no interface holds the gateways.
wait_for 20 lines_at_least "Updated route table unsuccessfully" 2 || fail "no two cycles: $(log)"
expect_eq "$(count_lines "--------------")" 1 "start separators"
expect_eq "$(count_lines "Loading subnet list from http://127.0.0.1/list.txt")" \
	"$(count_lines "Updating route table")" "one download per cycle"
expect_eq "$(count_lines "Error sending HTTP request: 12029")" \
	"$(count_lines "Updating route table")" "refused downloads"

# A second invocation is a command: the flags reach the running copy's next cycle.
lanx --verbose
expect_eq "$status" 1 "--verbose to the running copy: status"
expect_stream "$wine_work/err" "--verbose to the running copy" "LanxRoute is already running."
expect_stream "$wine_work/out" "--verbose to the running copy: standard output"
wait_for 20 lines_at_least "10.1.0.1" 1 || fail "the copy did not list its gateways after --verbose: $(log)"

# The single-instance test comes before the road: --no-fork does not start a second copy.
lanx "${args[@]}" --no-fork
expect_eq "$status" 1 "--no-fork while a copy runs: status"
expect_stream "$wine_work/err" "--no-fork while a copy runs" "LanxRoute is already running."
expect_eq "$(ncopies)" 1 "copies after --no-fork"

# "--exit" is a command too: no message, status 1, and the copy ends after its wait.
lanx --exit
expect_eq "$status" 1 "--exit to the running copy: status"
expect_stream "$wine_work/err" "--exit to the running copy: standard error"
wait_for 20 no_exe || fail "the copy did not exit: $(log)"
expect_eq "$(log_lines | tail -n 1)" "Exiting" "last log line"
expect_eq "$(count_lines Exiting)" 1 "Exiting lines"

# The section went with the copy: the next --exit finds none and ends as a copy of its own.
lanx --exit
expect_eq "$status" 0 "--exit after the copy ended: status"
expect_eq "$(count_lines "--------------")" 2 "start separators after a second --exit"
no_exe || fail "copies left after --exit"
