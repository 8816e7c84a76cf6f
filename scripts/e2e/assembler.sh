#!/usr/bin/env bash
# Compile and Run with a real 8051 assembler (Debian's as31, which takes a
# second here, as the lab's does on a lab PC) under a window manager: a
# failed compile names its line and puts the caret there; Run after it asks
# first; Run right after an edit waits for the compile and sends the new
# program, never the old one; a failed Run's terminal comes up without the
# focus; a compile whose terminal is closed under it ends "unknown". What the
# program says is read through AT-SPI.
#
#   scripts/e2e/assembler.sh PROGRAM OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_begin PROGRAM "$0" "$@"
command -v as31 >/dev/null || { echo "as31 is missing (Debian package as31)" >&2; exit 2; }
a11y_on || { echo "AT-SPI is missing (Debian packages at-spi2-core, dbus-daemon, libglib2.0-bin)" >&2; exit 2; }

T=$(mktemp -d /tmp/kesto-as31.XXXXXX)
app="$T/app" src="$T/zajęcia"
mkdir -p "$app" "$src"
cp "$program" "$app/kestoide"
cp "$(dirname "$program")/kestoide-run" "$app/"
# The assembler: as31, after the delay its file gives (1 s by default).
cat >"$app/ruderari.exe" <<'EOF'
#!/bin/sh
sleep "$(cat "$(dirname "$0")/delay" 2>/dev/null || echo 1)"
exec as31 "$1"
EOF
# The run tool: keeps a copy of each hex file it is given, as the KESTO
# system would get it, and ends with the code its file gives (0 by default).
cat >"$app/zozevadi.exe" <<'EOF'
#!/bin/sh
here=$(dirname "$0")
n=$(ls "$here"/sent-*.hex 2>/dev/null | wc -l)
cp "$2" "$here/sent-$((n + 1)).hex.part" && mv "$here/sent-$((n + 1)).hex.part" "$here/sent-$((n + 1)).hex"
echo "zozevadi: port $1"
exit "$(cat "$here/status" 2>/dev/null || echo 0)"
EOF
chmod +x "$app/ruderari.exe" "$app/zozevadi.exe"
source_path="$src/prog.asm" hex_path="$src/prog.hex"
printf 'start: mov a,#1\r\n  foo r9\r\n  sjmp start\r\n' >"$source_path"
# What as31 makes of the fixed program, and the hex an earlier compile left.
printf 'start: mov a,#1\r\n  nop\r\n  sjmp start\r\n' >"$T/fixed.asm"
as31 "$T/fixed.asm" >/dev/null 2>&1
printf ':00000001FF\r\n' >"$hex_path"

pid="" wm=""
on_failure() {
    shot assembler-failure || true
    echo "stage kept in $T; program output:" >&2
    cat "$T/program.log" >&2 || true
}
cleanup() {
    local rc=$?
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    [[ -n $wm ]] && kill "$wm" 2>/dev/null || true
    [[ $rc -eq 0 ]] && rm -rf "$T"
}
trap cleanup EXIT
start_openbox "$T/openbox.log"
wm=$E2E_WM

sent() { ls "$app"/sent-*.hex 2>/dev/null | wc -l; }
terminal_named() { # regex -> id; a minimised window is not viewable: search them all
    local id=""
    _there() { id=$(xdotool search --name "$1" 2>/dev/null | head -n1); [[ -n $id ]]; }
    poll 30 _there "$1" || fail "no terminal titled /$1/"
    echo "$id"
}
terminal_gone() { ! xdotool search --name "$1" >/dev/null 2>&1; }
close_terminal() { # regex
    local term
    term=$(terminal_named "$1")
    # The tool has ended; what is typed before its helper asks for Enter
    # does not count.
    sleep 0.5
    activate "$term"
    key Return
    poll 10 terminal_gone "$1" || fail "the terminal /$1/ did not close on Enter"
}
# The question Run asks, read by a screen reader, then answered with a key.
answer_question() { # key [text it holds]
    local box
    box=$(wait_window '^KESTO IDE$')
    if [[ -n ${2:-} ]]; then
        _asks() { a11y_tree >"$T/a11y-box.txt" && grep -qF -- "$1" "$T/a11y-box.txt"; }
        poll 10 _asks "$2" || fail "the question does not say [$2]: $(cut -f3 "$T/a11y-box.txt")"
        log "ok: the question says [$2]"
    fi
    activate "$box"
    key "$1"
    wait_window_gone "$box"
}

mkdir -m 700 "$T/run"
cd "$T"
printf '1\r\n' >kestoide.ini
log "starting $app/kestoide with $source_path"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_STATE_HOME="$T/state" XDG_RUNTIME_DIR="$T/run" \
    "$app/kestoide" "$source_path" >"$T/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [$source_path]"
a11y_connect
a11y_tree >"$T/a11y-tree.txt"
status_line=$(a11y_find "$T/a11y-tree.txt" Komunikat)
line_field=$(a11y_find "$T/a11y-tree.txt" "Numer linii")
activate "$main"
expect_active "$main" "the editor"

# --- a failed compile: its line on the status line, the caret on it ----------------
key ctrl+m
wait_a11y_text "status line after a failed compile" "$status_line" \
    'Błąd kompilacji (kod 255): Warning, line 2, syntax error near "foo ".'
wait_a11y_text "line indicator on the named line" "$line_field" "Linia 2"
shot 16-compile-failed
close_terminal '^Kompilacja pliku prog\.asm$'

# --- Run after it asks first; Escape sends nothing ---------------------------------
activate "$main"
key ctrl+r
answer_question Escape "Kompilacja pliku $source_path zakończyła się kodem 255."
sleep 0.5
expect_eq "hex files sent after a failed compile, declined" "$(sent)" 0

# --- the fix, then Run at once: it waits for the compile and sends the new program --
activate "$main"
# The caret stands at the start of line 2.
key shift+End
type_text "  nop"
wait_caption "$main" "KESTO IDE [$source_path] *"
key ctrl+r
answer_question Return # compile first?
answer_question Return # save and compile?
wait_a11y_text "status line while Run waits" "$status_line" \
    "Uruchomienie pliku \"$source_path\" czeka na koniec kompilacji"
_sent_one() { [[ $(sent) -ge 1 ]]; }
poll 30 _sent_one || fail "the run tool was not started after the compile"
expect_eq "the program sent to KESTO" "$(hex_of "$app/sent-1.hex")" "$(hex_of "$T/fixed.hex")"
wait_a11y_text "status line after the run" "$status_line" "Uruchomienie pliku \"$source_path\""
close_terminal '^Kompilacja pliku prog\.asm$'

# --- a failed Run: its terminal comes up, the editor keeps the focus ---------------
echo 1 >"$app/status"
activate "$main"
expect_active "$main" "the editor"
key ctrl+r
wait_a11y_text "status line after a failed run" "$status_line" \
    "Błąd uruchomienia (kod 1): komunikaty są w oknie programu zozevadi.exe"
term=$(terminal_named '^Uruchomienie pliku prog\.asm$')
_shown() { ! hidden "$1" && xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
poll 10 _shown "$term" || fail "the failed run's terminal is still minimised: $(xprop -id "$term" _NET_WM_STATE)"
log "ok: the failed run's terminal is shown"
expect_active "$main" "the editor, after the failed run's terminal came up"
sleep 0.3
shot 17-run-failed-shown
close_terminal '^Uruchomienie pliku prog\.asm$'

# --- a compile whose terminal is closed under it ends "unknown" -------------------
echo 30 >"$app/delay"
activate "$main"
key ctrl+m
term=$(terminal_named '^Kompilacja pliku prog\.asm$')
sleep 0.5
xdotool windowclose "$term" 2>/dev/null || xdotool windowkill "$term"
wait_a11y_text "status line after the compile's terminal was closed" "$status_line" \
    'Nie wiadomo, jak zakończyła się kompilacja pliku "prog.asm"'
activate "$main"
key ctrl+r
answer_question Escape "Kompilacja pliku $source_path nie wiadomo jak się zakończyła."
expect_eq "hex files sent after an unknown compile, declined" "$(sent)" 2

activate "$main"
key alt+e
wait_popup >/dev/null
key Left k
wait_exit "$pid" 0
pid=""
log "assembler checks passed; screenshots in $E2E_OUT"
