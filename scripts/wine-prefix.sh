#!/usr/bin/env bash
# Makes a Wine prefix for the tests and benchmarks.
# Usage: wine-prefix.sh PREFIX LOADER [WINEARCH]   (LOADER: wine, or Wine's 64-bit loader)
#
# On a host that runs no 32-bit programs, wineboot cannot run the 32-bit half of a
# 64-bit prefix, so the 32-bit registry view lacks what 64-bit Windows keeps there
# for 32-bit programs. The keys the runtime reads in that view are filled in here as
# 64-bit Windows has them: a copy of the 64-bit view with the 32-bit program folders.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
overrides="${WINEDLLOVERRIDES:-}"
qv_wine_env "$1"
# A caller's own overrides (a prefix made from a test with more of them) are kept.
[ -n "$overrides" ] && export WINEDLLOVERRIDES="$overrides"
loader="$2"
[ -n "${3:-}" ] && export WINEARCH="$3"
[ "$loader" = wine ] || export WINELOADER="$loader"

"$loader" wineboot -i >/dev/null 2>&1
wineserver -w

reg() { "$loader" reg "$@" >/dev/null 2>&1; }
cv='HKLM\Software\Microsoft\Windows\CurrentVersion'
if [ "${WINEARCH:-win64}" = win64 ] && reg query "$cv" /v ProgramFilesDir /reg:64 &&
    ! reg query "$cv" /v ProgramFilesDir /reg:32; then
    dir="$(mktemp -d)"
    for key in "$cv" 'HKLM\Software\Microsoft\Windows NT\CurrentVersion'; do
        reg export "$key" 'Z:'"${dir//\//\\}"'\view.reg' /y /reg:64 &&
            reg import 'Z:'"${dir//\//\\}"'\view.reg' /reg:32
    done
    rm -rf "$dir"
    reg add "$cv" /v ProgramFilesDir /d 'C:\Program Files (x86)' /f /reg:32
    reg add "$cv" /v CommonFilesDir /d 'C:\Program Files (x86)\Common Files' /f /reg:32
    reg add "$cv" /v ProgramW6432Dir /d 'C:\Program Files' /f /reg:32
    reg add "$cv" /v CommonW6432Dir /d 'C:\Program Files\Common Files' /f /reg:32
    wineserver -w
fi
exit 0
