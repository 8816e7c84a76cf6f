#!/usr/bin/env bash
# KESTO IDE for Windows end to end, the way a student in the lab meets it: the
# folder ready to run, under Wine in a real X server (Xvfb), driven only by X
# key events as scripts/e2e.sh drives the Linux program. The lab's tools are
# stand-ins (tests/windows/standin.c) that log how they were started: the
# assembler an ANSI program, the run tool a Unicode one. Each runs through the
# helper kestoide-run.exe in the console the program opens for it, which
# waits for Enter after Compile and after a failed Run (windows-consoles.sh
# shows the consoles under a window manager). Then the program's command
# line, and the installer: refused options, then installed silently for a
# room (the lab's tools, the port, .asm), started through its Start-menu
# shortcut and by an .asm file, uninstalled silently.
#
#   scripts/e2e/windows.sh BUILD_WIN OUT_DIR
#
# Screenshots and the tools' log go to OUT_DIR.
set -euo pipefail
source "$(dirname "$0")/windows-begin.sh"
rm -f "$E2E_OUT"/*.png "$E2E_OUT"/tools.log
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
folder="$build/kestoide-$version-win64"
setup="$build/kestoide-$version-setup.exe"
[[ -f $folder/kestoide.exe && -f $setup ]] || fail "no $folder or $setup: run make windows first"

# --- the stage: a prefix of its own, the program in a folder with a blank --------
prefix="$build/wine-e2e"
[[ -d $prefix ]] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "$prefix"
wine_prefix "$prefix"
drive="$prefix/drive_c"
app="$drive/KESTO IDE" cwd="$drive/pracownia"
mkdir -p "$app" "$cwd" "$drive/moje programy" "$drive/dos"
cp -r "$folder/." "$app/"
cp "$build/standin/standin-ansi.exe" "$app/ruderari.exe"
cp "$build/standin/standin-unicode.exe" "$app/zozevadi.exe"
tools_log="$app/tools.log"
: >"$tools_log"

pid=""
on_failure() {
    shot failure || true
    cp "$tools_log" "$E2E_OUT/tools.log" 2>/dev/null || true
    echo "program output:" >&2
    cat "$E2E_OUT/program.log" >&2 || true
    wineserver -k 2>/dev/null || true
}
clip=""
trap 'wineserver -k 2>/dev/null || true; [[ -n $clip ]] && kill "$clip" 2>/dev/null || true' EXIT

# A tool started with exactly these fields (its name|cwd|arguments...), and
# the fields after them (cmd=, acp=, show=, console=) as given.
tool_started() { # prefix-fields suffix-regex
    _logged() { grep -qE -- "^$(printf '%s' "$1" | sed 's/[][\\.*^$|+?(){}]/\\&/g')\|$2$" "$tools_log"; }
    poll 10 _logged "$1" "$2" || fail "no tool started as [$1|$2]; log:$(printf '\n  %s' "$(cat "$tools_log")")"
    log "ok: started $1 ($2)"
}
tools_count() { expect_eq "tool starts so far" "$(wc -l <"$tools_log")" "$1"; }
# The helpers still running, by their console's title (Wine's processes
# show their Windows command line).
helpers() { pgrep -f "kestoide-run\.exe --title $1" || true; }
# A helper's console that says how its tool ended and waits: still there a
# second later, its helper still running; Enter closes it.
console_waits() { # title-regex
    local console
    console=$(wait_window "^$1\$")
    sleep 1
    xwininfo -id "$console" | grep -q IsViewable || fail "the console [$1] closed without Enter"
    [[ -n $(helpers "$1") ]] || fail "the helper of [$1] ended without Enter"
    echo "$console"
}
close_console() { # id title-regex
    focus "$1"
    key Return
    wait_window_gone "$1"
    poll 10 _no_helper "$2" || fail "the helper of [$2] still runs after Enter"
    log "ok: Enter closed the console [$2]"
}
_no_helper() { [[ -z $(helpers "$1") ]]; }
# A started console may keep Wine's focus under plain Xvfb: the main window
# is clicked before the next keys, as a student would.
click_main() {
    focus "$main"
    xdotool mousemove --window "$main" 420 8 click 1 # the menu bar, past its last menu
}
# The program's open menu (Wine's system tray has pop-ups of its own).
wait_menu() {
    local id=""
    _menu() {
        local w
        for w in $(xdotool search --onlyvisible --maxdepth 1 --class kestoide.exe 2>/dev/null); do
            xwininfo -id "$w" -all 2>/dev/null | grep -q 'Override Redirect State: yes' && id=$w && return 0
        done
        return 1
    }
    poll 10 _menu || fail "no menu opened"
    echo "$id"
}
cp1250() { printf '%s' "$1" | iconv -f UTF-8 -t CP1250 | hex_of /dev/stdin; }

# Wine takes a typed letter only from a key of the keyboard layout it
# recognised: the Polish letters are typed as on a Polish (programmer's)
# keyboard, AltGr with the Latin letter. AltGr is Mode_switch here, the
# modifier Wine knows it by.
polish_keyboard() {
    local dir
    dir=$(mktemp -d)
    mkdir -p "$dir/symbols"
    cat >"$dir/symbols/kestoaltgr" <<'KEYS'
xkb_symbols "modeswitch" {
    key <MDSW> { [ NoSymbol ] };
    key <RALT> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Mode_switch ] };
    modifier_map Mod5 { <RALT> };
};
KEYS
    setxkbmap -I"$dir" -symbols "pc+pl+inet(evdev)+kestoaltgr(modeswitch)" -print |
        xkbcomp -w 0 -I"$dir" - "$DISPLAY" >/dev/null 2>&1 || fail "cannot load the Polish keyboard"
    rm -rf "$dir"
}
type_pl() { # text
    local text=$1 run="" c base i
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case $c in
        ą) base=a ;; ć) base=c ;; ę) base=e ;; ł) base=l ;; ń) base=n ;; ó) base=o ;; ś) base=s ;; ź) base=x ;; ż) base=z ;;
        Ą) base=shift+a ;; Ć) base=shift+c ;; Ę) base=shift+e ;; Ł) base=shift+l ;; Ń) base=shift+n ;;
        Ó) base=shift+o ;; Ś) base=shift+s ;; Ź) base=shift+x ;; Ż) base=shift+z ;;
        *) run+=$c && continue ;;
        esac
        [[ -z $run ]] || type_text "$run"
        run=""
        key "Mode_switch+$base"
    done
    [[ -z $run ]] || type_text "$run"
}
# The file dialog, found as the program's new visible window of dialog size:
# Wine's native dialog carries no title.
wait_dialog() {
    local id=""
    _dialog() {
        local w
        for w in $(xdotool search --onlyvisible --maxdepth 1 --class kestoide.exe 2>/dev/null); do
            [[ $w != "$main" ]] && (($(xwininfo -id "$w" | awk '/Width:/ { print $2 }') > 300)) && id=$w && return 0
        done
        return 1
    }
    poll 10 _dialog || fail "no file dialog appeared"
    echo "$id"
}

polish_keyboard

# --- start-up without kestoide.ini ------------------------------------------------
cd "$cwd"
log "starting C:\\KESTO IDE\\kestoide.exe in C:\\pracownia"
wine "C:\\KESTO IDE\\kestoide.exe" >"$E2E_OUT/program.log" 2>&1 &
pid=$!
first_start

# --- a program with Polish letters, saved through the Save dialog ------------------
program=(
    "; Migająca dioda - ćwiczenie 3: zażółć gęślą jaźń"
    "START:  LD   A,01h      ; zapal diodę"
    "        OUT  (0),A"
    "        JP   START      ; ŻÓŁW"
)
click_main
for ((i = 0; i < ${#program[@]}; i++)); do
    ((i == 0)) || key Return
    type_pl "${program[i]}"
done
wait_caption "$main" "KESTO IDE [noname.asm] *"
key ctrl+s
dialog=$(wait_dialog)
shot 03-save-dialog
focus "$dialog"
key ctrl+a
source_path='C:\moje programy\próba.asm'
type_pl "$source_path"
key Return
wait_window_gone "$dialog"
wait_caption "$main" "KESTO IDE [$source_path]"
expect_file_hex "saved source (Windows-1250, CR LF)" "$drive/moje programy/próba.asm" \
    "$(printf '%s\r\n' "${program[@]}" | iconv -f UTF-8 -t CP1250 | hex_of /dev/stdin)"

# --- compile and run: the command lines, code page, window states and consoles ---
hex_path='C:\moje programy\próba.hex'
click_main
key ctrl+m
# The assembler in the helper's new console (SW_SHOWNORMAL, handed on to the
# tool), its path quoted for the blank in it; an ANSI program under code page
# 1250 gets the Polish letter as it is. The console, titled for the source,
# says how the tool ended and waits for Enter. (Without a window manager it
# does not take the focus: windows-consoles.sh shows that.)
tool_started "ruderari.exe|C:\\pracownia|$source_path" \
    "cmd=\"C:\\\\KESTO IDE\\\\ruderari.exe\" \"C:\\\\moje programy\\\\próba.asm\"\|acp=1250\|show=1\|console=1"
compile_title='Kompilacja pliku próba\.asm'
console=$(console_waits "$compile_title")
shot 04-compile-console
close_console "$console" "$compile_title"
click_main
key ctrl+r
# The run tool minimised without the focus (SW_SHOWMINNOACTIVE, handed on
# to the tool); it ends with 0, and its console goes by itself.
tool_started "zozevadi.exe|C:\\pracownia|/1|$hex_path" \
    "cmd=\"C:\\\\KESTO IDE\\\\zozevadi.exe\" /1 \"C:\\\\moje programy\\\\próba.hex\"\|acp=1250\|show=7\|console=1"
run_title='Uruchomienie pliku próba\.asm'
poll 10 _no_helper "$run_title" || fail "the console of a good run waits"
log "ok: the console of a good run closed by itself"

click_main
key alt+k
popup=$(wait_menu)
shot 05-compiler-menu
key Up Up Return
wait_window_gone "$popup"
expect_file_bytes "kestoide.ini after COM3" kestoide.ini '3\r\n'
click_main
key ctrl+r
tool_started "zozevadi.exe|C:\\pracownia|/3|$hex_path" ".*show=7\|console=1"
tools_count 3

# --- a file written by a DOS editor (code page 852), and Info -------------------
dos_path='C:\dos\STARY.ASM'
printf '; \xa5\x86\xa9\x88 \xa4\x8f\xa8\x9d z DOS-a\r\nSTART:  NOP\r\n' >"$drive/dos/STARY.ASM"
click_main
key ctrl+o
dialog=$(wait_dialog)
enter_path_in_dialog "$dialog" "$dos_path"
click_main
key F4
sleep 0.5
shot 06-info
key ctrl+Home
type_text "; poprawione"
key Return
wait_caption "$main" "KESTO IDE [$dos_path] *"
# Text copied in another program: Wine hands the X clipboard's lines to
# Windows programs with CR LF, which Qt's own clipboard would give as LF.
printf '; wklejone\n' | xclip -selection clipboard -quiet -i 2>/dev/null &
clip=$!
_offered() { [[ $(xclip -selection clipboard -o 2>/dev/null) == "; wklejone" ]]; }
poll 10 _offered || fail "xclip did not take the clipboard"
key ctrl+v

# --- exit with unsaved text: Cancel keeps the window, Yes saves and ends ----------
exit_from_menu() {
    key alt+e
    wait_menu >/dev/null
    key Left k
}
click_main
exit_from_menu
prompt=$(wait_window '^KESTO IDE$')
shot 07-unsaved-prompt
focus "$prompt"
key Escape
wait_window_gone "$prompt"
process_ended "$pid" && fail "the program ended after Cancel"
wait_caption "$main" "KESTO IDE [$dos_path] *"
click_main
exit_from_menu
prompt=$(wait_window '^KESTO IDE$')
focus "$prompt"
key Return
wait_exit "$pid" 0
pid=""
expect_file_bytes "DOS file saved on closing, the paste with CR LF" "$drive/dos/STARY.ASM" \
    '; poprawione\r\n; wklejone\r\n; \xb9\xe6\xea\xb3 \xa5\xc6\xca\xa3 z DOS-a\r\nSTART:  NOP\r\n'
kill "$clip" 2>/dev/null || true
tools_count 3

# --- code page 1252: an ANSI tool gets the letters it lacks at their nearest -----
# (Wine takes the code page from the locale; C.UTF-8 gives 1252.)
printf 'NOP\r\n' >"$drive/moje programy/zażółć.asm"
LC_ALL=C.UTF-8 LANG=C.UTF-8 wine "C:\\KESTO IDE\\kestoide.exe" 'C:\moje programy\zażółć.asm' \
    >>"$E2E_OUT/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[C')
wait_caption "$main" 'KESTO IDE [C:\moje programy\zażółć.asm]'
click_main
key ctrl+m
tool_started 'ruderari.exe|C:\pracownia|C:\moje programy\zazólc.asm' '.*acp=1252.*'
# The console's own text is Unicode: the same Polish line under code page 1252.
compile_title='Kompilacja pliku zażółć\.asm'
console=$(console_waits "$compile_title")
shot 08-compile-console-1252
close_console "$console" "$compile_title"
# The assembler wrote zazólc.hex, not the file Run sends: Run says so and
# asks; the student sends the file all the same (Tab to OK: Enter is Cancel).
click_main
key ctrl+r
question=$(wait_window '^KESTO IDE$')
shot 08a-run-asks-no-new-hex
focus "$question"
key Tab space
wait_window_gone "$question"
tool_started 'zozevadi.exe|C:\pracownia|/3|C:\moje programy\zażółć.hex' '.*acp=1252.*'
click_main
exit_from_menu
wait_exit "$pid" 0
pid=""

# --- the command line: a name outside code page 1250, --help and --version --------
printf 'NOP\r\n' >"$drive/moje programy/Ωμέγα.asm"
wine "C:\\KESTO IDE\\kestoide.exe" -- 'C:\moje programy\Ωμέγα.asm' >>"$E2E_OUT/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[C')
wait_caption "$main" 'KESTO IDE [C:\moje programy\Ωμέγα.asm]'
shot 09-unicode-argument
click_main
exit_from_menu
wait_exit "$pid" 0
pid=""
# Redirected: in the ANSI code page, with CR LF.
wine "C:\\KESTO IDE\\kestoide.exe" --help >"$E2E_OUT/help.txt" 2>/dev/null || fail "--help failed"
expect_eq "--help into a file" "$(head -n1 "$E2E_OUT/help.txt" | hex_of /dev/stdin)" \
    "$(cp1250 $'Użycie: kestoide [OPCJA]... [PLIK]\r\n')"
# From a console (cmd, on a terminal): the program, which has none of its own,
# writes into that one.
cd "$app"
out=$(script -qec "wine cmd /c 'start /wait kestoide.exe --version'" /dev/null </dev/null | tr -d '\r')
[[ $out == *"kestoide (KESTO IDE) $version"* && $out == *"późniejszej"* ]] ||
    fail "--version in a console printed: $out"
log "ok: --version prints into the console it was started from"
cp "$tools_log" "$E2E_OUT/tools.log"
wineserver -k

bash "$here/windows-consoles.sh" "$build" "$E2E_OUT"
bash "$here/windows-setup.sh" "$build" "$E2E_OUT"
log "passed; screenshots in $E2E_OUT"
