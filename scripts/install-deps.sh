#!/usr/bin/env bash
# Installs what building and testing LanxRoute needs on Debian; safe to run again.
set -euo pipefail

packages=(
	cmake ninja-build g++ pkg-config
	libmnl-dev libcurl4-openssl-dev
	googletest libgtest-dev libgmock-dev libbenchmark-dev
	g++-mingw-w64-x86-64-posix wine64 wine
	python3 iproute2 util-linux procps
)

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
	export DEBIAN_FRONTEND=noninteractive
	apt-get update
	apt-get install -y --no-install-recommends "${missing[@]}"
fi
