#!/usr/bin/env bash
# The Windows installer end to end, under Wine in Xvfb: installed silently
# into a fresh prefix where .asm files already have a default program; the
# program started through its Start-menu shortcut, which starts it in the
# user's Documents (kestoide.ini appears there); the lab's tools put beside
# it; uninstalled silently: nothing of the program is left, every file of the
# user and the lab is, and so is the .asm type's default.
#
#   scripts/e2e/windows-setup.sh BUILD_WIN OUT_DIR
set -euo pipefail
source "$(dirname "$0")/windows-begin.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
setup="$build/kestoide-$version-setup.exe"

prefix="$build/wine-setup"
[[ -d $prefix ]] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "$prefix"
wine_prefix "$prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT
on_failure() { shot setup-failure || true; }
drive="$prefix/drive_c"
installed="$drive/Program Files/KESTO IDE"
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\KESTO IDE.lnk'
documents="$drive/users/$(id -un)/Documents"
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'; }
reg_default() { wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ { sub(/.*REG_SZ +/, ""); print }'; }

# Another program is the default for .asm already.
wine reg add 'HKLM\Software\Classes\.asm' /ve /d asmfile /f >/dev/null 2>&1
wine "$(wine_path "$setup")" /S
wineserver -w
[[ -f $installed/kestoide.exe && -f $installed/odinstaluj.exe && -f $installed/platforms/qwindows.dll ]] ||
    fail "nothing installed in $installed"
log "ok: installed into C:\\Program Files\\KESTO IDE"
expect_eq "the Open-with command" "$(reg_default 'HKLM\Software\Classes\Applications\kestoide.exe\shell\open\command')" \
    '"C:\Program Files\KESTO IDE\kestoide.exe" "%1"'
expect_eq ".asm default after installing" "$(reg_default 'HKLM\Software\Classes\.asm')" asmfile

# The lab's tools beside the program, and the user's own files.
cp "$build/standin/standin-ansi.exe" "$installed/ruderari.exe"
cp "$build/standin/standin-unicode.exe" "$installed/zozevadi.exe"
mkdir -p "$documents"
printf 'NOP\r\n' >"$documents/moj.asm"

cd "$drive"
wine start "$shortcut"
warning=$(wait_window '^KESTOIDE$')
focus "$warning"
key Return
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [noname.asm]"
expect_file_bytes "kestoide.ini in the user's Documents (%USERPROFILE% expanded)" "$documents/kestoide.ini" '1\r\n'
shot 12-installed
focus "$main"
key alt+e
sleep 1
key Left k
wait_window_gone "$main"

wine "C:\\Program Files\\KESTO IDE\\odinstaluj.exe" /S
wineserver -w # the uninstaller starts again from a copy of itself and returns at once
expect_eq "what is left in the program's folder" "$(cd "$installed" && find . -type f | sort | tr '\n' ' ')" \
    "./ruderari.exe ./zozevadi.exe "
[[ ! -e $drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/KESTO\ IDE.lnk ]] || fail "the shortcut is left"
expect_eq "the user's files" "$(cd "$documents" && ls | tr '\n' ' ')" "kestoide.ini moj.asm "
expect_eq "the uninstall entry" "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTO IDE' DisplayName)" ""
expect_eq "the Open-with entry" "$(reg_default 'HKLM\Software\Classes\Applications\kestoide.exe\shell\open\command')" ""
expect_eq ".asm default after uninstalling" "$(reg_default 'HKLM\Software\Classes\.asm')" asmfile
log "passed: install, start through the shortcut, uninstall"
