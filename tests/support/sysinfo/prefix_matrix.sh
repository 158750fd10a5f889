#!/usr/bin/env bash
# Runs the system-information test program in Wine prefixes of its own: one of
# 32-bit Windows (no WOW64) and one of 64-bit Windows. There the tests may also
# change the machine's product key, which they never do in the shared prefix.
# The prefixes are made once (about 20 s each) and kept below the work folder.
# A 64-bit build of the test program (made on hosts that run no 32-bit code) can only
# run in the 64-bit prefix.
# Usage: prefix_matrix.sh <unit_sysinfo_test.exe> <work folder> [Wine loader]
set -uo pipefail
exe="$(realpath "$1")"
work="$(realpath -m "$2")"
loader="${3:-wine}"
arches=(win32 win64)
if [ "$loader" != wine ]; then
    export WINELOADER="$loader"
    arches=(win64)
fi
mkdir -p "$work"
source "$(dirname "$0")/../../../scripts/wine-env.sh"
unset WINEARCH
status=0
for arch in "${arches[@]}"; do
    prefix="$work/$arch"
    if [ "$arch" = win64 ]; then wow64=1; else wow64=0; fi
    (
        flock 9
        qv_wine_env "$prefix"
        if [ ! -f "$prefix/.qv-ready" ]; then
            rm -rf "$prefix"
            "$(dirname "$0")/../../../scripts/wine-prefix.sh" "$prefix" "$loader" "$arch"
            touch "$prefix/.qv-ready"
        fi
        wineserver -p >/dev/null 2>&1
        # Into a file: Wine's service processes keep a pipe open after the test ends.
        log="$work/$arch.log"
        QV_EXPECT_WOW64=$wow64 QV_SYSINFO_OWN_PREFIX=1 "$loader" "$exe" >"$log" 2>&1
        rc=$?
        wineserver -k
        echo "== $arch prefix =="
        grep -E '^\[ *(OK|FAILED|SKIPPED|PASSED) *\]|Failure|Expected|Which is|^  ' "$log" || true
        # Every Wine-only test must have run here; a skip would hide a gap.
        if grep -q 'SKIPPED \] OsNameUnderWine' "$log"; then
            echo "a Wine-only test was skipped in the $arch prefix"
            rc=1
        fi
        exit $rc
    ) 9>"$prefix.lock" || status=1
done
exit $status
