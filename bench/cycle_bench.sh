#!/bin/bash
# One update cycle against a real kernel table, beside `ip -batch` making the same changes.
#
#   [private namespace]                               [child namespace "far"]
#   lanx0  10.0.0.2/24   <--veth-->  lanx1  10.0.0.1/24 (lanx gateway)
#   world0 192.0.2.2/24  <--veth-->  world1 192.0.2.1/24 (world gateway)
#   127.0.0.1:80  python3 http.server serving the list
#
# cycle_bench.sh [synthetic|real]   (root; LANX_UPDATE_ONCE names the update_once driver)
#   synthetic: N (default 100000) /24 prefixes
#   real:      the IPv4 ranges of the npm package @ip-location-db/geo-whois-asn-country as CIDRs
# Cases: the first cycle (every route created), a cycle that changes nothing, a 1% change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-synthetic}
N=${N:-100000}
data=$here/data
: "${LANX_UPDATE_ONCE:?LANX_UPDATE_ONCE must name the update_once driver}"

# The real list is fetched before entering the namespace, which has no network.
if [ "$mode" = real ] && [ ! -s "$data/real.txt" ]; then
	mkdir -p "$data/npm"
	npm install --silent --no-save --prefix "$data/npm" @ip-location-db/geo-whois-asn-country
	csv=$(find "$data/npm/node_modules/@ip-location-db/geo-whois-asn-country" -name 'geo-whois-asn-country-ipv4.csv')
	python3 - "$csv" "$data/real.txt" <<'PY'
import ipaddress, sys
nets = set()
for line in open(sys.argv[1]):
    start, end = line.split(",")[:2]
    first, last = ipaddress.IPv4Address(start), ipaddress.IPv4Address(end)
    nets.update(ipaddress.summarize_address_range(first, last))
with open(sys.argv[2], "w") as out:
    for n in sorted(nets):
        out.write(f"{n}\n")
PY
fi

source "$here/../tests/e2e/lib.sh"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

work=$(mktemp -d)
server_pid=
cleanup() {
	if [ -n "$server_pid" ]; then
		kill "$server_pid" 2>/dev/null || true
		wait "$server_pid" 2>/dev/null || true
	fi
	ip netns del far 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT

ip netns add far || fail "child namespace"
for link in lanx:10.0.0 world:192.0.2; do
	name=${link%%:*} net=${link#*:}
	ip link add "${name}0" type veth peer name "${name}1" || fail "veth $name"
	ip link set "${name}1" netns far || fail "move ${name}1"
	ip addr add "$net.2/24" dev "${name}0" || fail "address of ${name}0"
	ip -n far addr add "$net.1/24" dev "${name}1" || fail "address of ${name}1"
	ip -n far link set "${name}1" up || fail "up ${name}1"
	ip link set "${name}0" up || fail "up ${name}0"
done

if [ "$mode" = real ]; then
	# Drop what the host's own links and the gateways' subnets would clash with.
	grep -v -e '^0\.' -e '^10\.' -e '^192\.0\.2\.' -e '^127\.' "$data/real.txt" >"$work/list1" || fail "real list"
else
	# Every other /24, so that no two prefixes fuse into one block.
	awk -v n="$N" 'BEGIN { for (i = 0; i < 2 * n; i += 2) printf "%d.%d.%d.0/24\n", 20 + int(i / 65536), int(i / 256) % 256, i % 256 }' >"$work/list1" || fail "synthetic list"
fi
count=$(wc -l <"$work/list1")
# The 1% change: every hundredth prefix leaves, as many new ones come in above the others.
awk 'NR % 100 != 0' "$work/list1" >"$work/list2" || fail "changed list"
awk 'NR % 100 == 0 { j = NR / 50; printf "%d.%d.%d.0/24\n", 200 + int(j / 65536), int(j / 256) % 256, j % 256 }' "$work/list1" >>"$work/list2" || fail "new prefixes"
sort -u -t . -k1,1n -k2,2n -k3,3n -k4,4n -o "$work/list2" "$work/list2" || fail "sort changed list"

python3 -m http.server 80 --bind 127.0.0.1 --directory "$work" >/dev/null 2>&1 &
server_pid=$!
wait_for 10 bash -c 'exec 3<>/dev/tcp/127.0.0.1/80' 2>/dev/null || fail "list server did not start"

# timed NAME COMMAND...: wall seconds and peak resident KiB into $work/NAME.
timed() {
	local name=$1; shift
	/usr/bin/time -f '%e %M' -o "$work/$name" "$@" >"$work/$name.out" 2>&1 || fail "$name: $(tail -n3 "$work/$name.out")"
}
# cycle NAME LIST: one timed update cycle over LIST.
cycle() {
	cp "$work/$2" "$work/list.txt" || fail "list for $1"
	timed "$1" env -C "$work" "$LANX_UPDATE_ONCE" @127.0.0.1/list.txt 10.0.0.1 192.0.2.1
}

routes() { ip -4 route show proto 76 | cut -d' ' -f1 | sort; }
cycle ours_create list1
routes >"$work/routes1"
cycle ours_same list1
cycle ours_change list2
routes >"$work/routes2"
made=$(wc -l <"$work/routes1")

# The same changes through ip -batch, from the same starting table.
ip route flush proto 76 || fail "flush"
to_batch() { awk -v op="$1" '{ print "route " op " " $1 " via 10.0.0.1 dev lanx0 proto 76 metric 1" }'; }
to_batch add <"$work/routes1" >"$work/batch_create"
comm -23 "$work/routes1" "$work/routes2" | to_batch del >"$work/batch_change"
comm -13 "$work/routes1" "$work/routes2" | to_batch add >>"$work/batch_change"
timed ip_create ip -batch "$work/batch_create"
# Nothing to change: the nearest equal work is reading the table once.
timed ip_same ip -4 route show
timed ip_change ip -batch "$work/batch_change"

printf '%s list: %d prefixes, %d routes made, %d changed by the 1%% cycle\n' "$mode" "$count" "$made" "$(wc -l <"$work/batch_change")"
printf '%-10s %10s %12s %10s %12s %8s\n' case cycle_s cycle_KiB ip_s ip_KiB ratio
for c in create same change; do
	read -r os ok <"$work/ours_$c"
	read -r is ik <"$work/ip_$c"
	printf '%-10s %10s %12s %10s %12s %8s\n' "$c" "$os" "$ok" "$is" "$ik" \
	    "$(awk -v a="$os" -v b="$is" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
done
