# Sourced by every script that runs Wine (the test wrapper, the test and demo
# sessions, the benchmark, the prefix makers): the one place that says how Wine is
# set up for this project.
#
# qv_wine_env PREFIX: exports the prefix and Wine's settings for it.
#   WINEDEBUG=-all         Wine's own diagnostics would drown the programs' output.
#   mscoree,mshtml=        wineboot must not offer Mono and Gecko downloads (there is
#                          no network, and the prompt blocks).
#   winedbg.exe=d          a crashing program ends at once instead of waiting in the
#                          debugger.
# A caller that needs more overrides (a test that makes Wine prefer DLLs lying beside
# a program, as Windows' search order does for DLLs that are not known DLLs) appends
# them to WINEDLLOVERRIDES after this call.
qv_wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG="${QV_WINEDEBUG:--all}"
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
}
