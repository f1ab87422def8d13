#!/usr/bin/env bash
# The Windows program under wine with a stand-in IP Helper (iphlpapi_recorder.c, cross-compiled here):
# the rows the Windows layer passes for one cycle. The stand-in serves its forwarding rows out of
# order and refuses a metric below the interface's or a created row not of network management, so
# this checks the sort before the search, the retry above the interface metric, and a rewrite made of
# a create as network management, then the delete of the row as fetched.
#
#   private network + mount namespace, loopback only:
#     lo 127.0.0.1:80  tests/e2e/list_server.py: /list.txt is 10.0.0.0/8 and 11.0.0.0/8
#     stand-in tables: 10.1.0.2/24 on interface 3, 10.2.0.2/24 on 5; default via 10.2.0.1;
#       192.0.2.0/24 via 10.2.0.1 on 5 (static, proto 10006), 192.0.2.0/25 and /26 via 10.1.0.1 on 3
#     static file: 192.0.2.0/24, 203.0.113.0/25
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
cc=x86_64-w64-mingw32-gcc-posix
command -v "$cc" >/dev/null || fail "$cc is not installed"

"$cc" -Wall -Wextra -Werror -shared -o "$run/iphlpapi.dll" "$here/iphlpapi_recorder.c"
serve_list "$wine_work/requests" "$wine_work/ready"
printf '192.0.2.0/24\n203.0.113.0/25\n' >"$run/lanxroute.static"

(cd "$run" && WINEDLLOVERRIDES=iphlpapi=n,b exec wine lanxroute.exe --changes @127.0.0.1/list.txt \
	10.1.0.1 10.2.0.1 --no-fork) >"$wine_work/copy.out" 2>"$wine_work/copy.err" &
copy=$!
wait_for 30 lines_at_least "Updated route table successfully" 1 || fail "no successful cycle: $(log)"
lanx --exit
expect_eq "$status" 1 "--exit to the copy"
copy_status=0
wait "$copy" || copy_status=$?
expect_eq "$copy_status" 0 "the copy's status"
expect_eq "$(count_lines "Updating route table")" 1 "cycles"

# Creations first (each refused at metric 1, then made above the interface's metric 25), then the
# sweep in table order: the two stale rows, and the re-pointed /24 created on the Lanx interface with
# the Lanx gateway, then deleted as fetched. The default and the direct rows are left alone.
c="type 3 proto 3"
expect_stream "$run/iphlpapi.calls" "calls to IP Helper" \
	"create 10.0.0.0/254.0.0.0 via 10.1.0.1 if 3 $c metric 1: 160" \
	"interface family 2 index 3" \
	"create 10.0.0.0/254.0.0.0 via 10.1.0.1 if 3 $c metric 26: 0" \
	"create 203.0.113.0/255.255.255.128 via 10.1.0.1 if 3 $c metric 1: 160" \
	"interface family 2 index 3" \
	"create 203.0.113.0/255.255.255.128 via 10.1.0.1 if 3 $c metric 26: 0" \
	"delete 192.0.2.0/255.255.255.192 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0" \
	"delete 192.0.2.0/255.255.255.128 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0" \
	"create 192.0.2.0/255.255.255.0 via 10.1.0.1 if 3 type 4 proto 3 metric 30: 0" \
	"delete 192.0.2.0/255.255.255.0 via 10.2.0.1 if 5 type 4 proto 10006 metric 30: 0"

# The log shows the outcome of each operation, the retried creates as made.
ops=$(log_lines | grep -E '^[-+i*][0-9]' | tr '\n' '|')
expected="+10.0.0.0/254.0.0.0[3]: 0|i192.0.2.0/255.255.255.0[5]: 3|+203.0.113.0/255.255.255.128[3]: 0|"
expected+="-192.0.2.0/255.255.255.192[3]: 0|-192.0.2.0/255.255.255.128[3]: 0|*192.0.2.0/255.255.255.0[3]: 0|"
expect_eq "$ops" "$expected" "route lines"
