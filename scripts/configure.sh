# Sourced by the scripts: configures a build folder for the architecture whose
# programs this host can run under Wine.
#
# The product is a 32-bit Windows program. Wine starts 32-bit Windows programs with
# its 32-bit loader, itself a 32-bit Linux program, and a host whose kernel runs no
# 32-bit Linux programs (IA-32 emulation switched off) cannot start it. On such a host
# the same sources are built and tested as 64-bit programs under Wine's 64-bit
# loader, and the 32-bit product is still built beside them, so it keeps compiling.

qv_host_runs_i386() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The architecture the tests and the demo run on this host: i686 or x86_64.
qv_run_arch() {
    if qv_host_runs_i386; then echo i686; else echo x86_64; fi
}

# The Wine loader for programs of an architecture. Debian's "wine" script always
# picks the 32-bit loader when it is installed, even where it cannot run.
qv_wine_loader() {
    if [ "$1" = x86_64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}

# qv_configure_host SOURCE BUILD: the native builder (a Linux program) in BUILD/host;
# its tests compare its setups with those of BUILD's mksetup.exe under Wine.
qv_configure_host() {
    cmake -S "$1/tools/mksetup" -B "$2/host" -DQV_WINDOWS_BUILD="$(realpath "$2")" >/dev/null
}

# qv_configure SOURCE BUILD ARCH: a folder configured for another architecture is
# configured afresh (CMake keeps the first toolchain of a build folder otherwise).
qv_configure() {
    local src=$1 build=$2 toolchain="$1/cmake/mingw-$3.cmake"
    local fresh=()
    if [ -f "$build/CMakeCache.txt" ] &&
        ! grep -q "^CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain\$" "$build/CMakeCache.txt"; then
        fresh=(--fresh)
    fi
    # CI builds with warnings as errors; a developer's build only shows them.
    local strict=OFF
    [ "${CI:-}" = true ] && strict=ON
    cmake "${fresh[@]}" -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQV_WARNINGS_AS_ERRORS=$strict >/dev/null
}
