#!/usr/bin/env bash
# Dial-up of the real binary through a fake pppd: redialling, cycles on a link, a dropped link,
# hang-up on exit, entries that cannot be read.
#
#   private network + mount namespace (lib.sh); inside it only:
#     /usr/sbin   overlay with fake_pppd.sh as pppd
#     /etc        overlay, with a tmpfs on /etc/ppp/peers holding the peer files
#
#     lanx0  10.1.0.2/24 ==veth== lanx0p    Lanx gateway 10.1.0.1
#     world0 10.2.0.2/24 ==veth== world0p   world gateway 10.2.0.1
#     lo 127.0.0.1:80  python3 http.server serving $work/www/list.txt
#
#     $LANX_BIN --no-fork (cwd $work/run) --spawn--> /usr/sbin/pppd call NAME up_sdnotify nopersist
#                         <--READY=1 on $NOTIFY_SOCKET--
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
: "${LANX_BIN:?LANX_BIN must name the program}"
unset NOTIFY_SOCKET

work_dir dialup
daemon_pid=
at_exit '[ -z "$daemon_pid" ] || { kill -9 "$daemon_pid"; wait "$daemon_pid"; } 2>/dev/null'

mkdir -p "$work/www" "$work/sbin" "$work/up/etc" "$work/up/etc.work" "$work/pppd"
install -m 0755 "$here/fake_pppd.sh" "$work/sbin/pppd"
at_exit '{ umount /etc/ppp/peers; umount /etc; umount /usr/sbin; } 2>/dev/null'
mount -t overlay overlay -o "lowerdir=$work/sbin:/usr/sbin" /usr/sbin
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/up/etc,workdir=$work/up/etc.work" /etc
mkdir -p /etc/ppp/peers
mount -t tmpfs tmpfs /etc/ppp/peers
printf 'dir %s\nfail_first 2\n' "$work/pppd" >/etc/ppp/peers/Flaky
expect_eq "$(head -c 2 /usr/sbin/pppd)" "#!" "fake pppd in place"

gateway_links 10.1.0.2/24 10.2.0.2/24
printf '192.0.2.0/24\n' >"$work/www/list.txt"
serve_dir "$work/www"

log() { cat "$run/lanxroute.log" 2>/dev/null || true; }
journal() { cat "$work/pppd/pppd.log" 2>/dev/null || true; }
count() { { "$1" | grep -c -x -- "$2"; } || true; }
at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }
running() { kill -0 "$daemon_pid" 2>/dev/null; }
# start ARGS...: a background copy of our own, so its end and status can be seen.
start() {
	(cd "$run" && exec "$LANX_BIN" --no-fork "$@") 2>"$work/err" &
	daemon_pid=$!
}
# stop: "--exit" from a second invocation; the copy ends with status 0.
stop() {
	local s=0
	(cd "$run" && "$LANX_BIN" --exit) 2>/dev/null || s=$?
	expect_eq "$s" 1 "exit command status"
	wait_for 10 eval '! running' || fail "copy still running after --exit"
	s=0
	wait "$daemon_pid" || s=$?
	daemon_pid=
	expect_eq "$s" 0 "copy's status after --exit"
}

# Two failed dials, each followed by a redial about 1000 ms later; the third connects.
start @127.0.0.1/list.txt 10.1.0.1 10.2.0.1 Flaky
wait_for 15 at_least log "Updated route table successfully" 1 || fail "no cycle on the link: $(log)"
expect_eq "$(log | head -n 8 | tr '\n' '|')" \
	"--------------||Dialing Flaky|RasDial(^): 8|Redialing Flaky|RasDial(^): 8|Redialing Flaky|Updating route table|" \
	"log of the redials"
starts=($(journal | sed -n 's/^start \([0-9]*\) .*/\1/p'))
expect_eq "${#starts[@]}" 3 "pppd calls"
for i in 1 2; do
	gap=$((starts[i] - starts[i - 1]))
	[ "$gap" -ge 1000 ] && [ "$gap" -le 2500 ] || fail "redial $i came after $gap ms"
done
journal | grep -q "^start [0-9]* call Flaky up_sdnotify nopersist notify=@" || fail "pppd arguments: $(journal)"
ip route list exact 192.0.2.0/24 | grep -q "via 10.1.0.1" || fail "no route over the cycle: $(ip route)"

# The link stays up across cycles.
wait_for 15 at_least log "Updated route table successfully" 3 || fail "cycles stopped: $(log)"
expect_eq "$(count log "Dialing Flaky")" 1 "dials while the link is up"
fake=$(journal | sed -n 's/^ready //p')
kill -0 "$fake" || fail "the fake pppd is gone while up"

# The link drops: the wait ends at once, the dead link is hung up, the next pass dials again.
cycles=$(count log "Updated route table successfully")
touch "$work/pppd/drop"
wait_for 3 at_least log "Dialing Flaky" 2 || fail "no redial after the drop: $(log | tail)"
wait_for 10 at_least log "Updated route table successfully" $((cycles + 1)) || fail "no cycle after the redial"
expect_eq "$(count journal dropped)" 1 "drops seen by the fake"
expect_eq "$(count journal term)" 0 "hang-ups of a dropped link that reach a live pppd"
expect_eq "$(journal | grep -c '^ready ')" 2 "links made"

# "--exit" hangs the link up: the fake sees SIGTERM before the copy writes its last line.
stop
expect_eq "$(count journal term)" 1 "hang-up on exit"
expect_eq "$(log | tail -n 1)" "Exiting" "last line"

# Entries that cannot be read are never dialled; an exit while redialling hangs nothing up.
for entry in Missing ../Flaky .hidden; do
	: >"$run/lanxroute.log"
	calls=$(cat "$work/pppd/calls")
	start 10.1.0.1 10.2.0.1 "$entry"
	wait_for 5 at_least log "Redialing $entry" 2 || fail "no redials of $entry: $(log)"
	case $entry in
		Missing) code=2 ;;
		*) code=22 ;;
	esac
	expect_eq "$(log | sed -n 4p)" "RasGetEntryDialParams(^): $code" "failure line for $entry"
	stop
	expect_eq "$(cat "$work/pppd/calls")" "$calls" "pppd calls for $entry"
	expect_eq "$(log | tail -n 1)" "Exiting" "last line for $entry"
done
echo "PASS"
