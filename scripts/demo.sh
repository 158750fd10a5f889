#!/usr/bin/env bash
# Builds the demo setup from examples/demo with the native builder (build/host/bin/
# mksetup, a Linux program) and runs it under Wine, then shows what it installed.
# Usage: scripts/demo.sh [setup switches]   (default: /S /L, a silent run with a log)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/install-deps.sh"
source "$root/scripts/configure.sh"
qv_configure "$root" "$build" "$(qv_run_arch)"
targets=(setupstub)
# The uninstaller the setup carries, where the build has it.
if cmake --build "$build" --target help | grep -qx '\.\.\. uninstall'; then targets+=(uninstall); fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
qv_configure_host "$root" "$build"
cmake --build "$build/host" -j"$(nproc)" --target mksetup
source "$root/scripts/wine-session.sh"
wine_session_start "$build"
trap wine_session_stop EXIT

run() { "$build/wine-run.sh" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
out="$build/demo-setup.exe"
builder=("$build/host/bin/mksetup" "$root/examples/demo" "$out" --stub "$build/bin/setupstub.exe")
[ -f "$build/bin/uninstall.exe" ] && builder+=(--uninstaller "$build/bin/uninstall.exe")
"${builder[@]}"
[ $# -eq 0 ] && set -- /S /L
echo "Running $(basename "$out") $*"
set +e
run "$out" "$@"
code=$?
set -e
echo "demo setup exit code: $code"

# Where the product went, as a user of the Wine prefix would find it. A 32-bit setup
# writes its entry in the 32-bit registry view.
entry='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6E0A3E52-7C1D-4F7B-9A55-0D3C1B2A9F10}'
dest="$(run reg query "$entry" /v InstallLocation /reg:32 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')"
if [ -n "$dest" ]; then
    echo "Installed to: $dest"
    unix="$(run winepath -u "$dest" 2>/dev/null | tr -d '\r')"
    [ -d "$unix" ] && (cd "$unix" && find . -type f | sort | sed 's/^/  /')
    echo "Installed-programs entry:"
    run reg query "$entry" /reg:32 2>/dev/null | tr -d '\r' | sed -n 's/^ \+/  /p'
fi
tmp="$(run cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
log="$(run winepath -u "$tmp\\QVSETUPLOG.TXT" 2>/dev/null | tr -d '\r')"
[ -f "$log" ] && { echo "Setup log ($tmp\\QVSETUPLOG.TXT):"; sed 's/^/  /' "$log"; }

# The round trip: the installed uninstaller removes the product again.
if [ -n "$dest" ] && [ -f "$unix/Uninstall.exe" ]; then
    echo "Removing it: \"$dest\\Uninstall.exe\" /S"
    set +e
    run "$dest\\Uninstall.exe" /S
    ucode=$?
    set -e
    echo "uninstaller exit code: $ucode"
    # Its copy in the temporary folder removes Uninstall.exe itself just after it returns.
    for _ in $(seq 50); do [ -d "$unix" ] || break; sleep 0.2; done
    if [ -d "$unix" ]; then echo "Folder still there: $dest"; else echo "Folder gone: $dest"; fi
    if run reg query "$entry" /reg:32 >/dev/null 2>&1; then
        echo "Installed-programs entry still there"
    else
        echo "Installed-programs entry gone"
    fi
fi
exit "$code"
