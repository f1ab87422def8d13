#!/usr/bin/env bash
# Stands in for /usr/sbin/pppd in the dial-up test: "pppd call NAME up_sdnotify nopersist".
# The peer file /etc/ppp/peers/NAME steers it, one setting a line:
#   dir DIR        where it keeps its journal (DIR/pppd.log) and call counter
#   fail_first N   the first N calls end with status 8 before the link is up
# Once up it reports READY=1 to $NOTIFY_SOCKET, then runs until SIGTERM ("term" in the journal)
# or until DIR/drop appears ("dropped", status 16: the link went down).
set -euo pipefail
[ "$1" = call ] || exit 2
peer=/etc/ppp/peers/$2
dir=$(sed -n 's/^dir //p' "$peer")
fail_first=$(sed -n 's/^fail_first //p' "$peer")
journal=$dir/pppd.log

calls=$(($(cat "$dir/calls" 2>/dev/null || echo 0) + 1))
echo "$calls" >"$dir/calls"
echo "start $(date +%s%3N) $* notify=${NOTIFY_SOCKET:-none}" >>"$journal"
if [ "$calls" -le "${fail_first:-0}" ]; then
	echo "fail" >>"$journal"
	exit 8
fi

trap 'echo term >>"$journal"; exit 0' TERM
python3 - "$NOTIFY_SOCKET" <<'PY'
import socket, sys
name = sys.argv[1]
address = "\0" + name[1:] if name.startswith("@") else name
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.sendto(b"STATUS=up\nREADY=1", address)
PY
echo "ready $$" >>"$journal"
while [ ! -e "$dir/drop" ]; do
	sleep 0.1 &
	wait $! || true
done
rm -f "$dir/drop"
echo "dropped" >>"$journal"
exit 16
