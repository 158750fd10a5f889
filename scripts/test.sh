#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Usage: scripts/test.sh [build folder]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
source "$root/scripts/wine-session.sh"
wine_session_start "$build" private
trap wine_session_stop EXIT
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
