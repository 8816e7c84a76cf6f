# Helpers for driving KESTO IDE for Windows in a real X server with real key
# events, sourced by the scripts in scripts/e2e/; needs DISPLAY (Xvfb).

# Wraps the calling script in Xvfb, unless that was done already.
# Call as: e2e_wrap "$0" "$@"
e2e_wrap() {
    [[ -n ${KESTO_E2E_INNER:-} ]] && return 0
    export KESTO_E2E_INNER=1
    # xdotool reads the text it types in the locale's encoding.
    export LC_ALL=C.UTF-8
    unset SESSION_MANAGER
    # -noreset: the server keeps the keyboard map loaded while no client is
    # connected.
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" bash "$@"
}

# Every script's start: wraps it in Xvfb, then takes its two arguments, the
# program (`what` names it in the usage line) and the folder for what the
# run leaves behind, as `program` and `E2E_OUT`.
# Call as: e2e_begin WHAT "$0" "$@"
e2e_begin() {
    local what=$1
    shift
    e2e_wrap "$@"
    shift
    [[ $# -eq 2 ]] || { echo "usage: $0 $what OUT_DIR" >&2; exit 2; }
    program=$(realpath "$1")
    E2E_OUT=$(mkdir -p "$2" && realpath "$2")
}

E2E_T0=${EPOCHREALTIME/./}
now_us() { echo "${EPOCHREALTIME/./}"; }
log() { printf '[e2e %6.2fs] %s\n' "$(( $(now_us) - E2E_T0 ))e-6" "$*"; }

# Retries a command every 50 ms until it succeeds or SECONDS_ pass.
poll() {
    local seconds=$1 end
    shift
    end=$(( $(now_us) + seconds * 1000000 ))
    until "$@"; do
        (( $(now_us) > end )) && return 1
        sleep 0.05
    done
}

fail() {
    printf 'e2e FAILED: %s\n' "$*" >&2
    declare -F on_failure >/dev/null && on_failure
    exit 1
}

# Compares a value with what it should be.
expect_eq() { # what actual expected
    [[ $2 == "$3" ]] || fail "$1: got [$2], expected [$3]"
    log "ok: $1"
}

# The bytes of a file as hex, for comparisons that show what differs.
hex_of() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
hex_of_printf() { printf "$1" | od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
# Waits until a file holds these bytes, given as hex ("0d 0a") or as a
# printf format.
expect_file_hex() { # what file hex
    _bytes_are() { [[ -f $1 && $(hex_of "$1") == "$2" ]]; }
    poll 10 _bytes_are "$2" "$3" || true
    [[ -f $2 ]] || fail "$1: $2 does not exist"
    expect_eq "$1" "$(hex_of "$2")" "$3"
}
expect_file_bytes() { expect_file_hex "$1" "$2" "$(hex_of_printf "$3")"; }

# --- windows -----------------------------------------------------------------

# The first visible top-level window whose title matches an extended regex.
# Menus are popups (override-redirect) titled with the program's name, like
# its question boxes; kind tells them apart: "window" or "popup". Under a
# window manager a window sits one level down, in its frame: E2E_DEPTH=2.
window_named() { # regex [kind]
    local id popup
    for id in $(xdotool search --onlyvisible --maxdepth "${E2E_DEPTH:-1}" --name "$1" 2>/dev/null); do
        popup=$(xwininfo -id "$id" -all 2>/dev/null | grep -c 'Override Redirect State: yes' || true)
        if [[ ${2:-window} == popup ]]; then ((popup)) || continue; else ((!popup)) || continue; fi
        echo "$id"
        return 0
    done
}

wait_window() { # regex [kind] -> prints the window id
    local id=""
    _found() { id=$(window_named "$1" "$2"); [[ -n $id ]]; }
    poll 10 _found "$1" "${2:-window}" || fail "no ${2:-window} titled /$1/ appeared"
    echo "$id"
}
wait_popup() { wait_window '.*' popup; }

wait_window_gone() { # id
    _gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
    poll "${2:-10}" _gone "$1" || fail "window $1 did not close"
}

caption_of() { xdotool getwindowname "$1" 2>/dev/null; }

wait_caption() { # id expected
    _caption_is() { [[ $(caption_of "$1") == "$2" ]]; }
    poll 10 _caption_is "$1" "$2" || fail "caption: got [$(caption_of "$1")], expected [$2]"
    log "ok: caption [$2]"
}

# There is no window manager under plain Xvfb: give the window the input focus
# ourselves and wait until the server says it has it.
focus() { # id
    _has_focus() { [[ $(xdotool getwindowfocus -f 2>/dev/null) == "$1" ]]; }
    _try_focus() { _has_focus "$1" || { xdotool windowfocus "$1" 2>/dev/null; _has_focus "$1"; }; }
    poll 5 _try_focus "$1" || fail "window $1 does not take the focus"
}

# Real key events through XTEST, to whatever window has the focus.
key() { xdotool key --clearmodifiers --delay 30 "$@"; }
type_text() { xdotool type --clearmodifiers --delay 15 -- "$1"; }

# A screenshot of what is on the screen, trimmed to the windows shown. A
# window just mapped may not be drawn yet (Wine's often are not): an empty
# screen is taken again, for up to 5 s.
shot() { # name
    local out="$E2E_OUT/$1.png"
    _drawn() {
        import -window root miff:- |
            convert miff:- -bordercolor black -border 1 -trim +repage "$out" 2>/dev/null &&
            [[ $(identify -format '%w' "$out") -gt 1 ]]
    }
    poll 5 _drawn || log "the screen was still empty for $out"
    log "screenshot $out"
}

# The first start in a folder without kestoide.ini: the program warns, Enter
# answers, the settings file is made and the empty document's window comes;
# its id goes into `main`.
first_start() {
    local warning
    warning=$(wait_window '^KESTOIDE$')
    shot 01-missing-settings-warning
    focus "$warning"
    key Return
    main=$(wait_window '^KESTO IDE \[')
    wait_caption "$main" "KESTO IDE [noname.asm]"
    expect_file_bytes "kestoide.ini after the warning" kestoide.ini '1\r\n'
    shot 02-start
}

# Types PATH over the name a file dialog offers, confirms it, and waits until
# the main window's caption names the file.
enter_path_in_dialog() { # dialog path
    focus "$1"
    key ctrl+a
    type_text "$2"
    key Return
    wait_window_gone "$1"
    wait_caption "$main" "KESTO IDE [$2]"
}

# --- a window manager, where a check needs one ---------------------------------

# Starts openbox for the rest of the run, as on a student's desktop; its pid
# is E2E_WM. Windows then sit in its frames (E2E_DEPTH=2).
start_openbox() { # log-file
    openbox --sm-disable >"$1" 2>&1 &
    E2E_WM=$!
    _wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    poll 10 _wm_up || fail "openbox did not start"
    export E2E_DEPTH=2
    log "openbox manages the screen"
}
# The active window's id in decimal; 0 while there is none ("not found.").
active_window() {
    local id
    id=$(xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | awk '{ print $NF }')
    [[ $id == 0x* ]] && printf '%d' "$id" || printf 0
}
hidden() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_HIDDEN; }
expect_active() { # id what
    _is_active() { [[ $(active_window) == "$1" ]]; }
    poll 10 _is_active "$1" || fail "the active window is $(active_window), not $2 ($1)"
    log "ok: $2 is the active window"
}
activate() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowactivate "$1"; }

# --- the process ---------------------------------------------------------------

process_ended() { # pid
    [[ ! -e /proc/$1 ]] || [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) == Z ]]
}

wait_exit() { # pid expected-status
    poll 10 process_ended "$1" || fail "the program did not end"
    local status=0
    wait "$1" || status=$?
    expect_eq "exit status" "$status" "$2"
}
