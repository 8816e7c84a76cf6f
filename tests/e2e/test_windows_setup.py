"""The Windows installer, under Wine in Xvfb, as a teacher installs a room:
a fresh prefix where .asm has a default program, with the Default profile, a
student's, a teacher's (with a kestoide.ini of its own) and one whose folder
is gone, and the lab's tools on \\\\serwer\\pracownia (Wine's dosdevices/unc)."""

import glob
import os
import pwd
import shutil
import subprocess

import pytest

import waiting
import wine
import winlab
from process import Program

APP = "C:\\Pracownia\\KESTO IDE"
SHARE = "\\\\serwer\\pracownia"
SHORTCUT = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\KESTO IDE.lnk"
PROFILES = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"


class Room:
    def __init__(self, build):
        self.build = build
        self.setup = f"kestoide-{winlab.version_of(build)}-setup.exe"
        self.prefix = wine.fresh_prefix(os.path.join(build, "wine-setup"))
        self.env = wine.lab_env(self.prefix)
        self.drive = os.path.join(self.prefix, "drive_c")
        self.users = os.path.join(self.drive, "users")
        self.installed = os.path.join(self.drive, "Pracownia", "KESTO IDE")
        self.tools = os.path.join(self.prefix, "dosdevices", "unc", "serwer", "pracownia")
        self.me = pwd.getpwuid(os.getuid()).pw_name
        self.programs = []

    def wine(self, *argv, cwd=None, output=False):
        """A Windows command, to its end. A program it starts (`start`) keeps
        what it inherits: its output is read only where asked for."""
        return subprocess.run(["wine", *argv], cwd=cwd or self.drive, env=self.env, timeout=120, check=False,
                              stdout=subprocess.PIPE if output else subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self, *argv, cwd):
        started = Program(["wine", *argv], cwd, self.env, os.path.join(self.prefix, "program.log"))
        self.programs.append(started)
        return started

    def setup_run(self, options):
        """The room's command in cmd, as a teacher types it."""
        return self.wine("cmd", "/c", f"start /wait {self.setup} {options}", cwd=self.build).returncode

    def reg_default(self, key):
        out = self.wine("reg", "query", key, "/ve", output=True).stdout.decode("utf-8", "replace").replace("\r", "")
        return next((line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if "REG_SZ" in line), "")

    def reg_value(self, key, name):
        out = self.wine("reg", "query", key, "/v", name, output=True).stdout.decode("utf-8", "replace").replace("\r", "")
        for line in out.splitlines():
            words = line.split()
            if words and words[0] == name:
                return " ".join(words[2:])
        return ""

    def inis(self):
        # A user's Documents may be Wine's link to the home folder.
        return sorted(os.path.relpath(p, self.users) for p in glob.glob(f"{self.users}/*/Documents/kestoide.ini"))

    def end(self):
        for started in self.programs:
            if not started.ended():
                started.kill()
        wine.end(self.prefix)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


@pytest.fixture
def room(request, screen):
    room = Room(os.path.realpath(request.config.getoption("--program")))
    standins = os.path.join(room.build, "standin")
    for folder, names in (("narzędzia KESTO", ("ruderari", "zozevadi")), ("niepełne", ("ruderari",))):
        os.makedirs(os.path.join(room.tools, folder))
        for name in names:
            kind = "ansi" if name == "ruderari" else "unicode"
            shutil.copy(os.path.join(standins, f"standin-{kind}.exe"), os.path.join(room.tools, folder, f"{name}.exe"))
    for user in ("Default", "uczen", "nauczyciel"):
        os.makedirs(os.path.join(room.users, user, "Documents"))
    write(os.path.join(room.users, "nauczyciel", "Documents", "kestoide.ini"), b"2\r\n")
    write(os.path.join(room.users, room.me, "Documents", "moj.asm"), b"NOP\r\n")
    # ProfileList gets the Default value that Windows has and Wine lacks.
    default = ",".join(f"{b:02x}" for b in "%SystemDrive%\\users\\Default\0".encode())
    reg = ["REGEDIT4", "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.asm]", '@="asmfile"', f"[{PROFILES}]",
           f'"Default"=hex(2):{default}']
    for sid, user in (("1001", "uczen"), ("1002", "nauczyciel"), ("1003", "dawny")):
        reg += [f"[{PROFILES}\\S-1-5-21-0-0-0-{sid}]", f'"ProfileImagePath"="C:\\\\users\\\\{user}"']
    write(os.path.join(room.prefix, "room.reg"), ("\r\n".join(reg) + "\r\n").encode())
    room.wine("regedit", "/S", wine.windows_path(os.path.join(room.prefix, "room.reg")))
    yield room
    room.end()


def test_room_install_start_and_uninstall(screen, room):
    """/PORT=7 and a folder without zozevadi.exe are refused with nothing
    written; the room's command installs the tools, kestoide.ini for port 3
    and .asm's default; the shortcut starts on port 3 without a warning;
    `start FILE.asm` opens the file; the uninstaller leaves the tools and the
    users' files and gives .asm its earlier default, which a plain install keeps."""
    assert room.setup_run(f"/S /TOOLS={SHARE}\\narzędzia KESTO /PORT=7 /ASSOCIATE") == 3
    refused = room.start("cmd", "/c", f"start /wait {room.setup} /TOOLS={SHARE}\\niepełne /PORT=3", cwd=room.build)
    box = screen.wait_window("^Instalator KESTO IDE$")
    screen.shot("12-setup-missing-tool")
    screen.focus(box)
    screen.key("Return")
    refused.wait_exit(4)
    assert not os.path.exists(room.installed), "refused, yet the program's folder was made"
    assert room.inis() == ["nauczyciel/Documents/kestoide.ini"], "kestoide.ini files after the refusals"

    assert room.setup_run(f"/S /TOOLS={SHARE}\\narzędzia KESTO /PORT=3 /ASSOCIATE /D={APP}") == 0
    for name in ("ruderari.exe", "zozevadi.exe"):
        assert waiting.read(os.path.join(room.tools, "narzędzia KESTO", name)) == \
            waiting.read(os.path.join(room.installed, name)), "the tools are not beside the program"
    for user in ("Default", room.me, "uczen"):
        waiting.wait_bytes(os.path.join(room.users, user, "Documents", "kestoide.ini"), b"3\r\n",
                           f"{user}'s kestoide.ini")
    waiting.wait_bytes(os.path.join(room.users, "nauczyciel", "Documents", "kestoide.ini"), b"2\r\n",
                       "the teacher's own kestoide.ini")
    assert not os.path.exists(os.path.join(room.users, "dawny")), "the profile whose folder was gone got one"
    assert room.reg_default("HKLM\\Software\\Classes\\.asm") == "KESTOIDE.asm"
    assert room.reg_default("HKLM\\Software\\Classes\\Applications\\kestoide.exe\\shell\\open\\command") == \
        f'"{APP}\\kestoide.exe" "%1"'

    # Through its Start-menu shortcut: no missing-settings warning, port 3.
    room.wine("start", SHORTCUT)
    main = screen.wait_window(r"^KESTO IDE \[")
    screen.wait_caption(main, "KESTO IDE [noname.asm]")
    screen.shot("13-installed-port-3")
    screen.focus(main)
    screen.key("ctrl+r")
    question = screen.wait_window("^KESTO IDE$")
    screen.focus(question)
    screen.key("Return")  # compile first; the stand-in assembler writes noname.hex beside the source
    ran = f"zozevadi.exe|C:\\users\\{room.me}\\Documents|/3|noname.hex|"
    tools_log = os.path.join(room.installed, "tools.log")
    waiting.until(lambda: ran in (waiting.read(tools_log) or b"").decode(), 10,
                  lambda: f"the run tool on port 3: {waiting.read(tools_log)}")
    documents = os.path.join(room.users, room.me, "Documents")  # where this one finds its kestoide.ini
    room.wine("start", f"C:\\users\\{room.me}\\Documents\\moj.asm", cwd=documents)
    screen.wait_caption(screen.wait_window(r"^KESTO IDE \[C"), f"KESTO IDE [C:\\users\\{room.me}\\Documents\\moj.asm]")
    screen.shot("14-asm-opened")
    wine.end(room.prefix)

    room.wine(f"{APP}\\odinstaluj.exe", "/S")
    # The uninstaller starts again from a copy of itself and returns at once.
    subprocess.run(["wineserver", "-w"], env=room.env, check=False)
    left = sorted(os.path.relpath(os.path.join(root, f), room.installed)
                  for root, _, files in os.walk(room.installed) for f in files)
    assert left == ["ruderari.exe", "ruderari.exe.args", "tools.log", "zozevadi.exe", "zozevadi.exe.args"]
    assert not os.path.exists(os.path.join(room.drive, "ProgramData/Microsoft/Windows/Start Menu/Programs/KESTO IDE.lnk"))
    assert room.inis() == sorted(["Default/Documents/kestoide.ini", "nauczyciel/Documents/kestoide.ini",
                                  f"{room.me}/Documents/kestoide.ini", "uczen/Documents/kestoide.ini"])
    assert sorted(os.listdir(documents)) == ["kestoide.ini", "moj.asm", "noname.hex"], "the user's files"
    assert room.reg_value("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KESTO IDE", "DisplayName") == ""
    assert room.reg_default("HKLM\\Software\\Classes\\Applications\\kestoide.exe\\shell\\open\\command") == ""
    assert room.reg_default("HKLM\\Software\\Classes\\.asm") == "asmfile"
    assert room.setup_run("/S") == 0
    assert room.reg_default("HKLM\\Software\\Classes\\.asm") == "asmfile", ".asm default after a plain install"
