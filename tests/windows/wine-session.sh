# Sourced by the Wine tests: a private Wine prefix, copied from the build's template prefix, with
# its own wineserver; both end with the script. Registry changes, installs and running instances
# therefore never meet another test's.
#
# Needs HL73_WINE_TEMPLATE (made by make-wine-template.sh at build time).

set -euo pipefail

: "${HL73_WINE_TEMPLATE:?HL73_WINE_TEMPLATE names the template Wine prefix}"
[ -f "$HL73_WINE_TEMPLATE/.ready" ] || { echo "wine-session: no template prefix at $HL73_WINE_TEMPLATE (build the wine_template target)" >&2; exit 1; }

export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their install prompts would block. No menu
# builder: it would copy the installer's Start-menu entries into the Linux desktop's menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

wine_prefix_parent=$(mktemp -d)
export WINEPREFIX="$wine_prefix_parent/prefix"

wine_cleanup()
{
    # Ends every process of this prefix with its wineserver, then removes the prefix.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$wine_prefix_parent"
}

# Hard links keep the copy cheap: most of a prefix is DLLs and programs that nothing writes.
# Every other file (registry, .ini, .inf...) is a real copy, so that nothing a test does can
# change the template. Another file system gets a real copy throughout.
if cp -al "$HL73_WINE_TEMPLATE" "$WINEPREFIX" 2>/dev/null; then
    (
        cd "$HL73_WINE_TEMPLATE"
        find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
            -o -iname '*.nls' -o -iname '*.ttf' -o -iname '*.fon' -o -iname '*.tlb' -o -iname '*.ocx' \
            -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.ax' -o -iname '*.ds' -o -iname '*.com' \) \
            -exec cp --remove-destination --parents -t "$WINEPREFIX" {} +
    )
else
    rm -rf "$WINEPREFIX"
    cp -a "$HL73_WINE_TEMPLATE" "$WINEPREFIX"
fi

# Wine's background services inherit the first Wine process's output: start them with theirs
# going nowhere, so that a caller reading the test's output is not held until the session ends.
wine_start_session()
{
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}
