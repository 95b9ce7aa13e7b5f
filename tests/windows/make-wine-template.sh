#!/usr/bin/env bash
# Makes the template Wine prefix that every Wine test copies (wineboot takes several seconds:
# once per build, not per test). Usage: make-wine-template.sh <prefix folder>
set -euo pipefail
target=$1
rm -rf "$target" "$target.new"
export WINEPREFIX="$target.new" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Output to /dev/null: the services wineboot starts would otherwise hold the caller's pipe open.
wine wineboot --init >/dev/null 2>&1 </dev/null
wineserver -w
touch "$WINEPREFIX/.ready"
mv "$WINEPREFIX" "$target"
