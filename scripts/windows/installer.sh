#!/usr/bin/env bash
# The NSIS installer of the folder ready to run (packaging/windows/kestoide.nsi).
# The lists of what it installs and removes are made from the folder itself,
# so that the uninstaller removes exactly that.
#
#   scripts/windows/installer.sh FOLDER ICON OUT_EXE VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(realpath "$1") icon=$(realpath "$2") out=$(realpath -m "$3") version=$4
lists=$(mktemp -d)
trap 'rm -rf "$lists"' EXIT

win() { printf '%s' "${1//\//\\}"; } # a relative path with backslashes
{
    while read -r dir; do
        rel=${dir#"$src"}
        printf 'SetOutPath "$INSTDIR%s"\n' "$(win "$rel")"
        find "$dir" -maxdepth 1 -type f -printf '%f\n' | sort | while read -r f; do
            printf 'File "%s/%s"\n' "$dir" "$f"
        done
    done < <(find "$src" -type d | sort)
    printf 'SetOutPath "$INSTDIR"\n'
} >"$lists/files.nsh"
{
    (cd "$src" && find . -type f | sort) | while read -r f; do
        printf 'Delete "$INSTDIR\\%s"\n' "$(win "${f#./}")"
    done
    # Folders deepest first, each only once it is empty.
    (cd "$src" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
        printf 'RMDir "$INSTDIR\\%s"\n' "$(win "${d#./}")"
    done
} >"$lists/uninstall.nsh"

rm -f "$out"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$src" -DLISTS="$lists" -DICON="$icon" \
    -DOUTFILE="$out" "$here/../../packaging/windows/kestoide.nsi"
