#!/usr/bin/env bash
# Runs the system-information test program in Wine prefixes of its own: one of
# 32-bit Windows (no WOW64) and one of 64-bit Windows. There the tests may also
# change the machine's product key, which they never do in the shared prefix.
# The prefixes are made once (about 20 s each) and kept below the work folder.
# Usage: prefix_matrix.sh <unit_sysinfo_test.exe> <work folder>
set -uo pipefail
exe="$(realpath "$1")"
work="$(realpath -m "$2")"
mkdir -p "$work"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH
status=0
for arch in win32 win64; do
    prefix="$work/$arch"
    if [ "$arch" = win64 ]; then wow64=1; else wow64=0; fi
    (
        flock 9
        export WINEPREFIX="$prefix"
        if [ ! -f "$prefix/.qv-ready" ]; then
            rm -rf "$prefix"
            WINEARCH="$arch" wineboot -i >/dev/null 2>&1
            wineserver -w >/dev/null 2>&1
            touch "$prefix/.qv-ready"
        fi
        wineserver -p >/dev/null 2>&1
        # Into a file: Wine's service processes keep a pipe open after the test ends.
        log="$work/$arch.log"
        QV_EXPECT_WOW64=$wow64 QV_SYSINFO_OWN_PREFIX=1 wine "$exe" >"$log" 2>&1
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
