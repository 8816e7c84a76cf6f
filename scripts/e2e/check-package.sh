#!/usr/bin/env bash
# Checks the Debian package: what it holds, what it depends on, that apt could
# install it here, that its desktop entry and AppStream data are valid, and
# that the program it installs starts (unpacked into a temporary root).
#
#   scripts/e2e/check-package.sh PACKAGE.deb OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 2 ]] || { echo "usage: $0 PACKAGE.deb OUT_DIR" >&2; exit 2; }
deb=$(realpath "$1")
out=$2

fail() { echo "package check FAILED: $*" >&2; exit 1; }
ok() { echo "[package] ok: $*"; }

dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
printf '%s\n' "$contents"

for f in ./usr/bin/kestoide ./usr/share/applications/kestoide.desktop \
    ./usr/share/icons/hicolor/scalable/apps/kestoide.svg \
    ./usr/share/metainfo/io.github.kestoide.metainfo.xml; do
    grep -qxF "$f" <<<"$contents" || fail "$f is missing"
done
ok "program, desktop entry, icon and metainfo are in the package"
if grep -Ei 'ruderari|zozevadi|tst_|bench' <<<"$contents"; then
    fail "the package holds files that are not the program's"
fi
ok "no lab tools, tests or benchmarks in the package"

depends=$(dpkg-deb --field "$deb" Depends)
for dep in libqt6widgets6 libqscintilla2-qt6-15 qt6-translations-l10n; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
ok "Depends: $depends"
apt-get install --simulate --no-install-recommends "$deb" >/dev/null ||
    fail "apt cannot install $deb here"
ok "apt could install it"

root=$(mktemp -d /tmp/kestoide-deb.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg-deb --extract "$deb" "$root"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/kestoide.desktop"
    ok "desktop entry is valid"
else
    echo "[package] desktop-file-validate not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/io.github.kestoide.metainfo.xml"
    ok "AppStream metainfo is valid"
else
    echo "[package] appstreamcli not installed: metainfo not validated"
fi

bash "$here/smoke.sh" "$root/usr/bin/kestoide" "$out"
ok "the unpacked program starts and finds its tools in /usr/bin's place"
