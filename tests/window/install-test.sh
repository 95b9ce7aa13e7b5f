#!/usr/bin/env bash
# cmake --install puts the program, its desktop entry, the hicolor icons, the metainfo and the
# manual page under the prefix, and the udev rule in udev's own folder whatever the prefix (both
# under DESTDIR, so nothing of the machine is touched); the entry names the program, the icon and
# the window class.
# Usage: install-test.sh <build dir>
set -euo pipefail
build=$1
destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

log="$destdir/install.log"
DESTDIR="$destdir" cmake --install "$build" --prefix /usr/local >"$log" 2>&1 || { cat "$log"; fail "cmake --install"; }
# Every file went under DESTDIR.
while read -r _ what path; do
    case "$what $path" in
        "Install configuration:"* | "Installing: $destdir/"* | "Up-to-date: $destdir/"*) ;;
        *) fail "installed outside DESTDIR: $what $path" ;;
    esac
done < <(grep '^-- ' "$log")

prefix="$destdir/usr/local"
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

# The metainfo's id is the maker's domain reversed and names its file; it points at the entry.
host=$(sed -n 's/^HL73_MAKER_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml)
id=$(sed -n 's|.*<id>\(.*\)</id>.*|\1|p' "$metainfo")
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "metainfo file $(basename "$metainfo") for id $id"
grep -q "<launchable type=\"desktop-id\">velmorhl73updater.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not name the desktop entry"
grep -q "<image>https://$host/" "$metainfo" || fail "metainfo's screenshot is not on $host"
[ -f "$prefix/share/man/man1/VelmorHL73Updater.1" ] || fail "no manual page"

# The rule goes where udev reads it: pkg-config's udevdir when udev is installed, else
# /usr/lib/udev/rules.d, never under the prefix (unless the build was told so).
rules_dir=$(sed -n 's/^HL73_UDEV_RULES_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
udevdir=$(pkg-config --variable=udevdir udev 2>/dev/null || true)
expected="${udevdir:-/usr/lib/udev}/rules.d"
[ "$rules_dir" = "$expected" ] || echo "note: the build was configured with HL73_UDEV_RULES_DIR=$rules_dir"
rules=$(ls "$destdir$rules_dir"/*.rules) || fail "no udev rule in $rules_dir"
grep -q 'TAG+="uaccess"' $rules || fail "udev rule gives no uaccess"
grep -q 'ID_MM_DEVICE_IGNORE' $rules || fail "udev rule does not keep ModemManager away"
echo PASS
