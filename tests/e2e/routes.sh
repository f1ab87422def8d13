#!/bin/bash
# Update cycles against the kernel's table, in a private network namespace.
#
#   [test namespace]                                         [child namespace "far"]
#   lanx0  10.0.0.2/24     <--veth-->   lanx1   10.0.0.1/24 (lanx gateway), 10.0.0.254/24
#   world0 192.0.2.2/24    <--veth-->   world1  192.0.2.1/24 (world gateway)
#   third0 198.51.100.2/24 <--veth-->   third1  198.51.100.1/24
#   lanx2  (later: the lanx subnet moved here, then the link made anew) <--veth--> lanx3
#   127.0.0.1:80  python3 http.server serving list.txt
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_UPDATE_ONCE:?LANX_UPDATE_ONCE must name the update_once driver}"
work_dir routes
at_exit 'ip netns del far 2>/dev/null'

# pair NEAR FAR NEAR_ADDRESS FAR_ADDRESS...: a veth pair, its far end in the child namespace.
pair() {
	local near=$1 far_end=$2 address=$3; shift 3
	ip link add "$near" type veth peer name "$far_end" || fail "veth $near"
	ip link set "$far_end" netns far || fail "move $far_end"
	ip addr add "$address" dev "$near" || fail "address of $near"
	for a in "$@"; do ip -n far addr add "$a" dev "$far_end" || fail "address of $far_end"; done
	ip -n far link set "$far_end" up || fail "up $far_end"
	ip link set "$near" up || fail "up $near"
}

ip netns add far || fail "child namespace"
pair lanx0 lanx1 10.0.0.2/24 10.0.0.1/24 10.0.0.254/24
pair world0 world1 192.0.2.2/24 192.0.2.1/24
pair third0 third1 198.51.100.2/24 198.51.100.1/24

serve_dir "$work"

list() { printf '%s\n' "$@" >"$work/list.txt" || fail "list text"; }
# cycle [LANX WORLD]: one update cycle; prints its change lines and must succeed.
cycle() {
	local out gateways=("$@")
	[ $# -gt 0 ] || gateways=(10.0.0.1 192.0.2.1)
	out=$(cd "$work" && "$LANX_UPDATE_ONCE" -10 @127.0.0.1/list.txt "${gateways[@]}") ||
	    fail "cycle failed: $out"
	[ "$(tail -n1 <<<"$out")" = "Updated route table successfully" ] || fail "cycle: $out"
	grep '^[-+*i~]' <<<"$out" || true
}
# The routes the cycles made: via the lanx gateway with our protocol and metric.
made() { ip -4 route show | sed -n 's/^\([0-9./]*\) via 10\.0\.0\.1 dev \([a-z0-9]*\) proto 76 metric 1 *$/\1 \2/p' | sort; }
# Every other route of the table.
others() { ip -4 route show | grep -v ' via 10\.0\.0\.1 dev [a-z0-9]* proto 76 metric 1 *$' | sort; }
index_of() { ip -o link show dev "$1" | cut -d: -f1; }

# Routes that no sweep may touch: the administrator's, another daemon's, a third interface,
# host routes, default routes, blackholes and routes without a gateway, even with our protocol.
ip route add 10.50.0.0/16 via 10.0.0.1 || fail "boot route"
ip route add 10.51.0.0/16 via 10.0.0.1 proto static || fail "static route"
ip route add 10.52.0.0/16 via 192.0.2.1 proto bird || fail "bird route"
ip route add 10.53.0.0/16 via 198.51.100.1 proto 76 || fail "third interface route"
ip route add 10.54.0.1/32 via 10.0.0.1 proto 76 || fail "host route"
ip route add default via 192.0.2.1 proto 76 || fail "default route"
ip route add blackhole 10.55.0.0/16 proto 76 || fail "blackhole route"
ip route add unreachable 10.56.0.0/16 proto 76 || fail "unreachable route"
ip route add 10.57.0.0/16 dev lanx0 proto 76 || fail "direct route"
kept=$(others)
# Stale routes of ours on the two gateways' links.
ip route add 10.60.0.0/16 via 10.0.0.1 proto 76 || fail "stale lanx route"
ip route add 10.61.0.0/16 via 192.0.2.1 proto 76 || fail "stale world route"

lanx0=$(index_of lanx0)
list 10.1.0.0/16 10.2.3.0/24 172.20.0.0/15 100.64.0.0/10
lines=$(cycle)
expect_eq "$(made)" "$(printf '%s lanx0\n' 10.1.0.0/16 10.2.3.0/24 100.64.0.0/10 172.20.0.0/15)" "first cycle's routes"
expect_eq "$(others)" "$kept" "routes the first sweep must keep"
expect_eq "$(grep -c '^+.*\[' <<<"$lines")" 4 "creations: $lines"
expect_eq "$(grep '^-' <<<"$lines" | sort)" "$(printf -- '-10.60.0.0/255.255.0.0[%x]: 0\n-10.61.0.0/255.255.0.0[%x]: 0' "$lanx0" "$(index_of world0)")" "stale deletions"
expect_eq "$(grep -c ': 0$' <<<"$lines")" 6 "every change succeeded: $lines"

lines=$(cycle)
expect_eq "$lines" "" "a second cycle changes nothing"
expect_eq "$(made)" "$(printf '%s lanx0\n' 10.1.0.0/16 10.2.3.0/24 100.64.0.0/10 172.20.0.0/15)" "routes after the second cycle"

list 10.1.0.0/16 172.20.0.0/15
lines=$(cycle)
expect_eq "$lines" "$(printf -- '-10.2.3.0/255.255.255.0[%x]: 0\n-100.64.0.0/255.192.0.0[%x]: 0' "$lanx0" "$lanx0")" "a shorter list deletes what left it"
expect_eq "$(made)" "$(printf '%s lanx0\n' 10.1.0.0/16 172.20.0.0/15)" "routes after the shorter list"
expect_eq "$(others)" "$kept" "routes the later sweeps must keep"

# The lanx subnet moves to another link: the routes are re-pointed, not made anew.
pair lanx2 lanx3 10.0.0.3/24
# Another address keeps lanx0 in use: a link without any loses all its routes.
ip addr add 10.99.0.2/24 dev lanx0 || fail "second address on lanx0"
ip addr del 10.0.0.2/24 dev lanx0 || fail "lanx address off lanx0"
ip -n far addr del 10.0.0.1/24 dev lanx1 || fail "gateway off lanx1"
ip -n far addr add 10.0.0.1/24 dev lanx3 || fail "gateway onto lanx3"
ip -n far addr add 10.0.0.254/24 dev lanx3 || fail "second gateway onto lanx3"
lanx2=$(index_of lanx2)
lines=$(cycle)
expect_eq "$(grep '^[i*]' <<<"$lines" | sort)" "$(printf '*%s[%x]: 0\n*%s[%x]: 0\ni%s[%x]: %x\ni%s[%x]: %x' \
    10.1.0.0/255.255.0.0 "$lanx2" 172.20.0.0/255.254.0.0 "$lanx2" \
    10.1.0.0/255.255.0.0 "$lanx0" "$lanx2" 172.20.0.0/255.254.0.0 "$lanx0" "$lanx2")" "re-pointing lines"
expect_eq "$(made)" "$(printf '%s lanx2\n' 10.1.0.0/16 172.20.0.0/15)" "routes re-pointed to lanx2"

# The link deleted and made again gets a new index; its routes follow it.
ip link del lanx2 || fail "delete lanx2"
pair lanx2 lanx3 10.0.0.3/24 10.0.0.1/24 10.0.0.254/24
[ "$(index_of lanx2)" != "$lanx2" ] || fail "the new link kept its index"
lines=$(cycle)
expect_eq "$(grep -c "^+.*\[$(printf %x "$(index_of lanx2)")\]: 0$" <<<"$lines")" 2 "routes made on the new link: $lines"
expect_eq "$(made)" "$(printf '%s lanx2\n' 10.1.0.0/16 172.20.0.0/15)" "routes on the new link"

# Both gateways on one link: the listed blocks still go to the lanx gateway.
list 10.1.0.0/16 172.20.0.0/15 10.3.0.0/16
lines=$(cycle 10.0.0.1 10.0.0.254)
expect_eq "$(grep -c '^+10\.3\.0\.0/255\.255\.0\.0' <<<"$lines")" 1 "one creation: $lines"
expect_eq "$(made)" "$(printf '%s lanx2\n' 10.1.0.0/16 10.3.0.0/16 172.20.0.0/15)" "routes with a shared link"

# A table of 100,000 routes dumps whole.
awk 'BEGIN { for (i = 0; i < 100000; i++) printf "route add %d.%d.%d.0/24 via 198.51.100.1 proto static\n", 20 + int(i / 65536), int(i / 256) % 256, i % 256 }' >"$work/batch" || fail "batch"
ip -batch "$work/batch" || fail "loading 100,000 routes"
[ "$(ip -4 route show | wc -l)" -gt 100000 ] || fail "the big table is not loaded"
lines=$(cycle 10.0.0.1 10.0.0.254)
expect_eq "$lines" "" "a cycle over the big table changes nothing"
