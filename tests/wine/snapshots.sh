#!/usr/bin/env bash
# The Windows program under wine: one cycle over the namespace's real tables, read through IP Helper.
# Wine's route writes only report success, so the '+', 'i', '*' and '-' lines name what the cycle
# asked for, and the kernel's table stays as it was.
#
#   private network + mount namespace (lib.sh):
#
#     lanx0  10.1.0.2/24 ==veth== lanx0p    Lanx gateway 10.1.0.1 (on the link, no host)
#     world0 10.2.0.2/24 ==veth== world0p   world gateway 10.2.0.1
#     lo 127.0.0.1:80  tests/e2e/list_server.py: /list.txt is 10.0.0.0/8 and 11.0.0.0/8
#
#     routes: default via 10.2.0.1; 192.0.2.0/24 via 10.2.0.1 (listed, on the wrong link);
#             192.0.2.0/25 and /26 via 10.1.0.1 (same destination, longer masks);
#             198.51.100.0/24 via 10.1.0.1 (not listed: stale)
#     static file: 192.0.2.0/24, 203.0.113.0/25
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

gateway_links 10.1.0.2/24 10.2.0.2/24
ip route add default via 10.2.0.1
ip route add 192.0.2.0/24 via 10.2.0.1 dev world0
ip route add 192.0.2.0/25 via 10.1.0.1 dev lanx0
ip route add 192.0.2.0/26 via 10.1.0.1 dev lanx0
ip route add 198.51.100.0/24 via 10.1.0.1 dev lanx0
lanx_index=$(ip -o link show lanx0 | cut -d: -f1)
world_index=$(ip -o link show world0 | cut -d: -f1)
table_before=$(ip -4 route show table all)

serve_list "$wine_work/requests" "$wine_work/ready"
printf '192.0.2.0/24\n203.0.113.0/25\n' >"$run/lanxroute.static"

(cd "$run" && exec wine lanxroute.exe --verbose @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 --no-fork) \
	>"$wine_work/copy.out" 2>"$wine_work/copy.err" &
copy=$!
wait_for 30 lines_at_least "Updated route table successfully" 1 || fail "no successful cycle: $(log)"
lanx --exit
expect_eq "$status" 1 "--exit to the copy"
copy_status=0
wait "$copy" || copy_status=$?
expect_eq "$copy_status" 0 "the copy's status"
cycle=$(log_lines | sed -n '/^Updating route table$/,/^Updated route table/p' | sed -n '1,/^Updated/p')

# Both gateways resolved through GetIpAddrTable's rows: the listing shows each interface's address.
lines_of() { grep -x -- "$1" <<<"$cycle" | wc -l; }
expect_eq "$(lines_of "IF ID: $lanx_index($(printf %x "$lanx_index"))")" 1 "lanx0's interface row"
expect_eq "$(lines_of "10.1.0.2/255.255.255.0-> $(printf %x "$lanx_index")")" 1 "lanx0's address row"
expect_eq "$(lines_of "10.2.0.2/255.255.255.0-> $(printf %x "$world_index")")" 1 "world0's address row"
expect_eq "$(lines_of "Bad LANX gateway specified: 10.1.0.1")" 0 "Lanx gateway unresolved"

# The dump shows the fetched rows, sorted: destination up, then the longer mask first.
dump=$(grep '^~' <<<"$cycle" | grep -e '/255\.255\.255\.[0-9]*\[' -e '^~0\.' | sed 's/\[.*//' | tr '\n' ' ')
case "$dump" in
*"~192.0.2.0/255.255.255.192 ~192.0.2.0/255.255.255.128 ~192.0.2.0/255.255.255.0 "*) ;;
*) fail "route dump order: $dump" ;;
esac

# The listed-block loop and what it asked of IP Helper, in order.
L=$(printf %x "$lanx_index")
W=$(printf %x "$world_index")
ops=$(grep -E '^(U[0-9a-f]{8}/|[-+i*][0-9])' <<<"$cycle" | tr '\n' '|')
expected="U0000000a/7|+10.0.0.0/254.0.0.0[$L]: 0|U000200c0/24|i192.0.2.0/255.255.255.0[$W]: $L|"
expected+="U007100cb/25|+203.0.113.0/255.255.255.128[$L]: 0|"
expected+="-192.0.2.0/255.255.255.192[$L]: 0|-192.0.2.0/255.255.255.128[$L]: 0|"
expected+="*192.0.2.0/255.255.255.0[$L]: 0|-198.51.100.0/255.255.255.0[$L]: 0|"
expect_eq "$ops" "$expected" "route operations of the cycle"

# Wine's IP Helper writes nothing: the kernel's table is as it was.
expect_eq "$(ip -4 route show table all)" "$table_before" "kernel table after the cycle"
