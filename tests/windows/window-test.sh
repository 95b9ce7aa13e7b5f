#!/usr/bin/env bash
# The real Windows program under Wine, on a private Xvfb with a window manager: the exact title,
# the 600 x 400 inner area with the header picture and START; START with no keyboard ends in the
# "Error 1" message and RETRY, read back with OCR; a second start leaves one window; closing the
# window ends the program with exit code 0.
# Usage: window-test.sh <template prefix> <VelmorHL73Updater.exe> <header picture> [screenshot to keep]
export HL73_WINE_TEMPLATE=$1
program=$2
header_png=$3
keep=${4:-}
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/../window/x11-session.sh"
source "$here/wine-session.sh"
source "$here/wine-window.sh"

title="VelmorHL73Updater Version 1.1.0"
work=$(mktemp -d)
trap 'x11_cleanup; wine_cleanup; rm -rf "$work"' EXIT

start_x11
wine_start_session

wine "$program" &
pid=$!
x11_pids+=($pid)
win=$(wait_for_window "$title" 60) || fail "no window titled '$title'"
sleep 1
read -r x y w h < <(client_geometry "$win")
echo "window $win: inner area ${w}x${h} at $x,$y"
[ "$w" = 600 ] && [ "$h" = 400 ] || fail "inner area is ${w}x${h}, not 600x400"

# The header picture, pixel for pixel where the screen puts it (10,10), and START.
expose_window "$win"
import -window root -crop "580x134+$((x + 10))+$((y + 10))" +repage "$work/header.png"
difference=$(compare -metric AE -fuzz 2% "$work/header.png" "$header_png" null: 2>&1 || true)
echo "header: $difference of 77720 pixels differ"
[ "${difference%% *}" -lt 800 ] 2>/dev/null || fail "the header picture is not shown ($difference pixels differ)"
button=$(read_area "$work" "$x" "$y" 200 190 200 60)
echo "button: $button"
[ "$button" = START ] || fail "button reads '$button'"

# A second start hands over to the running instance and exits 0 without a window.
second_code=0
timeout 60 wine "$program" || second_code=$?
[ "$second_code" = 0 ] || fail "second start exited with $second_code"
sleep 1
count=$(xdotool search --onlyvisible --name "^${title}\$" | wc -l)
[ "$count" = 1 ] || fail "$count windows after a second start"
kill -0 "$pid" || fail "the first instance ended after a second start"

# START with no keyboard: Error 1 and RETRY.
xdotool mousemove $((x + 300)) $((y + 220)) click 1
status="" button=""
for _ in $(seq 30); do
    sleep 0.3
    expose_window "$win"
    status=$(read_area "$work" "$x" "$y" 10 296 580 90)
    button=$(read_area "$work" "$x" "$y" 200 190 200 60)
    [[ "$status" == Error* ]] && break
done
echo "status line: $status"
echo "button: $button"
[ -n "$keep" ] && import -window root -crop "600x400+$x+$y" +repage "$keep"
expected="Error 1: device not found. Make sure your VELMOR HL73 is connected to this computer."
[ "$status" = "$expected" ] || fail "status line reads '$status'"
[ "$button" = RETRY ] || fail "button reads '$button'"

# Closing the window ends the program with code 0.
wmctrl -i -c "$win"
wait_for_exit "$pid" 30 || fail "still running 30 s after close"
[ "$exit_code" = 0 ] || fail "exit code $exit_code after close"
echo PASS
