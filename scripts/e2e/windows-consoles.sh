#!/usr/bin/env bash
# The tools' consoles on Windows as on the lab's desktop, under a window
# manager (openbox): after Compile the helper's console is the active window
# and, the assembler done, waits for Enter; after Run the editor stays active,
# the console is minimised and goes by itself when the tool ends well; a run
# tool that fails keeps its minimised console until the student opens it and
# presses Enter. Run by scripts/e2e/windows.sh, in its X server, on the stage
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

# --- a failed run keeps its minimised console until the student reads it ---------
printf '1' >"$app/zozevadi.exe.exit"
lines=$(wc -l <"$tools_log")
key ctrl+r
_started() { (($(wc -l <"$tools_log") > lines)); }
poll 10 _started || fail "the run tool did not start again"
console=$(console_named "$run")
poll 10 hidden "$console" || fail "the run console is not minimised: $(xprop -id "$console" _NET_WM_STATE)"
log "ok: the run console is minimised (_NET_WM_STATE_HIDDEN)"
expect_active "$main" "the editor, after a failed run,"
still_waits "$run" "the failed run's console"
activate "$console"
expect_active "$console" "the failed run's console, once opened"
sleep 0.5
shot 11-failed-run-console
enter_closes "$run" "the failed run's console"
rm "$app/zozevadi.exe.exit"

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
