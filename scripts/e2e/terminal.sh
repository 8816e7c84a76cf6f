#!/usr/bin/env bash
# The lab's tools in terminals of their own, under a window manager (openbox)
# as on a student's desktop: after Compile the assembler's terminal is the
# active window; after Run the editor stays active and the run tool's
# terminal is minimised; a tool that fails keeps its terminal, with what it
# printed and how it ended, until Enter, and a failed Run's terminal comes up
# without taking the focus. Run after a failed compile asks first. When Wine
# and MinGW are installed, a real Windows stand-in, cross-built here, runs
# through Wine and gets the source as a Windows path, Polish letters whole
# though the program runs in the C locale. Last, the window started at scale
# factor 2 fits the screen, its status line included.
#
#   scripts/e2e/terminal.sh PROGRAM OUT_DIR
#
# Screenshots go to OUT_DIR; Wine's prefix is OUT_DIR/wine (made once).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_begin PROGRAM "$0" "$@"
command -v openbox >/dev/null || { echo "openbox is missing (Debian package openbox)" >&2; exit 2; }
# Windows sit in openbox's frames.
export E2E_DEPTH=2

T=$(mktemp -d /tmp/kesto-term.XXXXXX)
app="$T/app" cwd="$T/lab" src="$T/zajęcia"
mkdir -p "$app" "$cwd" "$src"
cp "$program" "$app/kestoide"
cp "$(dirname "$program")/kestoide-run" "$app/"
# One stand-in for both tools: it prints to both outputs, logs its start,
# then sleeps and ends as the files beside it say (by default at once, with 1).
for tool in ruderari.exe zozevadi.exe; do
    cat >"$app/$tool" <<'EOF'
#!/bin/sh
here=$(dirname "$0")
echo "$(basename "$0"): komunikat na standardowym wyjściu, argumenty: $*"
echo "$(basename "$0"): błąd w linii 3" >&2
printf '%s|%s\n' "$(basename "$0")" "$*" >>"$here/tools.log"
sleep "$(cat "$here/sleep" 2>/dev/null || echo 0)"
case "$0" in *ruderari.exe) date +%s%N >"${1%.*}.hex" ;; esac
exit "$(cat "$here/status" 2>/dev/null || echo 1)"
EOF
    chmod +x "$app/$tool"
done
printf 'START:  NOP\r\n' >"$src/prog.asm"
printf '1\r\n' >"$cwd/kestoide.ini"

export WINEPREFIX="$E2E_OUT/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine_ready() { command -v wine >/dev/null && command -v x86_64-w64-mingw32-gcc >/dev/null; }
pid="" wm=""
# Zakończ from the Plik menu, with nothing unsaved: the program ends at once.
quit_through_menu() {
    activate "$main"
    key alt+e
    wait_popup >/dev/null
    key Left k
    wait_exit "$pid" 0
    pid=""
}
on_failure() {
    shot terminal-failure || true
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    echo "stage kept in $T; program output:" >&2
    cat "$T/program.log" >&2 || true
}
cleanup() {
    local rc=$?
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    [[ -n $wm ]] && kill "$wm" 2>/dev/null || true
    wine_ready && wineserver -k 2>/dev/null || true
    [[ $rc -eq 0 ]] && rm -rf "$T"
}
trap cleanup EXIT

# --- the window manager -------------------------------------------------------
start_openbox "$T/openbox.log"
wm=$E2E_WM

# A minimised window is not viewable: search every window, not only visible ones.
terminal_named() { # regex -> id
    local id=""
    _there() { id=$(xdotool search --name "$1" 2>/dev/null | head -n1); [[ -n $id ]]; }
    poll 30 _there "$1" || fail "no terminal titled /$1/"
    echo "$id"
}
terminal_gone() { ! xdotool search --name "$1" >/dev/null 2>&1; }
logged() { # line
    _has() { grep -qxF -- "$1" "$app/tools.log" 2>/dev/null; }
    poll 10 _has "$1" || fail "tools.log lacks [$1]: $(cat "$app/tools.log" 2>/dev/null)"
    log "ok: started $1"
}

# --- compile: the terminal comes to the front and stays after a failure -------
cd "$cwd"
log "starting $app/kestoide with $src/prog.asm"
XDG_STATE_HOME="$T/state" XDG_RUNTIME_DIR=$(mkdir -m 700 "$T/run" && echo "$T/run") \
    "$app/kestoide" "$src/prog.asm" >"$T/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[')
wait_caption "$main" "KESTO IDE [$src/prog.asm]"
activate "$main"
expect_active "$main" "the editor"

key ctrl+m
logged "ruderari.exe|$src/prog.asm"
term=$(terminal_named '^Kompilacja pliku prog\.asm$')
expect_active "$term" "the assembler's terminal"
sleep 1
terminal_gone '^Kompilacja pliku prog\.asm$' && fail "the terminal of a failed compile closed by itself"
log "ok: the failed compile's terminal stays open"
shot 11-compile-terminal
key Return
poll 10 terminal_gone '^Kompilacja pliku prog\.asm$' || fail "the compile terminal did not close on Enter"
log "ok: Enter closed it"

# --- Run after the failed compile asks first; Escape starts nothing ----------------
activate "$main"
expect_active "$main" "the editor"
key ctrl+r
question=$(wait_window '^KESTO IDE$')
activate "$question"
key Escape
wait_window_gone "$question"
sleep 0.5
grep -q '^zozevadi' "$app/tools.log" && fail "Run after a failed compile started the run tool unasked"
log "ok: Run after a failed compile asked, and Escape started nothing"
# A good compile, for the runs below.
echo 0 >"$app/status"
: >"$app/tools.log"
activate "$main"
key ctrl+m
logged "ruderari.exe|$src/prog.asm"
term=$(terminal_named '^Kompilacja pliku prog\.asm$')
# What is typed before the helper asks for Enter does not count.
sleep 1
activate "$term"
key Return
poll 10 terminal_gone '^Kompilacja pliku prog\.asm$' || fail "the compile terminal did not close on Enter"

# --- run: minimised, the editor keeps the focus; gone by itself after success ---
activate "$main"
expect_active "$main" "the editor"
echo 2 >"$app/sleep"
key ctrl+r
logged "zozevadi.exe|/1 $src/prog.hex"
term=$(terminal_named '^Uruchomienie pliku prog\.asm$')
poll 10 hidden "$term" || fail "the run tool's terminal is not minimised: $(xprop -id "$term" _NET_WM_STATE)"
log "ok: the run tool's terminal is minimised (_NET_WM_STATE_HIDDEN)"
expect_active "$main" "the editor, after Run"
shot 12-run-minimised
poll 10 terminal_gone '^Uruchomienie pliku prog\.asm$' || fail "the terminal of a good run stayed"
log "ok: a good run's terminal closed by itself"

# A failed run's terminal comes up, with its messages, and waits; the
# editor keeps the focus.
echo 0 >"$app/sleep"
echo 1 >"$app/status"
: >"$app/tools.log"
key ctrl+r
logged "zozevadi.exe|/1 $src/prog.hex"
term=$(terminal_named '^Uruchomienie pliku prog\.asm$')
_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
_shown() { ! hidden "$1" && _viewable "$1"; }
poll 10 _shown "$term" || fail "the failed run's terminal is still minimised: $(xprop -id "$term" _NET_WM_STATE)"
expect_active "$main" "the editor, after a failed Run"
sleep 0.3
shot 13-run-failed
terminal_gone '^Uruchomienie pliku prog\.asm$' && fail "the terminal of a failed run closed by itself"
activate "$term"
expect_active "$term" "the failed run's terminal, once clicked"
key Return
poll 10 terminal_gone '^Uruchomienie pliku prog\.asm$' || fail "the run terminal did not close on Enter"
log "ok: a failed run's terminal came up without the focus and stayed until Enter"

# --- a Windows tool through Wine --------------------------------------------------
if wine_ready; then
    cat >"$T/standin.c" <<'EOF'
/* A Windows stand-in for the assembler: logs its arguments beside itself. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
int main(int argc, char **argv)
{
    char log[MAX_PATH];
    GetModuleFileNameA(NULL, log, MAX_PATH);
    strcpy(strrchr(log, '\\') + 1, "windows.log");
    FILE *f = fopen(log, "a");
    for (int i = 1; i < argc; ++i)
        fprintf(f, "%s%s", i > 1 ? "|" : "", argv[i]);
    fprintf(f, "\n");
    fclose(f);
    printf("Windows stand-in: assembling %s\n", argc > 1 ? argv[1] : "nothing");
    fprintf(stderr, "Windows stand-in: 1 error\n");
    return 1;
}
EOF
    x86_64-w64-mingw32-gcc -O1 -o "$app/ruderari.exe" "$T/standin.c"
    chmod -x "$app/ruderari.exe"
    if [[ ! -d $WINEPREFIX ]]; then
        log "making Wine's prefix $WINEPREFIX (once)"
        wineboot -i >/dev/null 2>&1 || wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
    activate "$main"
    key ctrl+m
    term=$(terminal_named '^Kompilacja pliku prog\.asm$')
    _ran() { [[ -s $app/windows.log ]]; }
    poll 120 _ran || fail "the Windows stand-in did not run under Wine"
    # The stand-in is an ANSI program: it got, and logged, its argument in
    # the code page Wine ran it in, which must have held every letter.
    windows_path="Z:${src//\//\\}\\prog.asm"
    expect_eq "the source, as Wine's program got it, in the C locale" \
        "$(tr -d '\r' <"$app/windows.log" | iconv -f CP1250 -t UTF-8)" "$windows_path"
    sleep 1
    shot 14-compile-under-wine
    activate "$term"
    key Return
    poll 10 terminal_gone '^Kompilacja pliku prog\.asm$' || fail "the Wine terminal did not close on Enter"
    log "ok: a Windows tool ran through Wine, in its terminal"
else
    log "Wine or MinGW is not installed: the Windows stand-in is left out"
fi

quit_through_menu

# --- a small screen: scale factor 2 leaves 512 by 384 points of 1024 by 768 --------
log "starting $app/kestoide at scale factor 2"
QT_SCALE_FACTOR=2 XDG_STATE_HOME="$T/state" XDG_RUNTIME_DIR="$T/run" \
    "$app/kestoide" >"$T/program.log" 2>&1 &
pid=$!
main=$(wait_window '^KESTO IDE \[')
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
bottom_frame=$(xprop -id "$main" _NET_FRAME_EXTENTS | awk -F', ' '{ print $NF }')
screen_height=$(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[2] }')
(( Y + HEIGHT + ${bottom_frame:-0} <= screen_height )) ||
    fail "the window reaches below the screen: top $Y, height $HEIGHT, screen $screen_height"
log "ok: at scale factor 2 the window, its status line at its foot, ends at $((Y + HEIGHT)) of $screen_height"
shot 15-scale-factor-2
quit_through_menu
log "terminal checks passed; screenshots in $E2E_OUT"
