#!/usr/bin/env bash
# The cross-built lanxroute.exe under wine: the usage banner, the relaunch into exactly one detached
# copy (also from a command line that ends inside a quote), an invoker's pipe that the copy does not
# hold, a second invocation, "--exit".
source "$(dirname "$0")/lib.sh"

lanx
expect "$status:$(tr -d '\r' <"$run/err")" "1:LanxRoute version 1.1
Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]

  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute
  or   lanxroute  --exit asks the running copy of lanxroute to exit." "no arguments"

# The entry name's quote is never closed; the pipe returns while the copy runs on.
printf '@lanxroute.exe @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 "My Link\r\n' >"$run/quote.bat"
(cd "$run" && wine cmd /c quote.bat | cat >"$run/out") &
pipe=$!
wait_for eval '! kill -0 $pipe 2>/dev/null' || fail "the pipe is held while the copy runs"
expect "$(cat "$run/out")" "" "output through the pipe"
wait_for grep -qs '^Redialing My Link' "$run/lanxroute.log" || fail "no dial: $(log)"
expect "$(copies)" 'Z:\run\run\lanxroute.exe @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 My Link --no-fork' \
	"the one copy running"

lanx 10.1.0.1 10.2.0.1
expect "$status:$(cat "$run/out" "$run/err" | tr -d '\r')" "1:LanxRoute is already running." "a second invocation"
lanx --exit
expect "$status" 1 "--exit to the copy"
wait_for gone || fail "the copy did not end"
expect "$(log | tail -n 1)" "Exiting" "the last line of the log"
