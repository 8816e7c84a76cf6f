"""The program the way a student meets it: the real window in Xvfb, driven
only by key events, with stand-in lab tools beside a copy of the program that
record how they were started. What is checked is what a user can check: the
caption, the saved bytes, kestoide.ini, the tools' arguments, the exit
status, and what a screen reader finds and reads."""

import os
import re
import shutil
import subprocess

import pytest

import a11y
import scenario
import waiting

# One write per start, so that two tools started together do not mix their
# lines; the assembler writes its hex file anew, as a good compile does.
RECORDING_TOOL = """line="$(basename "$0")|$PWD"
for a in "$@"; do line="$line|$a"; done
printf '%s\\n' "$line" >>"$(dirname "$0")/tools.log"
case "$0" in *ruderari.exe) date +%s%N >"${1%.*}.hex" ;; esac
"""

PROGRAM = [
    "; Migająca dioda na porcie 0 - ćwiczenie 3",
    "; zażółć gęślą jaźń / ZAŻÓŁĆ GĘŚLĄ JAŹŃ",
    "START:  LD   A,01h      ; zapal diodę",
    "        OUT  (0),A",
    "        CALL CZEKAJ",
    "        LD   A,00h      ; zgaś diodę",
    "        OUT  (0),A",
    "        CALL CZEKAJ",
    "        JP   START",
    "CZEKAJ: LD   B,0FFh     ; pętla opóźniająca",
    "PETLA:  DJNZ PETLA",
    "        RET",
]


class Lab:
    """The stage of these tests: the recording tools beside the program, a
    current folder (lab/) where kestoide.ini lives."""

    def __init__(self, stage):
        self.stage = stage
        self.cwd = stage.folder("lab")
        for tool in ("ruderari.exe", "zozevadi.exe"):
            stage.tool(tool, RECORDING_TOOL)
        self.tools_log = os.path.join(stage.app, "tools.log")
        stage.write(self.tools_log, b"")

    def start(self, *args, a11y_on=True):
        return self.stage.start(*args, cwd=self.cwd, QT_LINUX_ACCESSIBILITY_ALWAYS_ON=int(a11y_on))

    def lines(self):
        with open(self.tools_log, encoding="utf-8") as f:
            return f.read().splitlines()

    def started(self, *expected):
        """These tool starts are logged, in any order."""
        waiting.until(lambda: all(line in self.lines() for line in expected), 10,
                      lambda: f"the tools started as {list(expected)}; log: {self.lines()}")

    def count(self, n):
        assert len(self.lines()) == n, f"tool starts so far: {self.lines()}"


@pytest.fixture
def lab(stage, out_dir):
    lab = Lab(stage)
    yield lab
    if lab.lines():
        shutil.copy(lab.tools_log, os.path.join(out_dir, "tools.log"))


def close_compile_terminal(s, name):
    """The assembler's terminal waits for Enter even after a good compile:
    the student reads it, presses Enter, and is back in the editor."""
    terminal = s.screen.wait_window(f"^Kompilacja pliku {re.escape(name)}$")
    s.screen.focus(terminal)
    s.key("Return")
    s.screen.wait_gone(terminal)
    s.to_editor()


def check_reader_names(app, tree_path):
    """Every menu and item a reader announces has a name; so do the editor
    and both status fields."""
    tree = app.write_tree(tree_path)
    items = [(depth, name) for depth, role, name, _ in tree if role == "menu item"]
    assert [name for depth, name in items if depth == 3] == ["Plik", "Edycja", "Kompilator", "Pomoc"]
    assert [name for _, name in items if not name] == [], "menu items without a name"
    assert len(items) == 23, f"menu items: {items}"
    return {name: app.named(name, tree) for name in ("Tekst programu", "Komunikat", "Numer linii")}


def test_a_lesson(screen, stage, lab, out_dir):
    """Start without settings, type and save through the dialog, compile,
    run, change the port, open a DOS file, Info, Run that compiles first,
    close with unsaved text."""
    program = lab.start()
    s = scenario.Session(screen, program, lab.cwd)
    scenario.first_start(s)
    reader = check_reader_names(a11y.App(program.pid), os.path.join(out_dir, "a11y-tree.txt"))
    status, line = reader["Komunikat"], reader["Numer linii"]
    a11y.wait_text(status, "Używany port: 1", "the status line")
    a11y.wait_text(line, "0,0", "the line indicator")

    # --- a program with Polish letters, saved through the Save dialog ---------
    s.to_editor()
    scenario.type_lines(s, PROGRAM)
    s.caption("KESTO IDE [noname.asm] *")
    a11y.wait_text(line, f"Linia {len(PROGRAM)}", "the line indicator")
    # The editing control's own keys are gone: duplicate, cut and swap lines,
    # upper case. Alt+Backspace undoes, as in the plain text box: here the
    # Backspace before it. The saved bytes show that nothing else acted.
    s.key("ctrl+d", "ctrl+l", "ctrl+t", "ctrl+shift+u", "BackSpace", "alt+BackSpace")
    s.key("ctrl+s")
    dialog = screen.wait_window("^Zachowaj jako$")
    screen.shot("03-save-dialog")
    source = stage.path("moje programy", "próba.asm")
    stage.folder("moje programy")
    scenario.enter_path(s, dialog, source)
    # Windows-1250 with CR LF line ends; the last line gets its CR LF on saving.
    saved = "".join(line + "\r\n" for line in PROGRAM).encode("cp1250")
    waiting.wait_bytes(source, saved, "the saved source")
    assert saved.split(b"\r\n")[1][2:9] == bytes.fromhex("7a61bff3b3e620")

    # --- compile and run; the port is chosen in between ----------------------
    hex_path = stage.path("moje programy", "próba.hex")
    s.to_editor()
    s.key("ctrl+m")
    lab.started(f"ruderari.exe|{lab.cwd}|{source}")
    # The stand-in assembler ends at once: what the status line says is its end.
    a11y.wait_text(status, 'Skompilowano plik "próba.asm"', "the status line")
    close_compile_terminal(s, "próba.asm")
    s.key("ctrl+r")
    lab.started(f"zozevadi.exe|{lab.cwd}|/1|{hex_path}")
    a11y.wait_text(status, f'Uruchomienie pliku "{source}"', "the status line")
    scenario.choose_port_3(s, "04-compiler-menu")
    a11y.wait_text(status, "Zapisano ustawienia", "the status line")
    s.to_editor()
    s.key("ctrl+r")
    lab.started(f"zozevadi.exe|{lab.cwd}|/3|{hex_path}")
    lab.count(3)

    # --- a file written by a DOS editor (code page 852), Info, Save -----------
    dos = stage.write(os.path.join(stage.folder("dos"), "STARY.ASM"), scenario.DOS_TEXT)
    s.key("ctrl+o")
    scenario.enter_path(s, screen.wait_window("^Otwórz$"), dos)
    a11y.wait_text(status, f'Otworzono plik: "{dos}"', "the status line")
    s.to_editor()
    s.key("F4")
    a11y.wait_text(status, f'Plik: "{dos}" Długość:  34 B,  3 linii (zapisany)', "the status line after Info")
    screen.shot("05-info")
    s.key("ctrl+Home")
    s.type("; poprawione")
    s.key("Return")
    s.caption(f"KESTO IDE [{dos}] *")
    s.key("ctrl+s")
    s.caption(f"KESTO IDE [{dos}]")
    waiting.wait_bytes(dos, scenario.DOS_SAVED, "the DOS file saved again, in Windows-1250")

    # Run on a document opened since the last compile asks to compile first.
    s.key("ctrl+r")
    question = screen.wait_window("^KESTO IDE$")
    screen.focus(question)
    s.key("Return")
    lab.started(f"ruderari.exe|{lab.cwd}|{dos}", f"zozevadi.exe|{lab.cwd}|/3|{stage.path('dos', 'STARY.hex')}")
    lab.count(5)
    screen.wait_gone(question)
    close_compile_terminal(s, "STARY.ASM")

    # --- close with unsaved text: Cancel keeps the window, Yes saves and ends --
    s.key("ctrl+End")
    s.type("        HALT")
    s.caption(f"KESTO IDE [{dos}] *")
    os.remove(os.path.join(lab.cwd, "kestoide.ini"))
    scenario.close_unsaved(
        s, f"KESTO IDE [{dos}] *", "06-unsaved-prompt",
        on_question=lambda: a11y.wait_text(status, "Zamykanie", "the status line while asking"),
        # Cancel writes the settings again and leaves everything else as it was.
        after_cancel=lambda: s.settings(b"3\r\n", "kestoide.ini after Cancel"))
    waiting.wait_bytes(dos, scenario.DOS_SAVED + b"        HALT\r\n", "the file saved on closing")
    lab.count(5)


def run_plain(*argv, **kwargs):
    return subprocess.run(argv, capture_output=True, check=False, **kwargs)


def test_help_and_version_without_a_display(stage):
    """--help and --version are answered before Qt starts; a --help that
    cannot be written fails."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    out = run_plain(stage.program, "--help", env=env)
    assert out.returncode == 0
    assert out.stdout.decode().splitlines()[0] == "Użycie: kestoide [OPCJA]... [PLIK]"
    out = run_plain(stage.program, "--version", env=env)
    assert out.returncode == 0
    version = re.search(r"^project\(kestoide VERSION (\S+)", read_source("CMakeLists.txt"), re.M).group(1)
    assert out.stdout.decode().splitlines()[0] == f"kestoide (KESTO IDE) {version}"
    with open("/dev/full", "wb") as full:
        assert subprocess.run([stage.program, "--help"], stdout=full, stderr=subprocess.DEVNULL).returncode == 1


def read_source(name):
    with open(os.path.join(os.path.dirname(__file__), "..", "..", name), encoding="utf-8") as f:
        return f.read()


def test_unknown_option_starts_no_window(screen, stage):
    elsewhere = stage.folder("elsewhere")
    out = run_plain(stage.program, "--nie-ma-takiej", cwd=elsewhere, env=stage.env())
    assert out.returncode == 2
    assert "kestoide: nieznana opcja: --nie-ma-takiej" in out.stderr.decode().splitlines()
    assert not os.path.exists(os.path.join(elsewhere, "kestoide.ini")), "the window started"


def test_file_argument_and_lf_file(screen, stage, lab):
    """A relative FILE after one of Qt's options opens once the window is up,
    the caption shows it absolute and cleaned; the second file and the
    "-reverse" after "--" are ignored and named on stderr (had Qt seen
    "-reverse", it would have taken it). Then a file of LF lines: Enter and
    Save add LF."""
    stage.write(os.path.join(lab.cwd, "kestoide.ini"), b"3\r\n")
    arg = stage.write(os.path.join(stage.folder("dos"), "NOWY.ASM"),
                      b"; \xa5\x86\xa9\x88 z wiersza polece\xe4\r\nSTART:  NOP\r\n")
    program = lab.start("-style", "Fusion", "../dos/./NOWY.ASM", "../moje programy/próba.asm", "--", "-reverse")
    s = scenario.Session(screen, program, lab.cwd)
    s.main = screen.wait_window(r"^KESTO IDE \[")
    s.caption(f"KESTO IDE [{arg}]")
    screen.shot("07-file-argument")
    ignored = 'kestoide: otwieram tylko pierwszy plik; pominięte: "../moje programy/próba.asm" "-reverse"'
    assert ignored in program.output().splitlines()
    app = a11y.App(program.pid)
    tree = app.tree()
    status = app.named("Komunikat", tree)
    a11y.wait_text(app.named("Tekst programu", tree), "; ąćęł z wiersza poleceń\r\nSTART:  NOP\r\n", "the editor")
    a11y.wait_text(status, f'Otworzono plik: "{arg}"', "the status line")
    s.to_editor()
    s.key("ctrl+s")
    waiting.wait_bytes(arg, b"; \xb9\xe6\xea\xb3 z wiersza polece\xf1\r\nSTART:  NOP\r\n",
                       "the file from the command line, saved")

    lf = stage.write(stage.path("dos", "linux.asm"), b"; p\xeatla z Linuksa\nSTART:  NOP")
    s.key("ctrl+o")
    scenario.enter_path(s, screen.wait_window("^Otwórz$"), lf)
    a11y.wait_text(status, f'Otworzono plik: "{lf}" (Windows-1250)', "the status line")
    s.to_editor()
    s.key("ctrl+End", "Return")
    s.type("        HALT")
    s.caption(f"KESTO IDE [{lf}] *")
    s.key("ctrl+s")
    s.caption(f"KESTO IDE [{lf}]")
    waiting.wait_bytes(lf, b"; p\xeatla z Linuksa\nSTART:  NOP\n        HALT\n", "the LF file after Enter and Save")
    scenario.exit_from_menu(s)
    program.wait_exit(0)
