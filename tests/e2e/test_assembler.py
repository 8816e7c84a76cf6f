"""Compile and Run with a real 8051 assembler (Debian's as31, delayed a
second, as the lab's takes on a lab PC) under a window manager; what the
program says is read through AT-SPI."""

import glob
import os
import shutil
import subprocess
import time


import a11y
import tools
import waiting

# as31, after the delay its file gives (1 s by default).
ASSEMBLER = """sleep "$(cat "$(dirname "$0")/delay" 2>/dev/null || echo 1)"
exec as31 "$1"
"""
# Keeps a copy of each hex file it is given, as the KESTO system would get
# it, and ends with the code its file gives (0 by default).
RUN_TOOL = """here=$(dirname "$0")
n=$(ls "$here"/sent-*.hex 2>/dev/null | wc -l)
cp "$2" "$here/sent-$((n + 1)).hex.part" && mv "$here/sent-$((n + 1)).hex.part" "$here/sent-$((n + 1)).hex"
echo "zozevadi: port $1"
exit "$(cat "$here/status" 2>/dev/null || echo 0)"
"""
COMPILE = tools.compile_title("prog.asm")
RUN = tools.run_title("prog.asm")


def answer_reading(screen, app, key, says):
    """The question Run asks, read by a screen reader, then answered."""
    screen.wait_window("^KESTO IDE$")
    waiting.until(lambda: any(says in name for name in app.names()), 10, f"a question that says [{says}]")
    tools.answer(screen, key)


def test_real_assembler(screen, window_manager, stage):
    """A failed compile names its line and puts the caret there; Run after it
    asks first; Run right after an edit waits for the compile and sends the
    new program, never the old one; a failed Run's terminal comes up without
    the focus; a compile whose terminal is closed under it ends "unknown"."""
    assert shutil.which("as31"), "as31 is missing (Debian package as31)"
    stage.tool("ruderari.exe", ASSEMBLER)
    stage.tool("zozevadi.exe", RUN_TOOL)
    source = stage.write(os.path.join(stage.folder("zajęcia"), "prog.asm"),
                         b"start: mov a,#1\r\n  foo r9\r\n  sjmp start\r\n")
    # What as31 makes of the fixed program, and the hex an earlier compile left.
    fixed = stage.write(stage.path("fixed.asm"), b"start: mov a,#1\r\n  nop\r\n  sjmp start\r\n")
    subprocess.run(["as31", fixed], capture_output=True, check=False)
    stage.write(source[:-3] + "hex", b":00000001FF\r\n")
    stage.write(stage.path("kestoide.ini"), b"1\r\n")

    def sent():
        return sorted(glob.glob(os.path.join(stage.app, "sent-*.hex")))

    s = tools.start_on(stage, screen, source, stage.root, QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)
    app = a11y.App(s.program.pid)
    tree = app.tree()
    status, line = app.named("Komunikat", tree), app.named("Numer linii", tree)

    # A failed compile: its line on the status line, the caret on it.
    s.key("ctrl+m")
    a11y.wait_text(status, 'Błąd kompilacji (kod 255): Warning, line 2, syntax error near "foo ".', "the status line")
    a11y.wait_text(line, "Linia 2", "the line indicator")
    screen.shot("16-compile-failed")
    tools.enter_closes(screen, COMPILE)

    # Run after it asks first; Escape sends nothing.
    s.to_editor()
    s.key("ctrl+r")
    answer_reading(screen, app, "Escape", f"Kompilacja pliku {source} zakończyła się kodem 255.")
    time.sleep(0.5)
    assert sent() == [], "a hex file was sent after a failed compile, declined"

    # The fix, then Run at once: it waits for the compile and sends the new program.
    s.to_editor()
    s.key("shift+End")  # the caret stands at the start of line 2
    s.type("  nop")
    s.caption(f"KESTO IDE [{source}] *")
    s.key("ctrl+r")
    tools.answer(screen, "Return")  # compile first?
    tools.answer(screen, "Return")  # save and compile?
    a11y.wait_text(status, f'Uruchomienie pliku "{source}" czeka na koniec kompilacji', "the status line while Run waits")
    waiting.until(sent, 30, "the run tool to start after the compile")
    assert waiting.read(sent()[0]) == waiting.read(stage.path("fixed.hex")), "the program sent is not the new one"
    a11y.wait_text(status, f'Uruchomienie pliku "{source}"', "the status line after the run")
    tools.enter_closes(screen, COMPILE)

    # A failed Run: its terminal comes up, the editor keeps the focus.
    stage.write(os.path.join(stage.app, "status"), "1\n")
    s.to_editor()
    screen.wait_active(s.main, "the editor")
    s.key("ctrl+r")
    a11y.wait_text(status, "Błąd uruchomienia (kod 1): komunikaty są w oknie programu zozevadi.exe",
                   "the status line after a failed run")
    term = tools.terminal(screen, RUN)
    waiting.until(lambda: screen.shown(term), 10, "the failed run's terminal to come up")
    screen.wait_active(s.main, "the editor, after the failed run's terminal came up")
    time.sleep(0.3)
    screen.shot("17-run-failed-shown")
    tools.enter_closes(screen, RUN)

    # A compile whose terminal is closed under it ends "unknown".
    stage.write(os.path.join(stage.app, "delay"), "30\n")
    s.to_editor()
    s.key("ctrl+m")
    term = tools.terminal(screen, COMPILE)
    time.sleep(0.5)
    screen.close_window(term)
    a11y.wait_text(status, 'Nie wiadomo, jak zakończyła się kompilacja pliku "prog.asm"',
                   "the status line after the compile's terminal was closed")
    s.to_editor()
    s.key("ctrl+r")
    answer_reading(screen, app, "Escape", f"Kompilacja pliku {source} nie wiadomo jak się zakończyła.")
    assert len(sent()) == 2, "a hex file was sent after an unknown compile, declined"
    tools.quit_through_menu(s)
