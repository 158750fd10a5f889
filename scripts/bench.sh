#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine; prints figures beside their floors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
qv_configure "$root" "$build" "$(qv_run_arch)"
cmake --build "$build" -j"$(nproc)" --target bench_open
source "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT
"$build/wine-run.sh" "$build/bench/bench_open.exe"
