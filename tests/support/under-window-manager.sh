#!/bin/sh
# Runs a command on a private X server with a window manager, as on a desktop: there a
# shown window becomes the active one, and window-wide keys behave as users meet them
# (offscreen, or on a bare X server, no window is ever really active).
# Exits 77 (CTest: skipped) with the reason when the server or the manager cannot start.
set -u
for tool in Xvfb openbox xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
xvfb=""
wm=""
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT INT TERM

# The server picks a free display number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
tries=0
until [ -s "$dir/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "skipped: Xvfb did not start:"; cat "$dir/xvfb.log"; exit 77
    fi
    sleep 0.1
done
DISPLAY=":$(head -n1 "$dir/display")"
export DISPLAY

openbox --sm-disable --config-file /dev/null >"$dir/wm.log" 2>&1 &
wm=$!
# The manager has taken over once it names itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ] || ! kill -0 "$wm" 2>/dev/null; then
        echo "skipped: openbox did not start:"; cat "$dir/wm.log"; exit 77
    fi
    sleep 0.1
done

QT_QPA_PLATFORM=xcb "$@"
