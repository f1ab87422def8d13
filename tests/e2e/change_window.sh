#!/bin/bash
# Many route changes in flight against the kernel: each line carries the answer to its own
# request, also when the kernel refuses some in the middle of a window.
#
#   [test namespace]                                [child namespace "far"]
#   lanx0  10.0.0.2/24   <--veth-->  lanx1  10.0.0.1/24 (lanx gateway)
#   world0 192.0.2.2/24  <--veth-->  world1 192.0.2.1/24 (world gateway)
#   127.0.0.1:80  python3 http.server serving list.txt
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_UPDATE_ONCE:?LANX_UPDATE_ONCE must name the update_once driver}"
work_dir change_window
at_exit 'ip netns del far 2>/dev/null'

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
lanx=$(printf '%x' "$(ip -o link show lanx0 | cut -d: -f1)") || fail "lanx0 index"

serve_dir "$work"

cycle() {
	(cd "$work" && "$LANX_UPDATE_ONCE" -10 @127.0.0.1/list.txt 10.0.0.1 192.0.2.1) >"$work/out" ||
	    fail "cycle: $(tail -n3 "$work/out")"
	grep -E '^[-+*i]' "$work/out" >"$work/lines" || true
}
ours() { ip -4 route show proto 76 | wc -l; }

# 150 /24s that do not fuse; two carry host bits, which the kernel refuses (EINVAL, 0x16).
for k in $(seq 0 149); do
	case $k in
	70) echo "20.0.140.9/24" ;;
	131) echo "20.1.6.77/24" ;;
	*) echo "20.$((2 * k / 256)).$((2 * k % 256)).0/24" ;;
	esac
done >"$work/list.txt"
awk -v i="$lanx" '{ split($1, p, "/"); want = p[1] ~ /\.0$/ ? "0" : "16"
	print "+" p[1] "/255.255.255.0[" i "]: " want }' "$work/list.txt" >"$work/expected"

cycle
diff "$work/expected" "$work/lines" | head -n 8 >&2
cmp -s "$work/expected" "$work/lines" || fail "first cycle: lines out of place or with another's status"
expect_eq "$(ours)" 148 "routes after the first cycle"

# Only the two refused ones are tried again, each still with its own answer.
cycle
expect_eq "$(cat "$work/lines")" "+20.0.140.9/255.255.255.0[$lanx]: 16
+20.1.6.77/255.255.255.0[$lanx]: 16" "second cycle"
expect_eq "$(ours)" 148 "routes after the second cycle"

# Well over a window of deletions, in table order, every one answered 0.
echo "20.0.0.0/24" >"$work/list.txt"
cycle
expect_eq "$(grep -c '^-.*\]: 0$' "$work/lines")" 147 "deletion lines"
expect_eq "$(grep -vc '^-.*\]: 0$' "$work/lines")" 0 "other lines of the third cycle"
expect_eq "$(cut -c2- "$work/lines" | cut -d/ -f1 | sort -t . -k1,1n -k2,2n -k3,3n | tr -d '\n')" \
    "$(cut -c2- "$work/lines" | cut -d/ -f1 | tr -d '\n')" "deletions in table order"
expect_eq "$(ours)" 1 "routes after the third cycle"
echo "PASS: change_window"
