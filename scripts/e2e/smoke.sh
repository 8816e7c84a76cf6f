#!/usr/bin/env bash
# Starts an installed kestoide under Xvfb and proves it works where it was put:
# the window comes up, a stand-in ruderari.exe beside it is found (the program
# looks for the tools in its own folder) and runs in its terminal through the
# installed helper, and Exit ends it. With SMOKE_ENTRY set, the program is
# started as a double-click starts it: through that desktop entry (gio
# launch), with only the system's folders on PATH.
#
#   [SMOKE_ENTRY=DESKTOP_FILE] scripts/e2e/smoke.sh INSTALLED_PROGRAM OUT_DIR
#
# The stand-in tool is put beside the program for the run and taken away after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_begin INSTALLED_PROGRAM "$0" "$@"
bindir=$(dirname "$program")
[[ ! -e $bindir/ruderari.exe ]] || { echo "$bindir/ruderari.exe exists already" >&2; exit 2; }

T=$(mktemp -d /tmp/kestoide-smoke.XXXXXX)
tool="$bindir/ruderari.exe"
cat >"$tool" <<EOF
#!/bin/sh
printf '%s|%s\n' "\$PWD" "\$*" >>"$T/tools.log"
EOF
chmod +x "$tool"
pid=""
on_failure() {
    shot smoke-failure || true
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    cat "$T/program.log" >&2 || true
}
trap 'rm -f "$tool"; rm -rf "$T"' EXIT

cd "$T"
export XDG_STATE_HOME="$T/state" XDG_RUNTIME_DIR=$(mkdir -m 700 "$T/run" && echo "$T/run")
if [[ -n ${SMOKE_ENTRY:-} ]]; then
    log "starting it through $SMOKE_ENTRY"
    PATH=/usr/bin:/bin gio launch "$SMOKE_ENTRY" >"$T/program.log" 2>&1
else
    log "starting $program"
    "$program" >"$T/program.log" 2>&1 &
    pid=$!
fi
focus "$(wait_window '^KESTOIDE$')"
key Return
main=$(wait_window '^KESTO IDE \[')
[[ -n $pid ]] || pid=$(xdotool getwindowpid "$main")
[[ $(readlink "/proc/$pid/exe") == "$(realpath "$program")" ]] ||
    fail "the window is not $program's but $(readlink "/proc/$pid/exe")'s"
wait_caption "$main" "KESTO IDE [noname.asm]"
expect_file_bytes "kestoide.ini" kestoide.ini '1\r\n'
shot smoke-installed

# An unchanged untitled document compiles as it is: the assembler beside the
# installed program gets "noname.asm".
focus "$main"
key ctrl+m
_compiled() { [[ -f $T/tools.log ]] && grep -qxF "$T|noname.asm" "$T/tools.log"; }
poll 10 _compiled || fail "ruderari.exe beside $program was not started"
log "ok: the assembler beside the installed program was started"
term=$(wait_window '^Kompilacja pliku noname\.asm$')
focus "$term"
key Return
wait_window_gone "$term"
log "ok: its terminal closed on Enter"
focus "$main"

key alt+e
wait_popup >/dev/null
key Left k
if [[ -n ${SMOKE_ENTRY:-} ]]; then
    poll 10 process_ended "$pid" || fail "the program did not end" # no child of ours
else
    wait_exit "$pid" 0
fi
pid=""
log "installed program passed"
