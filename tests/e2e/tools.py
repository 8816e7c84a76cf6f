"""The lab's tools in their terminals under a window manager: shared by the
tests of the terminals and of the real assembler."""

import re
import time

import scenario
import waiting


def compile_title(name):
    return f"^Kompilacja pliku {re.escape(name)}$"


def run_title(name):
    return f"^Uruchomienie pliku {re.escape(name)}$"


def terminal(screen, title):
    """A tool's terminal; a minimised one is not viewable, so every window is searched."""
    return waiting.until(lambda: screen.find(title, "any", visible=False), 30, f"a terminal titled /{title}/")


def enter_closes(screen, title, settle=0.5):
    """The tool has ended; what is typed before its helper asks for Enter
    does not count, so the key comes a moment later."""
    term = terminal(screen, title)
    time.sleep(settle)
    screen.activate(term)
    screen.key("Return")
    screen.wait_none(title)


def answer(screen, key):
    box = screen.wait_window("^KESTO IDE$")
    screen.activate(box)
    screen.key(key)
    screen.wait_gone(box)


def quit_through_menu(s):
    """Zakończ from the Plik menu, with nothing unsaved: the program ends at once."""
    s.screen.activate(s.main)
    scenario.exit_from_menu(s)
    s.program.wait_exit(0)


def start_on(stage, screen, source, cwd, **env):
    """The program started with a source, in a window manager: the editor is active."""
    program = stage.start(source, cwd=cwd, **env)
    s = scenario.Session(screen, program, cwd, to_editor=lambda: screen.activate(s.main))
    s.main = screen.wait_window(r"^KESTO IDE \[")
    s.caption(f"KESTO IDE [{source}]")
    s.to_editor()
    screen.wait_active(s.main, "the editor")
    return s

