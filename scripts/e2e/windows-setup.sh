#!/usr/bin/env bash
# The Windows installer end to end, under Wine in Xvfb, as a teacher installs
# a room: a fresh prefix where .asm has a default program, with the Default
# profile, a student's, a teacher's (with a kestoide.ini of its own) and one
# whose folder is gone, and the lab's tools on \\serwer\pracownia (Wine's
# dosdevices\unc). /PORT=7 and a folder without zozevadi.exe are refused with
# nothing written; the room's command installs the tools, kestoide.ini for
# port 3 and .asm's default; the shortcut starts on port 3 without a warning;
# `start FILE.asm` opens the file; the uninstaller leaves the tools and the
# users' files and gives .asm its earlier default, which a plain install keeps.
#
#   scripts/e2e/windows-setup.sh BUILD_WIN OUT_DIR
set -euo pipefail
source "$(dirname "$0")/windows-begin.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
setup="kestoide-$version-setup.exe"

prefix="$build/wine-setup"
[[ -d $prefix ]] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "$prefix"
wine_prefix "$prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT
on_failure() { shot setup-failure || true; }
drive="$prefix/drive_c" users="$prefix/drive_c/users" me=$(id -un)
app='C:\Pracownia\KESTO IDE' installed="$drive/Pracownia/KESTO IDE"
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\KESTO IDE.lnk'
share='\\serwer\pracownia' tools="$prefix/dosdevices/unc/serwer/pracownia"
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'; }
reg_default() { wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ { sub(/.*REG_SZ +/, ""); print }'; }
inis() { (cd "$users" && ls -- */Documents/kestoide.ini | tr '\n' ' '); }
# The room's command in cmd, as a teacher types it.
setup_run() { # exit-code options
    local code=0
    (cd "$build" && wine cmd /c "start /wait $setup $2") || code=$?
    expect_eq "exit code of setup $2" "$code" "$1"
}

mkdir -p "$tools/narzędzia KESTO" "$tools/niepełne" "$users"/{Default,uczen,nauczyciel}/Documents
cp "$build/standin/standin-ansi.exe" "$tools/narzędzia KESTO/ruderari.exe"
cp "$build/standin/standin-unicode.exe" "$tools/narzędzia KESTO/zozevadi.exe"
cp "$build/standin/standin-ansi.exe" "$tools/niepełne/ruderari.exe"
printf '2\r\n' >"$users/nauczyciel/Documents/kestoide.ini"
printf 'NOP\r\n' >"$users/$me/Documents/moj.asm"
profiles='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\ProfileList'
default=$(printf '%%SystemDrive%%\\users\\Default\0' | od -An -tx1 | tr -s ' \n' ',')
printf '%s\r\n' REGEDIT4 '[HKEY_LOCAL_MACHINE\Software\Classes\.asm]' '@="asmfile"' \
    "[$profiles]" "\"Default\"=hex(2):${default:1:-1}" "[$profiles\\S-1-5-21-0-0-0-1001]" \
    '"ProfileImagePath"="C:\\users\\uczen"' "[$profiles\\S-1-5-21-0-0-0-1002]" \
    '"ProfileImagePath"="C:\\users\\nauczyciel"' "[$profiles\\S-1-5-21-0-0-0-1003]" \
    '"ProfileImagePath"="C:\\users\\dawny"' >"$prefix/room.reg"
wine regedit /S "$(wine_path "$prefix/room.reg")"

setup_run 3 "/S /TOOLS=$share\\narzędzia KESTO /PORT=7 /ASSOCIATE"
(cd "$build" && wine cmd /c "start /wait $setup /TOOLS=$share\\niepełne /PORT=3") &
pid=$!
box=$(wait_window '^Instalator KESTO IDE$')
shot 12-setup-missing-tool
focus "$box"
key Return
wait_exit "$pid" 4
[[ ! -e $installed ]] || fail "refused, yet $installed was made"
expect_eq "kestoide.ini files after the refusals" "$(inis)" "nauczyciel/Documents/kestoide.ini "

setup_run 0 "/S /TOOLS=$share\\narzędzia KESTO /PORT=3 /ASSOCIATE /D=$app"
cmp "$tools/narzędzia KESTO/ruderari.exe" "$installed/ruderari.exe" &&
    cmp "$tools/narzędzia KESTO/zozevadi.exe" "$installed/zozevadi.exe" || fail "the tools are not beside the program"
for user in Default "$me" uczen; do
    expect_file_bytes "$user's kestoide.ini" "$users/$user/Documents/kestoide.ini" '3\r\n'
done
expect_file_bytes "the teacher's own kestoide.ini" "$users/nauczyciel/Documents/kestoide.ini" '2\r\n'
[[ ! -e $users/dawny ]] || fail "the profile whose folder was gone got one"
expect_eq ".asm default after installing" "$(reg_default 'HKLM\Software\Classes\.asm')" KESTOIDE.asm
expect_eq "the Open-with command" "$(reg_default 'HKLM\Software\Classes\Applications\kestoide.exe\shell\open\command')" \
    "\"$app\\kestoide.exe\" \"%1\""

cd "$drive"
wine start "$shortcut"
# The missing-settings warning would come before the window.
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [noname.asm]"
shot 13-installed-port-3
focus "$main"
key ctrl+r
question=$(wait_window '^KESTO IDE$')
focus "$question"
key Return # compile first; the stand-in assembler writes noname.hex beside the source
_ran() { grep -qF "zozevadi.exe|C:\\users\\$me\\Documents|/3|noname.hex|" "$installed/tools.log" 2>/dev/null; }
poll 10 _ran || fail "no run tool on port 3: $(cat "$installed/tools.log")"
log "ok: the run tool got /3"
cd "$users/$me/Documents" # where this one finds its kestoide.ini
wine start "C:\\users\\$me\\Documents\\moj.asm"
wait_caption "$(wait_window '^KESTO IDE \[C')" "KESTO IDE [C:\\users\\$me\\Documents\\moj.asm]"
shot 14-asm-opened
wineserver -k

wine "$app\\odinstaluj.exe" /S
wineserver -w # the uninstaller starts again from a copy of itself and returns at once
expect_eq "what is left in the program's folder" "$(cd "$installed" && find . -type f | sort | tr '\n' ' ')" \
    "./ruderari.exe ./ruderari.exe.args ./tools.log ./zozevadi.exe ./zozevadi.exe.args "
[[ ! -e $drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/KESTO\ IDE.lnk ]] || fail "the shortcut is left"
expect_eq "the users' files" "$(inis)$(ls | tr '\n' ' ')" "Default/Documents/kestoide.ini \
nauczyciel/Documents/kestoide.ini $me/Documents/kestoide.ini uczen/Documents/kestoide.ini kestoide.ini moj.asm \
noname.hex "
expect_eq "the uninstall entry" "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTO IDE' DisplayName)" ""
expect_eq "the Open-with entry" "$(reg_default 'HKLM\Software\Classes\Applications\kestoide.exe\shell\open\command')" ""
expect_eq ".asm default after uninstalling" "$(reg_default 'HKLM\Software\Classes\.asm')" asmfile
setup_run 0 /S
expect_eq ".asm default after a plain install" "$(reg_default 'HKLM\Software\Classes\.asm')" asmfile
log "passed: refused options, the room's install, start through the shortcut and by .asm, uninstall"
