#!/usr/bin/env bash
# cmake --install puts the program, its desktop entry, the hicolor icons and the udev rule in
# place, and the entry names the program, the icon and the window class.
# Usage: install-test.sh <build dir>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/VelmorHL73Updater" ] || fail "program not installed"
desktop="$prefix/share/applications/velmorhl73updater.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx "Exec=VelmorHL73Updater" "$desktop" || fail "desktop entry does not start the program"
grep -qx "StartupWMClass=VelmorHL73Updater" "$desktop" || fail "desktop entry has the wrong window class"
icon=$(sed -n 's/^Icon=//p' "$desktop")

for size in 16 32 48 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "no ${size}px icon"
    geometry=$(identify -format '%wx%h %[channels]' "$png")
    case "$geometry" in
        "${size}x${size} srgba"*) ;;
        *) fail "${size}px icon is $geometry" ;;
    esac
done

rules=$(ls "$prefix"/lib/udev/rules.d/*.rules)
grep -q 'TAG+="uaccess"' $rules || fail "udev rule gives no uaccess"
grep -q 'ID_MM_DEVICE_IGNORE' $rules || fail "udev rule does not keep ModemManager away"
echo PASS
