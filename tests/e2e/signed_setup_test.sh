#!/usr/bin/env bash
# A setup signed after mksetup built it still finds its data and installs: the
# signature goes into the certificate table at the end of the file, behind the
# trailer, and the runtime searches for the trailer from the end backwards.
# Usage: signed_setup_test.sh <build folder> <source folder>
set -euo pipefail
build="$1"
src="$2"
run="$build/wine-run.sh"
work="$(mktemp -d "$build/signed-setup.XXXXXX")"
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A throw-away code-signing certificate, made for this run only.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 -subj "/CN=QV Test Signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
    2>/dev/null

project="$work/project"
mkdir -p "$project/setup" "$project/payload"
cp "$src/examples/demo/setup/"{qvwizard.bmp,qvheader.bmp,Englishqv.lng} "$project/setup/"
printf 'signed payload\r\n' >"$project/payload/readme.txt"
{
    printf '[Setup]\r\nAppName=Signed Test\r\nAppVersion=1.0\r\nAdmin=0\r\nInstallLevel=2\r\n'
    printf 'GUID={7D8C2B1A-4E5F-4A6B-9C8D-1E2F3A4B5C6D}\r\n'
    printf 'InstallationPath=<ProgramFiles>\\Signed Test\r\n'
    for os in "Windows XP" "Windows Vista" "Windows 7" "Windows 8" "Windows 8.1" \
              "Windows Server 2003" "Windows Server 2008" "Windows Server 2008 R2" \
              "Windows Server 2012" "Windows Server 2012 R2"; do
        printf '%s=1\r\n' "$os"
    done
    printf '\r\n[Payload]\r\n0=payload\\readme.txt?<InstallDir>\\readme.txt?OVERWRITE?No\r\n'
} >"$project/setup.ini"

"$run" "$build/bin/mksetup.exe" "$(winpath "$project")" "$(winpath "$work/setup.exe")" \
    --stub "$(winpath "$build/bin/setupstub.exe")" >/dev/null ||
    fail "mksetup could not build the setup"

osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -n "Signed Test" \
    -in "$work/setup.exe" -out "$work/signed.exe" >/dev/null || fail "signing failed"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "the signature does not verify"; }
# The signature really lies behind the trailer now.
size=$(stat -c %s "$work/setup.exe")
signed=$(stat -c %s "$work/signed.exe")
[ "$signed" -gt "$size" ] || fail "signing did not append a signature"
[ "$(tail -c 13 "$work/signed.exe" | head -c 3)" != ZYX ] || fail "the trailer is still last"

dest="$work/dest"
code=0
"$run" "$work/signed.exe" /S /D "$(winpath "$dest")" || code=$?
[ "$code" -eq 0 ] || fail "the signed setup ended with exit code $code"
cmp -s "$project/payload/readme.txt" "$dest/readme.txt" || fail "the file was not installed"
echo "signed setup ($size -> $signed bytes) verified and installed"
