"""KESTO IDE for Windows the way a student in the lab meets it: the folder
ready to run, under Wine in Xvfb, driven only by X key events through the
steps the Linux program takes (scenario.py). Each tool runs through the
helper kestoide-run.exe in the console the program opens for it, which waits
for Enter after Compile and after a failed Run (test_windows_consoles.py
shows the consoles under a window manager)."""

import re
import subprocess
import time

import scenario
import waiting
import winlab

PROGRAM = [
    "; Migająca dioda - ćwiczenie 3: zażółć gęślą jaźń",
    "START:  LD   A,01h      ; zapal diodę",
    "        OUT  (0),A",
    "        JP   START      ; ŻÓŁW",
]


def test_a_lesson_on_windows(screen, windows_stage):
    """Start without settings, type and save through Windows' Save dialog,
    compile and run (the command lines, code page, window states and
    consoles), change the port, open a DOS file, paste from another program,
    close with unsaved text."""
    stage = windows_stage
    program = stage.start()
    s = winlab.session(screen, stage, program)
    scenario.first_start(s)

    # A program with Polish letters, saved through the Save dialog.
    s.to_editor()
    scenario.type_lines(s, PROGRAM)
    s.caption("KESTO IDE [noname.asm] *")
    s.key("ctrl+s")
    dialog = winlab.wait_dialog(screen, s.main)
    screen.shot("03-save-dialog")
    source = "C:\\moje programy\\próba.asm"
    scenario.enter_path(s, dialog, source)
    waiting.wait_bytes(stage.unix(source), "".join(line + "\r\n" for line in PROGRAM).encode("cp1250"),
                       "the saved source (Windows-1250, CR LF)")

    # The assembler in the helper's new console (SW_SHOWNORMAL, handed on to
    # the tool), its path quoted for the blank in it; an ANSI program under
    # code page 1250 gets the Polish letter as it is. The console, titled for
    # the source, says how the tool ended and waits for Enter.
    hex_path = "C:\\moje programy\\próba.hex"
    winlab.compile_in_console(
        s, stage, f"ruderari.exe|C:\\pracownia|{source}",
        re.escape(f'cmd="C:\\KESTO IDE\\ruderari.exe" "{source}"|acp=1250|show=1|console=1'), "próba.asm",
        "04-compile-console")
    # The run tool minimised without the focus (SW_SHOWMINNOACTIVE, handed on
    # to the tool); it ends with 0, and its console goes by itself.
    s.to_editor()
    s.key("ctrl+r")
    stage.started(f"zozevadi.exe|C:\\pracownia|/1|{hex_path}",
                  re.escape(f'cmd="C:\\KESTO IDE\\zozevadi.exe" /1 "{hex_path}"|acp=1250|show=7|console=1'))
    winlab.no_helper(re.escape("Uruchomienie pliku próba.asm"))
    scenario.choose_port_3(s, "05-compiler-menu")
    s.to_editor()
    s.key("ctrl+r")
    stage.started(f"zozevadi.exe|C:\\pracownia|/3|{hex_path}", r".*show=7\|console=1")
    stage.count(3)

    # A file written by a DOS editor (code page 852), and Info.
    dos = "C:\\dos\\STARY.ASM"
    stage.write(dos, scenario.DOS_TEXT)
    s.to_editor()
    s.key("ctrl+o")
    scenario.enter_path(s, winlab.wait_dialog(screen, s.main), dos)
    s.to_editor()
    s.key("F4")
    time.sleep(0.5)
    screen.shot("06-info")
    s.key("ctrl+Home")
    s.type("; poprawione")
    s.key("Return")
    s.caption(f"KESTO IDE [{dos}] *")
    # Text copied in another program: Wine hands the X clipboard's lines to
    # Windows programs with CR LF, which Qt's own clipboard would give as LF.
    clip = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet", "-i"], stdin=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=screen.env())
    try:
        clip.stdin.write(b"; wklejone\n")
        clip.stdin.close()
        waiting.until(lambda: screen.run("xclip", "-selection", "clipboard", "-o", timeout=5).stdout == b"; wklejone\n",
                      10, "xclip to take the clipboard")
        s.key("ctrl+v")
        scenario.close_unsaved(s, f"KESTO IDE [{dos}] *", "07-unsaved-prompt")
    finally:
        clip.kill()
        clip.wait()
    pasted = scenario.DOS_SAVED.replace(b"\r\n", b"\r\n; wklejone\r\n", 1)
    waiting.wait_bytes(stage.unix(dos), pasted, "the DOS file saved on closing, the paste with CR LF")
    stage.count(3)


def test_code_page_1252(screen, windows_stage):
    """Wine takes the code page from the locale, C.UTF-8 gives 1252: an ANSI
    tool gets the letters it lacks at their nearest Latin ones, the console's
    own text stays Polish; Run then asks, as the hex file it sends was not
    rewritten, and sends it all the same."""
    stage = windows_stage
    source = "C:\\moje programy\\zażółć.asm"
    stage.write(source, b"NOP\r\n")
    program = stage.start(source, LC_ALL="C.UTF-8", LANG="C.UTF-8")
    s = winlab.session(screen, stage, program)
    s.main = screen.wait_window(r"^KESTO IDE \[C")
    s.caption(f"KESTO IDE [{source}]")
    winlab.compile_in_console(s, stage, "ruderari.exe|C:\\pracownia|C:\\moje programy\\zazólc.asm", ".*acp=1252.*",
                              "zażółć.asm", "08-compile-console-1252")
    # The assembler wrote zazólc.hex, not the file Run sends: Run says so and
    # asks; the student sends the file all the same (Tab to OK: Enter is Cancel).
    s.to_editor()
    s.key("ctrl+r")
    question = screen.wait_window("^KESTO IDE$")
    screen.shot("08a-run-asks-no-new-hex")
    screen.focus(question)
    s.key("Tab", "space")
    screen.wait_gone(question)
    stage.started("zozevadi.exe|C:\\pracownia|/3|C:\\moje programy\\zażółć.hex", ".*acp=1252.*")
    s.to_editor()
    scenario.exit_from_menu(s)
    program.wait_exit(0)


def test_command_line(screen, windows_stage, out_dir):
    """A name outside code page 1250 opens from the command line; --help goes
    into a redirected file in the ANSI code page with CR LF, --version into
    the console it was started from."""
    stage = windows_stage
    greek = "C:\\moje programy\\Ωμέγα.asm"
    stage.write(greek, b"NOP\r\n")
    program = stage.start("--", greek)
    s = winlab.session(screen, stage, program)
    s.main = screen.wait_window(r"^KESTO IDE \[C")
    s.caption(f"KESTO IDE [{greek}]")
    screen.shot("09-unicode-argument")
    s.to_editor()
    scenario.exit_from_menu(s)
    program.wait_exit(0)

    out = winlab.run_cmd(stage, "C:\\KESTO IDE\\kestoide.exe", "--help", cwd=stage.cwd)
    assert out.returncode == 0, "--help failed"
    with open(f"{out_dir}/help.txt", "wb") as f:
        f.write(out.stdout)
    assert out.stdout.split(b"\n")[0] + b"\n" == "Użycie: kestoide [OPCJA]... [PLIK]\r\n".encode("cp1250")
    # cmd on a terminal (script): the program, which has no console of its
    # own, writes into that one.
    console = subprocess.run(["script", "-qec", "wine cmd /c 'start /wait kestoide.exe --version'", "/dev/null"],
                             cwd=stage.app, env=stage.env, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=60, check=False)
    text = console.stdout.decode("utf-8", "replace").replace("\r", "")
    assert f"kestoide (KESTO IDE) {winlab.version_of(stage.build)}" in text and "późniejszej" in text, text
