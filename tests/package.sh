#!/bin/bash
# The Debian package ($LANX_DEB), in network and mount namespaces of its own (lib.sh; overlays on
# /etc, /usr and /var, dropped at exit): lintian and mandoc find nothing; dpkg installs it with a
# recording systemctl in place of a booted systemd: nothing is enabled or started, an upgrade
# restarts, a removal stops, a purge leaves nothing. The unit scores at most 2.0; the binary has
# Debian's hardening. A copy in the unit's sandbox (no systemd here: remounts and setpriv,
# below) routes, follows logrotate -f and stops.
set -e
here=$(cd "$(dirname "$0")" && pwd)
LANX_DEB=$(realpath "${LANX_DEB:?LANX_DEB must name the package}")
source "$here/e2e/lib.sh"
lintian --fail-on error,warning "$LANX_DEB"
mandoc -T lint -W warning "$here/../doc/lanxroute.8"
for d in etc usr var; do
	mkdir "$work/$d" "$work/$d.work"
	mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/$d,workdir=$work/$d.work" "/$d"
done
# A booted host to the maintainer scripts, no policy-rc.d, and a systemctl that records what it is asked.
mkdir -p /run/systemd/system "$work/bin"
rm -f /usr/sbin/policy-rc.d
printf '#!/bin/sh\necho "$*" >>%s/asked\n' "$work" >"$work/bin/systemctl"
chmod 755 "$work/bin/systemctl"
PATH=$work/bin:$PATH dpkg -i "$LANX_DEB" >/dev/null
[ -z "$(find /etc/systemd/system -name 'lanxroute*')" ] || fail "the unit was enabled by the installation"
hardening-check --nocfprotection --quiet /usr/sbin/lanxroute
systemd-analyze security --offline=true --threshold=20 lanxroute.service >/dev/null || fail "security above 2.0"

# The unit's sandbox as far as it goes without systemd: every mount read-only but /run/lanxroute and
# the state directory, CAP_NET_ADMIN alone, no new privileges (no system-call filter). The copy there
# routes, follows logrotate -f with the shipped snippet, and stops.
link d0 10.0.0.2/24
mkdir -p /run/lanxroute
cd /var/lib/lanxroute
echo 10.9.0.0/16 >lanxroute.static
mount --bind /run/lanxroute /run/lanxroute
mount --bind /var/lib/lanxroute /var/lib/lanxroute
unshare --mount --propagation private -- sh -c 'for m in / /etc /usr /var /run; do mount -o remount,bind,ro $m; done
	cd /var/lib/lanxroute && exec setpriv --bounding-set=-all,+net_admin --inh-caps=-all --no-new-privs \
	    lanxroute --no-fork @127.0.0.1/none 10.0.0.1 10.0.0.3' &
copy=$!
wait_for 10 eval '[ -n "$(ip route show proto 76 10.9.0.0/16)" ]' || fail "no route in the sandbox"
logrotate -f /etc/logrotate.d/lanxroute
wait_for 10 grep -qsx "Updating route table" lanxroute.log || fail "the rotated log was not opened anew"
kill -TERM $copy
wait $copy || fail "the sandboxed copy ended with status $?"
expect "the sandboxed copy's last line" "$(tail -n 1 lanxroute.log)" "Exiting"
cd /
umount /run/lanxroute /var/lib/lanxroute

# Reinstalled (an upgrade), enabled as systemctl enable does it, removed: what was asked of systemd;
# purged: nothing left.
PATH=$work/bin:$PATH dpkg -i "$LANX_DEB" >/dev/null
ln -s /lib/systemd/system/lanxroute.service /etc/systemd/system/multi-user.target.wants/
PATH=$work/bin:$PATH dpkg -r lanxroute >/dev/null
asked=$(cat "$work/asked")
PATH=$work/bin:$PATH dpkg -P lanxroute >/dev/null
left=$(ls -d /etc/default/lanxroute /var/lib/lanxroute /etc/systemd/system/*/lanxroute* 2>/dev/null || true)
expect "asked of systemd, left by the purge" "$asked$left" "--system daemon-reload
--system daemon-reload
try-restart lanxroute.service
stop lanxroute.service
--system daemon-reload
daemon-reload"
