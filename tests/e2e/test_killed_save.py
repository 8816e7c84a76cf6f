"""A save killed at any moment loses nothing: the real program saves a 20 MB
file and is killed with SIGKILL at varied moments of that save."""

import filecmp
import os
import subprocess
import time

import pytest

import scenario


class Saves:
    def __init__(self, screen, stage):
        self.screen = screen
        self.stage = stage
        self.cwd = stage.folder("lab")
        stage.write(os.path.join(self.cwd, "kestoide.ini"), b"1\r\n")
        # The old text, and the new one: an x typed at its start.
        self.old = b"\tmov a,b\r\n" * (20 * 1024 * 1024 // 10) + b"\tmov a,b\r\n"[:(20 * 1024 * 1024) % 10]
        self.new = b"x" + self.old
        self.doc = os.path.join(stage.folder("src"), "prog.asm")

    def whole(self, path):
        with open(path, "rb") as f:
            data = f.read()
        return "old" if data == self.old else "new" if data == self.new else "mixed"

    def save_and_kill(self, delay):
        """Starts the program on the document, types the x and saves; the
        kill comes `delay` seconds after Ctrl+S is sent (xdotool itself
        pauses after sending it, long enough for a small save to end)."""
        program = self.stage.start(self.doc, cwd=self.cwd)
        s = scenario.Session(self.screen, program, self.cwd)
        s.main = self.screen.wait_window(r"^KESTO IDE \[")
        s.caption(f"KESTO IDE [{self.doc}]")
        s.to_editor()
        s.key("x")
        s.caption(f"KESTO IDE [{self.doc}] *")
        ctrl_s = subprocess.Popen(["xdotool", "key", "--clearmodifiers", "ctrl+s"], env=self.screen.env())
        time.sleep(delay)
        program.kill()
        ctrl_s.wait()


@pytest.fixture
def lab(screen, stage):
    return Saves(screen, stage)


# Moments from before the save to after it, closest where it writes the
# file (here: 20-50 ms in for a replace, 80-150 ms for a rewrite in place).
REPLACE_DELAYS = (0, 0.01, 0.02, 0.03, 0.04, 0.05, 0.08)
IN_PLACE_DELAYS = (0.02, 0.06, 0.08, 0.09, 0.1, 0.11, 0.12, 0.13, 0.15, 0.2)


def test_replacing_save_killed(lab):
    """A file that can be replaced holds, right after the kill, the old text
    or the new one, whole."""
    for delay in REPLACE_DELAYS:
        with open(lab.doc, "wb") as f:
            f.write(lab.old)
        lab.save_and_kill(delay)
        assert lab.whole(lab.doc) != "mixed", f"killed {delay} s into a replacing save: the file is neither text"


def test_in_place_save_killed(lab, stage):
    """A file with a second name is rewritten in place; the next start puts a
    rewrite cut short right, and says so in one box, so once the program has
    started again the file is the old text or the new one, whole, under both
    names."""
    second = stage.path("src", "second name.asm")
    for delay in IN_PLACE_DELAYS:
        for path in (lab.doc, second):
            if os.path.exists(path):
                os.remove(path)
        with open(lab.doc, "wb") as f:
            f.write(lab.old)
        os.link(lab.doc, second)
        lab.save_and_kill(delay)
        right_after = lab.whole(lab.doc)
        program = stage.start(cwd=lab.cwd)
        # Put back before the window shows, with one box that says so.
        lab.screen.wait_window("^KESTOIDE$" if right_after == "mixed" else r"^KESTO IDE \[")
        program.kill()
        assert lab.whole(lab.doc) != "mixed", \
            f"killed {delay} s into an in-place save: after the next start the file is neither text"
        assert filecmp.cmp(lab.doc, second, shallow=False), "the second name lost the file"
    assert sorted(os.listdir(stage.path("src"))) == ["prog.asm", "second name.asm"], "files left beside the document"
