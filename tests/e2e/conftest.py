"""The stage of the end-to-end tests: an X server (Xvfb), a window manager
(openbox) where a check needs one, a private session bus with AT-SPI, the
program's folder with stand-in lab tools, and a Wine prefix.

    /usr/bin/python3 -B -m pytest tests/e2e --program build/ide/kestoide --out build/e2e

Screenshots, the accessibility tree and the tools' logs go to --out."""

import os
import shutil
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import waiting  # noqa: E402
import xdisplay  # noqa: E402
from process import Program  # noqa: E402


def pytest_addoption(parser):
    parser.addoption("--program", help="the built kestoide (Linux), or the build folder of the Windows one")
    parser.addoption("--out", help="the folder for screenshots and logs")
    parser.addoption("--deb", help="the Debian package to check")
    parser.addoption("--installed", help="the tree `make install DESTDIR=... PREFIX=/usr` wrote")


_bus = None
_bus_log = None


def pytest_configure(config):
    """The private session bus comes before anything talks to D-Bus: the
    accessibility bus is started on it when the program asks for it."""
    global _bus, _bus_log
    # xdotool reads the text it types in the locale's encoding.
    os.environ["LC_ALL"] = "C.UTF-8"
    os.environ.pop("SESSION_MANAGER", None)
    if shutil.which("dbus-daemon") is None:
        return
    # It complains that it may not raise its file limit: noise, kept apart.
    _bus_log = tempfile.TemporaryFile()
    _bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                            stdout=subprocess.PIPE, stderr=_bus_log)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = _bus.stdout.readline().decode().strip()


def pytest_unconfigure(config):
    if _bus is not None:
        _bus.terminate()
        _bus.wait()
        _bus.stdout.close()
        _bus_log.close()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if report.when == "call":
        item.failed = report.failed


@pytest.fixture(scope="session")
def out_dir(request):
    out = request.config.getoption("--out")
    assert out, "--out OUT_DIR is needed"
    os.makedirs(out, exist_ok=True)
    # What an earlier run left would pass for this one's.
    for name in os.listdir(out):
        if name.endswith(".png") or name in ("tools.log", "a11y-tree.txt"):
            os.remove(os.path.join(out, name))
    return os.path.realpath(out)


@pytest.fixture(scope="session")
def screen(out_dir):
    """One Xvfb for the whole run, its keyboard map with the Polish letters."""
    xdisplay.need("Xvfb", "xdotool", "xkbcomp", "setxkbmap", "import")
    process, name = xdisplay.start_xvfb(os.path.join(out_dir, "xvfb.log"))
    os.environ["DISPLAY"] = name
    screen = xdisplay.Screen(name, out_dir)
    screen.load_polish_keys()
    yield screen
    screen.close()
    process.terminate()
    process.wait()


@pytest.fixture(scope="module")
def window_manager(screen, out_dir):
    """openbox, as on a student's desktop, for what only a window manager
    decides; windows then sit one level down, in its frames."""
    xdisplay.need("openbox")
    with open(os.path.join(out_dir, "openbox.log"), "ab") as log:
        wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=log, stderr=log)
    waiting.until(screen.wm_running, 10, "openbox to manage the screen")
    screen.depth = 2
    yield wm
    wm.terminate()
    wm.wait()
    waiting.until(lambda: not screen.wm_running(), 5, "openbox to end")
    screen.depth = 1


class Stage:
    """A folder of its own: app/ holds a copy of the program, its helper and
    the stand-in tools (the program looks for them in its own folder); the
    programs started here are killed when the test ends."""

    def __init__(self, root, program):
        self.root = root
        self.app = os.path.join(root, "app")
        self.run = os.path.join(root, "run")
        self.state = os.path.join(root, "state")
        os.makedirs(self.app)
        os.mkdir(self.run, 0o700)
        self.programs = []
        if program and os.path.basename(program) == "kestoide":
            shutil.copy2(program, os.path.join(self.app, "kestoide"))
            shutil.copy2(os.path.join(os.path.dirname(program), "kestoide-run"), self.app)
        self.program = os.path.join(self.app, "kestoide")
        self.log = os.path.join(root, "program.log")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def folder(self, *parts):
        path = self.path(*parts)
        os.makedirs(path, exist_ok=True)
        return path

    def tool(self, name, script):
        """A stand-in tool beside the program: a shell script."""
        path = os.path.join(self.app, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\n" + script)
        os.chmod(path, 0o755)
        return path

    def write(self, path, data):
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def env(self, **extra):
        env = dict(os.environ, XDG_STATE_HOME=self.state, XDG_RUNTIME_DIR=self.run)
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def start(self, *args, cwd, program=None, **env):
        started = Program([program or self.program, *args], cwd, self.env(**env), self.log)
        self.programs.append(started)
        return started


@pytest.fixture
def stage(request, out_dir):
    root = tempfile.mkdtemp(prefix="kesto-e2e.")
    stage = Stage(root, request.config.getoption("--program"))
    yield stage
    failed = getattr(request.node, "failed", False)
    if failed and "screen" in request.fixturenames:
        request.getfixturevalue("screen").shot(f"failure-{request.node.name}")
    for started in stage.programs:
        started.kill()
    if failed:
        sys.stderr.write(f"stage kept in {root}; program output:\n")
        if os.path.exists(stage.log):
            with open(stage.log, encoding="utf-8", errors="replace") as f:
                sys.stderr.write(f.read())
    else:
        shutil.rmtree(root, ignore_errors=True)


@pytest.fixture(scope="session")
def wine_prefix(out_dir):
    """Wine's prefix for the Linux runs' Windows tool: OUT/wine, made once."""
    import wine

    if not (wine.available() and shutil.which("x86_64-w64-mingw32-gcc")):
        pytest.skip("Wine or MinGW is not installed")
    prefix = wine.make_prefix(os.path.join(out_dir, "wine"))
    yield prefix
    wine.end(prefix)


@pytest.fixture(scope="session")
def windows_stage(request, screen, out_dir):
    """KESTO IDE for Windows in C:\\KESTO IDE of a fresh prefix, BUILD_WIN/wine-e2e,
    with the stand-in tools; the keyboard is the Polish one Wine knows."""
    import winlab

    build = os.path.realpath(request.config.getoption("--program"))
    winlab.polish_keyboard(screen)
    stage = winlab.Stage(build, os.path.join(build, "wine-e2e"), out_dir)
    yield stage
    stage.end()
    if os.path.exists(stage.tools_log):
        shutil.copy(stage.tools_log, os.path.join(out_dir, "tools.log"))
