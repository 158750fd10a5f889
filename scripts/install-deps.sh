#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine needs to build and test the project.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

# MinGW's compilers of the win32 thread model (cmake/mingw-common.cmake says why); the
# 64-bit one builds the tests on hosts that run no 32-bit programs.
# zlib for the builder's cabinet writer: the Windows builds link MinGW's, the native
# builder (g++) the system's. osslsigncode and openssl: a test signs a setup with a
# certificate it makes.
packages=(cmake make g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 mingw-w64-tools
          libz-mingw-w64-dev g++ zlib1g-dev
          wine wine32:i386 wine64
          xvfb xauth x11-utils imagemagick googletest clang-format
          osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
