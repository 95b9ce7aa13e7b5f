#!/usr/bin/env bash
# Installs the Debian package with apt into a throwaway copy of this machine (a private mount
# namespace with copy-on-write layers over /usr, /etc and /var, and no network), checks that
# its files are where they belong, that its Depends cover every library the program loads, that
# the installed program shows its window, and that purging it leaves nothing behind. The machine
# itself is checked to be unchanged afterwards.
# Usage: package-test.sh <folder holding the .deb>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
name=velmorhl73updater
program=VelmorHL73Updater
title="VelmorHL73Updater Version 1.1.0"
skip=77

fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$(ls "$1/${name}"_*.deb 2>/dev/null | head -n 1) || true
[ -n "$deb" ] || fail "no $name .deb in $1 (scripts/package builds it)"
deb=$(realpath "$deb")

# The package's own files (not its folders), as /path.
package_files() { dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|'; }

# What the machine shows of the package: its dpkg state and which of its files exist.
host_state()
{
    dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' "$name" 2>/dev/null || echo "not known to dpkg"
    local f
    while read -r f; do
        [ -e "$f" ] || [ -L "$f" ] && echo "present: $f"
    done < <(package_files)
    return 0
}

if [ "${HL73_PACKAGE_TEST_INSIDE:-}" != 1 ]; then
    before=$(host_state)
    if [ "$before" != "not known to dpkg" ]; then
        echo "SKIP: this machine already has the package or some of its files:"
        echo "$before"
        exit $skip
    fi
    # A user namespace does not do: the machine's folders stay owned by a root it cannot map,
    # so dpkg could not write into even a private copy of them.
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: installing a package, even into a private copy of the machine, needs root"
        exit $skip
    fi
    # A PID namespace too, so that whatever ends this test ends everything it started. The work
    # folder is a tmpfs inside the namespaces, mounted on an empty folder of our own: the source
    # tree and the .deb may themselves be under /tmp, so /tmp itself stays as it is.
    work=$(mktemp -d)
    code=0
    HL73_PACKAGE_TEST_INSIDE=1 HL73_PACKAGE_TEST_WORK="$work" \
        unshare --mount --net --pid --fork --kill-child --mount-proc "$0" "$@" || code=$?
    rmdir "$work" 2>/dev/null || true
    after=$(host_state)
    [ "$after" = "$before" ] || fail "the machine was changed: $after"
    echo "the machine is unchanged: no $name in dpkg, none of its files"
    exit $code
fi

# ---- inside the namespaces ----
mount --make-rprivate /
work=$HL73_PACKAGE_TEST_WORK
mount -t tmpfs tmpfs "$work"
for d in usr etc var; do
    mkdir -p "$work/lower/$d" "$work/upper/$d" "$work/overlay-work/$d"
    mount --bind "/$d" "$work/lower/$d"
    mount -t overlay overlay \
        -o "lowerdir=$work/lower/$d,upperdir=$work/upper/$d,workdir=$work/overlay-work/$d" "/$d"
done
# No daemon of the machine (udevd, systemd, D-Bus) can be reached from here.
mount -t tmpfs tmpfs /run
export HOME="$work/home" DEBIAN_FRONTEND=noninteractive
mkdir -p "$HOME"
apt_options=(-y -q --no-install-recommends)

step() { printf '%s  %s\n' "$(date +%T)" "$*"; }

# The manual page index is not under test here, and rebuilding it is most of a trigger run.
rm -f /var/lib/man-db/auto-update

step "apt-get install $deb"
apt-get install "${apt_options[@]}" "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }
[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$name")" = "ii " ] || fail "dpkg does not show the package installed"

step "files"
desktop=/usr/share/applications/$name.desktop
[ -x "/usr/bin/$program" ] || fail "no /usr/bin/$program"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ "$(command -v "$exec_line")" = "/usr/bin/$program" ] || fail "the desktop entry starts '$exec_line'"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 32 48 256; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] || fail "no ${size}px hicolor icon '$icon'"
done
metainfo=$(dpkg -L "$name" | grep "^/usr/share/metainfo/.*\.metainfo\.xml$") || fail "no metainfo in /usr/share/metainfo"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
grep -q "<launchable type=\"desktop-id\">$name.desktop</launchable>" "$metainfo" || fail "metainfo does not name the desktop entry"
grep -q "<binary>$program</binary>" "$metainfo" || fail "metainfo does not name the program"
grep -q '<image>https://.*\.png</image>' "$metainfo" || fail "metainfo has no screenshot"
zcat "/usr/share/man/man1/$program.1.gz" | grep -q "^\.TH VELMORHL73UPDATER 1" || fail "no manual page"
man -l "/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null | grep . && fail "the manual page has formatting warnings"
copyright=/usr/share/doc/$name/copyright
head -n 1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "copyright is not machine-readable"
grep -qx 'License: GPL-3.0-or-later' "$copyright" || fail "copyright does not give GPL-3.0-or-later"
# Debian 12's udev reads /lib/udev/rules.d (where debhelper puts rules) and notices a new rules
# file by itself. No maintainer script may call udevadm: from a chroot or a namespace like this
# one it would reach the machine's udevd.
rule=/lib/udev/rules.d/60-velmorhl73.rules
dpkg -L "$name" | grep -qx "$rule" || fail "the udev rule is not at $rule"
grep -q 'TAG+="uaccess"' "$rule" || fail "the udev rule gives no uaccess"
! grep -qs udevadm /var/lib/dpkg/info/"$name".* || fail "a maintainer script calls udevadm"
dpkg-deb -f "$deb" Recommends | grep -qw udisks2 || fail "the package does not recommend udisks2"

step "the installed program shows its window"
source "$here/../window/x11-session.sh"
start_x11
"$exec_line" >"$work/program.log" 2>&1 &
pid=$!
x11_pids+=($pid)
win=$(wait_for_window "$title" 30) || fail "no window titled '$title' ($(cat "$work/program.log"))"
# The libraries the running program has loaded, those JUCE opens with dlopen included.
awk '$6 ~ /\.so/ { print $6 }' "/proc/$pid/maps" | sort -u >"$work/maps.txt"
xprop -id "$win" WM_CLASS | grep -q "\"$(sed -n 's/^StartupWMClass=//p' "$desktop")\"" \
    || fail "the window's class does not match the desktop entry's StartupWMClass"
wmctrl -i -c "$win"
wait_for_exit "$pid" 10 || fail "still running 10 s after close"
[ "$exit_code" = 0 ] || fail "exit code $exit_code after close"
x11_cleanup

step "Depends against what the program loaded"
depends=$(dpkg-query -W -f='${Depends}' "$name")
echo "Depends: $depends"
shlibs='libc6 \(>= [0-9]'
[[ "$depends" =~ $shlibs ]] || fail "Depends was not computed by dpkg-shlibdeps"
ldd "/usr/bin/$program" >"$work/ldd.txt"
! grep 'not found' "$work/ldd.txt" || fail "the program misses libraries"
# Every package the Depends pull in, directly or through others.
closure=$(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances "$name" | grep -v '^ ' | sed 's/:.*//' | sort -u)
# Besides the libraries: fonts.conf, where JUCE finds the font folders (its package depends on a
# font). The CA bundle is made by ca-certificates' own script and belongs to no package, so that
# package is checked by name.
needed=$({
    awk '/=> \// { print $3 } /^\t\/.*\(0x/ { print $1 }' "$work/ldd.txt"
    cat "$work/maps.txt"
    echo /etc/fonts/fonts.conf
} | sort -u)
grep -qx ca-certificates <<<"$closure" || fail "the Depends do not pull in ca-certificates"
# Each file's package, by one dpkg -S for all of them: dpkg knows a file by the path its package
# ships, so each is looked up as given, with /lib and /usr/lib swapped, and resolved.
mapfile -t paths <<<"$needed"
swap() { sed 's|^/usr/lib/|/lib/|; t; s|^/lib/|/usr/lib/|'; }
paste <(printf '%s\n' "${paths[@]}") <(printf '%s\n' "${paths[@]}" | swap) <(realpath "${paths[@]}") >"$work/paths.txt"
tr '\t' '\n' <"$work/paths.txt" | sort -u | xargs dpkg -S >"$work/owners.txt" 2>/dev/null || true
printf '%s\n' "$closure" >"$work/closure.txt"
problems=$(awk -F'\t' '
    FILENAME == ARGV[1] { pulled[$0] = 1; next }
    FILENAME == ARGV[2] && /^diversion by/ { next }
    FILENAME == ARGV[2] { i = index($0, ": "); split(substr($0, 1, i - 1), p, /[:,]/); owner[substr($0, i + 2)] = p[1]; next }
    {
        package = owner[$1] ? owner[$1] : owner[$2] ? owner[$2] : owner[$3]
        if (package == "") print "no package owns " $1
        else if (! pulled[package]) print $1 " comes from " package ", which the Depends do not pull in"
    }' "$work/closure.txt" "$work/owners.txt" "$work/paths.txt")
[ -z "$problems" ] || fail "$problems"
count=${#paths[@]}
echo "$count libraries and files, all from packages the Depends pull in"

step "apt-get remove --purge"
apt-get remove --purge "${apt_options[@]}" "$name" >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove --purge"; }
dpkg-query -W "$name" >/dev/null 2>&1 && fail "dpkg still knows the package after the purge"
while read -r f; do
    [ -e "$f" ] || [ -L "$f" ] && fail "$f is still there after the purge"
done < <(package_files)

# What the install and purge changed, read from the copy-on-write layers: besides the package
# manager's own records, caches and logs, nothing may be new or gone.
left=$(cd "$work/upper" && find . -mindepth 1 \( -type d -o -type f -o -type l -o -type c \) | sed 's|^\./||' |
    while read -r p; do
        case "$p" in
            var/lib/dpkg/* | var/lib/apt/* | var/lib/man-db/* | var/cache/* | var/log/* | var/tmp/*) continue ;;
            usr/share/icons/hicolor/icon-theme.cache | usr/share/applications/mimeinfo.cache) continue ;;
        esac
        if [ -c "$work/upper/$p" ]; then
            echo "removed: /$p"
        elif [ ! -e "$work/lower/$p" ] && [ ! -L "$work/lower/$p" ]; then
            echo "new: /$p"
        fi
    done)
[ -z "$left" ] || fail "the install and purge left this behind: $left"
# Nor anything of the package's among those records and caches (the lock file in /var/tmp is
# the program's, from its run above).
left=$(cd "$work/upper" && find . -path ./var/tmp -prune -o -iname "*$name*" ! -name "*.log" -print | sed 's|^\./|/|')
[ -z "$left" ] || fail "the purge left this behind: $left"
step "purged: nothing left behind"
echo PASS
