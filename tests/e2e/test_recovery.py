"""Nothing lost: the real program killed while its text is unsaved, then
started again; the text comes back byte for byte, read through Select all
and Copy, not through Save."""

import glob
import os
import signal
import subprocess
import time

import pytest

import scenario
import waiting
import xdisplay

# Written by a DOS editor: a lone CR, a lone LF, letters of code page 852.
DOS_TEXT = b"START:\rNOP\n; \xa5\x86\xa9\x88\r\n"
# The editor's text after "zażółć" typed and, pasted, what Windows-1250
# cannot hold and a lone CR and LF.
PASTED = "\r→😀\n日本"
UNSAVED = "START:\rNOP\n; ąćęł\r\nzażółć" + PASTED


class Crashes:
    def __init__(self, screen, stage):
        self.screen = screen
        self.stage = stage
        self.cwd = stage.folder("lab")
        self.copies = os.path.join(stage.state, "kestoide")
        stage.write(os.path.join(self.cwd, "kestoide.ini"), b"1\r\n")

    def start(self, *args, screen=None):
        program = self.stage.start(*args, cwd=self.cwd)
        return scenario.Session(screen or self.screen, program, self.cwd)

    def copy_files(self):
        return sorted(glob.glob(os.path.join(self.copies, "*.copy")))

    def copy_ends_with(self, data):
        copies = self.copy_files()
        return bool(copies) and waiting.read(copies[0]).endswith(data)


def clipboard(screen):
    out = screen.run("xclip", "-selection", "clipboard", "-o", "-t", "UTF8_STRING", timeout=5)
    return out.stdout if out.returncode == 0 else None


def holds_text(s, text):
    """Select all and Copy: the clipboard then holds the editor's text."""
    s.screen.focus(s.main)
    s.key("ctrl+a", "ctrl+c")
    waiting.until(lambda: clipboard(s.screen) == text.encode(), 5,
                  lambda: f"the editor to hold {text!r}; the clipboard holds {clipboard(s.screen)!r}")


def take_back(s, caption, text, shot=None):
    """Yes to the program's one question left: the editor holds the text."""
    question = s.screen.wait_window("^KESTO IDE$")
    s.screen.focus(question)
    s.key("Return")
    s.screen.wait_gone(question)
    s.main = s.screen.wait_window(r"^KESTO IDE \[")
    s.caption(caption)
    assert waiting.holds(lambda: s.screen.find("^KESTO IDE$") is None, 1), "a second question came up"
    if shot:
        s.screen.shot(shot)
    holds_text(s, text)


def exit_discarding(s, lab):
    """Exit, throwing the text away: nothing stays."""
    s.screen.focus(s.main)
    scenario.exit_from_menu(s)
    prompt = s.screen.wait_window("^KESTO IDE$")
    s.screen.focus(prompt)
    s.key("alt+n")
    s.program.wait_exit(0)
    assert os.listdir(lab.copies) == [], "files left in the program's folder"


def kill(s, sig=signal.SIGKILL):
    s.program.kill(sig)


@pytest.fixture
def lab(screen, stage, out_dir):
    xdisplay.need("xclip")
    for old in glob.glob(os.path.join(out_dir, "recovery-*.png")):
        os.remove(old)
    return Crashes(screen, stage)


def test_killed_and_ended_with_unsaved_text(screen, stage, lab):
    """SIGKILL with a text that exists nowhere but in the editor; Escape on
    the question keeps the copy, and that run, killed with a text of its own,
    makes the next start ask about both, the newer first: No deletes it, Yes
    brings the first text back. Then SIGTERM a moment after typing; started
    again with its file named, as a double-click does: one question, and the
    text stays."""
    source = stage.write(os.path.join(stage.folder("src"), "STARY.ASM"), DOS_TEXT)
    s = lab.start()
    s.main = screen.wait_window(r"^KESTO IDE \[")
    s.caption("KESTO IDE [noname.asm]")
    s.to_editor()
    s.key("ctrl+o")
    scenario.enter_path(s, screen.wait_window("^Otwórz$"), source)
    s.to_editor()
    s.key("ctrl+End")
    s.type("zażółć")
    clip = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", "UTF8_STRING"], stdin=subprocess.PIPE,
                            env=screen.env())
    clip.communicate(PASTED.encode())
    s.key("ctrl+v")
    s.caption(f"KESTO IDE [{source}] *")
    # At most five seconds after the last change, the copy holds it.
    waiting.until(lambda: lab.copy_ends_with(UNSAVED.encode()), 6, "a copy of the last change within 6 s")
    screen.shot("recovery-1-unsaved")
    kill(s)

    # The next start: Escape decides nothing; this run's text gets a copy of its own.
    s = lab.start()
    question = screen.wait_window("^KESTO IDE$")
    screen.shot("recovery-2-question")
    screen.focus(question)
    s.key("Escape")
    screen.wait_gone(question)
    s.main = screen.wait_window(r"^KESTO IDE \[")
    s.caption("KESTO IDE [noname.asm]")
    s.to_editor()
    s.type("drugi")
    s.caption("KESTO IDE [noname.asm] *")
    waiting.until(lambda: len(lab.copy_files()) == 2, 6, lambda: f"a second copy: {os.listdir(lab.copies)}")
    kill(s)

    # The start after it asks about both, the newer first.
    s = lab.start()
    question = screen.wait_window("^KESTO IDE$")
    screen.focus(question)
    s.key("alt+n")
    screen.wait_gone(question)
    take_back(s, f"KESTO IDE [{source}] *", UNSAVED, "recovery-3-restored")

    # Told to end (a logout, a shutdown, kill) a moment after typing.
    s.key("ctrl+End")
    s.type("ąę!")
    holds_text(s, UNSAVED + "ąę!")
    s.program.process.send_signal(signal.SIGTERM)
    s.program.wait_exit(-signal.SIGTERM)
    s = lab.start(source)
    take_back(s, f"KESTO IDE [{source}] *", UNSAVED + "ąę!")
    exit_discarding(s, lab)


def test_display_lost_a_second_after_typing(screen, stage, lab, out_dir):
    """Its X server killed under it: the next start gives the text back."""
    xvfb, name = xdisplay.start_xvfb(os.path.join(out_dir, "xvfb-lost.log"))
    private = xdisplay.Screen(name, out_dir)
    try:
        private.load_polish_keys()
        program = stage.start(cwd=lab.cwd, DISPLAY=name)
        s = scenario.Session(private, program, lab.cwd)
        s.main = private.wait_window(r"^KESTO IDE \[")
        s.caption("KESTO IDE [noname.asm]")
        s.to_editor()
        s.type("zanik ekranu: zażółć")
        s.caption("KESTO IDE [noname.asm] *")
        assert lab.copy_files() == [], "a copy before the display went"
        time.sleep(1)
        private.close()
        xvfb.terminate()
        xvfb.wait()
        program.wait_exit(1)
    finally:
        private.close()
        if xvfb.poll() is None:
            xvfb.kill()
            xvfb.wait()
    s = lab.start()
    take_back(s, "KESTO IDE [noname.asm] *", "zanik ekranu: zażółć", "recovery-4-after-display-loss")
    exit_discarding(s, lab)
