#!/usr/bin/env bash
# The Windows program file, read without running it: a windowed 64-bit program that imports
# system DLLs only (runtime linked statically), with both icon groups at every size, the version
# block and the manifest. Usage: program-file-test.sh <VelmorHL73Updater.exe>
set -euo pipefail
program=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$(x86_64-w64-mingw32-objdump -p "$program")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a windowed (GUI subsystem) program"
grep -q '^Magic.*020b' <<<"$headers" || fail "not a 64-bit (PE32+) program"

# Imports: only DLLs every Windows has; no runtime DLL from the compiler (libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll) nor any library's DLL (zlib1.dll, libpng16.dll...).
system_dlls='^(advapi32|comdlg32|dxgi|gdi32|imm32|kernel32|msvcrt|ole32|oleaut32|shell32|shlwapi|user32|version|wininet|winmm|ws2_32|wsock32|comctl32|crypt32|d2d1|dwrite|setupapi|cfgmgr32|opengl32|uxtheme|dwmapi|shcore|winhttp|bcrypt|rpcrt4|userenv|iphlpapi|netapi32)\.dll$'
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(echo $imports)"
others=$(grep -Ev "$system_dlls" <<<"$imports" || true)
[ -z "$others" ] || fail "imports non-system DLLs: $others"

resources=$(x86_64-w64-mingw32-windres -J coff -i "$program" -O rc 2>/dev/null)

# Two icon groups, IDI_ICON1 then IDI_ICON2, each with 16, 24, 32, 48, 64 and 256 (stored as 0)
# pixel images at 32 bits per pixel.
for group in IDI_ICON1 IDI_ICON2; do
    sizes=$(awk -v g="\"$group\" 14" '$0 ~ g { on = 1; next } on && /^END/ { exit }
              on && /Element no/ { print }' <<<"$resources" \
            | sed -E 's/^ *"\\([0-7]{3}).*, 1, ([0-9]+), .*/\1 \2/' \
            | while read -r octal bits; do echo "$((8#$octal))x$bits"; done | tr '\n' ' ')
    echo "$group: $sizes"
    [ "$sizes" = "16x32 24x32 32x32 48x32 64x32 0x32 " ] || fail "$group holds '$sizes'"
done
first=$(grep -m1 -oE '"IDI_ICON[0-9]+" 14' <<<"$resources")
[ "$first" = '"IDI_ICON1" 14' ] || fail "the first icon group is $first, not IDI_ICON1"

expect() { grep -qF -- "$1" <<<"$resources" || fail "no $1 in the resources"; }
expect 'FILEVERSION 1, 1, 0, 0'
expect 'PRODUCTVERSION 1, 1, 0, 0'
expect 'VALUE "CompanyName", "Kestrelworks"'
expect 'VALUE "FileDescription", "VelmorHL73Updater"'
expect 'VALUE "ProductName", "VelmorHL73Updater"'
expect 'VALUE "FileVersion", "1.1.0"'
expect 'VALUE "ProductVersion", "1.1.0"'
[ "$(grep -c 'RT_MANIFEST' <<<"$resources")" = 1 ] || fail "not exactly one manifest"
expect 'requestedExecutionLevel level=""asInvoker""'
expect 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
expect 'PerMonitorV2'
[ "$(grep -c ' VERSIONINFO' <<<"$resources")" = 1 ] || fail "not exactly one version block"
echo PASS
