#!/usr/bin/env bash
# The real program's window under Xvfb and openbox: title, size, placement, fixed size, WM_CLASS,
# single instance and closing through the window manager.
# Usage: window-test.sh <program> <desktop file>
source "$(dirname "${BASH_SOURCE[0]}")/x11-session.sh"

program=$1
desktop_file=$2
title="VelmorHL73Updater Version 1.1.0"

start_x11

"$program" &
pid=$!
x11_pids+=($pid)
win=$(wait_for_window "$title") || fail "no window titled '$title'"
sleep 0.5 # let the window manager finish placing it

read -r x y w h < <(client_geometry "$win")
echo "window $win: inner area ${w}x${h} at $x,$y"
[ "$w" = 600 ] && [ "$h" = 400 ] || fail "inner area is ${w}x${h}, not 600x400"

# Centred: the inner area sits in the middle of the 1280x800 screen, give or take the frame.
cx=$((x + w / 2)); cy=$((y + h / 2))
[ $((cx - 640)) -ge -20 ] && [ $((cx - 640)) -le 20 ] || fail "not centred horizontally (centre x $cx)"
[ $((cy - 400)) -ge -40 ] && [ $((cy - 400)) -le 40 ] || fail "not centred vertically (centre y $cy)"

# Not resizable: dragging the frame's corner, or openbox's alt+right-drag, leaves the size alone,
# and the window manager offers no resize action.
corner_x=$((x + w)); corner_y=$((y + h))
xdotool mousemove "$corner_x" "$corner_y" mousedown 1 mousemove $((corner_x + 50)) $((corner_y + 50)) \
    sleep 0.2 mousemove $((corner_x + 150)) $((corner_y + 120)) sleep 0.2 mouseup 1
xdotool mousemove $((x + 300)) $((y + 300)) keydown alt mousedown 3 mousemove $((x + 400)) $((y + 400)) \
    sleep 0.2 mousemove $((x + 450)) $((y + 450)) sleep 0.2 mouseup 3 keyup alt
sleep 0.5
read -r _ _ w2 h2 < <(client_geometry "$win")
[ "$w2" = 600 ] && [ "$h2" = 400 ] || fail "dragging the frame resized the window to ${w2}x${h2}"
actions=$(xprop -id "$win" _NET_WM_ALLOWED_ACTIONS)
echo "$actions" | grep -q _NET_WM_ACTION_RESIZE && fail "the window manager offers to resize: $actions"

# The title bar asks for minimise, maximise and close (Motif hints: functions and decorations).
read -r flags functions decorations _ < <(xprop -id "$win" _MOTIF_WM_HINTS | sed "s/.*= //; s/,//g")
echo "Motif hints: flags $flags functions $functions decorations $decorations"
(( (functions & 0x38) == 0x38 )) || fail "minimise/maximise/close functions missing ($functions)"
(( (functions & 0x2) == 0 )) || fail "resize function requested ($functions)"
(( (decorations & 0x68) == 0x68 )) || fail "title, minimise or maximise decoration missing ($decorations)"

# The desktop entry finds the window through its class.
wm_class=$(xprop -id "$win" WM_CLASS)
wanted=$(sed -n 's/^StartupWMClass=//p' "$desktop_file")
echo "$wm_class" | grep -q "\"$wanted\"" || fail "WM_CLASS $wm_class does not match StartupWMClass=$wanted"

echo "$actions" | grep -q _NET_WM_ACTION_CLOSE || fail "no close action: $actions"
echo "$actions" | grep -q _NET_WM_ACTION_MINIMIZE || fail "no minimise action: $actions"

# A second start exits 0 at once and shows no second window.
second_code=0
timeout 10 "$program" || second_code=$?
[ "$second_code" = 0 ] || fail "second instance exited with $second_code"
count=$(xdotool search --onlyvisible --name "^${title}\$" | wc -l)
[ "$count" = 1 ] || fail "$count windows after a second start"
kill -0 "$pid" || fail "first instance ended after a second start"

# Closing through the window manager ends the program with code 0.
wmctrl -i -c "$win"
wait_for_exit "$pid" 10 || fail "program still running 10 s after close"
[ "$exit_code" = 0 ] || fail "exit code $exit_code after close"
echo "PASS"
