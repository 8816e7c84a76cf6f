"""The Debian package: what it holds, what it depends on, that apt could
install it here, that its desktop entry and AppStream data are valid, that
the system then takes *.asm files for its file type, and that the program it
installs starts where it was put (unpacked into a temporary root). The same
file type is checked in a tree that `make install DESTDIR=... PREFIX=/usr`
wrote, and a `make install` into a prefix with a blank and a Polish letter
is started through its desktop entry, as a double-click starts it."""

import os
import re
import shutil
import subprocess
import tempfile

import pytest

import scenario
import waiting

FILES = ["./usr/bin/kestoide", "./usr/bin/kestoide-run", "./usr/share/applications/kestoide.desktop",
         "./usr/share/icons/hicolor/scalable/apps/kestoide.svg",
         "./usr/share/metainfo/io.github.kestoide.metainfo.xml",
         "./usr/share/mime/packages/kestoide.xml", "./usr/share/doc/kestoide/copyright"]
DEPENDS = ["libqt6widgets6", "libqscintilla2-qt6-15", "qt6-translations-l10n", "xterm"]


def run(*argv, **kwargs):
    out = subprocess.run(argv, capture_output=True, text=True, check=False, **kwargs)
    assert out.returncode == 0, f"{' '.join(argv)}: {out.stdout}{out.stderr}"
    return out.stdout


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


@pytest.fixture(scope="module")
def deb(request):
    path = request.config.getoption("--deb")
    assert path, "--deb PACKAGE is needed"
    return os.path.realpath(path)


@pytest.fixture(scope="module")
def root(deb):
    """The package unpacked, with what shared-mime-info's trigger does once
    it is installed."""
    root = tempfile.mkdtemp(prefix="kestoide-deb.")
    run("dpkg-deb", "--extract", deb, root)
    share = os.path.join(root, "usr/share")
    run("update-mime-database", os.path.join(share, "mime"), env=dict(os.environ, XDG_DATA_DIRS=share))
    yield root
    shutil.rmtree(root)


def test_contents(deb):
    print(run("dpkg-deb", "--info", deb))
    contents = [line.split()[5] for line in run("dpkg-deb", "--contents", deb).splitlines()]
    missing = [f for f in FILES if f not in contents]
    assert missing == [], "missing from the package"
    # The MIME database is shared-mime-info's to build (its dpkg trigger
    # does): a file of it in the package would clash with every other package's.
    mime = [f for f in contents if f.startswith("./usr/share/mime/")]
    assert sorted(mime) == ["./usr/share/mime/", "./usr/share/mime/packages/", "./usr/share/mime/packages/kestoide.xml"]
    strays = [f for f in contents if re.search(r"ruderari|zozevadi|tst_|bench", f, re.I)]
    assert strays == [], "files in the package that are not the program's"


def test_relations(deb):
    depends = run("dpkg-deb", "--field", deb, "Depends").strip()
    names = {re.split(r"[ (]", d.strip())[0] for d in depends.split(",")}
    assert set(DEPENDS) <= names, f"Depends: {depends}"
    recommends = run("dpkg-deb", "--field", deb, "Recommends").strip()
    assert "wine" in {re.split(r"[ (]", d.strip())[0] for d in recommends.split(",")}, f"Recommends: {recommends}"
    run("apt-get", "install", "--simulate", "--no-install-recommends", deb)


def test_desktop_entry_and_metainfo(root, request):
    entry = os.path.join(root, "usr/share/applications/kestoide.desktop")
    metainfo = os.path.join(root, "usr/share/metainfo/io.github.kestoide.metainfo.xml")
    run("desktop-file-validate", entry)
    run("appstreamcli", "validate", "--no-net", "--pedantic", metainfo)
    # A file manager hands the file to the program; the settings file lands
    # in the folder the launcher starts it in (the home folder), so no Path=.
    lines = read(entry).splitlines()
    assert "Exec=kestoide %f" in lines and "MimeType=text/x-asm;" in lines
    assert not [line for line in lines if line.startswith("Path=")], "the entry sets a working folder"
    text = read(metainfo)
    assert "<project_license>GPL-3.0-or-later</project_license>" in text
    assert "<mediatype>text/x-asm</mediatype>" in text
    copyright = read(os.path.join(root, "usr/share/doc/kestoide/copyright"))
    assert "License: GPL-3+" in copyright.splitlines() and "/usr/share/common-licenses/GPL-3" in copyright
    installed = os.path.realpath(request.config.getoption("--installed"))
    assert read(os.path.join(installed, "usr/share/doc/kestoide/copyright")) == copyright, \
        "make install lacks the copyright"


def type_of(share, path):
    """The type a desktop gives a file, from the MIME databases under a share folder."""
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, XDG_DATA_HOME=home, XDG_DATA_DIRS=f"{share}:/usr/share")
        out = run("gio", "info", "-a", "standard::content-type", path, env=env)
    return re.search(r"standard::content-type: (\S+)", out).group(1)


def test_asm_file_type(root, request, tmp_path):
    samples = [tmp_path / "prog.asm", tmp_path / "STARY.ASM"]
    for sample in samples:
        sample.write_bytes(b"START:  NOP\r\n")
    installed = os.path.realpath(request.config.getoption("--installed"))
    assert os.path.isfile(os.path.join(installed, "usr/share/mime/mime.cache")), \
        "make install did not update the MIME database"
    print("without the package:", type_of(str(tmp_path / "none"), str(samples[0])))
    for where, share in (("the package", f"{root}/usr/share"), ("make install", f"{installed}/usr/share")):
        assert [type_of(share, str(s)) for s in samples] == ["text/x-asm"] * 2, where


def test_version_without_a_display(root):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    assert run(os.path.join(root, "usr/bin/kestoide"), "--version", env=env).startswith("kestoide (KESTO IDE) ")


def smoke(screen, stage, program, shot, entry=None):
    """The installed program works where it was put: its window comes up, a
    stand-in ruderari.exe beside it (the program looks for the tools in its
    own folder) runs in its terminal through the installed helper, and Exit
    ends it. With `entry`, it starts as a double-click starts it: through
    that desktop entry (gio launch), with only the system's folders on PATH."""
    tool = os.path.join(os.path.dirname(program), "ruderari.exe")
    assert not os.path.exists(tool), f"{tool} exists already"
    tools_log = stage.path("tools.log")
    with open(tool, "w", encoding="utf-8") as f:
        f.write(f"#!/bin/sh\nprintf '%s|%s\\n' \"$PWD\" \"$*\" >>'{tools_log}'\n")
    os.chmod(tool, 0o755)
    try:
        if entry:
            # Its output to a file: the program inherits it and outlives gio.
            with open(stage.log, "ab") as log:
                launched = subprocess.run(["gio", "launch", entry], cwd=stage.root, env=stage.env(PATH="/usr/bin:/bin"),
                                          stdout=log, stderr=log, timeout=30, check=False)
            assert launched.returncode == 0, f"gio launch {entry} failed"
            started = None
        else:
            started = stage.start(cwd=stage.root, program=program)
        screen.focus(screen.wait_window("^KESTOIDE$"))
        screen.key("Return")
        main = screen.wait_window(r"^KESTO IDE \[")
        pid = started.pid if started else screen.pid_of(main)
        assert os.readlink(f"/proc/{pid}/exe") == os.path.realpath(program), "the window is another program's"
        s = scenario.Session(screen, started, stage.root)
        s.main = main
        s.caption("KESTO IDE [noname.asm]")
        s.settings(b"1\r\n", "kestoide.ini")
        screen.shot(shot)
        # An unchanged untitled document compiles as it is.
        s.to_editor()
        s.key("ctrl+m")
        waiting.until(lambda: f"{stage.root}|noname.asm" in (waiting.read(tools_log) or b"").decode().splitlines(),
                      10, f"ruderari.exe beside {program} to start")
        terminal = screen.wait_window(r"^Kompilacja pliku noname\.asm$")
        screen.focus(terminal)
        s.key("Return")
        screen.wait_gone(terminal)
        s.to_editor()
        scenario.exit_from_menu(s)
        if started:
            started.wait_exit(0)
        else:  # no child of ours
            waiting.until(lambda: not os.path.exists(f"/proc/{pid}") or
                          read(f"/proc/{pid}/stat").split()[2] == "Z", 10, "the program to end")
    finally:
        os.remove(tool)


def test_unpacked_program_starts(screen, stage, root):
    smoke(screen, stage, os.path.join(root, "usr/bin/kestoide"), "smoke-installed")


def test_installed_into_a_prefix_starts_from_its_entry(screen, stage, deb):
    """make install into a prefix that is not on PATH, with a blank and a
    Polish letter in it: the entry names the program by its full path (the
    package's keeps the plain `kestoide`), and a start through it finds it."""
    prefix = stage.path("mój program")
    run("cmake", "--install", os.path.dirname(deb), "--component", "kestoide", "--prefix", prefix)
    entry = os.path.join(prefix, "share/applications/kestoide.desktop")
    assert f'Exec="{prefix}/bin/kestoide" %f' in read(entry).splitlines()
    run("desktop-file-validate", entry)
    smoke(screen, stage, os.path.join(prefix, "bin/kestoide"), "smoke-installed-prefix", entry)
