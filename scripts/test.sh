#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux program and its Debian package, the
# Windows program and the tests (plain and under AddressSanitizer/UndefinedBehaviorSanitizer), and
# runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/install-deps.sh

# One format for code and tests: the project's .clang-format, and 120 columns in the shell scripts too.
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
long=$(git ls-files -z '*.sh' | xargs -0 awk '{ gsub(/\t/, "        ") } length > 120 { print FILENAME ":" FNR }')
[ -z "$long" ] || { echo "over 120 columns: $long"; exit 1; }

cmake -S . -B build/linux -G Ninja -DCMAKE_CXX_FLAGS=-Werror -DLANX_WINDOWS_EXE="$top/build/windows/lanxroute.exe" \
    -DCMAKE_INSTALL_PREFIX=/usr
ninja -C build/linux
(cd build/linux && cpack -G DEB >/dev/null)

cmake -S . -B build/sanitize -G Ninja -DLANX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-Werror
ninja -C build/sanitize

cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_CXX_FLAGS=-Werror
ninja -C build/windows

ctest --test-dir build/sanitize -LE e2e -j2 --output-on-failure
ctest --test-dir build/linux -LE e2e -j2 --output-on-failure
# The end-to-end tests change routing tables and run servers: one at a time, each in its own namespaces.
# They include the wine tests of build/windows/lanxroute.exe (label wine).
ctest --test-dir build/linux -L e2e --output-on-failure
# The package: lintian, the manual page, hardening-check, the unit's score, its maintainer scripts and copies of it run
# in private namespaces.
LANX_DEB=$(ls "$top"/build/linux/lanxroute_*_amd64.deb) bash tests/package.sh
