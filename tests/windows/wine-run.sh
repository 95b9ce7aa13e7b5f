#!/usr/bin/env bash
# Runs one Windows program under Wine in a private prefix, on a private Xvfb display (JUCE's
# message loop under Wine needs a display even when no window is shown): the cross build's test
# emulator. Usage: wine-run.sh <template prefix> <program.exe> [arguments...]
export HL73_WINE_TEMPLATE=$1
shift
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/wine-session.sh"

xvfb_pid=
trap 'wine_cleanup; [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT

fifo="$wine_prefix_parent/displayfd"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb_pid=$!
read -r -t 30 display <"$fifo" || { echo "wine-run: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

wine_start_session
status=0
wine "$@" || status=$?
exit "$status"
