#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine; prints figures beside their floors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
arch="$(qv_run_arch)"
qv_configure "$root" "$build" "$arch"
cmake --build "$build" -j"$(nproc)" --target bench_open
source "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT
"$build/wine-run.sh" "$build/bench/bench_open.exe"
if [ "$arch" != i686 ]; then
    # The benchmarks ran a 64-bit build; the size target is the shipped 32-bit runtime's.
    qv_configure "$root" "$build/i686" i686
    cmake --build "$build/i686" -j"$(nproc)" --target setupstub >/dev/null
    echo "setupstub.exe (32-bit runtime, $build/i686): $(stat -c %s "$build/i686/bin/setupstub.exe") bytes (target: at most 400000)"
fi
