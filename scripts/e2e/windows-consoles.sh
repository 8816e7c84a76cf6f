#!/usr/bin/env bash
# The tools' consoles on Windows as on the lab's desktop, under a window
# manager (openbox): after Compile the helper's console is the active window
# and, the assembler done, waits for Enter; after Run the editor stays active,
# the console is minimised and goes by itself when the tool ends well; a run
# tool that fails has its console come up, waiting for Enter. An assembler that prints in code page 852 and ends with -1 puts the
# caret on the line it names, and Run after it asks first. Run by scripts/e2e/windows.sh, in its X server, on the stage
# it left in BUILD_WIN/wine-e2e (the program in C:\KESTO IDE with the
# stand-in tools). The source's name has every Polish letter and blanks: the
# ANSI assembler gets it whole under code page 1250, the Unicode run tool too.
#
#   scripts/e2e/windows-consoles.sh BUILD_WIN OUT_DIR
set -euo pipefail
source "$(dirname "$0")/windows-begin.sh"
prefix="$build/wine-e2e"
app="$prefix/drive_c/KESTO IDE"
[[ -f $app/kestoide-run.exe && -d $prefix/drive_c/pracownia ]] ||
    fail "no stage in $prefix: run scripts/e2e/windows.sh"
printf 'START:  NOP\r\n' >"$prefix/drive_c/moje programy/zażółć gęślą jaźń.asm"
wine_env "$prefix"
tools_log="$app/tools.log"

pid=""
on_failure() {
    shot consoles-failure || true
    wineserver -k 2>/dev/null || true
}
cleanup() {
    wineserver -k 2>/dev/null || true
    [[ -n ${E2E_WM:-} ]] && kill "$E2E_WM" 2>/dev/null || true
}
trap cleanup EXIT

# The helpers still running, by their console's title, a regex (Wine's
# processes show their Windows command line).
helpers() { pgrep -f "kestoide-run\.exe --title $1" || true; }
no_helper() { [[ -z $(helpers "$1") ]]; }
# A minimised window is not viewable: every window is searched.
console_named() { # title-regex -> id
    local id=""
    _there() { id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1); [[ -n $id ]]; }
    poll 10 _there "$1" || fail "no console titled /$1/"
    echo "$id"
}
regex_of() { printf '%s' "$1" | sed 's/[][\\.*^$|+?(){}]/\\&/g'; }
last_tool() { # regex: the newest line of the tools' log
    _last() { tail -n1 "$tools_log" | grep -qE -- "$1"; }
    poll 10 _last "$1" || fail "the last tool start is not /$1/: $(tail -n1 "$tools_log")"
}
still_waits() { # title-regex what
    sleep 1
    [[ -n $(helpers "$1") ]] && xdotool search --name "^$1\$" >/dev/null 2>&1 ||
        fail "$2 closed without Enter"
    log "ok: $2 waits"
}
enter_closes() { # title-regex what
    key Return
    poll 10 no_helper "$1" || fail "$2 still waits after Enter"
    log "ok: Enter closed $2"
}

start_openbox "$E2E_OUT/openbox.log"
cd "$prefix/drive_c/pracownia"
source='C:\moje programy\zażółć gęślą jaźń'
log "starting C:\\KESTO IDE\\kestoide.exe with $source.asm"
wine "C:\\KESTO IDE\\kestoide.exe" "$source.asm" >>"$E2E_OUT/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[C')
activate "$main"
expect_active "$main" "the editor"

# --- compile: the console comes to the front and waits --------------------------
compile='Kompilacja pliku zażółć gęślą jaźń\.asm'
key ctrl+m
last_tool "^$(regex_of "ruderari.exe|C:\\pracownia|$source.asm|cmd=")"'.*\|acp=1250\|show=1\|console=1$'
console=$(console_named "$compile")
expect_active "$console" "the compile console"
still_waits "$compile" "the compile console"
shot 10-compile-console-active
enter_closes "$compile" "the compile console"

# --- run: minimised, the editor keeps the focus; gone by itself after success -----
run='Uruchomienie pliku zażółć gęślą jaźń\.asm'
activate "$main"
expect_active "$main" "the editor"
key ctrl+r
last_tool "^$(regex_of "zozevadi.exe|C:\\pracownia|/")[1-4]$(regex_of "|$source.hex|cmd=")"'.*\|acp=1250\|show=7\|console=1$'
poll 10 no_helper "$run" || fail "the console of a good run stayed"
expect_active "$main" "the editor, after a good run,"
log "ok: a good run's console closed by itself"

# --- a failed run's console comes up, the editor keeps the focus ------------------
printf '1' >"$app/zozevadi.exe.exit"
lines=$(wc -l <"$tools_log")
key ctrl+r
_started() { (($(wc -l <"$tools_log") > lines)); }
poll 10 _started || fail "the run tool did not start again"
console=$(console_named "$run")
_shown() { ! hidden "$1" && xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
poll 10 _shown "$console" || fail "the failed run's console is still minimised: $(xprop -id "$console" _NET_WM_STATE)"
log "ok: the failed run's console is shown"
# The program shows it with SW_SHOWNOACTIVATE; Wine's X driver maps it again,
# which openbox takes as a request to activate it (README: where Wine cannot
# stand for Windows), so the editor's focus is checked on Linux only.
still_waits "$run" "the failed run's console"
sleep 0.5
shot 11-failed-run-console
activate "$console"
expect_active "$console" "the failed run's console, once clicked"
enter_closes "$run" "the failed run's console"
rm "$app/zozevadi.exe.exit"

# --- a failed compile printing in code page 852, ended by `return -1` -------------
activate "$main"
# The file ends with CR LF: its end is the start of line 2.
key ctrl+End
type_text "NOP"
# "błąd w linii 2" as a DOS-era tool prints it; -1 as Windows keeps it.
printf 'b\x88\xa5d w linii 2\r\n' >"$app/ruderari.exe.print"
printf '4294967295' >"$app/ruderari.exe.exit"
lines=$(wc -l <"$tools_log")
key ctrl+m
question=$(wait_window '^KESTO IDE$') # save and compile?
focus "$question"
key Return
poll 10 _started || fail "the assembler did not start again"
still_waits "$compile" "the console of the compile ended by -1"
shot 12-compile-852-minus-1
enter_closes "$compile" "the console of the compile ended by -1"
rm "$app/ruderari.exe.print" "$app/ruderari.exe.exit"
# Run asks before it sends what that compile left; Escape sends nothing.
activate "$main"
lines=$(wc -l <"$tools_log")
key ctrl+r
question=$(wait_window '^KESTO IDE$')
focus "$question"
key Escape
wait_window_gone "$question"
sleep 0.5
_started && fail "Run after a failed compile started the run tool unasked"
log "ok: Run after the failed compile asked, and Escape started nothing"
# The caret went to the start of line 2: a letter typed lands there.
activate "$main"
type_text "X"
key ctrl+s
expect_file_bytes "the caret on the line the assembler named" \
    "$prefix/drive_c/moje programy/zażółć gęślą jaźń.asm" 'START:  NOP\r\nXNOP\r\n'

activate "$main"
key alt+e
_menu() { # the program's own (Wine's system tray has pop-ups too)
    local w
    for w in $(xdotool search --onlyvisible --maxdepth 1 --class kestoide.exe 2>/dev/null); do
        xwininfo -id "$w" -all 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
    done
    return 1
}
poll 10 _menu || fail "the Edit menu did not open"
key Left k
wait_exit "$pid" 0
pid=""
log "consoles passed"
