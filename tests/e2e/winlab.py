"""KESTO IDE for Windows under Wine, driven by X events: the program is not
in the accessibility tree, so what is checked is its windows' names, the
files it writes and the stand-in tools' log (tests/windows/standin.c: each
start one line, its name|cwd|arguments|cmd=...|acp=...|show=...|console=...)."""

import os
import re
import shutil
import subprocess
import tempfile
import time

import scenario
from process import Program
import waiting
import wine

# Wine takes a typed letter only from a key of the keyboard layout it
# recognised: the Polish letters are typed as on a Polish (programmer's)
# keyboard, AltGr with the Latin letter, AltGr being Mode_switch, the
# modifier Wine knows it by.
ALTGR = """xkb_symbols "modeswitch" {
    key <MDSW> { [ NoSymbol ] };
    key <RALT> { type[Group1] = "ONE_LEVEL", symbols[Group1] = [ Mode_switch ] };
    modifier_map Mod5 { <RALT> };
};
"""
POLISH = dict(zip("ąćęłńóśźż", "acelnosxz"))
CLASS = "kestoide.exe"


def polish_keyboard(screen):
    with tempfile.TemporaryDirectory() as folder:
        os.mkdir(os.path.join(folder, "symbols"))
        with open(os.path.join(folder, "symbols", "kestoaltgr"), "w", encoding="ascii") as f:
            f.write(ALTGR)
        screen.load_keymap(folder, "+kestoaltgr(modeswitch)", layout="pl")


def type_polish(screen, text):
    """Runs of plain letters through xdotool; each Polish one as AltGr+its Latin key."""
    run = ""
    for c in text:
        base = POLISH.get(c.lower())
        if base is None:
            run += c
            continue
        if run:
            screen.type(run)
            run = ""
        screen.key("Mode_switch+" + ("shift+" if c.isupper() else "") + base)
    if run:
        screen.type(run)


def helpers(title):
    """The helpers still running for a console of this title (a regex);
    Wine's processes show their Windows command line."""
    pattern = re.compile(r"kestoide-run\.exe --title " + title)
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if pattern.search(cmdline):
            found.append(int(pid))
    return found


class Stage:
    """The folder ready to run in C:\\KESTO IDE of a fresh prefix, with the
    stand-ins beside it; C:\\pracownia is the current folder."""

    def __init__(self, build, prefix, out_dir):
        self.build = build
        self.prefix = wine.fresh_prefix(prefix)
        self.env = wine.lab_env(prefix)
        self.drive = os.path.join(prefix, "drive_c")
        self.app = os.path.join(self.drive, "KESTO IDE")
        self.cwd = os.path.join(self.drive, "pracownia")
        self.out_dir = out_dir
        self.log = os.path.join(out_dir, "program.log")
        for folder in (self.cwd, os.path.join(self.drive, "moje programy"), os.path.join(self.drive, "dos")):
            os.makedirs(folder)
        shutil.copytree(folder_of(build), self.app)
        shutil.copy(os.path.join(build, "standin", "standin-ansi.exe"), os.path.join(self.app, "ruderari.exe"))
        shutil.copy(os.path.join(build, "standin", "standin-unicode.exe"), os.path.join(self.app, "zozevadi.exe"))
        self.tools_log = os.path.join(self.app, "tools.log")
        open(self.tools_log, "wb").close()
        self.programs = []

    def unix(self, windows_path):
        """C:\\a\\b as the file under the prefix."""
        assert windows_path.startswith("C:\\")
        return os.path.join(self.drive, *windows_path[3:].split("\\"))

    def write(self, windows_path, data):
        with open(self.unix(windows_path), "wb") as f:
            f.write(data)

    def start(self, *args, cwd=None, **env):
        started = Program(["wine", "C:\\KESTO IDE\\kestoide.exe", *args], cwd or self.cwd,
                          dict(self.env, **env), self.log)
        self.programs.append(started)
        return started

    def lines(self):
        with open(self.tools_log, encoding="utf-8") as f:
            return f.read().splitlines()

    def started(self, fields, rest):
        """A tool started with exactly these fields (name|cwd|arguments), and
        the fields after them (cmd=, acp=, show=, console=) matching `rest`."""
        pattern = re.compile(re.escape(fields) + r"\|" + rest + "$")
        waiting.until(lambda: any(pattern.match(line) for line in self.lines()), 10,
                      lambda: f"a tool started as [{fields}|{rest}]; log: {self.lines()}")

    def count(self, n):
        assert len(self.lines()) == n, f"tool starts so far: {self.lines()}"

    def end(self):
        for started in self.programs:
            if not started.ended():
                started.kill()
        wine.end(self.prefix)


def folder_of(build):
    folder = os.path.join(build, f"kestoide-{version_of(build)}-win64")
    assert os.path.isfile(os.path.join(folder, "kestoide.exe")), f"no {folder}: run make windows first"
    return folder


def version_of(build):
    return re.search(r"^CMAKE_PROJECT_VERSION:\w*=(.*)$", read(os.path.join(build, "CMakeCache.txt")), re.M).group(1)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def session(screen, stage, program):
    """The shared steps, the Windows way: Polish letters on the Polish
    keyboard, the editor clicked back after a console or a dialog (a started
    console may keep Wine's focus under plain Xvfb, as a student would click),
    and the program's own menus (Wine's system tray has pop-ups of its own)."""

    def click_main():
        screen.focus(s.main)
        screen.click(s.main, 420, 8)  # the menu bar, past its last menu

    s = scenario.Session(screen, program, stage.cwd, type_text=lambda text: type_polish(screen, text),
                         to_editor=click_main, find_menu=lambda: wait_menu(screen))
    return s


def wait_menu(screen):
    return waiting.until(lambda: next((w for w in screen.top_level(CLASS) if screen.popup(w)), None), 10,
                         "the program's menu to open")


def wait_dialog(screen, main):
    """Wine's native file dialog carries no title: the program's new visible
    window of dialog size."""
    return waiting.until(
        lambda: next((w for w in screen.top_level(CLASS) if w.id != main.id and screen.width(w) > 300), None),
        10, "a file dialog")


def console_waits(screen, title):
    """A helper's console that says how its tool ended and waits: still there
    a second later, its helper still running."""
    console = screen.wait_window(f"^{title}$")
    time.sleep(1)
    assert screen.viewable(console), f"the console [{title}] closed without Enter"
    assert helpers(title), f"the helper of [{title}] ended without Enter"
    return console


def no_helper(title, seconds=10):
    waiting.until(lambda: not helpers(title), seconds, f"the helper of [{title}] to end")


def close_console(screen, console, title):
    screen.focus(console)
    screen.key("Return")
    screen.wait_gone(console)
    no_helper(title)


def run_cmd(stage, *argv, cwd):
    return subprocess.run(["wine", *argv], cwd=cwd, env=stage.env, capture_output=True, check=False)


def compile_in_console(s, stage, fields, rest, name, shot):
    """Compile: the assembler starts as `fields` and `rest` say (Stage.started);
    its console, titled for the source `name`, says how it ended and waits
    for Enter, which closes it and ends its helper."""
    s.to_editor()
    s.key("ctrl+m")
    stage.started(fields, rest)
    title = re.escape(f"Kompilacja pliku {name}")
    console = console_waits(s.screen, title)
    s.screen.shot(shot)
    close_console(s.screen, console, title)
