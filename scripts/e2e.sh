#!/usr/bin/env bash
# KESTO IDE end to end, the way a student meets it: the real program in a real
# X server (Xvfb), driven only by key events (xdotool), with stand-in lab tools
# beside a copy of the program that record how they were started (each runs
# in a terminal of its own; scripts/e2e/terminal.sh looks at those with a
# window manager). At the end
# the program is started again from its command line: --help and --version
# without a display, an unknown option, and a file to open.
#
#   scripts/e2e.sh PROGRAM OUT_DIR
#
# Screenshots, the accessibility tree and the log of the tools go to OUT_DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/e2e/lib.sh"
e2e_begin PROGRAM "$0" "$@"
rm -f "$E2E_OUT"/*.png "$E2E_OUT"/tools.log "$E2E_OUT"/a11y-tree.txt

# --- the stage -------------------------------------------------------------------
# app/ holds a copy of the program and the two tools (the program looks for them
# in its own folder); cwd/ is the current directory, where kestoide.ini lives.
T=$(mktemp -d /tmp/kesto.XXXXXX)
app="$T/app" cwd="$T/lab"
mkdir -p "$app" "$cwd" "$T/moje programy" "$T/dos"
cp "$program" "$app/kestoide"
cp "$(dirname "$program")/kestoide-run" "$app/"
for tool in ruderari.exe zozevadi.exe; do
    # One write per start, so two tools started together do not mix their lines.
    cat >"$app/$tool" <<'EOF'
#!/bin/sh
line="$(basename "$0")|$PWD"
for a in "$@"; do line="$line|$a"; done
printf '%s\n' "$line" >>"$(dirname "$0")/tools.log"
# The assembler writes its hex file anew, as a good compile does.
case "$0" in *ruderari.exe) date +%s%N >"${1%.*}.hex" ;; esac
EOF
    chmod +x "$app/$tool"
done
tools_log="$app/tools.log"
: >"$tools_log"

pid=""
on_failure() {
    shot failure || true
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    cp "$tools_log" "$E2E_OUT/tools.log" 2>/dev/null || true
    echo "stage kept in $T; program output:" >&2
    cat "$T/program.log" >&2 || true
}
trap 'rc=$?; [[ $rc -eq 0 ]] && rm -rf "$T"' EXIT

tools_started() { # expected lines, in any order
    _all_logged() {
        local line
        for line in "$@"; do grep -qxF -- "$line" "$tools_log" || return 1; done
    }
    poll 10 _all_logged "$@" ||
        fail "tools not started as expected; wanted:$(printf '\n  %s' "$@")"$'\n'"log:$(printf '\n  %s' "$(cat "$tools_log")")"
    local line
    for line in "$@"; do log "ok: started $line"; done
}
tools_count() { expect_eq "tool starts so far" "$(wc -l <"$tools_log")" "$1"; }
# The assembler's terminal waits for Enter even after a good compile: the
# student reads it, presses Enter, and is back in the editor.
close_compile_terminal() { # file name
    local term
    term=$(wait_window "^Kompilacja pliku $1\$")
    focus "$term"
    key Return
    wait_window_gone "$term"
    log "ok: the compile terminal closed on Enter"
    focus "$main"
}

load_polish_keys

# --- start-up without kestoide.ini -----------------------------------------------
cd "$cwd"
log "starting $app/kestoide in $cwd (screen reader checks: $(a11y_on && echo on || echo off))"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=$(a11y_on && echo 1 || echo 0) XDG_STATE_HOME="$T/state" \
XDG_RUNTIME_DIR=$(mkdir -m 700 "$T/run" && echo "$T/run") \
    "$app/kestoide" >"$T/program.log" 2>&1 &
pid=$!

first_start

if a11y_on; then
    a11y_connect
    tree="$E2E_OUT/a11y-tree.txt"
    a11y_tree >"$tree"
    # Every menu and item a reader announces has a name; so do the editor and
    # both status fields.
    expect_eq "menus on the menu bar" \
        "$(awk -F'\t' '$1 == 3 && $2 == "menu item" { printf "%s;", $3 }' "$tree")" \
        "Plik;Edycja;Kompilator;Pomoc;"
    expect_eq "menu items without a name" \
        "$(awk -F'\t' '$2 == "menu item" && $3 == ""' "$tree" | wc -l)" 0
    expect_eq "menu items" "$(awk -F'\t' '$2 == "menu item"' "$tree" | wc -l)" 23
    for name in "Tekst programu" Komunikat "Numer linii"; do
        [[ -n $(a11y_find "$tree" "$name") ]] || fail "no object named [$name] in $tree"
        log "ok: a reader finds [$name]"
    done
    status_line=$(a11y_find "$tree" Komunikat)
    line_field=$(a11y_find "$tree" "Numer linii")
    wait_a11y_text "status line" "$status_line" "Używany port: 1"
    wait_a11y_text "line indicator" "$line_field" "0,0"
fi

# --- type a program with Polish letters, save it through the Save dialog -------
program=(
    "; Migająca dioda na porcie 0 - ćwiczenie 3"
    "; zażółć gęślą jaźń / ZAŻÓŁĆ GĘŚLĄ JAŹŃ"
    "START:  LD   A,01h      ; zapal diodę"
    "        OUT  (0),A"
    "        CALL CZEKAJ"
    "        LD   A,00h      ; zgaś diodę"
    "        OUT  (0),A"
    "        CALL CZEKAJ"
    "        JP   START"
    "CZEKAJ: LD   B,0FFh     ; pętla opóźniająca"
    "PETLA:  DJNZ PETLA"
    "        RET"
)
focus "$main"
for ((i = 0; i < ${#program[@]}; i++)); do
    ((i == 0)) || key Return
    type_text "${program[i]}"
done
wait_caption "$main" "KESTO IDE [noname.asm] *"
a11y_on && wait_a11y_text "line indicator" "$line_field" "Linia ${#program[@]}"
# The editing control's own keys are gone: duplicate, cut and swap lines,
# upper case. Alt+Backspace undoes, as in the plain text box: here the
# Backspace before it. The saved bytes below show that nothing else acted.
key ctrl+d ctrl+l ctrl+t ctrl+shift+u BackSpace alt+BackSpace

key ctrl+s
dialog=$(wait_window '^Zachowaj jako$')
shot 03-save-dialog
source_path="$T/moje programy/próba.asm"
enter_path_in_dialog "$dialog" "$source_path"
# Windows-1250 with CR LF line ends; the last line gets its CR LF on saving.
expect_file_hex "saved source" "$source_path" \
    "$(printf '%s\r\n' "${program[@]}" | iconv -f UTF-8 -t CP1250 | hex_of /dev/stdin)"
expect_eq "the Polish letters of line 2 in Windows-1250" \
    "$(sed -n 2p "$source_path" | hex_of /dev/stdin | cut -d' ' -f3-9)" "7a 61 bf f3 b3 e6 20"

# --- compile and run; the port is chosen in between ------------------------------
hex_path="$T/moje programy/próba.hex"
focus "$main"
key ctrl+m
tools_started "ruderari.exe|$cwd|$source_path"
# The stand-in assembler ends at once: what the status line says is its end.
a11y_on && wait_a11y_text "status line" "$status_line" "Skompilowano plik \"próba.asm\""
close_compile_terminal próba.asm
key ctrl+r
tools_started "zozevadi.exe|$cwd|/1|$hex_path"
a11y_on && wait_a11y_text "status line" "$status_line" "Uruchomienie pliku \"$source_path\""

key alt+k
popup=$(wait_popup)
shot 04-compiler-menu
# From the first item, Up wraps round to COM4, then COM3.
key Up Up Return
wait_window_gone "$popup"
expect_file_bytes "kestoide.ini after COM3" kestoide.ini '3\r\n'
a11y_on && wait_a11y_text "status line" "$status_line" "Zapisano ustawienia"
focus "$main"
key ctrl+r
tools_started "zozevadi.exe|$cwd|/3|$hex_path"
tools_count 3

# --- open a file written by a DOS editor (code page 852) -------------------------
dos_path="$T/dos/STARY.ASM"
printf '; \xa5\x86\xa9\x88 \xa4\x8f\xa8\x9d z DOS-a\r\nSTART:  NOP\r\n' >"$dos_path"
key ctrl+o
dialog=$(wait_window '^Otwórz$')
enter_path_in_dialog "$dialog" "$dos_path"
a11y_on && wait_a11y_text "status line" "$status_line" "Otworzono plik: \"$dos_path\""

focus "$main"
key F4
a11y_on && wait_a11y_text "status line after Info" "$status_line" \
    "Plik: \"$dos_path\" Długość:  34 B,  3 linii (zapisany)"
sleep 0.2
shot 05-info

# An edit and Save (no dialog now): the letters go back out in Windows-1250.
key ctrl+Home
type_text "; poprawione"
key Return
wait_caption "$main" "KESTO IDE [$dos_path] *"
key ctrl+s
wait_caption "$main" "KESTO IDE [$dos_path]"
expect_file_bytes "DOS file saved again" "$dos_path" \
    '; poprawione\r\n; \xb9\xe6\xea\xb3 \xa5\xc6\xca\xa3 z DOS-a\r\nSTART:  NOP\r\n'

# Run on a document opened since the last compile asks to compile first.
key ctrl+r
question=$(wait_window '^KESTO IDE$')
focus "$question"
key Return
tools_started "ruderari.exe|$cwd|$dos_path" "zozevadi.exe|$cwd|/3|$T/dos/STARY.hex"
tools_count 5
wait_window_gone "$question"
close_compile_terminal STARY.ASM

# "&Plik" and "&Pomoc" share their access key, so Alt+P alternates between
# them; reach Plik from "&Edycja" instead.
exit_from_menu() {
    key alt+e
    wait_popup >/dev/null
    key Left k
}

# --- close with unsaved text: Cancel keeps the window, Yes saves and ends ---------
focus "$main"
key ctrl+End
type_text "        HALT"
wait_caption "$main" "KESTO IDE [$dos_path] *"
rm kestoide.ini
exit_from_menu
wait_window_gone "$popup"
prompt=$(wait_window '^KESTO IDE$')
a11y_on && wait_a11y_text "status line while asking" "$status_line" "Zamykanie"
shot 06-unsaved-prompt
focus "$prompt"
key Escape
wait_window_gone "$prompt"
# Cancel writes the settings again and leaves everything else as it was.
expect_file_bytes "kestoide.ini after Cancel" kestoide.ini '3\r\n'
process_ended "$pid" && fail "the program ended after Cancel"
wait_caption "$main" "KESTO IDE [$dos_path] *"

focus "$main"
exit_from_menu
prompt=$(wait_window '^KESTO IDE$')
focus "$prompt"
key Return
wait_exit "$pid" 0
pid=""
expect_file_bytes "saved on closing" "$dos_path" \
    '; poprawione\r\n; \xb9\xe6\xea\xb3 \xa5\xc6\xca\xa3 z DOS-a\r\nSTART:  NOP\r\n        HALT\r\n'
tools_count 5

# --- the command line ---------------------------------------------------------------
# --help and --version are answered before Qt starts: they work without a display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
out=$("${no_display[@]}" "$app/kestoide" --help) || fail "kestoide --help without a display failed"
expect_eq "--help without a display" "${out%%$'\n'*}" "Użycie: kestoide [OPCJA]... [PLIK]"
out=$("${no_display[@]}" "$app/kestoide" --version) || fail "kestoide --version without a display failed"
expect_eq "--version without a display" "${out%%$'\n'*}" "kestoide (KESTO IDE) $(awk \
    '/^project\(kestoide VERSION/ { print $3 }' "$here/../CMakeLists.txt")"
status=0
"$app/kestoide" --help >/dev/full 2>/dev/null || status=$?
expect_eq "exit status of --help that could not be written" "$status" 1

# An unknown option ends the program before its window: no settings file
# appears in a folder without one.
mkdir "$T/elsewhere"
cd "$T/elsewhere"
status=0
"$app/kestoide" --nie-ma-takiej >/dev/null 2>"$T/stderr" || status=$?
expect_eq "exit status after an unknown option" "$status" 2
grep -qxF "kestoide: nieznana opcja: --nie-ma-takiej" "$T/stderr" ||
    fail "stderr after an unknown option: $(cat "$T/stderr")"
[[ ! -e kestoide.ini ]] || fail "the window started after an unknown option"
log "ok: an unknown option is refused, with no window"

# A relative FILE after one of Qt's options opens once the window is up; the
# caption shows it absolute and cleaned. The second file and the "-reverse"
# after "--" are ignored: had Qt seen "-reverse", it would have taken it.
cd "$cwd"
arg_path="$T/dos/NOWY.ASM"
printf '; \xa5\x86\xa9\x88 z wiersza polece\xe4\r\nSTART:  NOP\r\n' >"$arg_path"
log "starting kestoide with a file"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=$(a11y_on && echo 1 || echo 0) XDG_RUNTIME_DIR="$T/run" \
    "$app/kestoide" -style Fusion ../dos/./NOWY.ASM "../moje programy/próba.asm" -- -reverse \
    >"$T/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [$arg_path]"
shot 07-file-argument
grep -qxF 'kestoide: otwieram tylko pierwszy plik; pominięte: "../moje programy/próba.asm" "-reverse"' \
    "$T/program.log" || fail "stderr does not name the ignored files"
log "ok: the ignored files are named on stderr"
if a11y_on; then
    a11y_connect
    a11y_tree >"$T/a11y-tree.txt"
    # As gdbus prints it: line ends escaped.
    wait_a11y_text "editor text" "$(a11y_find "$T/a11y-tree.txt" "Tekst programu")" \
        '; ąćęł z wiersza poleceń\r\nSTART:  NOP\r\n'
    wait_a11y_text "status line" "$(a11y_find "$T/a11y-tree.txt" Komunikat)" "Otworzono plik: \"$arg_path\""
fi
# Saved again, the text it holds goes out in Windows-1250.
focus "$main"
key ctrl+s
expect_file_bytes "file from the command line saved" "$arg_path" \
    '; \xb9\xe6\xea\xb3 z wiersza polece\xf1\r\nSTART:  NOP\r\n'

# --- a file of LF lines (from Linux, in Windows-1250): Enter and Save add LF --------
lf_path="$T/dos/linux.asm"
printf '; p\xeatla z Linuksa\nSTART:  NOP' >"$lf_path"
key ctrl+o
dialog=$(wait_window '^Otwórz$')
enter_path_in_dialog "$dialog" "$lf_path"
a11y_on && wait_a11y_text "status line" "$(a11y_find "$T/a11y-tree.txt" Komunikat)" \
    "Otworzono plik: \"$lf_path\" (Windows-1250)"
focus "$main"
key ctrl+End Return
type_text "        HALT"
wait_caption "$main" "KESTO IDE [$lf_path] *"
key ctrl+s
wait_caption "$main" "KESTO IDE [$lf_path]"
expect_file_bytes "LF file after Enter and Save" "$lf_path" '; p\xeatla z Linuksa\nSTART:  NOP\n        HALT\n'
exit_from_menu
wait_exit "$pid" 0
pid=""

cp "$tools_log" "$E2E_OUT/tools.log"
log "passed; screenshots in $E2E_OUT"
