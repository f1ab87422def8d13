#!/usr/bin/env bash
# Installs what LanxRoute needs on Debian; safe to run again. "install-deps.sh demo" installs only
# what building and running the demo needs; without it, also what the tests need.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libmnl-dev libcurl4-openssl-dev zlib1g-dev python3 iproute2 util-linux
	procps)
if [ "${1:-}" != demo ]; then
	packages+=(
		openssl googletest libgtest-dev libgmock-dev libbenchmark-dev
		g++-mingw-w64-x86-64-posix wine64 wine
		dpkg-dev lintian mandoc man-db logrotate systemd clang-format
	)
fi

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
	export DEBIAN_FRONTEND=noninteractive
	apt-get update
	apt-get install -y --no-install-recommends "${missing[@]}"
fi
