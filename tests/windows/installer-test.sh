#!/usr/bin/env bash
# The installer under Wine: a silent install (for all users or for the current user), the
# Start-menu entry and the Apps & features entry, the installed program opening its window and
# closing with code 0, then a silent uninstall that leaves nothing behind.
# Usage: installer-test.sh <template prefix> <setup.exe> all|user
export HL73_WINE_TEMPLATE=$1
setup=$2
mode=$3
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/../window/x11-session.sh"
source "$here/wine-session.sh"

title="VelmorHL73Updater Version 1.1.0"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmorHL73Updater'
work=$(mktemp -d)
trap 'x11_cleanup; wine_cleanup; rm -rf "$work"' EXIT

case $mode in
    all)
        switch=/AllUsers
        hive=HKLM
        dir="$WINEPREFIX/drive_c/Program Files/VelmorHL73Updater"
        menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" ;;
    user)
        switch=/CurrentUser
        hive=HKCU
        dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/VelmorHL73Updater"
        menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs" ;;
    *) fail "unknown mode $mode" ;;
esac

start_x11
wine_start_session

# Everything in the prefix, but what Wine itself keeps changing and the per-user program folder
# (a known folder of Windows that an install creates when missing and that other programs share).
snapshot()
{
    (cd "$WINEPREFIX/drive_c" && find . ! -path './windows/*' ! -path './users/*/Temp*' \
        ! -path './users/*/AppData/Local/Temp*' ! -path './users/*/AppData/Local/Programs' | sort)
}
snapshot >"$work/before"

echo "installing ($switch)"
timeout 120 wine "$setup" /S "$switch" || fail "the installer failed ($?)"
wineserver -w

[ -f "$dir/VelmorHL73Updater.exe" ] || fail "no program in $dir"
[ -f "$dir/Uninstall.exe" ] || fail "no uninstaller in $dir"
[ -f "$menu/VelmorHL73Updater.lnk" ] || fail "no Start-menu entry in $menu"
wine reg query "$hive\\$key" >"$work/key" 2>/dev/null || fail "no uninstall entry in $hive"
tr -d '\r' <"$work/key" | grep -E 'DisplayName|DisplayVersion|Publisher|DisplayIcon|UninstallString'
grep -q 'DisplayVersion.*1\.1\.0' "$work/key" || fail "uninstall entry without DisplayVersion 1.1.0"
grep -q 'Publisher.*Kestrelworks' "$work/key" || fail "uninstall entry without the publisher"
grep -q 'DisplayIcon.*VelmorHL73Updater.exe' "$work/key" || fail "uninstall entry without the icon"

# The installed program starts, shows its window and ends with code 0 when it is closed.
wine "$dir/VelmorHL73Updater.exe" &
pid=$!
x11_pids+=($pid)
win=$(wait_for_window "$title" 60) || fail "the installed program shows no window"
wmctrl -i -c "$win"
wait_for_exit "$pid" 30 || fail "the installed program still runs 30 s after close"
[ "$exit_code" = 0 ] || fail "the installed program exited with $exit_code"

echo "uninstalling"
# The uninstaller copies itself to a temporary folder and runs from there: wait for the session.
timeout 120 wine "$dir/Uninstall.exe" /S || fail "the uninstaller failed ($?)"
timeout 120 wineserver -w || fail "the uninstaller did not finish"

snapshot >"$work/after"
if ! diff "$work/before" "$work/after"; then
    fail "the uninstall left files behind (above)"
fi
wine reg query "$hive\\$key" >/dev/null 2>&1 && fail "the uninstall entry is still there"
grep -il velmor "$WINEPREFIX"/*.reg && fail "the registry still names the program"
echo PASS
