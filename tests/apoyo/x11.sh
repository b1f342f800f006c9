# Shared by the tests that drive a real program under Xvfb with a window manager and real
# key presses (sourced, not run).
. "$(dirname "${BASH_SOURCE[0]}")/comun.sh"

# Ends the test as skipped (77) when one of the programs is missing.
x11_requerir() {
    requerir "$@"
}

# A window manager, as on a desktop: without one focus and Alt shortcuts misbehave. Returns
# once it manages the screen.
x11_gestor() {
    openbox >/dev/null 2>&1 &
    X11_GESTOR=$!
    trap 'kill $X11_GESTOR 2>/dev/null' EXIT
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
}

# The visible window whose title matches the regular expression, once it shows (30 s at most),
# with the keyboard focus; prints its id. A search that meets a window on its way out is tried
# again. It returns half a second after the focus: a message box ignores the keys that reach it
# in its first 300 ms, as typed before it showed.
ventana() {
    local id=
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    if [ -z "$id" ]; then
        echo "no se mostró la ventana \"$1\"" >&2
        return 1
    fi
    xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id" 2>/dev/null
    sleep 0.5
    echo "$id"
}
