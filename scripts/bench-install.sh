#!/usr/bin/env bash
# Install speed, start-up cost and memory of the runtime, each beside its floor in the
# same run. Usage: scripts/bench-install.sh [build folder] [repetitions]
#
# Generates two deterministic payloads (about 120 MB and 20 MB), builds a setup of
# each and one with no payload with mksetup, and in a fresh Wine prefix with a
# persistent wineserver times silent installations against a program that only
# extracts the same cabinets with FDI; then times the silent removal of the large
# payload against a program that only deletes the same tree. Not part of the test run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
reps="${2:-5}"

"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
arch="$(qv_run_arch)"
qv_configure "$root" "$build" "$arch"
wine="$(qv_wine_loader "$arch")"
[ "$wine" = wine ] || export WINELOADER="$wine"
cmake --build "$build" -j"$(nproc)" --target bench_install bench_uninstall

data="$build/bench-data"
python3 "$root/bench/make_payload.py" "$data"

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# One project per set: the payload folder (none for "empty") and the demo's pictures
# and language file; with a third argument, installed with its uninstaller and record.
write_project() {
    local dir="$1" payload="$2" uninstall="${3:-}" keys="${4:-}"
    mkdir -p "$dir/setup"
    cp "$root/examples/demo/setup/"{qvwizard.bmp,qvheader.bmp,Englishqv.lng} "$dir/setup/"
    {
        printf '[Setup]\r\nAppName=QV Bench\r\nAppVersion=1.0\r\n'
        printf 'GUID={5B0C1D8E-2F43-4A6B-8C9D-0E1F2A3B4C5D}\r\n'
        printf 'InstallationPath=<ProgramFiles>\\QV Bench\r\nAdmin=0\r\nInstallLevel=2\r\n'
        if [ -n "$uninstall" ]; then printf 'Uninstall=1\r\nShowAddRemove=1\r\n'; fi
        if [ -n "$keys" ]; then printf '%s\r\n' "$keys"; fi
        # Every system the prefix may report is supported: no check stops a silent run.
        for os in "Windows XP" "Windows Vista" "Windows 7" "Windows 8" "Windows 8.1" \
                  "Windows Server 2003" "Windows Server 2008" "Windows Server 2008 R2" \
                  "Windows Server 2012" "Windows Server 2012 R2"; do
            printf '%s=1\r\n' "$os"
        done
        printf '\r\n[Payload]\r\n'
        if [ -n "$payload" ]; then
            printf '0=%s?<InstallDir>?OVERWRITE?%s\r\n' "$payload" "${uninstall:-No}"
        fi
    } >"$dir/setup.ini"
}
write_project "$data/large" payload
write_project "$data/small" payload
write_project "$data/empty" ""
# The large payload where it lies, every file recorded for the removal.
write_project "$data/removal" "$(winpath "$data/large/payload")" Yes
# The large payload without rollback: what an install and an update cost without it.
write_project "$data/large-norollback" "$(winpath "$data/large/payload")" "" Rollback=0

# A fresh prefix of its own, so nothing left by the tests is measured, and a
# persistent server, so each start of a program is a warm one.
source "$root/scripts/wine-session.sh"
qv_wine_env "$build/bench-wineprefix"
if [ -z "${DISPLAY:-}" ]; then start_private_display; fi
stop() {
    wineserver -k 2>/dev/null || true
    stop_private_display
}
trap stop EXIT
rm -rf "$WINEPREFIX"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$wine"
wineserver -p 2>/dev/null || true   # already running for this prefix is fine

for set in large large-norollback small empty removal; do
    rm -f "$data/$set/setup.exe"
    uninstaller=()
    if [ "$set" = removal ]; then uninstaller=(--uninstaller "$(winpath "$build/bin/uninstall.exe")"); fi
    "$wine" "$build/bin/mksetup.exe" "$(winpath "$data/$set")" "$(winpath "$data/$set/setup.exe")" \
        --stub "$(winpath "$build/bin/setupstub.exe")" "${uninstaller[@]}" >/dev/null
done

mkdir -p "$build/bench-run"
"$wine" "$build/bench/bench_install.exe" "$(winpath "$build/bench-run")" "$reps" \
    "$(winpath "$data/large")" "$(winpath "$data/large-norollback")" "$(winpath "$data/small")" \
    "$(winpath "$data/empty")"
"$wine" "$build/bench/bench_uninstall.exe" "$(winpath "$build/bench-run")" "$reps" \
    "$(winpath "$data/removal")"
