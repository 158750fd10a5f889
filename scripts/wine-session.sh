# Sourced by the scripts: a display for Wine's windows and a persistent wineserver
# for the build folder's prefix (a cold Wine start costs ~0.6 s, a warm one ~0.03 s).
wine_session_start() {
    local build
    build="$(realpath "$1")"
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ -z "${DISPLAY:-}" ]; then
        export DISPLAY=:77
        if [ ! -e /tmp/.X11-unix/X77 ]; then
            Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            QV_XVFB_PID=$!
            for _ in $(seq 50); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.1; done
        fi
    fi
    "$build/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true   # makes the prefix once
    wineserver -p 2>/dev/null || true   # already running for this prefix is fine
}
wine_session_stop() {
    wineserver -k 2>/dev/null || true
    if [ -n "${QV_XVFB_PID:-}" ]; then kill "$QV_XVFB_PID" 2>/dev/null || true; fi
}
