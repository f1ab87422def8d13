#!/usr/bin/env bash
# The cross-built lanxroute.exe under wine, in the namespaces of the end-to-end helpers with a wine
# prefix and server of their own, so that wine reads this namespace's tables (and ends with it).
#
# The program started from a batch file whose last quote is never closed, relaunched into exactly one
# detached copy that holds no pipe of the invoker's; a second invocation, --exit. The copy's
# cycle runs against a stand-in IP Helper (iphlpapi_recorder.c) that serves its forwarding rows out of
# order and refuses a metric below the interface's or a created row not of network management: the
# search after the sort, the retry above the interface metric, another's static row above our metric
# left as a backup with ours created beside it, a rewrite made as a network-management create and
# then the delete of the row as fetched.
#
#   stand-in tables: 10.1.0.2/24 on interface 3, 10.2.0.2/24 on 5; default via 10.2.0.1;
#     192.0.2.0/24 via 10.2.0.1 on 5 (static), 192.0.2.0/25 and /26 via 10.1.0.1 on 3,
#     198.51.100.0/24 via 10.2.0.1 on 5 (network management)
#   list (127.0.0.1:80): 10.0.0.0/8, 11.0.0.0/8
#   static file: 192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/25
source "$(dirname "$0")/../e2e/lib.sh"
set -euo pipefail
unset DISPLAY WAYLAND_DISPLAY WINEDLLOVERRIDES
export WINEDEBUG=-all WINEARCH=win64 TMPDIR=$work/tmp WINEPREFIX=$work/prefix
run=$work/run
mkdir "$TMPDIR" "$run" "$WINEPREFIX"
wineserver -p
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
cp "$LANX_EXE" "$run/lanxroute.exe"

# lanx ARGS...: the program in $run; sets status, its streams in $run/out and $run/err.
lanx() { status=0; (cd "$run" && wine lanxroute.exe "$@") >"$run/out" 2>"$run/err" || status=$?; }
copies() { pgrep -fa 'lanxroute\.exe' | grep -v defunct | cut -d' ' -f2- || true; }
log() { tr -d '\r' <"$run/lanxroute.log"; }

x86_64-w64-mingw32-gcc-posix -Wall -Werror -shared -o "$run/iphlpapi.dll" "$(dirname "$0")/iphlpapi_recorder.c"
mkdir "$work/www" && printf '10.0.0.0/8\n11.0.0.0/8\n' >"$work/www/list.txt"
python3 -m http.server 80 --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
listening 127.0.0.1/80
printf '192.0.2.0/24\n198.51.100.0/24\n203.0.113.0/25\n' >"$run/lanxroute.static"

# Started from a batch file whose last argument's quote is never closed: the pipe returns while the
# detached copy runs on, and exactly one copy runs, its command line made from the parsed arguments.
printf '@lanxroute.exe --changes @127.0.0.1/list.txt 10.1.0.1 "10.2.0.1\r\n' >"$run/quote.bat"
(cd "$run" && WINEDLLOVERRIDES=iphlpapi=n,b wine cmd /c quote.bat | cat >"$run/out") &
pipe=$!
wait_for 30 eval '! kill -0 $pipe 2>/dev/null' || fail "the pipe is held while the copy runs"
wait_for 30 grep -qs '^Updated route table successfully' "$run/lanxroute.log" || fail "no successful cycle: $(log)"
expect "the one copy running" "$(copies)" \
    "Z:${run//\//\\}\\lanxroute.exe --changes @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 --no-fork"
lanx 10.1.0.1 10.2.0.1
expect "a second invocation" "$status:$(cat "$run/out" "$run/err" | tr -d '\r')" "1:LanxRoute is already running."
lanx --exit
wait_for 30 eval '[ -z "$(copies)" ]' || fail "the copy did not end"
expect "--exit to the copy: status, the log's last line" "$status $(log | tail -n 1)" "1 Exiting"

c="type 3 proto 3"
expect "calls to IP Helper" "$(tr -d '\r' <"$run/iphlpapi.calls")" \
    "create 10.0.0.0/254.0.0.0 via 10.1.0.1 if 3 $c metric 1: 160
interface 3
create 10.0.0.0/254.0.0.0 via 10.1.0.1 if 3 $c metric 26: 0
create 192.0.2.0/255.255.255.0 via 10.1.0.1 if 3 $c metric 1: 160
interface 3
create 192.0.2.0/255.255.255.0 via 10.1.0.1 if 3 $c metric 26: 0
create 203.0.113.0/255.255.255.128 via 10.1.0.1 if 3 $c metric 1: 160
interface 3
create 203.0.113.0/255.255.255.128 via 10.1.0.1 if 3 $c metric 26: 0
delete 192.0.2.0/255.255.255.192 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0
delete 192.0.2.0/255.255.255.128 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0
create 198.51.100.0/255.255.255.0 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0
delete 198.51.100.0/255.255.255.0 via 10.2.0.1 if 5 type 4 proto 3 metric 30: 0"
# Each change's line has the status its calls ended with: the creates retried above the interface metric succeed.
expect "route lines that succeeded" "$(log | grep -cE '^[-+*][0-9].*: 0$')" 6

