#!/bin/bash
# The Debian package ($LANX_DEB): lintian and mandoc find no error; installed with dpkg in a private
# mount namespace (overlays on /etc, /usr and /var, dropped at exit), its files are where they
# belong, the unit verifies, the rotation snippet parses, and nothing is enabled or started.
set -e
fail() { echo "FAIL: $*" >&2; exit 1; }
: "${LANX_DEB:?LANX_DEB must name the package}"
if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	lintian --fail-on error "$LANX_DEB"
	mandoc -T lint -W warning "$(dirname "$0")/../doc/lanxroute.8"
	LANX_IN_NAMESPACE=1 exec unshare --mount --propagation private -- bash "$0"
fi
scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"
for d in etc usr var; do
	mkdir "$scratch/$d" "$scratch/$d.work"
	mount -t overlay overlay -o "lowerdir=/$d,upperdir=$scratch/$d,workdir=$scratch/$d.work" "/$d"
done
dpkg -i "$LANX_DEB" >/dev/null
for f in /usr/sbin/lanxroute /lib/systemd/system/lanxroute.service /etc/default/lanxroute \
    /etc/logrotate.d/lanxroute /usr/share/man/man8/lanxroute.8.gz /var/lib/lanxroute; do
	[ -e "$f" ] || fail "$f is missing"
done
expect() { [ "$2" = "$3" ] || fail "$1: expected '$3', got '$2'"; }
expect "conffiles" "$(dpkg-query -W -f='${Conffiles}' lanxroute | awk '{ print $1 }' | tr '\n' ' ')" \
    "/etc/default/lanxroute /etc/logrotate.d/lanxroute "
systemd-analyze verify lanxroute.service
expect "the rotated log" "$(logrotate -d /etc/logrotate.d/lanxroute 2>&1 | grep -o 'considering log .*')" \
    "considering log /var/lib/lanxroute/lanxroute.log"
expect "enabled units" "$(find /etc/systemd/system -name 'lanxroute*')" ""
echo PASS
