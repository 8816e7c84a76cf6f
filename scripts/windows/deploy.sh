#!/usr/bin/env bash
# The folder ready to run: kestoide.exe and its helper kestoide-run.exe, which
# runs the lab's tools in their console, the DLLs the program needs (found from its
# imports, and those of its plugins, in the SDK), the platform and style
# plugins, Qt's Polish translation, the licence texts of all of it and a
# read-me in Polish. Built beside its place and moved there whole.
#
#   scripts/windows/deploy.sh BUILD_DIR OUT_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1") out=$(realpath -m "$2") version=$3
sdk=$(sed -n 's/^KESTO_WIN_SDK:[A-Z]*=//p' "$build/CMakeCache.txt")
mingw=x86_64-w64-mingw32
docs=/usr/share/doc

part="$out.partial"
rm -rf "$part"
mkdir -p "$part"/{platforms,styles,translations,licenses}
"$mingw-strip" -o "$part/kestoide.exe" "$build/ide/kestoide.exe"
"$mingw-strip" -o "$part/kestoide-run.exe" "$build/ide/kestoide-run.exe"
cp "$sdk/plugins/platforms/qwindows.dll" "$sdk/plugins/platforms/qminimal.dll" "$part/platforms/"
cp "$sdk/plugins/styles/qwindowsvistastyle.dll" "$part/styles/"

# Every DLL of the SDK that the program or a plugin imports, and what those import.
imports() { "$mingw-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }
pending=("$part/kestoide.exe" "$part/kestoide-run.exe" "$part"/platforms/*.dll "$part"/styles/*.dll)
while ((${#pending[@]})); do
    file=${pending[0]}
    pending=("${pending[@]:1}")
    while read -r dll; do
        found=$(find "$sdk/bin" -maxdepth 1 -iname "$dll" -print -quit)
        if [[ -n $found && ! -e $part/$(basename "$found") ]]; then
            cp "$found" "$part/"
            pending+=("$part/$(basename "$found")")
        fi
    done < <(imports "$file")
done

cp /usr/share/qt6/translations/qtbase_pl.qm "$part/translations/"

# Text files for Notepad: CR LF; the Polish ones in the lab's code page.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
lic="$part/licenses"
crlf "$here/../../LICENSE" "$lic/KESTO-IDE-GPL-3.txt"
crlf "$docs/libqt6core6/copyright" "$lic/Qt-copyright.txt"
crlf "$docs/qt6-translations-l10n/copyright" "$lic/Qt-translations-copyright.txt"
crlf "$docs/libqscintilla2-qt6-15/copyright" "$lic/QScintilla-copyright.txt"
crlf "$docs/gcc-mingw-w64-x86-64-posix-runtime/copyright" "$lic/GCC-runtime-copyright.txt"
crlf "$docs/mingw-w64-common/copyright" "$lic/MinGW-w64-copyright.txt"
crlf "$docs/libwine/copyright" "$lic/Wine-copyright.txt"
for l in GPL-2 GPL-3 LGPL-2.1 LGPL-3; do crlf "/usr/share/common-licenses/$l" "$lic/$l.txt"; done
crlf "$here/../../packaging/windows/licenses.txt" "$lic/CZYTAJ.txt"
sed "s/@VERSION@/$version/" "$here/../../packaging/windows/CZYTAJ.txt" | iconv -f UTF-8 -t CP1250 |
    sed 's/\r*$/\r/' >"$part/CZYTAJ.txt"

rm -rf "$out"
mv "$part" "$out"
