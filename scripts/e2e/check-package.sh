#!/usr/bin/env bash
# Checks the Debian package: what it holds, what it depends on, that apt could
# install it here, that its desktop entry and AppStream data are valid, that
# the system then takes *.asm files for its file type, and that the program it
# installs starts (unpacked into a temporary root). The same file type is
# checked in a tree that `make install DESTDIR=... PREFIX=/usr` wrote.
#
#   scripts/e2e/check-package.sh PACKAGE.deb INSTALLED_TREE OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 3 ]] || { echo "usage: $0 PACKAGE.deb INSTALLED_TREE OUT_DIR" >&2; exit 2; }
deb=$(realpath "$1")
installed=$(realpath "$2")
out=$3

fail() { echo "package check FAILED: $*" >&2; exit 1; }
ok() { echo "[package] ok: $*"; }

dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
printf '%s\n' "$contents"

for f in ./usr/bin/kestoide ./usr/bin/kestoide-run ./usr/share/applications/kestoide.desktop \
    ./usr/share/icons/hicolor/scalable/apps/kestoide.svg \
    ./usr/share/metainfo/io.github.kestoide.metainfo.xml \
    ./usr/share/mime/packages/kestoide.xml ./usr/share/doc/kestoide/copyright; do
    grep -qxF "$f" <<<"$contents" || fail "$f is missing"
done
ok "program, its tool helper, desktop entry, icon, metainfo, file type and copyright are in the package"
# The MIME database is shared-mime-info's to build (its dpkg trigger does):
# a file of it in the package would clash with every other package's.
if grep -E '^\./usr/share/mime/.' <<<"$contents" | grep -vxF -e ./usr/share/mime/packages/ \
    -e ./usr/share/mime/packages/kestoide.xml; then
    fail "the package holds files of the MIME database"
fi
ok "no file of the MIME database itself in the package"
if grep -Ei 'ruderari|zozevadi|tst_|bench' <<<"$contents"; then
    fail "the package holds files that are not the program's"
fi
ok "no lab tools, tests or benchmarks in the package"

depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6widgets6 libqscintilla2-qt6-15 qt6-translations-l10n xterm; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
ok "Depends: $depends"
recommends=$(dpkg-deb --field "$deb" Recommends)
grep -qE "(^|, )wine( |,|$)" <<<"$recommends" || fail "Recommends lacks wine: $recommends"
ok "Recommends: $recommends"
apt-get install --simulate --no-install-recommends "$deb" >/dev/null ||
    fail "apt cannot install $deb here"
ok "apt could install it"

root=$(mktemp -d /tmp/kestoide-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg-deb --extract "$deb" "$root"
entry="$root/usr/share/applications/kestoide.desktop"
metainfo="$root/usr/share/metainfo/io.github.kestoide.metainfo.xml"
desktop-file-validate "$entry"
ok "desktop entry is valid"
appstreamcli validate --no-net --pedantic "$metainfo"
ok "AppStream metainfo is valid"

# A file manager hands the file to the program; the settings file lands in
# the folder the launcher starts it in (the home folder), so no Path=.
for line in 'Exec=kestoide %f' 'MimeType=text/x-asm;'; do
    grep -qxF "$line" "$entry" || fail "desktop entry lacks [$line]"
done
! grep -q '^Path=' "$entry" || fail "desktop entry sets a working folder"
ok "desktop entry opens *.asm files, from no folder of its own"
grep -qF '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" ||
    fail "metainfo names no GPL-3.0-or-later license"
grep -qF '<mediatype>text/x-asm</mediatype>' "$metainfo" || fail "metainfo names no file type"
ok "metainfo names the license and the file type"
copyright="$root/usr/share/doc/kestoide/copyright"
grep -qxF 'License: GPL-3+' "$copyright" && grep -qF /usr/share/common-licenses/GPL-3 "$copyright" ||
    fail "copyright does not license the program GPL-3+"
ok "copyright: GPL-3+"

# The type a desktop gives a file, from the MIME databases under a share folder.
type_of() { # share-dir file
    local home
    home=$(mktemp -d)
    XDG_DATA_HOME=$home XDG_DATA_DIRS="$1:/usr/share" gio info -a standard::content-type "$2" |
        awk '/standard::content-type:/ { print $2 }'
    rm -rf "$home"
}
samples=$(mktemp -d)
trap 'rm -rf "$root" "$samples"' EXIT
printf 'START:  NOP\r\n' >"$samples/prog.asm"
cp "$samples/prog.asm" "$samples/STARY.ASM"
echo "[package] without the package: $(type_of "$samples/none" "$samples/prog.asm")"
expect_asm() { # share-dir where
    local f type
    for f in prog.asm STARY.ASM; do
        type=$(type_of "$1" "$samples/$f")
        [[ $type == text/x-asm ]] || fail "$2: $f is of type [$type], not text/x-asm"
    done
    ok "$2: *.asm files are of type text/x-asm"
}
# What shared-mime-info's trigger does once the package is installed.
XDG_DATA_DIRS="$root/usr/share" update-mime-database "$root/usr/share/mime"
expect_asm "$root/usr/share" "package"
[[ -f $installed/usr/share/mime/mime.cache ]] || fail "make install did not update the MIME database"
expect_asm "$installed/usr/share" "make install"
cmp -s "$installed/usr/share/doc/kestoide/copyright" "$copyright" || fail "make install lacks the copyright"
ok "make install: the same copyright"

# Without a display, as over ssh.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/kestoide" --version) ||
    fail "kestoide --version failed without a display"
[[ $version == "kestoide (KESTO IDE) "* ]] || fail "kestoide --version printed [$version]"
ok "kestoide --version without a display: ${version%%$'\n'*}"

bash "$here/smoke.sh" "$root/usr/bin/kestoide" "$out"
ok "the unpacked program starts and finds its tools in /usr/bin's place"

# make install into a prefix that is not on PATH, with a blank and a Polish
# letter in it: the entry names the program by its full path, and a start
# through the entry, as a double-click does it, finds it.
prefix_root=$(mktemp -d /tmp/kestoide-prefix.XXXXXX)
trap 'rm -rf "$root" "$samples" "$prefix_root"' EXIT
prefix="$prefix_root/mój program"
cmake --install "$(dirname "$deb")" --component kestoide --prefix "$prefix" >/dev/null
prefix_entry="$prefix/share/applications/kestoide.desktop"
grep -qxF "Exec=\"$prefix/bin/kestoide\" %f" "$prefix_entry" ||
    fail "the entry of make install PREFIX=\"$prefix\" reads [$(grep ^Exec= "$prefix_entry")]"
desktop-file-validate "$prefix_entry"
ok "make install PREFIX=...: the entry names $prefix/bin/kestoide"
SMOKE_ENTRY="$prefix_entry" bash "$here/smoke.sh" "$prefix/bin/kestoide" "$out/prefix"
ok "started through its entry, with PATH=/usr/bin:/bin, it works"
