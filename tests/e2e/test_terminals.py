"""The lab's tools in terminals of their own, under a window manager
(openbox) as on a student's desktop."""

import os
import subprocess
import time

import pytest

import scenario
import tools
import waiting
import wine

# One stand-in for both tools: it prints to both outputs, logs its start,
# then sleeps and ends as the files beside it say (by default at once, with 1).
TOOL = """here=$(dirname "$0")
echo "$(basename "$0"): komunikat na standardowym wyjściu, argumenty: $*"
echo "$(basename "$0"): błąd w linii 3" >&2
printf '%s|%s\\n' "$(basename "$0")" "$*" >>"$here/tools.log"
sleep "$(cat "$here/sleep" 2>/dev/null || echo 0)"
case "$0" in *ruderari.exe) date +%s%N >"${1%.*}.hex" ;; esac
exit "$(cat "$here/status" 2>/dev/null || echo 1)"
"""

# A Windows stand-in for the assembler: logs its arguments beside itself.
WINDOWS_TOOL = r"""#include <stdio.h>
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
"""

COMPILE = tools.compile_title("prog.asm")
RUN = tools.run_title("prog.asm")


class Terminals:
    def __init__(self, stage):
        self.stage = stage
        self.cwd = stage.folder("lab")
        self.source = stage.write(os.path.join(stage.folder("zajęcia"), "prog.asm"), b"START:  NOP\r\n")
        stage.write(os.path.join(self.cwd, "kestoide.ini"), b"1\r\n")
        for tool in ("ruderari.exe", "zozevadi.exe"):
            stage.tool(tool, TOOL)
        self.log = os.path.join(stage.app, "tools.log")

    def set(self, name, value):
        self.stage.write(os.path.join(self.stage.app, name), f"{value}\n")

    def logged(self, line):
        waiting.until(lambda: line in (waiting.read(self.log) or b"").decode().splitlines(), 10,
                      lambda: f"[{line}] in the tools' log: {waiting.read(self.log)}")

    def clear_log(self):
        self.stage.write(self.log, b"")


@pytest.fixture
def lab(stage):
    return Terminals(stage)


def test_terminals_focus_and_state(screen, window_manager, stage, lab):
    """After Compile the assembler's terminal is the active window and stays
    after a failure until Enter; Run after a failed compile asks first; after
    Run the editor stays active, the terminal is minimised and goes by itself
    after a good run; a failed run's terminal comes up without the focus and
    waits for Enter."""
    s = tools.start_on(stage, screen, lab.source, lab.cwd)
    s.key("ctrl+m")
    lab.logged(f"ruderari.exe|{lab.source}")
    term = tools.terminal(screen, COMPILE)
    screen.wait_active(term, "the assembler's terminal")
    time.sleep(1)
    assert screen.exists(COMPILE), "the terminal of a failed compile closed by itself"
    screen.shot("11-compile-terminal")
    s.key("Return")
    screen.wait_none(COMPILE)

    # Run after the failed compile asks first; Escape starts nothing.
    s.to_editor()
    screen.wait_active(s.main, "the editor")
    s.key("ctrl+r")
    tools.answer(screen, "Escape")
    time.sleep(0.5)
    assert b"zozevadi" not in waiting.read(lab.log), "Run after a failed compile started the run tool unasked"

    # A good compile, for the runs below.
    lab.set("status", 0)
    lab.clear_log()
    s.to_editor()
    s.key("ctrl+m")
    lab.logged(f"ruderari.exe|{lab.source}")
    tools.enter_closes(screen, COMPILE, settle=1)

    # Run: minimised, the editor keeps the focus; gone by itself after success.
    s.to_editor()
    screen.wait_active(s.main, "the editor")
    lab.set("sleep", 2)
    s.key("ctrl+r")
    hex_path = lab.source[:-3] + "hex"
    lab.logged(f"zozevadi.exe|/1 {hex_path}")
    term = tools.terminal(screen, RUN)
    waiting.until(lambda: screen.hidden(term), 10, "the run tool's terminal to be minimised")
    screen.wait_active(s.main, "the editor, after Run")
    screen.shot("12-run-minimised")
    screen.wait_none(RUN)

    # A failed run's terminal comes up, with its messages, and waits; the
    # editor keeps the focus.
    lab.set("sleep", 0)
    lab.set("status", 1)
    lab.clear_log()
    s.key("ctrl+r")
    lab.logged(f"zozevadi.exe|/1 {hex_path}")
    term = tools.terminal(screen, RUN)
    waiting.until(lambda: screen.shown(term), 10, "the failed run's terminal to come up")
    screen.wait_active(s.main, "the editor, after a failed Run")
    time.sleep(0.3)
    screen.shot("13-run-failed")
    assert screen.exists(RUN), "the terminal of a failed run closed by itself"
    screen.activate(term)
    screen.wait_active(term, "the failed run's terminal, once clicked")
    s.key("Return")
    screen.wait_none(RUN)
    tools.quit_through_menu(s)


def test_windows_tool_through_wine(screen, window_manager, stage, lab, wine_prefix):
    """A real Windows stand-in, cross-built here, runs through Wine and gets
    the source as a Windows path, the folder's Polish letter whole though
    the program runs in the C locale."""
    source = stage.write(stage.path("standin.c"), WINDOWS_TOOL)
    assembler = os.path.join(stage.app, "ruderari.exe")
    os.remove(assembler)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O1", "-o", assembler, source], check=True)
    os.chmod(assembler, 0o644)
    s = tools.start_on(stage, screen, lab.source, lab.cwd, **wine.env(wine_prefix, {}))
    s.key("ctrl+m")
    term = tools.terminal(screen, COMPILE)
    logged = os.path.join(stage.app, "windows.log")
    waiting.until(lambda: waiting.read(logged), 120, "the Windows stand-in to run under Wine")
    # An ANSI program: it got, and logged, its argument in the code page Wine
    # ran it in, which must have held every letter.
    assert waiting.read(logged).replace(b"\r", b"").decode("cp1250") == wine.windows_path(lab.source) + "\n"
    time.sleep(1)
    screen.shot("14-compile-under-wine")
    screen.activate(term)
    s.key("Return")
    screen.wait_none(COMPILE)
    tools.quit_through_menu(s)


def test_scale_factor_2_fits_the_screen(screen, window_manager, stage, lab):
    """Scale factor 2 leaves 512 by 384 points of 1024 by 768: the window,
    its status line at its foot and its frame, ends above the screen's edge."""
    program = stage.start(cwd=lab.cwd, QT_SCALE_FACTOR=2)
    main = screen.wait_window(r"^KESTO IDE \[")
    time.sleep(0.5)
    top, height, screen_height = screen.bounds(main)
    assert top + height + screen.frame_bottom(main) <= screen_height, \
        f"the window reaches below the screen: top {top}, height {height}, screen {screen_height}"
    screen.shot("15-scale-factor-2")
    s = scenario.Session(screen, program, lab.cwd)
    s.main = main
    tools.quit_through_menu(s)
