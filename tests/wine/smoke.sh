#!/usr/bin/env bash
# The cross-built lanxroute.exe under wine: the relaunch into exactly one detached
# copy (also from a command line that ends inside a quote), an invoker's pipe that the copy does not
# hold, a second invocation, "--exit".
source "$(dirname "$0")/lib.sh"

# The entry name's quote is never closed; the pipe returns while the copy runs on.
printf '@lanxroute.exe @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 "My Link\r\n' >"$run/quote.bat"
(cd "$run" && wine cmd /c quote.bat | cat >"$run/out") &
pipe=$!
wait_for 30 eval '! kill -0 $pipe 2>/dev/null' || fail "the pipe is held while the copy runs"
expect "output through the pipe" "$(cat "$run/out")" ""
wait_for 30 grep -qs '^Redialing My Link' "$run/lanxroute.log" || fail "no dial: $(log)"
expect "the one copy running" "$(copies)" \
    "Z:${run//\//\\}\\lanxroute.exe @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 My Link --no-fork"

lanx 10.1.0.1 10.2.0.1
expect "a second invocation" "$status:$(cat "$run/out" "$run/err" | tr -d '\r')" "1:LanxRoute is already running."
lanx --exit
expect "--exit to the copy" "$status" 1
wait_for 30 eval '[ -z "$(copies)" ]' || fail "the copy did not end"
expect "the last line of the log" "$(log | tail -n 1)" "Exiting"
