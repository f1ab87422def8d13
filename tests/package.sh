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
ls -d /usr/sbin/lanxroute /lib/systemd/system/lanxroute.service /etc/default/lanxroute /etc/logrotate.d/lanxroute \
    /usr/share/man/man8/lanxroute.8.gz /var/lib/lanxroute >/dev/null
systemd-analyze verify lanxroute.service
logrotate -d /etc/logrotate.d/lanxroute 2>&1 | grep -qx 'considering log /var/lib/lanxroute/lanxroute.log' ||
    fail "the rotation snippet does not name the log"
[ -z "$(find /etc/systemd/system -name 'lanxroute*')" ] || fail "the unit was enabled by the installation"
