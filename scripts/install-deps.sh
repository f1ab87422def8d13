#!/usr/bin/env bash
# Installs what LanxRoute needs on Debian; safe to run again. "install-deps.sh package" installs what
# building the Debian package needs, "install-deps.sh demo" what building and running the demo needs;
# without an argument, also what the tests need.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libmnl-dev libcurl4-openssl-dev zlib1g-dev)
case "${1:-}" in
package) packages+=(dpkg-dev file) ;;
demo) packages+=(python3 iproute2 util-linux procps) ;;
"")
	packages+=(
		python3 iproute2 util-linux procps
		openssl googletest libgtest-dev libgmock-dev libbenchmark-dev
		g++-mingw-w64-x86-64-posix wine64 wine
		dpkg-dev file devscripts lintian mandoc man-db logrotate systemd clang-format
	)
	;;
*) echo "usage: install-deps.sh [package|demo]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
	export DEBIAN_FRONTEND=noninteractive
	apt-get update
	apt-get install -y --no-install-recommends "${missing[@]}"
fi
