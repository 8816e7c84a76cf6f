"""The steps a student takes, shared by the Linux program and the Windows
one under Wine. A Session holds the X screen, the running program, its main
window and the ways that differ between the two: how text is typed, how the
editor gets the keyboard back, how the program's menu is found."""

import waiting

# A file written by a DOS editor (code page 852), and the same after an
# edit at its start, saved in Windows-1250.
DOS_TEXT = b"; \xa5\x86\xa9\x88 \xa4\x8f\xa8\x9d z DOS-a\r\nSTART:  NOP\r\n"
DOS_SAVED = b"; poprawione\r\n; \xb9\xe6\xea\xb3 \xa5\xc6\xca\xa3 z DOS-a\r\nSTART:  NOP\r\n"


class Session:
    def __init__(self, screen, program, cwd, type_text=None, to_editor=None, find_menu=None):
        self.screen = screen
        self.program = program
        self.cwd = cwd
        self.main = None
        self.type = type_text or screen.type
        self.to_editor = to_editor or (lambda: screen.focus(self.main))
        self.find_menu = find_menu or screen.wait_popup

    def key(self, *keys):
        self.screen.key(*keys)

    def caption(self, expected):
        self.screen.wait_caption(self.main, expected)

    def settings(self, expected, what):
        waiting.wait_bytes(f"{self.cwd}/kestoide.ini", expected, what)


def first_start(s):
    """A folder without kestoide.ini: the program warns, Enter answers, the
    settings file is made and the empty document's window comes."""
    warning = s.screen.wait_window("^KESTOIDE$")
    s.screen.shot("01-missing-settings-warning")
    s.screen.focus(warning)
    s.key("Return")
    s.main = s.screen.wait_window(r"^KESTO IDE \[")
    s.caption("KESTO IDE [noname.asm]")
    s.settings(b"1\r\n", "kestoide.ini after the warning")
    s.screen.shot("02-start")


def type_lines(s, lines):
    for i, line in enumerate(lines):
        if i:
            s.key("Return")
        s.type(line)


def enter_path(s, dialog, path):
    """Types the path over the name a file dialog offers and confirms it;
    the caption then names the file."""
    s.screen.focus(dialog)
    s.key("ctrl+a")
    s.type(path)
    s.key("Return")
    s.screen.wait_gone(dialog)
    s.caption(f"KESTO IDE [{path}]")


def choose_port_3(s, shot):
    """From the first item of the Kompilator menu, Up wraps round to COM4, then COM3."""
    s.to_editor()
    s.key("alt+k")
    menu = s.find_menu()
    s.screen.shot(shot)
    s.key("Up", "Up", "Return")
    s.screen.wait_gone(menu)
    s.settings(b"3\r\n", "kestoide.ini after COM3")


def exit_from_menu(s):
    """"&Plik" and "&Pomoc" share their access key, so Alt+P alternates
    between them: Plik is reached from "&Edycja"."""
    s.key("alt+e")
    menu = s.find_menu()
    s.key("Left", "k")
    return menu


def close_unsaved(s, caption, shot, on_question=None, after_cancel=None):
    """Exit with unsaved text: Cancel (Escape) keeps the window as it was,
    then Yes (Enter) saves and ends the program with status 0."""
    s.to_editor()
    menu = exit_from_menu(s)
    s.screen.wait_gone(menu)
    prompt = s.screen.wait_window("^KESTO IDE$")
    if on_question:
        on_question()
    s.screen.shot(shot)
    s.screen.focus(prompt)
    s.key("Escape")
    s.screen.wait_gone(prompt)
    if after_cancel:
        after_cancel()
    assert not s.program.ended(), "the program ended after Cancel"
    s.caption(caption)
    s.to_editor()
    exit_from_menu(s)
    prompt = s.screen.wait_window("^KESTO IDE$")
    s.screen.focus(prompt)
    s.key("Return")
    s.program.wait_exit(0)
