#!/bin/bash
# The update cycle against the tools a user would pick instead, in one run, on the real list.
#
#   [private namespace]                               [child namespace "far"]
#   lanx0  10.0.0.2/24   <--veth-->  lanx1  10.0.0.1/24 (lanx gateway)
#   world0 192.0.2.2/24  <--veth-->  world1 192.0.2.1/24 (world gateway)
#   127.0.0.1:80  list_server.py serving the list (ETag, 304, gzip)
#   bird (its config, socket, pid and log in the run's temporary folder)
#
# compare.sh [LIST...]   (root; LANX_UPDATE_ONCE names the update_once driver, LANX_ROUTE_COUNT
#                          the route_count tool, LANX_MNL_BATCH the mnl_batch tool; REPS repetitions,
#                          default 3; COUNTRY, default DE)
# Lists: full (the whole public list as CIDRs), 100k (its first 100,000), country (one country's),
#        sparse (every other CIDR of the whole list, so that nothing fuses). Default: all four.
# Per list: the first cycle into an empty table beside the floors of bare libmnl writing the routes
# the cycle made, by address (64 acknowledged requests a send; 1024 unacknowledged ones a send in the
# program's order, closed by one acknowledged no-op), ip -batch of the raw CIDRs, ip -batch of
# the routes the cycle made, and BIRD's start until every route is in the kernel; a cycle with
# nothing to change (the fifth of five in one process) beside `ip -4 route show table main`, and the
# bytes the list server sends for it; a 1% list change beside BIRD's
# `birdc configure`; peak memory of each. Times in seconds: median and range of the repetitions,
# and the median CPU time (user + system). The list server has gzipped each list before any timing.
# Anchors: mnl_floor = bare libmnl of the routes the cycle made, mnl_noack = the same without
# acknowledgements, ip_same = ip -batch of them,
# ip_raw = ip -batch of the raw CIDRs, bird_start, route_show, bird_change = the rows of those names.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data=$here/data
REPS=${REPS:-3}
COUNTRY=${COUNTRY:-DE}
: "${LANX_UPDATE_ONCE:?LANX_UPDATE_ONCE must name the update_once driver}"
: "${LANX_ROUTE_COUNT:?LANX_ROUTE_COUNT must name the route_count tool}"
: "${LANX_MNL_BATCH:?LANX_MNL_BATCH must name the mnl_batch tool}"
# The tools run from the run's folder: names given relative to here must still find them.
LANX_UPDATE_ONCE=$(realpath "$LANX_UPDATE_ONCE") LANX_ROUTE_COUNT=$(realpath "$LANX_ROUTE_COUNT")
LANX_MNL_BATCH=$(realpath "$LANX_MNL_BATCH")
export LANX_UPDATE_ONCE LANX_ROUTE_COUNT LANX_MNL_BATCH

# Tools and data come before the namespace, which has no network.
if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	command -v bird >/dev/null || { echo "FAIL: the benchmark needs bird2 installed" >&2; exit 1; }
	csv=$data/npm/node_modules/@ip-location-db/geo-whois-asn-country/geo-whois-asn-country-ipv4.csv
	if [ ! -s "$csv" ]; then
		mkdir -p "$data/npm"
		npm install --silent --no-save --prefix "$data/npm" @ip-location-db/geo-whois-asn-country
	fi
	# Inclusive ranges "start,end,country" into CIDRs, exact duplicates dropped, ascending.
	if [ ! -s "$data/real.txt" ] || [ ! -s "$data/country-$COUNTRY.txt" ]; then
		python3 - "$csv" "$data/real.txt" "$data/country-$COUNTRY.txt" "$COUNTRY" <<'PY'
import ipaddress, sys
every, one = set(), set()
for line in open(sys.argv[1]):
    start, end, cc = line.strip().split(",")[:3]
    nets = ipaddress.summarize_address_range(ipaddress.IPv4Address(start), ipaddress.IPv4Address(end))
    for n in nets:
        every.add(n)
        if cc == sys.argv[4]:
            one.add(n)
for name, nets in ((sys.argv[2], every), (sys.argv[3], one)):
    with open(name, "w") as out:
        out.writelines(f"{n}\n" for n in sorted(nets))
PY
	fi
fi

# lib.sh's $work and exit trap: every process of the namespace ends, and with the namespace go
# $work (on its /run) and the child namespace's name.
source "$here/../tests/e2e/lib.sh"
bird_pid=
stop_bird() {
	if [ -n "$bird_pid" ]; then
		kill "$bird_pid" 2>/dev/null || true
		wait "$bird_pid" 2>/dev/null || true
		bird_pid=
	fi
}

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

python3 "$here/../tests/e2e/list_server.py" "$work" "$work/served" >/dev/null 2>&1 &
listening 127.0.0.1/80

now() { date +%s.%N; }
# timed FILE COMMAND...: appends "wall_s peak_KiB cpu_s" of one run to FILE.
# Wall time by bash's microsecond clock: time's own %e counts in steps of 10 ms.
timed() {
	local file=$1 t0; shift
	t0=$EPOCHREALTIME
	/usr/bin/time -f '%M %U %S' -o "$work/last.time" "$@" >"$work/last.out" 2>&1 ||
	    fail "$*: $(tail -n3 "$work/last.out")"
	awk -v t0="$t0" -v t1="$EPOCHREALTIME" '{ print t1 - t0, $1, $2 + $3 }' "$work/last.time" >>"$file"
}
# serve FILE: FILE becomes the served list, which the server gzips now, before any timing.
serve() {
	cp "$work/$1" "$work/list.txt" || fail "list $1"
	curl -sf --compressed -o /dev/null http://127.0.0.1/list.txt || fail "warming the list server"
}
cycle() {
	serve "$2"
	timed "$work/r.$1" env -C "$work" "$LANX_UPDATE_ONCE" @127.0.0.1/list.txt 10.0.0.1 192.0.2.1
}
count() { "$LANX_ROUTE_COUNT" "$@" || fail "route count"; }
empty_table() {
	ip route flush proto 76 2>/dev/null || true
	ip route flush proto bird 2>/dev/null || true
	[ "$(count 76)" = "0 0" ] && [ "$(count 12)" = "0 0" ] || fail "table not empty"
}
# poll_until DEADLINE_S PROTOCOL COUNT [LIST]: polls the table until it holds COUNT routes of
# PROTOCOL (and every prefix of LIST).
poll_until() {
	local deadline=$(($(date +%s) + $1)) got
	while :; do
		got=$(count "$2" ${4:-})
		[ "$got" = "$3 0" ] && return 0
		[ -z "$bird_pid" ] || kill -0 "$bird_pid" 2>/dev/null ||
		    fail "bird ended: $(tail -n3 "$work/bird.log" 2>/dev/null)"
		[ "$(date +%s)" -lt "$deadline" ] || fail "table shows '$got' of protocol $2, want $3"
		sleep 0.05
	done
}
bird_config() {
	{
		printf 'log "%s/bird.log" all;\nrouter id 10.0.0.2;\nprotocol device {}\n' "$work"
		printf 'protocol kernel { ipv4 { export all; }; }\n'
		printf 'protocol static {\n\tipv4;\n'
		awk '{ print "\troute " $1 " via 10.0.0.1;" }' "$work/$1"
		printf '}\n'
	} >"$work/bird.conf"
}
hwm() { awk '/VmHWM/ { print $2 }' "/proc/$1/status"; }
cpu_of() { awk -v t="$(getconf CLK_TCK)" '{ print ($14 + $15) / t }' "/proc/$1/stat"; }

# FILE's prefixes but those of this host's own links and loopback.
routable() { grep -v -e '^0\.' -e '^10\.' -e '^192\.0\.2\.' -e '^127\.' "$1"; }
# A 1% change of LIST1 into LIST2: every hundredth prefix leaves, as many new ones come in
# where the list has nothing.
make_lists() {
	case $1 in
	full) routable "$data/real.txt" ;;
	100k) routable "$data/real.txt" | awk 'NR <= 100000' ;;
	country) routable "$data/country-$COUNTRY.txt" ;;
	sparse) routable "$data/real.txt" | awk 'NR % 2' ;;
	*) fail "unknown list $1" ;;
	esac >"$work/list1"
	awk 'NR % 100 != 0' "$work/list1" >"$work/list2"
	awk 'NR % 100 == 0 { j = NR / 50
		printf "%d.%d.%d.0/24\n", 240 + int(j / 65536), int(j / 256) % 256, j % 256 }' \
	    "$work/list1" >>"$work/list2"
	sort -u -t . -k1,1n -k2,2n -k3,3n -k4,4n -o "$work/list2" "$work/list2" || fail "sort changed list"
}

# stats FILE: "median min max peak_KiB cpu_median" of its runs (peak is the largest).
stats() {
	local cpu
	cpu=$(sort -n -k3,3 "$1" | awk '{ c[NR] = $3 } END {
		print NR % 2 ? c[(NR + 1) / 2] : (c[NR / 2] + c[NR / 2 + 1]) / 2 }')
	sort -n "$1" | awk -v cpu="$cpu" '{ t[NR] = $1; if ($2 > m) m = $2 } END {
		median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
		printf "%.3f %.3f %.3f %d %.3f\n", median, t[1], t[NR], m, cpu }'
}
row() {	# row METHOD N FILE [ANCHOR_FILE...]
	local method=$1 n=$2 file=$3 ratios="" a; shift 3
	read -r med lo hi peak cpu < <(stats "$file")
	for a in "$@"; do
		ratios+=$(awk -v x="$med" -v y="$(stats "$a" | cut -d' ' -f1)" -v n="${a##*.}" \
		    'BEGIN { printf "%s %.2f  ", n, x / y }')
	done
	printf '| %-34s | %7s | %7.3f | %7.3f-%-7.3f | %7.3f | %9.1f | %s\n' "$method" "$n" "$med" "$lo" "$hi" "$cpu" \
	    "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "${ratios:--}"
}

run_list() {
	local list=$1 r
	make_lists "$list"
	local prefixes changed
	prefixes=$(wc -l <"$work/list1")
	rm -f "$work"/r.*
	for r in $(seq "$REPS"); do
		empty_table
		cycle create list1
		ip -4 route show proto 76 | awk '{ print $1 }' | sort -u >"$work/routes1"
		# The idle cycle of a running copy: the fifth of five in one process, over the same list (the
		# first ones still grow the heap).
		serve list1
		: >"$work/served"
		timed "$work/r.idle_process" env -C "$work" LANX_CYCLES=5 "$LANX_UPDATE_ONCE" \
		    @127.0.0.1/list.txt 10.0.0.1 192.0.2.1
		echo "$(awk '/^cycle 5 / { print $4 / 1000 }' "$work/last.out")" \
		    "$(tail -n1 "$work/r.idle_process" | cut -d' ' -f2)" \
		    "$(awk '/^cycle 5 / { print $6 / 1000 }' "$work/last.out")" >>"$work/r.same"
		echo "$(tail -n1 "$work/served" | cut -d' ' -f2) 0 0" >>"$work/r.idle_bytes"
		echo "$(head -n1 "$work/served" | cut -d' ' -f2) 0 0" >>"$work/r.first_bytes"
		timed "$work/r.route_show" bash -c 'ip -4 route show table main >/dev/null'
		cycle change list2
		ip -4 route show proto 76 | awk '{ print $1 }' | sort -u >"$work/routes2"

		# The floor: exactly the routes the cycle made, in its order (by address), through bare libmnl,
		# every one made.
		sort -t. -k1,1n -k2,2n -k3,3n -k4,4n "$work/routes1" >"$work/by_address"
		empty_table
		timed "$work/r.mnl_floor" "$LANX_MNL_BATCH" "$work/by_address" 10.0.0.1 lanx0
		[ "$(cat "$work/last.out")" = "$(wc -l <"$work/routes1") 0" ] ||
		    fail "mnl_batch: $(cat "$work/last.out")"
		empty_table
		timed "$work/r.mnl_noack" "$LANX_MNL_BATCH" "$work/by_address" 10.0.0.1 lanx0 noack
		[ "$(cat "$work/last.out")" = "$(wc -l <"$work/routes1") 0" ] ||
		    fail "mnl_batch noack: $(cat "$work/last.out")"

		# ip -batch: the raw CIDRs a user would add, and exactly the routes the cycle made.
		empty_table
		awk '{ print "route add " $1 " via 10.0.0.1 dev lanx0 proto 76" }' "$work/list1" >"$work/batch_raw"
		timed "$work/r.ip_raw" ip -force -batch "$work/batch_raw"
		empty_table
		awk '{ print "route add " $1 " via 10.0.0.1 dev lanx0 proto 76 metric 1" }' "$work/routes1" \
		    >"$work/batch_same"
		timed "$work/r.ip_same" ip -batch "$work/batch_same"

		# BIRD: start until the kernel holds every route, then the 1% change until it shows.
		empty_table
		bird_config list1
		local t0 t1
		t0=$(now)
		bird -f -c "$work/bird.conf" -s "$work/bird.ctl" -P "$work/bird.pid" &
		bird_pid=$!
		poll_until 300 12 "$prefixes"
		t1=$(now)
		echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }') $(hwm "$bird_pid") $(cpu_of "$bird_pid")" \
		    >>"$work/r.bird_start"
		bird_config list2
		local c0
		c0=$(cpu_of "$bird_pid")
		t0=$(now)
		birdc -s "$work/bird.ctl" configure >/dev/null || fail "birdc configure"
		poll_until 300 12 "$(wc -l <"$work/list2")" "$work/list2"
		t1=$(now)
		echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }') $(hwm "$bird_pid")" \
		    "$(awk -v a="$c0" -v b="$(cpu_of "$bird_pid")" 'BEGIN { print b - a }')" >>"$work/r.bird_change"
		stop_bird
	done
	changed=$( (comm -23 "$work/routes1" "$work/routes2"; comm -13 "$work/routes1" "$work/routes2") | wc -l)

	printf '\n%s list: %d prefixes, %d routes made by the first cycle, %d route changes in the 1%% cycle, %d %s\n' \
	    "$list" "$prefixes" "$(wc -l <"$work/routes1")" "$changed" "$REPS" repetitions
	printf 'load average before the list: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
	printf '| %-34s | %7s | %7s | %-15s | %7s | %9s | %s\n' method N "median" "min-max" "CPU" "peak MiB" \
	    "median over the named anchor's"
	printf '|%s|%s|\n' "------------------------------------|---------|---------|-----------------|---------" \
	    "-----------|-------------------------------"
	row "first cycle (ours)" "$prefixes" "$work/r.create" "$work/r.mnl_noack" "$work/r.mnl_floor" \
	    "$work/r.ip_same" "$work/r.ip_raw" "$work/r.bird_start"
	row "bare libmnl, 64 a send (floor)" "$(wc -l <"$work/routes1")" "$work/r.mnl_floor"
	row "bare libmnl, no ack, 1024 a send" "$(wc -l <"$work/routes1")" "$work/r.mnl_noack"
	row "ip -batch of the same routes" "$(wc -l <"$work/routes1")" "$work/r.ip_same"
	row "ip -batch of the raw CIDRs" "$prefixes" "$work/r.ip_raw"
	row "BIRD start to kernel" "$prefixes" "$work/r.bird_start"
	row "cycle, nothing to change (ours)" "$prefixes" "$work/r.same" "$work/r.route_show"
	row "ip -4 route show table main" "$(wc -l <"$work/routes1")" "$work/r.route_show"
	printf '| %-34s | %7s | %7s | bytes on the wire, first cycle: %s\n' "list server bytes, idle cycle" \
	    "$prefixes" \
	    "$(stats "$work/r.idle_bytes" | cut -d. -f1)" "$(stats "$work/r.first_bytes" | cut -d. -f1)"
	row "cycle, 1% change (ours)" "$changed" "$work/r.change" "$work/r.bird_change"
	row "BIRD configure, 1% change" "$((prefixes / 50))" "$work/r.bird_change"
	empty_table
}

for list in "${@:-full 100k country sparse}"; do
	for l in $list; do run_list "$l"; done
done
