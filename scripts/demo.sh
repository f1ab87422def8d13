#!/usr/bin/env bash
# A demonstration of LanxRoute in a private network namespace: it builds the program, serves the
# bundled list from a local web server, lets the background copy route it, changes the list, and
# asks the copy to exit. Nothing outside the namespace is touched (the build goes to build/demo).
#
#   private network + mount namespace (fresh tmpfs on /dev/shm and /run):
#
#     lanx0  10.1.0.2/24 ==veth== lanx0p    the Lanx network, gateway 10.1.0.1
#     world0 10.2.0.2/24 ==veth== world0p   the world, gateway 10.2.0.1
#     lo 127.0.0.1:80  python3 http.server: list.txt
#
#     lanxroute --changes @127.0.0.1/list.txt 10.1.0.1 10.2.0.1   (cwd /run/lanxdemo: log, static file)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" != 0 ]; then
	echo "demo.sh needs root (namespaces, routes)" >&2
	exit 1
fi

if [ "${1:-}" != --inside ]; then
	"$top/scripts/install-deps.sh" demo
	cmake -S "$top" -B "$top/build/demo" -G Ninja -DLANX_TESTS=OFF >/dev/null
	ninja -C "$top/build/demo" lanxroute
	exec unshare --net --mount --propagation private -- bash "$0" --inside
fi

mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
ip link set lo up
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY

bin=$top/build/demo/lanxroute
scratch=/run/lanxdemo
www=/run/lanxdemo-www
server_pid=

cleanup() {
	# The copy may still run if the demo broke off: ask it to leave, then the server.
	if [ -s "$scratch/lanxroute.log" ] && [ "$(tail -n 1 "$scratch/lanxroute.log")" != Exiting ]; then
		(cd "$scratch" && "$bin" --exit 2>/dev/null) || true
	fi
	if [ -n "$server_pid" ]; then
		kill "$server_pid" 2>/dev/null || true
		wait "$server_pid" 2>/dev/null || true
	fi
	rm -rf "$scratch" "$www"
}
trap cleanup EXIT

wait_for() {
	local deadline=$((SECONDS + $1)); shift
	until "$@"; do
		[ "$SECONDS" -lt "$deadline" ] || { echo "demo: timed out waiting for: $*" >&2; exit 1; }
		sleep 0.2
	done
}
cycles() { grep -c '^Updated route table' "$scratch/lanxroute.log" 2>/dev/null || true; }
cycles_reach() { [ "$(cycles)" -ge "$1" ]; }
server_up() { (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; }
show() {
	echo "== $1"
	shift
	"$@" | sed 's/^/   /'
}

echo "== the two networks"
ip link add lanx0 type veth peer name lanx0p
ip link add world0 type veth peer name world0p
for l in lanx0 lanx0p world0 world0p; do ip link set "$l" up; done
ip addr add 10.1.0.2/24 dev lanx0
ip addr add 10.2.0.2/24 dev world0
ip route add default via 10.2.0.1 dev world0
ip -br addr show | sed 's/^/   /'

mkdir -p "$scratch" "$www"
cp "$top/scripts/demo/list.txt" "$www/list.txt"
cp "$top/scripts/demo/lanxroute.static" "$scratch/lanxroute.static"
python3 -m http.server 80 --bind 127.0.0.1 --directory "$www" >/dev/null 2>&1 &
server_pid=$!
wait_for 10 server_up

echo "== starting: lanxroute --changes @127.0.0.1/list.txt 10.1.0.1 10.2.0.1"
(cd "$scratch" && "$bin" --changes @127.0.0.1/list.txt 10.1.0.1 10.2.0.1)
echo "   the foreground copy returned $?; the background copy runs on"
wait_for 15 cycles_reach 1
show "lanxroute.log after the first cycle" cat "$scratch/lanxroute.log"
show "ip route ($(ip route | grep -c 'proto 76') routes made by LanxRoute)" ip route

echo "== the list changes: two prefixes go, 10.10.0.0/15 arrives, 100.96.0.0/11 joins 100.64.0.0/11 into a /10"
{
	grep -v -x -e '10.9.0.0/16' -e '192.88.99.0/24' "$top/scripts/demo/list.txt"
	printf '10.10.0.0/15\n100.96.0.0/11\n'
} |
	sort -t. -k1,1n -k2,2n -k3,3n -k4,4n >"$www/list.txt.new"
mv "$www/list.txt.new" "$www/list.txt"
seen=$(cycles)
from=$(($(wc -l <"$scratch/lanxroute.log") + 1))
# The cycle in progress may have fetched the old list: wait for one that started after the change.
wait_for 15 cycles_reach $((seen + 2))
show "lanxroute.log since the change (download lines left out)" \
	grep -v -e '^Loading' -e '^  ' <(tail -n +"$from" "$scratch/lanxroute.log")
show "ip route ($(ip route | grep -c 'proto 76') routes made by LanxRoute)" ip route

echo "== asking the copy to exit: lanxroute --exit"
(cd "$scratch" && "$bin" --exit) || echo "   the commanding invocation returned $? (it found the copy running)"
exited() { [ "$(tail -n 1 "$scratch/lanxroute.log")" = Exiting ]; }
wait_for 15 exited
show "end of lanxroute.log" tail -n 4 "$scratch/lanxroute.log"
echo "== done; the namespace goes away with this script"
