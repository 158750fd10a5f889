#!/usr/bin/env bash
# Builds the demo setup from examples/demo with mksetup and runs it under Wine.
# Usage: scripts/demo.sh [extra setup switches, e.g. /S /L]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target setupstub mksetup
source "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT

run() { "$build/wine-run.sh" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
out="$build/demo-setup.exe"
run "$build/bin/mksetup.exe" "$(winpath "$root/examples/demo")" "$(winpath "$out")"
echo "Running $(basename "$out") $*"
set +e
run "$out" "$@"
code=$?
set -e
echo "demo setup exit code: $code"
exit "$code"
