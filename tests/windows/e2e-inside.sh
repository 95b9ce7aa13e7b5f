#!/usr/bin/env bash
# Run by hl73-sandbox as its command: a private Wine prefix whose computer has the virtual
# keyboard plugged in, and the Windows program in it. Wine has to run inside the sandbox's
# namespaces to reach the keyboard's port node and the mount point of its drive.
#
# The keyboard as Windows would show it:
#   - its port: COM5, a USB device of the Ports class under Enum\USB while virtual-hl73's port is
#     there (Wine lists every registered device as present, so an unplug deletes the key), with
#     \\.\COM5 reaching the port's node through HKLM\Software\Wine\Ports;
#   - its bootloader drive: E:, a removable drive, behind the folder where the drive gets mounted.
#     Wine reads the drive types only when its server starts, so the letter is there from the
#     start; while nothing is mounted the folder is missing, which Windows programs see as a
#     drive without a medium.
#   - another program holding its port (hold-port): Windows opens a COM port for one program
#     at a time, which Wine does not enforce (nor the flock that virtual-hl73's holder takes for
#     Linux programs); an exclusive tty (TIOCEXCL) is what makes Wine's open fail, as the
#     sandbox's root has no rights outside it.
# Usage (inside the sandbox): e2e-inside.sh <program.exe> <keyboard state folder> <port node> <drive folder> [hold-port]
# Needs HL73_WINE_TEMPLATE; TMPDIR is where the prefix goes (the test's work folder).
program=$1
state=$2
port_node=$3
drive_folder=$4
hold_port=${5:-}
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

sync_pid=
holder_pid=
cleanup()
{
    [ -z "$sync_pid" ] || kill "$sync_pid" 2>/dev/null || true
    [ -z "$holder_pid" ] || kill "$holder_pid" 2>/dev/null || true
    wine_cleanup
}
trap cleanup EXIT

keyboard_key='HKLM\System\CurrentControlSet\Enum\USB\VID_16D0&PID_13A1\E6614C311B4A2C35'

wine_start_session
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$port_node" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Drives' /v 'e:' /d floppy /f >/dev/null 2>&1
ln -sfn "$drive_folder" "$WINEPREFIX/dosdevices/e:"
# Wine reads its ports and drive types when its server starts.
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wine_start_session

# Keeps the port's registry entry in step with virtual-hl73's port, as Windows' device manager does.
port_present() { [ "$(grep -oE ' port-(added|removed|not-back)' "$state/events" | tail -n 1)" = " port-added" ]; }
shown=0
sync_port()
{
    local present=0
    port_present && present=1
    [ "$present" != "$shown" ] || return 0
    if [ "$present" = 1 ]; then
        wine reg add "$keyboard_key" /v ClassGUID /d '{4D36E978-E325-11CE-BFC1-08002BE10318}' /f >/dev/null 2>&1
        wine reg add "$keyboard_key\\Device Parameters" /v PortName /d COM5 /f >/dev/null 2>&1
    else
        wine reg delete "$keyboard_key" /f >/dev/null 2>&1
    fi
    echo "e2e-inside: COM5 $([ "$present" = 1 ] && echo registered || echo unregistered)" >&2
    shown=$present
}
# The port as it is at the start is there before the program starts.
sync_port
(
    while true; do
        sync_port
        sleep 0.05
    done
) &
sync_pid=$!

if [ "$hold_port" = hold-port ]; then
    /usr/bin/python3 -c '
import fcntl, os, sys, termios, time
port = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
fcntl.ioctl(port, termios.TIOCEXCL)
print("held", flush=True)
time.sleep(3600)' "$port_node" >"$TMPDIR/holder.ready" &
    holder_pid=$!
    for _ in $(seq 100); do
        grep -qx held "$TMPDIR/holder.ready" 2>/dev/null && break
        sleep 0.05
    done
    grep -qx held "$TMPDIR/holder.ready" || { echo "e2e-inside: the port could not be held" >&2; exit 1; }
fi

code=0
wine "$program" || code=$?
exit "$code"
