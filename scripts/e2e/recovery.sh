#!/usr/bin/env bash
# Nothing lost: the real program is killed with SIGKILL while its text is
# unsaved (Polish letters, a lone CR and LF from a file another editor wrote,
# characters beyond Windows-1250 pasted in), then started again. One question
# comes up; Escape leaves the copy for the next start, and that run, with text
# of its own, is killed too; the next start asks about both, the newer first:
# No deletes it, Yes brings the first text back byte for byte, read through
# Select all and Copy, not through Save. Then, a moment after more typing, it
# is ended by SIGTERM, and started again with its file named, as a double-click
# does: one question, and the text stays. Later its X server is killed under
# it a second after typing: each time the next start gives the text back.
# Closing with No leaves no copy behind.
#
#   scripts/e2e/recovery.sh PROGRAM OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_begin PROGRAM "$0" "$@"
rm -f "$E2E_OUT"/*.png

T=$(mktemp -d /tmp/kesto-recovery.XXXXXX)
cwd="$T/lab" state="$T/state" copies="$T/state/kestoide"
mkdir -p "$cwd" "$T/src" "$T/run"
chmod 700 "$T/run"
printf '1\r\n' >"$cwd/kestoide.ini"

pid="" xvfb_pid=""
on_failure() {
    shot recovery-failure || true
    [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null || true
    echo "stage kept in $T; program output:" >&2
    cat "$T/program.log" >&2 || true
}
trap 'rc=$?; [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null; [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
      [[ $rc -eq 0 ]] && rm -rf "$T"' EXIT

start_program() { # [file]
    cd "$cwd"
    XDG_STATE_HOME="$state" XDG_RUNTIME_DIR="$T/run" "$program" "$@" >>"$T/program.log" 2>&1 &
    pid=$!
}

# The copy's text is its last bytes: wait until they are the editor's.
copy_ends_with() { # hex
    local copy
    copy=$(ls "$copies"/*.copy 2>/dev/null | head -n 1)
    [[ -n $copy ]] && [[ $(tail -c "$(($(wc -w <<<"$1")))" "$copy" | hex_of /dev/stdin) == "$1" ]]
}

load_polish_keys

# --- a text that exists nowhere but in the editor --------------------------------
# Written by a DOS editor: a lone CR, a lone LF, letters of code page 852.
src="$T/src/STARY.ASM"
printf 'START:\rNOP\n; \xa5\x86\xa9\x88\r\n' >"$src"
start_program
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [noname.asm]"
focus "$main"
key ctrl+o
dialog=$(wait_window '^Otwórz$')
enter_path_in_dialog "$dialog" "$src"

focus "$main"
key ctrl+End
type_text "zażółć"
# Characters Windows-1250 cannot hold, and a lone CR and LF, come by paste.
printf '\r→😀\n日本' | xclip -selection clipboard -t UTF8_STRING
key ctrl+v
wait_caption "$main" "KESTO IDE [$src] *"
expected=$(printf 'START:\rNOP\n; ąćęł\r\nzażółć\r→😀\n日本' | hex_of /dev/stdin)
# At most five seconds after the last change, the copy holds it.
poll 6 copy_ends_with "$expected" || fail "no copy of the last change within 6 s: $(ls -l "$copies")"
log "ok: the copy holds the last change"
shot recovery-1-unsaved

kill -9 "$pid"
wait "$pid" 2>/dev/null || true
pid=""
log "killed with SIGKILL"

# --- the next start: Escape decides nothing ---------------------------------------
start_program
question=$(wait_window '^KESTO IDE$')
shot recovery-2-question
focus "$question"
key Escape
wait_window_gone "$question"
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [noname.asm]"
# This run's own text gets a copy of its own, and this run a crash too.
focus "$main"
type_text "drugi"
wait_caption "$main" "KESTO IDE [noname.asm] *"
_two_copies() { [[ $(ls "$copies" | grep -c '\.copy$') -eq 2 ]]; }
poll 6 _two_copies || fail "no second copy: $(ls -l "$copies")"
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
pid=""
log "ok: Escape keeps the copy; killed again"

# --- the start after it asks about both, the newer first --------------------------
_clipboard_is() { [[ $(xclip -selection clipboard -o -t UTF8_STRING 2>/dev/null | hex_of /dev/stdin) == "$1" ]]; }
# Starts the program (with a file named) and takes the text back.
restore() { # caption hex [screenshot] [file]
    start_program "${@:4}"
    take_back "$@"
}
# Answers Yes to the program's one question left and checks, through Select
# all and Copy, that the editor holds these bytes.
take_back() { # caption hex [screenshot]
    local question
    question=$(wait_window '^KESTO IDE$')
    focus "$question"
    key Return
    wait_window_gone "$question"
    main=$(wait_window '^KESTO IDE \[')
    wait_caption "$main" "$1"
    _another_question() { [[ -n $(window_named '^KESTO IDE$') ]]; }
    poll 1 _another_question && fail "a second question came up"
    log "ok: one question"
    [[ -z ${3:-} ]] || shot "$3"
    focus "$main"
    key ctrl+a ctrl+c
    poll 5 _clipboard_is "$2" ||
        fail "text after recovery: got [$(xclip -selection clipboard -o -t UTF8_STRING | hex_of /dev/stdin)], expected [$2]"
    log "ok: the editor holds the text byte for byte"
}
# Exit, throwing the text away: nothing stays.
exit_discarding() {
    focus "$main"
    key alt+e
    wait_popup >/dev/null
    key Left k
    local prompt
    prompt=$(wait_window '^KESTO IDE$')
    focus "$prompt"
    key alt+n
    wait_exit "$pid" 0
    pid=""
    expect_eq "files left in the program's folder" "$(ls -A "$copies")" ""
}
start_program
question=$(wait_window '^KESTO IDE$')
focus "$question"
key alt+n
wait_window_gone "$question"
take_back "KESTO IDE [$src] *" "$expected" recovery-3-restored

# --- told to end (a logout, a shutdown, kill) a moment after typing ---------------
key ctrl+End
type_text "ąę!"
more="$expected c4 85 c4 99 21"
key ctrl+a ctrl+c
poll 5 _clipboard_is "$more" || fail "the typing did not reach the editor"
kill -TERM "$pid"
wait_exit "$pid" 143
pid=""
log "ended by SIGTERM"
restore "KESTO IDE [$src] *" "$more" "" "$src"
exit_discarding

# --- the display goes away a second after typing ----------------------------------
# A private X server of its own, killed under the program.
outer_display=$DISPLAY
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$T/display" 2>>"$T/xvfb.log" &
xvfb_pid=$!
_display_up() { [[ -s $T/display ]]; }
poll 10 _display_up || fail "the private X server did not start"
export DISPLAY=":$(cat "$T/display")"
load_polish_keys
start_program
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [noname.asm]"
focus "$main"
type_text "zanik ekranu: zażółć"
wait_caption "$main" "KESTO IDE [noname.asm] *"
lost=$(printf 'zanik ekranu: zażółć' | hex_of /dev/stdin)
expect_eq "copies before the display goes" "$(cd "$copies" && ls -A -- *.copy 2>/dev/null)" ""
sleep 1
kill "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=""
wait_exit "$pid" 1
pid=""
log "the display went away"
export DISPLAY=$outer_display
restore "KESTO IDE [noname.asm] *" "$lost" recovery-4-after-display-loss
exit_discarding
log "passed; screenshots in $E2E_OUT"
