#!/usr/bin/env bash
# One end-to-end case: the release program in a window on Xvfb, START clicked, the outcome read
# from the window, and the virtual keyboard examined for what reached it.
# Usage: e2e-test.sh <case> <program> <tools folder> <maker host>
source "$(dirname "${BASH_SOURCE[0]}")/e2e-session.sh"

case_name=$1
program=$2
tools=$3
host=$4

# case: sandbox arguments | closing message | button | flash afterwards (old, new, or partly new) |
#       file on the drive (-: none, part: the start of the image) | 1200-baud touches seen | downloads
# With --other-board, another RP2040 board sits in its bootloader beside the keyboard: whatever
# the outcome, its flash and its drive must stay untouched.
cases=(
    "success|--image new.uf2|success|CLOSE|new|new.uf2|1|1"
    "drive-at-start|--image new.uf2 --keyboard --start --keyboard bootloader|success|CLOSE|new|new.uf2|0|1"
    "not-restarted|--image new.uf2 --keyboard --fault --keyboard no-port-back|not_restarted|CLOSE|new|new.uf2|1|1"
    "error-1|--image new.uf2 --keyboard --start --keyboard absent|error_1|RETRY|old|-|0|0"
    "error-2|--status 404|error_2|RETRY|old|-|0|1"
    "error-2-untrusted|--image new.uf2 --untrusted|error_2|RETRY|old|-|0|0"
    "error-3|--image broken.uf2|error_3|RETRY|old|-|0|1"
    "error-4|--image new.uf2 --keyboard --fault --keyboard port-held|error_4|RETRY|old|-|0|1"
    "error-5|--image new.uf2 --keyboard --fault --keyboard no-restart|error_5|RETRY|old|-|1|1"
    "error-6|--image new.uf2 --keyboard --fault --keyboard drive-stays|error_6|RETRY|new|new.uf2|1|1"
    "error-6-read-only|--image new.uf2 --keyboard --fault --keyboard read-only-drive|error_6|RETRY|old|-|1|1"
    "other-board|--image new.uf2 --other-board|success|CLOSE|new|new.uf2|1|1"
    "cable-pulled|--image new.uf2 --keyboard --pull-cable-after --keyboard 60000|error_6|RETRY|partly|part|1|1"
)

check_environment
make_work
start_x11

# The quit guard: refused while the keyboard is being changed, accepted once its drive has gone.
# The drive stays 15 s after the last block, so that reading the window (seconds on a loaded
# machine) cannot let the close arrive only after the drive has gone.
if [ "$case_name" = quit-guard ]; then
    start_program --image "$work/new.uf2" --keyboard --restart-ms --keyboard 3000 \
        --keyboard --reboot-ms --keyboard 15000 --keyboard --enumerate-ms --keyboard 10000
    click_button

    wait_for_event touch-1200 15
    wait_for_status "Preparing the device..." 3
    wmctrl -i -c "$win"
    sleep 1
    kill -0 "$program_pid" 2>/dev/null || fail "the program quit while preparing the device"
    wait_for_event image-complete 10
    wait_for_status "Restarting the device..." 3
    wmctrl -i -c "$win"
    sleep 1
    kill -0 "$program_pid" 2>/dev/null || fail "the program quit while the drive was still there"
    echo "close refused while preparing and while restarting"

    wait_for_event drive-removed 20
    sleep 0.5 # the program's next look at the mounts
    wmctrl -i -c "$win"
    wait_for_exit "$program_pid" 10 || fail "the program did not quit after the drive had gone"
    [ "$exit_code" = 0 ] || fail "exit code $exit_code"
    cmp -s -n 100000 "$work/sandbox/keyboard/flash.bin" "$work/new.bin" || fail "the keyboard's flash does not hold the new firmware"
    echo "close accepted once the drive had gone; PASS"
    e2e_keep=0
    exit 0
fi

row=""
for entry in "${cases[@]}"; do
    [ "${entry%%|*}" = "$case_name" ] && row=$entry
done
[ -n "$row" ] || fail "no case named '$case_name'"
IFS='|' read -r _ arguments message_name button flash drive_file touches downloads <<<"$row"

if [[ " $arguments " == *" --other-board "* ]]; then
    head -c 100000 /dev/urandom >"$work/other-board.bin"
    mkdir -p "$work/sandbox/other-board"
    cp "$work/other-board.bin" "$work/sandbox/other-board/flash.bin"
fi

# The file names in the arguments are those in the work folder.
sandbox_args=()
for a in $arguments; do
    [ -f "$work/$a" ] && a="$work/$a"
    sandbox_args+=("$a")
done

start_program "${sandbox_args[@]}"
wait_for_text "$button_area" START 10
click_button

# Error 5 waits 30 s for the drive, Error 6 20 s for it to go, not-restarted 15 s for the port.
outcome=$(wait_for_outcome 60)
expected_var="message_$message_name"
expected=${!expected_var}
echo "status line: $outcome"
[ "$outcome" = "$expected" ] || fail "expected '$expected'"
button_text=$(read_button)
[ "$button_text" = "$button" ] || fail "the button reads '$button_text', not '$button'"

# Close the way the button offers: CLOSE ends the program, after RETRY the window's close does.
if [ "$button" = CLOSE ]; then
    click_button
else
    wmctrl -i -c "$win"
fi
wait_for_exit "$program_pid" 15 || fail "the program did not end"
[ "$exit_code" = 0 ] || fail "the program (or its sandbox) ended with code $exit_code; see $work/sandbox.log"

# What reached the keyboard. Its flash: untouched, or the new firmware (the image's last page is
# padded, so the comparison covers the firmware's own bytes).
keyboard=$work/sandbox/keyboard
case "$flash" in
    old) cmp -s "$keyboard/flash.bin" "$work/old.bin" || fail "the keyboard's flash has changed" ;;
    new) cmp -s -n 100000 "$keyboard/flash.bin" "$work/new.bin" || fail "the keyboard's flash does not hold the new firmware" ;;
    partly)
        cmp -s -n 4096 "$keyboard/flash.bin" "$work/new.bin" || fail "the keyboard's flash does not begin with the new firmware"
        ! cmp -s -n 100000 "$keyboard/flash.bin" "$work/new.bin" || fail "the keyboard's flash holds the whole new firmware"
        ;;
esac
if [ "$drive_file" = - ]; then
    [ -z "$(ls -A "$keyboard/drive" 2>/dev/null)" ] || fail "something was written to the drive: $(ls "$keyboard/drive")"
elif [ "$drive_file" = part ]; then
    written=$(ls -A "$keyboard/drive")
    [ "$written" = VelmorHL73.uf2 ] || fail "the drive holds '$written', not VelmorHL73.uf2 alone"
    size=$(stat -c %s "$keyboard/drive/VelmorHL73.uf2")
    [ "$size" -gt 0 ] && [ "$size" -lt "$(stat -c %s "$work/new.uf2")" ] || fail "the drive holds $size bytes, not part of the image"
    cmp -s -n "$size" "$keyboard/drive/VelmorHL73.uf2" "$work/new.uf2" || fail "the file on the drive is not the start of the one served"
else
    written=$(ls -A "$keyboard/drive")
    [ "$written" = VelmorHL73.uf2 ] || fail "the drive holds '$written', not VelmorHL73.uf2 alone"
    cmp -s "$keyboard/drive/VelmorHL73.uf2" "$work/$drive_file" || fail "the file on the drive is not the one served"
fi
other=$work/sandbox/other-board
if [ -d "$other" ]; then
    cmp -s "$other/flash.bin" "$work/other-board.bin" || fail "the other board's flash has changed"
    [ -z "$(ls -A "$other/drive" 2>/dev/null)" ] || fail "something was written to the other board's drive: $(ls "$other/drive")"
    grep -q " drive-mounted " "$other/events" || fail "the other board's drive was never mounted"
fi
seen=$(count_events touch-1200)
[ "$seen" = "$touches" ] || fail "the keyboard saw $seen requests to restart, not $touches"
fetched=$(grep -c '^GET ' "$work/sandbox/server.log" 2>/dev/null || true)
[ "$fetched" = "$downloads" ] || fail "the server answered $fetched downloads, not $downloads"
grep -q 'cache-control=no-cache$' "$work/sandbox/server.log" 2>/dev/null || [ "$downloads" = 0 ] \
    || fail "the download did not ask for a fresh copy (Cache-Control: no-cache)"

echo "PASS"
e2e_keep=0
