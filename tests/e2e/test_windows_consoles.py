"""The tools' consoles on Windows as on the lab's desktop, under a window
manager (openbox), on the stage test_windows.py made: the program in
C:\\KESTO IDE with the stand-in tools. The source's name has every Polish
letter and blanks: the ANSI assembler gets it whole under code page 1250."""

import os
import re
import time

import scenario
import tools
import waiting
import winlab

SOURCE = "C:\\moje programy\\zażółć gęślą jaźń"
COMPILE = re.escape("Kompilacja pliku zażółć gęślą jaźń.asm")
RUN = re.escape("Uruchomienie pliku zażółć gęślą jaźń.asm")


def console(screen, title):
    """A minimised window is not viewable: every window is searched."""
    return waiting.until(lambda: screen.find(f"^{title}$", "any", visible=False), 10, f"a console titled /{title}/")


def still_waits(screen, title, what):
    time.sleep(1)
    assert winlab.helpers(title) and screen.exists(f"^{title}$"), f"{what} closed without Enter"


def enter_closes(screen, title):
    screen.key("Return")
    winlab.no_helper(title)


def set_tool(stage, name, data):
    path = os.path.join(stage.app, name)
    if data is None:
        os.remove(path)
    else:
        with open(path, "wb") as f:
            f.write(data)


def test_consoles_under_a_window_manager(screen, windows_stage, window_manager):
    """After Compile the helper's console is the active window and waits for
    Enter; after Run the editor stays active, the console minimised goes by
    itself when the tool ends well; a failed run's console comes up and
    waits. An assembler that prints in code page 852 and ends with -1 puts
    the caret on the line it names, and Run after it asks first."""
    stage = windows_stage
    stage.write(SOURCE + ".asm", b"START:  NOP\r\n")
    program = stage.start(SOURCE + ".asm")
    s = winlab.session(screen, stage, program)
    s.to_editor = lambda: screen.activate(s.main)
    s.main = screen.wait_window(r"^KESTO IDE \[C")
    s.to_editor()
    screen.wait_active(s.main, "the editor")

    def last_tool(pattern):
        waiting.until(lambda: stage.lines() and re.search(pattern, stage.lines()[-1]), 10,
                      lambda: f"the last tool start to be /{pattern}/: {stage.lines()[-1:]}")

    # Compile: the console comes to the front and waits.
    s.key("ctrl+m")
    last_tool("^" + re.escape(f"ruderari.exe|C:\\pracownia|{SOURCE}.asm|cmd=") + r".*\|acp=1250\|show=1\|console=1$")
    screen.wait_active(console(screen, COMPILE), "the compile console")
    still_waits(screen, COMPILE, "the compile console")
    screen.shot("10-compile-console-active")
    enter_closes(screen, COMPILE)

    # Run: minimised, the editor keeps the focus; gone by itself after success.
    s.to_editor()
    screen.wait_active(s.main, "the editor")
    s.key("ctrl+r")
    last_tool("^" + re.escape("zozevadi.exe|C:\\pracownia|/") + "[1-4]"
              + re.escape(f"|{SOURCE}.hex|cmd=") + r".*\|acp=1250\|show=7\|console=1$")
    winlab.no_helper(RUN)
    screen.wait_active(s.main, "the editor, after a good run,")

    # A failed run's console comes up. The program shows it with
    # SW_SHOWNOACTIVATE; Wine's X driver maps it again, which openbox takes
    # as a request to activate it, so the editor's focus is checked on Linux only.
    set_tool(stage, "zozevadi.exe.exit", b"1")
    lines = len(stage.lines())
    s.key("ctrl+r")
    waiting.until(lambda: len(stage.lines()) > lines, 10, "the run tool to start again")
    failed = console(screen, RUN)
    waiting.until(lambda: screen.shown(failed), 10, "the failed run's console to come up")
    still_waits(screen, RUN, "the failed run's console")
    time.sleep(0.5)
    screen.shot("11-failed-run-console")
    screen.activate(failed)
    screen.wait_active(failed, "the failed run's console, once clicked")
    enter_closes(screen, RUN)
    set_tool(stage, "zozevadi.exe.exit", None)

    # A failed compile printing in code page 852 ("błąd w linii 2" as a
    # DOS-era tool prints it), ended by `return -1` (as Windows keeps it).
    s.to_editor()
    s.key("ctrl+End")  # the file ends with CR LF: its end is the start of line 2
    s.type("NOP")
    set_tool(stage, "ruderari.exe.print", b"b\x88\xa5d w linii 2\r\n")
    set_tool(stage, "ruderari.exe.exit", b"4294967295")
    lines = len(stage.lines())
    s.key("ctrl+m")
    question = screen.wait_window("^KESTO IDE$")  # save and compile?
    screen.focus(question)
    s.key("Return")
    waiting.until(lambda: len(stage.lines()) > lines, 10, "the assembler to start again")
    still_waits(screen, COMPILE, "the console of the compile ended by -1")
    screen.shot("12-compile-852-minus-1")
    enter_closes(screen, COMPILE)
    set_tool(stage, "ruderari.exe.print", None)
    set_tool(stage, "ruderari.exe.exit", None)
    # Run asks before it sends what that compile left; Escape sends nothing.
    s.to_editor()
    lines = len(stage.lines())
    s.key("ctrl+r")
    tools.answer(screen, "Escape")
    time.sleep(0.5)
    assert len(stage.lines()) == lines, "Run after a failed compile started the run tool unasked"
    # The caret went to the start of line 2: a letter typed lands there.
    s.to_editor()
    s.type("X")
    s.key("ctrl+s")
    waiting.wait_bytes(stage.unix(SOURCE + ".asm"), b"START:  NOP\r\nXNOP\r\n",
                       "the caret on the line the assembler named")
    s.to_editor()
    scenario.exit_from_menu(s)
    program.wait_exit(0)
