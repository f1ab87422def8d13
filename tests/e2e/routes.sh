#!/bin/bash
# Update cycles against the kernel's table, one process of the update driver per cycle; answers
# that must not become the list, and the list over TLS.
#
#   [own network + mount namespace, lib.sh]
#   lanx0  10.0.0.2/24              ==veth== lanx0p   Lanx gateway 10.0.0.1 (in lanx0's subnet)
#   world0 192.0.2.2/24             ==veth== world0p  world gateway 192.0.2.1
#   lo 127.0.0.1:80   list_server.py over $work (a *.raw file: those bytes, then a close)
#   lo 127.0.0.1:443  openssl s_server over $work, with a certificate made here
#   update_once, working directory $work
set -e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
link lanx0 10.0.0.2/24
link world0 192.0.2.2/24
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout tls.pem -out ca.pem -days 1 -subj /CN=127.0.0.1 \
	-addext subjectAltName=IP:127.0.0.1 2>/dev/null && cat ca.pem >>tls.pem
python3 "$here/list_server.py" . served &
openssl s_server -quiet -accept 127.0.0.1:443 -cert tls.pem -WWW >/dev/null 2>&1 &
listening 127.0.0.1/80 127.0.0.1/443
L=$(ifx lanx0) W=$(ifx world0)

# cycle FLAGS URL: one cycle over the list at URL; its lines after the download's in $out, its
# status in $rc.
cycle() {
	rc=0
	out=$("$LANX_UPDATE_ONCE" "$1" "@$2" 10.0.0.1 192.0.2.1) || rc=$?
	out=$(sed -e 1,3d -e '/^  len=/d' <<<"$out")
}
# Every row of the table but ours.
others() { ip -4 route | grep -v ' proto 76 metric 1 $'; }
# check WHAT STATUS LINES ROUTES: the last cycle's status, its lines, our routes; the others as kept.
check() {
	expect "$1: status" "$rc" "$2"
	expect "$1: lines" "$out" "$3"
	expect "$1: our routes" "$(ours)" "$4"
	expect "$1: routes of others" "$(others)" "$kept"
}

# Rows of others: the administrator's, a routing daemon's, a host route and the default route
# with our protocol; and for listed blocks a blackhole, an unreachable and a multipath route, and
# the kernel's connected route of the world link.
ip route add 10.50.0.0/16 via 10.0.0.1
ip route add 10.52.0.0/16 via 192.0.2.1 proto bird
ip route add 10.54.0.1/32 via 10.0.0.1 proto 76
ip route add default via 192.0.2.1 proto 76
ip route add blackhole 10.55.0.0/16
ip route add unreachable 10.56.0.0/16
ip route add 10.58.0.0/16 nexthop via 10.0.0.1 nexthop via 192.0.2.1
kept=$(others)
# Stale routes of ours on both gateways' links; between them one through a nexthop object, which a
# delete naming its gateway and link does not match: the kernel refuses that change (ESRCH) alone,
# and the cycle is unsuccessful for it.
ip route add 10.60.0.0/16 via 10.0.0.1 proto 76 metric 1
ip nexthop add id 1 via 10.0.0.1 dev lanx0
ip route add 10.60.128.0/17 nhid 1 proto 76 metric 1
ip route add 10.61.0.0/16 via 192.0.2.1 proto 76 metric 1

# The first cycle creates the listed blocks' routes via the Lanx gateway and sweeps the stale.
printf '%s\n' 10.1.0.0/16 10.2.3.0/24 10.55.0.0/16 10.56.0.0/16 10.58.0.0/16 192.0.2.0/24 >list.txt
cycle -10 127.0.0.1/list.txt
ip nexthop del id 1
check "first cycle" 1 "+10.1.0.0/255.255.0.0[$L]: 0
+10.2.3.0/255.255.255.0[$L]: 0
-10.60.0.0/255.255.0.0[$L]: 0
-10.60.128.0/255.255.128.0[$L]: 3
-10.61.0.0/255.255.0.0[$W]: 0
1 of 5 route changes failed
Updated route table unsuccessfully" "10.1.0.0/16 10.0.0.1 lanx0
10.2.3.0/24 10.0.0.1 lanx0"

# A changed list: a new block, a block gone, and a route of ours on the world link re-pointed.
ip route add 10.4.0.0/16 via 192.0.2.1 proto 76 metric 1
printf '%s\n' 10.1.0.0/16 10.3.0.0/16 10.4.0.0/16 10.55.0.0/16 10.56.0.0/16 10.58.0.0/16 192.0.2.0/24 >list.txt
cycle -10 127.0.0.1/list.txt
ours3="10.1.0.0/16 10.0.0.1 lanx0
10.3.0.0/16 10.0.0.1 lanx0
10.4.0.0/16 10.0.0.1 lanx0"
check "changed list" 0 "+10.3.0.0/255.255.0.0[$L]: 0
i10.4.0.0/255.255.0.0[$W]: $L
-10.2.3.0/255.255.255.0[$L]: 0
*10.4.0.0/255.255.0.0[$L]: 0
Updated route table successfully" "$ours3"

# A gzip answer that breaks off (no length; the close ends it), headers then a close before the
# announced body, a certificate the system's store does not hold: failed downloads change nothing.
failed() {
	cycle -10 "$1"
	check "$1" 1 "Error reading HTTP response: $2"$'\n'"Updated route table unsuccessfully" "$ours3"
}
seq -f 11.%g.0.0/16 0 1999 | gzip >l.gz && head -c $(($(stat -c %s l.gz) / 2)) l.gz >cut.gz
raw cut.raw $'Content-Encoding: gzip\r\n' cut.gz && failed 127.0.0.1/cut.raw 61
raw close.raw $'Content-Length: 100\r\n' && failed 127.0.0.1/close.raw 18
failed https://127.0.0.1/list.txt 60
# The system's store holding the certificate (in this namespace only): the list arrives over TLS. A
# FIFO where the static file goes is no file: the cycle neither blocks nor changes anything.
mount --bind ca.pem /etc/ssl/certs/ca-certificates.crt
mkfifo lanxroute.static
cycle -10 https://127.0.0.1/list.txt
check "over TLS, a FIFO as the static file" 0 "Updated route table successfully" "$ours3"
rm lanxroute.static

# An administrator's backup via the world gateway at metric 100 stays as it is: ours, deleted by hand,
# is made beside it.
ip route add 10.1.0.0/16 via 192.0.2.1 metric 100
ip route del 10.1.0.0/16 via 10.0.0.1 proto 76
cycle -10 127.0.0.1/list.txt
expect "backup: status, lines, rows" "$rc $out
$(ip -4 route show exact 10.1.0.0/16)" "0 +10.1.0.0/255.255.0.0[$L]: 0
Updated route table successfully
10.1.0.0/16 via 10.0.0.1 dev lanx0 proto 76 metric 1 
10.1.0.0/16 via 192.0.2.1 dev world0 metric 100 "

# One process over three cycles: before each, the table it kept equals a dump while another program
# adds, changes and deletes routes (one of ours among them) and a link goes down, taking its routes.
link other0 172.16.0.2/24
# step WHAT: one cycle, read to its end (cycles to spare keep the process waiting, its pipes open).
coproc kept { LANX_KEPT_CHECK=1 LANX_CYCLES=5 "$LANX_UPDATE_ONCE" -0 @127.0.0.1/list.txt 10.0.0.1 192.0.2.1; }
step() {
	local verdict=
	echo >&"${kept[1]}"
	while read -r -t 30 line <&"${kept[0]}" && [ "${line#cycle }" = "$line" ]; do
		[ "${line#kept }" = "$line" ] || verdict=${line##*: }
	done
	expect "kept table $1" "$verdict" same
}
step "at the start"
ip route add 172.16.5.0/24 via 172.16.0.1 proto bird
ip route add 10.70.0.0/16 via 10.0.0.1 metric 5
ip route del 10.3.0.0/16
ip route change 10.52.0.0/16 via 10.0.0.1 proto bird
ip route replace 172.16.5.0/24 via 172.16.0.3 proto bird
ip route del 10.70.0.0/16 metric 5
step "after adds, a change, a replace and deletes"
ip link set other0 down
step "after a link went down"
# The cycles after the first got "304 Not Modified" and kept the list: ours deleted by hand is back.
expect "our routes after unchanged lists, the answers" "$(ours) $(grep -c '^304 ' served)" "$ours3 2"
