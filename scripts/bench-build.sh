#!/usr/bin/env bash
# Building setups: the size of the setup of the install benchmark's payloads beside
# their floor (each file deflated on its own with zlib at level 9, plus the runtime as
# it stands in the setup), and the build time of the native builder beside that of
# mksetup.exe under Wine, whose setups must be the same bytes. Both carry the build's
# uninstall.exe.
# Usage: scripts/bench-build.sh [build folder] [repetitions]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
reps="${2:-3}"

"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
arch="$(qv_run_arch)"
qv_configure "$root" "$build" "$arch"
cmake --build "$build" -j"$(nproc)" --target setupstub mksetup uninstall
qv_configure_host "$root" "$build"
cmake --build "$build/host" -j"$(nproc)" --target mksetup

data="$build/bench-data"
python3 "$root/bench/make_payload.py" "$data" >/dev/null
winpath() { printf 'Z:%s' "${1//\//\\}"; }
project="$build/bench-build"
rm -rf "$project"
mkdir -p "$project/setup"
cp "$root/examples/demo/setup/"{qvwizard.bmp,qvheader.bmp,Englishqv.lng} "$project/setup/"
printf '[Setup]\r\nAppName=QV Bench\r\nAppVersion=1.0\r\nInstallationPath=<ProgramFiles>\\QV Bench\r\nWindows 7=1\r\n\r\n[Payload]\r\n0=payload?<InstallDir>?OVERWRITE?No\r\n' \
    >"$project/setup.ini"

source "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT

stub="$build/bin/setupstub.exe"
uninstaller="$build/bin/uninstall.exe"
seconds() { python3 -c 'import sys,time; print("%.2f" % (time.time() - float(sys.argv[1])))' "$1"; }
now() { python3 -c 'import time; print(time.time())'; }
for set in large small; do
    ln -sfn "$data/$set/payload" "$project/payload"
    native_times=() wine_times=()
    for _ in $(seq "$reps"); do
        t=$(now)
        "$build/host/bin/mksetup" "$project" "$project/native.exe" --stub "$stub" \
            --uninstaller "$uninstaller" >/dev/null \
            2>"$project/err" || { cat "$project/err" >&2; exit 1; }
        native_times+=("$(seconds "$t")")
        t=$(now)
        "$build/wine-run.sh" "$build/bin/mksetup.exe" "$(winpath "$project")" \
            "$(winpath "$project/wine.exe")" --stub "$(winpath "$stub")" \
            --uninstaller "$(winpath "$uninstaller")" >/dev/null \
            2>"$project/err" || { cat "$project/err" >&2; exit 1; }
        wine_times+=("$(seconds "$t")")
    done
    same=no
    cmp -s "$project/native.exe" "$project/wine.exe" && same=yes
    python3 - "$set" "$project" "$uninstaller" "$project/native.exe" "$stub" "$same" \
        "${native_times[*]}" "${wine_times[*]}" <<'EOF'
import os, statistics, sys, zlib
name, project, uninstaller, setup, stub, same, native, wine = sys.argv[1:]
# Every file the setup holds: the payload, the setup folder's and the uninstaller.
paths = [os.path.join(d, n) for where in ("payload", "setup")
         for d, _, names in os.walk(os.path.join(project, where), followlinks=True) for n in names]
paths.append(uninstaller)
floor = 0
for path in paths:
    with open(path, "rb") as f:
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        floor += len(c.compress(f.read()) + c.flush())
files = len(paths)
engine = max(os.path.getsize(stub), 400000)  # the runtime as padded in the setup
size = os.path.getsize(setup)
median = lambda s: statistics.median(float(x) for x in s.split())
print("%s: %d files; setup %d bytes; floor (files deflated one by one, zlib -9, + runtime "
      "%d) %d bytes; setup/floor %.4f" % (name, files, size, engine, floor + engine,
                                          size / (floor + engine)))
print("%s: build time native %.2f s, mksetup.exe under Wine %.2f s (median); same bytes: %s"
      % (name, median(native), median(wine), same))
EOF
done
rm -f "$project/payload"
