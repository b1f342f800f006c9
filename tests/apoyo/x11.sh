# Shared by the tests that drive a real program under Xvfb with a window manager and real
# key presses (sourced, not run).
. "$(dirname "${BASH_SOURCE[0]}")/comun.sh"

# Ends the test as skipped (77) when one of the programs, or of those every X test uses, is
# missing.
x11_requerir() {
    requerir xvfb-run openbox xdotool xprop xwininfo "$@"
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

# A failed check unless the window with that id shows at the centre of the screen (its client
# area within 20 pixels across and 30 down, for the title bar), never where the window manager
# would put it first. $2 names it in the message.
centrada() {
    local x y an al pan pal
    # xwininfo, not xdotool: under a reparenting window manager xdotool adds the frame twice.
    read -r x y an al < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF}
        /Absolute upper-left Y/ {y = $NF} /Width:/ {w = $NF} /Height:/ {h = $NF} END {print x, y, w, h}')
    read -r pan pal < <(xwininfo -root | awk '/Width:/ {w = $NF} /Height:/ {h = $NF} END {print w, h}')
    local dx=$((x + an / 2 - pan / 2)) dy=$((y + al / 2 - pal / 2))
    if [ $dx -lt -20 ] || [ $dx -gt 20 ] || [ $dy -lt -30 ] || [ $dy -gt 30 ]; then
        fallo "$2 no está centrada: $an x $al en $x,$y"
    fi
}
