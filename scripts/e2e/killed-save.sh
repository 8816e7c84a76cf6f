#!/usr/bin/env bash
# A save killed at any moment loses nothing: the real program saves a 20 MB
# file and is killed with SIGKILL at varied moments of that save. A file
# that can be replaced holds, right after the kill, the old text or the new
# one, whole. A file with a second name is rewritten in place; there the next
# start puts a rewrite cut short right, and says so in one box, so once the
# program has started again the file is the old text or the new one, whole,
# under both names.
#
#   scripts/e2e/killed-save.sh PROGRAM OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_begin PROGRAM "$0" "$@"

T=$(mktemp -d /tmp/kesto-killed-save.XXXXXX)
cwd="$T/lab" state="$T/state"
mkdir -p "$cwd" "$T/src" "$T/run"
chmod 700 "$T/run"
printf '1\r\n' >"$cwd/kestoide.ini"

pid=""
on_failure() {
    [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null || true
    echo "stage kept in $T; program output:" >&2
    cat "$T/program.log" >&2 || true
}
trap 'rc=$?; [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null; [[ $rc -eq 0 ]] && rm -rf "$T"' EXIT

start_program() { # [file]
    cd "$cwd"
    XDG_STATE_HOME="$state" XDG_RUNTIME_DIR="$T/run" "$program" "$@" >>"$T/program.log" 2>&1 &
    pid=$!
}
kill_program() {
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
}

# The old text, and the new one: an x typed at its start.
old="$T/old.asm" new="$T/new.asm"
head -c $((20 << 20)) < <(yes $'\tmov a,b\r') >"$old"
{ printf 'x'; cat "$old"; } >"$new"
doc="$T/src/prog.asm"

whole() { # file -> "old", "new" or "mixed"
    if cmp -s "$1" "$old"; then echo old; elif cmp -s "$1" "$new"; then echo new; else echo mixed; fi
}

# Starts the program on the document, types the x and saves; the kill comes
# `delay` seconds after Ctrl+S.
save_and_kill() { # delay
    start_program "$doc"
    local main
    main=$(wait_window '^KESTO IDE \[')
    wait_caption "$main" "KESTO IDE [$doc]"
    focus "$main"
    key x
    wait_caption "$main" "KESTO IDE [$doc] *"
    # The delay counts from the key's start: xdotool itself pauses after
    # sending it, long enough for a small save to end.
    xdotool key --clearmodifiers ctrl+s &
    sleep "$1"
    kill_program
    wait
}

# Moments from before the save to after it, closest where it writes the
# file (here: 20-50 ms in for a replace, 80-150 ms for a rewrite in place).
replace_delays=(0 0.01 0.02 0.03 0.04 0.05 0.08)
in_place_delays=(0.02 0.06 0.08 0.09 0.1 0.11 0.12 0.13 0.15 0.2)

# --- replaced: old or new, whole, at every moment --------------------------------
declare -A seen=()
for delay in "${replace_delays[@]}"; do
    cp "$old" "$doc"
    save_and_kill "$delay"
    outcome=$(whole "$doc")
    [[ $outcome != mixed ]] || fail "killed ${delay}s into a replacing save: the file is neither text"
    seen[$outcome]=1
    log "replace, killed after ${delay}s: $outcome"
done
log "ok: a replacing save killed at any moment leaves one text, whole (${!seen[*]})"

# --- in place: put right at the next start ---------------------------------------
seen=()
for delay in "${in_place_delays[@]}"; do
    rm -f "$doc" "$T/src/second name.asm"
    cp "$old" "$doc"
    ln "$doc" "$T/src/second name.asm"
    save_and_kill "$delay"
    right_after=$(whole "$doc")
    start_program
    if [[ $right_after == mixed ]]; then
        # Put back before the window shows, with one box that says so.
        wait_window '^KESTOIDE$' >/dev/null
    else
        wait_window '^KESTO IDE \[' >/dev/null
    fi
    kill_program
    outcome=$(whole "$doc")
    [[ $outcome != mixed ]] || fail "killed ${delay}s into an in-place save: after the next start the file is neither text"
    cmp -s "$doc" "$T/src/second name.asm" || fail "the second name lost the file"
    seen[$outcome]=1
    log "in place, killed after ${delay}s: $right_after right after, $outcome after the next start"
done
leftovers=$(ls -A "$T/src" | grep -v -x -e 'prog.asm' -e 'second name.asm' || true)
expect_eq "files left beside the document" "$leftovers" ""
log "ok: an in-place save killed at any moment is put right at the next start (${!seen[*]})"
log "passed"
