# Sourced by the scripts: a display for Wine's windows and a persistent wineserver
# for the build folder's prefix (a cold Wine start costs ~0.6 s, a warm one ~0.03 s).

source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Starts an Xvfb of our own on a display number the server picks itself and
# exports DISPLAY. A socket file left in /tmp/.X11-unix by an earlier machine
# state says nothing about a live server, so no fixed number is trusted.
start_private_display() {
    local numfile
    numfile="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    QV_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$numfile" ] && break
        kill -0 "$QV_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$numfile" ]; then
        rm -f "$numfile"
        echo "error: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(tr -dc '0-9' <"$numfile")"
    rm -f "$numfile"
}
stop_private_display() {
    if [ -n "${QV_XVFB_PID:-}" ]; then kill "$QV_XVFB_PID" 2>/dev/null || true; fi
    QV_XVFB_PID=
}

# wine_session_start BUILD [private]: with "private" (the tests) the windows always
# go to a display of our own, so no test depends on or disturbs the user's desktop.
wine_session_start() {
    local build
    build="$(realpath "$1")"
    qv_wine_env "$build/wineprefix"
    if [ "${2:-}" = private ] || [ -z "${DISPLAY:-}" ]; then
        start_private_display
        # A server left running for this prefix keeps its desktop on the old display.
        wineserver -k 2>/dev/null || true
    fi
    "$build/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true   # makes the prefix once
    wineserver -p 2>/dev/null || true   # already running for this prefix is fine
}
wine_session_stop() {
    wineserver -k 2>/dev/null || true
    stop_private_display
}
