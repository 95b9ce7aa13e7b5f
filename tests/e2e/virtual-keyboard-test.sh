#!/usr/bin/env bash
# The virtual keyboard as ordinary tools see it (stty, cp, flock, the mount table): what the
# end-to-end tests rely on, checked without the program.
# Usage: virtual-keyboard-test.sh <tools folder> <maker host>
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# Inside the sandbox: one scenario, named by $1.
if [ "${1:-}" = --inside ]; then
    scenario=$2 work=$3
    events=$work/sandbox/keyboard/events
    port=/dev/ttyACM1

    # Waits up to $2 seconds for the shell condition $1.
    within() { for _ in $(seq $(($2 * 20))); do eval "$1" && return 0; sleep 0.05; done; return 1; }
    drive_path() { sed -n 's/^[0-9]* drive-mounted \([^ ]*\).*/\1/p' "$events" | tail -n 1; }
    drive_mounted() { grep -q " fuse.virtual-hl73 " /proc/self/mountinfo; }
    port_present()
    {
        [ -c "$port" ] && [ -L /sys/class/tty/ttyACM1 ] || return 1
        local usb
        usb=$(realpath /sys/class/tty/ttyACM1/device/..)
        [ "$(cat "$usb/idVendor")" = 16d0 ] && [ "$(cat "$usb/idProduct")" = 13a1 ]
    }

    case "$scenario" in
        update)
            port_present || fail "no keyboard port with 16d0:13a1 at $port"
            ! drive_mounted || fail "a drive is mounted before the restart"

            stty -F "$port" 1200
            within '! port_present' 2 || fail "the port stayed after the 1200-baud touch"
            within drive_mounted 5 || fail "no drive after the 1200-baud touch"
            drive=$(drive_path)
            printf 'UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n' | cmp -s - "$drive/INFO_UF2.TXT" \
                || fail "INFO_UF2.TXT is not the boot ROM's"
            grep -q "raspberrypi.com/device/RP2" "$drive/INDEX.HTM" || fail "INDEX.HTM is not the boot ROM's"
            ! (echo x >>"$drive/INFO_UF2.TXT") 2>/dev/null || fail "INFO_UF2.TXT could be written"

            # Files that are no complete RP2040 image leave the drive where it is.
            cp "$work/broken.uf2" "$drive/broken.uf2"
            cp "$work/other-chip.uf2" "$drive/other-chip.uf2"
            sleep 2
            drive_mounted || fail "the drive went after an incomplete image"
            ! port_present || fail "the port came back after an incomplete image"

            # A complete one: the drive goes about a second later, then the port returns.
            exec 4>"$drive/late.bin"
            cp "$work/new.uf2" "$drive/NEW.UF2"
            sleep 0.5
            drive_mounted || fail "the drive went before its restart delay"
            within '! drive_mounted' 3 || fail "the drive stayed after a complete image"
            within '[ ! -e "$drive" ]' 2 || fail "the mount point stayed behind"
            ! (echo late >&4) 2>/dev/null || fail "a file left open on the drive could still be written after it went"
            exec 4>&-
            within port_present 3 || fail "the port did not come back"
            ;;
        cable-pulled)
            stty -F "$port" 1200
            within drive_mounted 5 || fail "no drive after the 1200-baud touch"
            ! dd if="$work/new.uf2" of="$(drive_path)/NEW.UF2" bs=4096 2>/dev/null || fail "the whole image was taken although the cable was pulled"
            within '! drive_mounted' 2 || fail "the drive stayed after the cable was pulled"
            sleep 2
            ! port_present || fail "the port came back after the cable was pulled"
            ;;
        other-board)
            # Another maker's board in its bootloader: its drive is there, under the usual name,
            # beside the keyboard's port; the keyboard's drive then takes the next name.
            within drive_mounted 3 || fail "no drive of the other board"
            [ -f "/media/${USER:-root}/RPI-RP2/INFO_UF2.TXT" ] || fail "the other board's drive is not at RPI-RP2"
            port_present || fail "no keyboard port beside the other board"
            [ ! -e /sys/class/tty/ttyACM2 ] || fail "the other board shows a port while in its bootloader"
            stty -F "$port" 1200
            within '[ -f "/media/${USER:-root}/RPI-RP21/INFO_UF2.TXT" ]' 5 || fail "the keyboard's drive is not at RPI-RP21"
            [ "$(grep -c ' fuse.virtual-hl73 ' /proc/self/mountinfo)" = 2 ] || fail "not two drives"
            ;;
        read-only)
            within drive_mounted 3 || fail "no drive at start for a keyboard in its bootloader"
            ! port_present || fail "a port while in the bootloader"
            ! cp "$work/new.uf2" "$(drive_path)/" 2>/dev/null || fail "a read-only drive took a file"
            ;;
        port-held)
            port_present || fail "no keyboard port"
            ! flock -n "$port" true || fail "the port is not locked by the other program"
            ;;
    esac
    echo "scenario $scenario: ok"
    exit 0
fi

tools=$1
host=$2
sandbox="$(dirname "${BASH_SOURCE[0]}")/../../tools/virtual-hl73/hl73-sandbox"
[ -e /dev/fuse ] || fail "/dev/fuse is missing"
work=$(mktemp -d "${TMPDIR:-/tmp}/hl73-vk.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 20000 /dev/urandom >"$work/new.bin"
"$tools/hl73-uf2" "$work/new.bin" "$work/new.uf2"
head -c -512 "$work/new.uf2" >"$work/broken.uf2"
"$tools/hl73-uf2" --family 0xE48BFF59 "$work/new.bin" "$work/other-chip.uf2"
self=$(realpath "${BASH_SOURCE[0]}")

run() # scenario, keyboard arguments... (--other-board goes to the sandbox)
{
    local scenario=$1 args=()
    shift
    for a in "$@"; do
        if [ "$a" = --other-board ]; then args+=("$a"); else args+=(--keyboard "$a"); fi
    done
    rm -rf "$work/sandbox/keyboard"
    "$sandbox" --tools "$tools" --work "$work/sandbox" --host "$host" --status 404 "${args[@]}" \
        -- "$self" --inside "$scenario" "$work" || fail "scenario $scenario (keyboard log: $(tail -n 5 "$work/sandbox/keyboard.log"))"
}

run update
cmp -s -n 20000 "$work/sandbox/keyboard/flash.bin" "$work/new.bin" || fail "the flash does not hold the complete image"
cmp -s "$work/sandbox/keyboard/drive/NEW.UF2" "$work/new.uf2" || fail "the drive did not keep the file as written"
run read-only --start bootloader --fault read-only-drive
run port-held --fault port-held
run cable-pulled --pull-cable-after 16384
cmp -s -n 8192 "$work/sandbox/keyboard/flash.bin" "$work/new.bin" || fail "the flash does not begin with the blocks taken before the cable was pulled"
! cmp -s -n 20000 "$work/sandbox/keyboard/flash.bin" "$work/new.bin" || fail "the flash holds the whole image although the cable was pulled"
rm -rf "$work/sandbox/other-board"
run other-board --other-board
[ -z "$(ls -A "$work/sandbox/other-board/drive")" ] || fail "something reached the other board's drive"
echo PASS
