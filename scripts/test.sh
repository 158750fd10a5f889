#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Usage: scripts/test.sh [build folder]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
arch="$(qv_run_arch)"
if [ "$arch" != i686 ]; then
    # The shipped runtime stays 32-bit: it is built (and so kept compiling) beside
    # the 64-bit build the tests run here.
    echo "note: this host runs no 32-bit programs; the tests run a 64-bit build," \
         "and the 32-bit runtime is built in $build/i686"
    qv_configure "$root" "$build/i686" i686
    cmake --build "$build/i686" -j"$(nproc)" --target setupstub mksetup
fi
qv_configure "$root" "$build" "$arch"
cmake --build "$build" -j"$(nproc)"
qv_configure_host "$root" "$build"
cmake --build "$build/host" -j"$(nproc)"
source "$root/scripts/wine-session.sh"
wine_session_start "$build" private
trap wine_session_stop EXIT
# The native builder's tests first (quick), then everything under Wine; both always run.
status=0
ctest --test-dir "$build/host" --output-on-failure -j2 --timeout 300 || status=$?
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 || status=$?
exit "$status"
