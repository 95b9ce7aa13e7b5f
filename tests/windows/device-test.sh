#!/usr/bin/env bash
# The Windows device layer under Wine, one case per run, each in a private prefix with its own
# wineserver (the cases change the registry). Ports are registered as USB devices of the Ports
# class, with ptys behind them through HKLM\Software\Wine\Ports; drive letters are folders behind
# dosdevices links, typed through HKLM\Software\Wine\Drives.
# Usage: device-test.sh <template prefix> <device-probe.exe> <case>
export HL73_WINE_TEMPLATE=$1
probe=$2
case_name=$3
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

fixture=$(mktemp -d)
pty_holders=()

cleanup()
{
    wine_cleanup
    # Only after wineserver has gone: it takes the ptys as its terminal, and their closing
    # would hang it up.
    for holder in "${pty_holders[@]}"; do
        kill "$holder" 2>/dev/null || true
        wait "$holder" 2>/dev/null || true
    done
    rm -rf "$fixture"
}
trap cleanup EXIT

fail()
{
    echo "FAIL ($case_name): $*" >&2
    exit 1
}

expect_equal()
{
    [ "$1" == "$2" ] || fail "expected '$2', got '$1'"
}

ports_class='{4D36E978-E325-11CE-BFC1-08002BE10318}'

# add_port <USB instance path under Enum\USB> [PortName]: a present device of the Ports class.
# Without a PortName argument the device has no Device Parameters key at all.
add_port()
{
    local key="HKLM\\System\\CurrentControlSet\\Enum\\USB\\$1"
    wine reg add "$key" /v ClassGUID /d "$ports_class" /f >/dev/null 2>&1
    if [ $# -gt 1 ]; then
        wine reg add "$key\\Device Parameters" /v PortName /d "$2" /f >/dev/null 2>&1
    fi
}

# map_pty <COMn>: a pty behind the port; sets $pty to its path. A pty keeps what a program last
# set on it, so the test reads it afterwards with stty: the speed and the stop bits (a Linux pty
# is always 8 data bits without parity, so those two cannot be shown here).
map_pty()
{
    local name_file="$fixture/pty-$1"
    script -q -e -c "tty > '$name_file'; exec sleep 300" /dev/null </dev/null >/dev/null 2>&1 &
    pty_holders+=($!)
    for _ in $(seq 100); do
        [ -s "$name_file" ] && break
        sleep 0.05
    done
    pty=$(cat "$name_file")
    [ -n "$pty" ] || fail "no pty"
    stty -F "$pty" 9600 cstopb
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$pty" /f >/dev/null 2>&1
}

# add_drive <letter> [type] [INFO_UF2.TXT text]: a folder behind the letter.
add_drive()
{
    mkdir -p "$fixture/drives/$1"
    ln -s "$fixture/drives/$1" "$WINEPREFIX/dosdevices/$1:"
    if [ -n "${2:-}" ]; then
        wine reg add 'HKLM\Software\Wine\Drives' /v "$1:" /d "$2" /f >/dev/null 2>&1
    fi
    if [ -n "${3:-}" ]; then
        printf '%s' "$3" >"$fixture/drives/$1/INFO_UF2.TXT"
    fi
}

# Wine reads its ports and drives when its server starts.
restart_wine()
{
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    wine_start_session
}

# probe <arguments>: the probe's output; the case fails when the probe does.
probe()
{
    local output
    output=$(wine "$probe" "$@" 2>"$fixture/probe-errors") || fail "device-probe $*: $(cat "$fixture/probe-errors")"
    tr -d '\r' <<<"$output"
}

# expect_probe <expected output> <probe arguments...>
expect_probe()
{
    local expected=$1 got
    shift
    got=$(probe "$@")
    expect_equal "$got" "$expected"
}

rom_info=$'UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n'
keyboard='VID_16D0&PID_13A1'
thirty="COM$(printf '7%.0s' $(seq 27))"

wine_start_session

case "$case_name" in
    port.none)
        add_port 'VID_2E8A&PID_000A\E660583883724A2F' COM3
        expect_probe "" find-port
        ;;
    port.keyboard)
        add_port "$keyboard\\0123456789AB" COM5
        expect_probe "COM5" find-port
        # Unplugged (Wine lists every registered device as present): gone at the next call.
        wine reg delete "HKLM\\System\\CurrentControlSet\\Enum\\USB\\$keyboard" /f >/dev/null 2>&1
        expect_probe "" find-port
        ;;
    port.lower_case)
        # Wine hands instance identifiers back in upper case whatever the registry holds, so
        # this shows only that such a device is found; the matching itself is tested natively.
        add_port 'vid_16d0&pid_13a1\0123456789ab' COM6
        expect_probe "COM6" find-port
        ;;
    port.composite)
        add_port "$keyboard&MI_00\\7&2F5C0E1&0&0000" COM11
        expect_probe "COM11" find-port
        ;;
    port.other_product)
        add_port 'VID_16D0&PID_13A2\0123456789AB' COM5
        add_port 'VID_16D0&PID_13A\1' COM6
        expect_probe "" find-port
        ;;
    port.two_keyboards)
        add_port "$keyboard\\1" COM7
        add_port "$keyboard\\2" COM8
        expect_probe "COM7" find-port
        ;;
    port.skips_unnamed)
        add_port "$keyboard\\1"
        add_port "$keyboard\\2" ""
        add_port "$keyboard\\3" COM9
        expect_probe "COM9" find-port
        ;;
    port.long_names)
        add_port "$keyboard\\1" "${thirty}7"
        expect_probe "" find-port
        add_port "$keyboard\\2" "$thirty"
        expect_probe "$thirty" find-port
        ;;
    request.com3 | request.com10)
        port=COM${case_name#request.com}
        map_pty "$port"
        restart_wine
        result=$(probe request "$port")
        read -r answer took <<<"$result"
        expect_equal "$answer" "sent"
        # Two pauses of 50 ms; only a lower bound, as a loaded machine may take longer.
        [ "$took" -ge 80 ] || fail "the request took $took ms"
        settings=$(stty -F "$pty" -a)
        for setting in "speed 1200 baud" " -cstopb"; do
            [[ "$settings" == *"$setting"* ]] || fail "the port was left without '$setting': $settings"
        done
        ;;
    request.absent)
        result=$(probe request COM42)
        read -r answer took <<<"$result"
        expect_equal "$answer" "refused"
        # A device that is not a serial port is refused too.
        result=$(probe request NUL)
        read -r answer took <<<"$result"
        expect_equal "$answer" "refused"
        ;;
    drives.letters)
        add_drive e floppy "$rom_info"
        add_drive f network "$rom_info"
        add_drive g cdrom "$rom_info"
        add_drive h floppy
        add_drive i hd $'UF2 Bootloader v1.0\nModel: Adafruit Feather M0\nBoard-ID: SAMD21G18A\n'
        add_drive j hd
        mkdir "$fixture/drives/j/INFO_UF2.TXT"
        add_drive k floppy "$rom_info"
        add_drive m hd "rp2"
        restart_wine
        # The card is taken out of the reader behind K: while Wine runs; the letter stays.
        rm -rf "$fixture/drives/k"
        listing=$(probe drives)
        candidates=$(grep '^candidate' <<<"$listing" | cut -d' ' -f2 | tr '\n' ' ')
        drives=$(grep '^drive' <<<"$listing" | cut -d' ' -f2 | tr '\n' ' ')
        [[ "$candidates" == *"E:\\ "* && "$candidates" == *"H:\\ "* && "$candidates" == *"I:\\ "* ]] || fail "candidates: $candidates"
        [[ "$candidates" != *"F:"* && "$candidates" != *"G:"* ]] || fail "a network or optical drive is a candidate: $candidates"
        expect_equal "$drives" "E: M: "
        # Each known by an identity of its own, so that a drive present before the request is
        # never taken for the keyboard's.
        identities=$(grep '^drive' <<<"$listing" | cut -d' ' -f3- | sort -u | grep -c .)
        expect_equal "$identities" "2"
        ;;
    drives.on_drive)
        add_drive e floppy "$rom_info"
        restart_wine
        expect_probe "on" on-drive 'E:' 'E:\NEW.UF2'
        expect_probe "on" on-drive 'E:' 'E:'
        expect_probe "off" on-drive 'E:' 'C:\NEW.UF2'
        ;;
    system.awake)
        expect_probe "held" awake
        ;;
    *)
        fail "no such case"
        ;;
esac
echo "ok: $case_name"
