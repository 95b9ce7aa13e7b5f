#!/usr/bin/env bash
# One end-to-end case of the Windows program under Wine: the program in a window on a private
# Xvfb, in the same sandbox as the Linux end-to-end tests (the virtual keyboard, the maker's server
# over HTTPS from a local authority), with the keyboard shown to Wine as Windows shows it
# (e2e-inside.sh). START is clicked, the outcome read from the window, and the keyboard examined
# for what reached it.
# Usage: e2e-test.sh <case> <template prefix> <VelmorHL73Updater.exe> <Linux tools folder> <maker host>
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# expose_window from here; the reading helpers from the Linux end-to-end tests.
source "$here/wine-window.sh"
source "$here/../e2e/e2e-session.sh"

case_name=$1
export HL73_WINE_TEMPLATE=$2
program=$3
tools=$4
host=$5

# case: keyboard arguments | closing message | button | flash afterwards | file on the drive |
#       1200-baud touches seen | downloads
cases=(
    "success||success|CLOSE|new|new.uf2|1|1"
    "not-restarted|--fault no-port-back|not_restarted|CLOSE|new|new.uf2|1|1"
    "error-1|--start absent|error_1|RETRY|old|-|0|0"
    "error-4|--fault port-held|error_4|RETRY|old|-|0|1"
    "error-5|--fault no-restart|error_5|RETRY|old|-|1|1"
    "error-6|--fault drive-stays|error_6|RETRY|new|new.uf2|1|1"
)
row=""
for entry in "${cases[@]}"; do
    [ "${entry%%|*}" = "$case_name" ] && row=$entry
done
[ -n "$row" ] || fail "no case named '$case_name'"
IFS='|' read -r _ keyboard_arguments message_name button flash drive_file touches downloads <<<"$row"

[ -f "$HL73_WINE_TEMPLATE/.ready" ] || fail "no template prefix at $HL73_WINE_TEMPLATE"
check_environment
command -v wine >/dev/null || fail "wine is missing (scripts/setup installs it)"
make_work
start_x11

# The sandbox's namespaces end with its first process, which ignores SIGTERM (as the init of its
# PID namespace, with no handler): SIGKILL ends it and with it Wine and the keyboard, whatever way
# the test ends.
program_pid=""
wine_e2e_cleanup()
{
    local code=$?
    [ -z "$program_pid" ] || kill -KILL "$program_pid" 2>/dev/null || true
    # e2e_cleanup reads how the test ended from $? (without tripping set -e here).
    if [ "$code" = 0 ]; then
        e2e_cleanup
    else
        (exit "$code") || e2e_cleanup
    fi
}
trap wine_e2e_cleanup EXIT

# JUCE under Wine repaints only when the window system asks: every look at the window asks first.
capture()
{
    expose_window "$win"
    import -window "$win" "$1" 2>/dev/null
}

drive_folder=/media/hl73/RPI-RP2
inside_arguments=""
[[ " $keyboard_arguments " == *" port-held "* ]] && inside_arguments=hold-port
sandbox_args=(--image "$work/new.uf2" --keyboard --drive --keyboard "$drive_folder")
for a in $keyboard_arguments; do
    sandbox_args+=(--keyboard "$a")
done
# setpriv: should this script be killed outright, the sandbox (and everything in it) goes too.
TMPDIR=$work setpriv --pdeathsig KILL "$sandbox" --tools "$tools" --work "$work/sandbox" --host "$host" "${sandbox_args[@]}" \
    -- "$here/e2e-inside.sh" "$program" "$work/sandbox/keyboard" /dev/ttyACM1 "$drive_folder" $inside_arguments \
    >"$work/sandbox.log" 2>&1 &
program_pid=$!
x11_pids+=("$program_pid")
win=$(wait_for_window "$title" 60) || fail_with_screen "no window titled '$title' (see $work/sandbox.log)"
sleep 1
read -r _ _ w h < <(client_geometry "$win")
[ "$w" = 600 ] && [ "$h" = 400 ] || fail_with_screen "the window came up at ${w}x${h}, not 600x400"

wait_for_text "$button_area" START 20
click_button

# Error 5 waits 30 s for the drive, Error 6 20 s for it to go, not-restarted 15 s for the port.
outcome=$(wait_for_outcome 60)
expected_var="message_$message_name"
expected=${!expected_var}
echo "status line: $outcome"
[ "$outcome" = "$expected" ] || fail_with_screen "expected '$expected'"
button_text=$(read_button)
[ "$button_text" = "$button" ] || fail_with_screen "the button reads '$button_text', not '$button'"

# Close the way the button offers: CLOSE ends the program, after RETRY the window's close does.
if [ "$button" = CLOSE ]; then
    click_button
else
    wmctrl -i -c "$win"
fi
wait_for_exit "$program_pid" 30 || fail "the program did not end"
program_pid=""
[ "$exit_code" = 0 ] || fail "the program (or its sandbox) ended with code $exit_code; see $work/sandbox.log"

# What reached the keyboard: its flash untouched, or holding the new firmware (the image's last
# page is padded, so the comparison covers the firmware's own bytes), and the file on its drive.
keyboard=$work/sandbox/keyboard
case "$flash" in
    old) cmp -s "$keyboard/flash.bin" "$work/old.bin" || fail "the keyboard's flash has changed" ;;
    new) cmp -s -n 100000 "$keyboard/flash.bin" "$work/new.bin" || fail "the keyboard's flash does not hold the new firmware" ;;
esac
if [ "$drive_file" = - ]; then
    [ -z "$(ls -A "$keyboard/drive" 2>/dev/null)" ] || fail "something was written to the drive: $(ls "$keyboard/drive")"
else
    written=$(ls -A "$keyboard/drive")
    [ "$written" = VelmorHL73.uf2 ] || fail "the drive holds '$written', not VelmorHL73.uf2 alone"
    cmp -s "$keyboard/drive/VelmorHL73.uf2" "$work/$drive_file" || fail "the file on the drive is not the one served"
fi
seen=$(count_events touch-1200)
[ "$seen" = "$touches" ] || fail "the keyboard saw $seen requests to restart, not $touches"
fetched=$(grep -c '^GET ' "$work/sandbox/server.log" 2>/dev/null || true)
[ "$fetched" = "$downloads" ] || fail "the server answered $fetched downloads, not $downloads"

echo "PASS"
e2e_keep=0
