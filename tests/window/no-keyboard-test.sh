#!/usr/bin/env bash
# The real program with no keyboard attached: START ends at once with the "Error 1" message and
# offers RETRY, read back from the window with OCR; closing the window then ends it with code 0.
# Usage: no-keyboard-test.sh <program> [screenshot to keep]
source "$(dirname "${BASH_SOURCE[0]}")/x11-session.sh"

program=$1
keep=${2:-}
title="VelmorHL73Updater Version 1.1.0"
work=$(mktemp -d)
trap 'rm -rf "$work"; x11_cleanup' EXIT

# A machine with a real keyboard or bootloader drive attached would not show Error 1.
for tty in /sys/class/tty/*; do
    [ "$(cat "$tty/device/../idVendor" 2>/dev/null)" = 16d0 ] && { echo "SKIP: a 16d0 device is attached"; exit 0; }
done

start_x11
"$program" &
pid=$!
x11_pids+=($pid)
win=$(wait_for_window "$title") || fail "no window"
sleep 0.5
read -r x y _ _ < <(client_geometry "$win")

# Click the middle of START (200,190 200x60 inside the window).
xdotool mousemove $((x + 300)) $((y + 220)) click 1

# Read the status line (10,296 580x90) and the button until the run has ended.
read_area() # x y w h
{
    import -window root -crop "${3}x${4}+$((x + $1))+$((y + $2))" +repage \
        -colorspace Gray -negate -resize 300% "$work/area.png"
    tesseract "$work/area.png" - --psm 6 2>/dev/null | tr -s ' \n' ' ' | sed 's/ *$//'
}
status="" button=""
for _ in $(seq 20); do
    sleep 0.25
    status=$(read_area 10 296 580 90)
    button=$(read_area 200 190 200 60)
    [[ "$status" == Error* ]] && break
done
echo "status line: $status"
echo "button: $button"
[ -n "$keep" ] && import -window root -crop "600x400+$x+$y" +repage "$keep"

expected="Error 1: device not found. Make sure your VELMOR HL73 is connected to this computer."
[ "$status" = "$expected" ] || fail "status line reads '$status'"
[ "$button" = "RETRY" ] || fail "button reads '$button'"

wmctrl -i -c "$win"
wait_for_exit "$pid" 10 || fail "still running 10 s after close"
[ "$exit_code" = 0 ] || fail "exit code $exit_code after close"
echo PASS
