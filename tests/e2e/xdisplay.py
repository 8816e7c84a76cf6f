"""The X server as a user meets it: windows found by their title, real key
events (XTEST, through xdotool), window-manager properties, screenshots."""

import os
import re
import shutil
import subprocess
import tempfile

from Xlib import X, Xatom, display as xdisplay, error as xerror

import waiting

# Keys of their own for the Polish letters (F13-F21 are unused): xdotool
# otherwise binds a letter missing from the map to a spare key for a moment,
# and the program may read the map after it was taken back and miss it.
POLISH_KEYS = """xkb_symbols "letters" {
    key <FK13> { [ aogonek, Aogonek ] };
    key <FK14> { [ cacute, Cacute ] };
    key <FK15> { [ eogonek, Eogonek ] };
    key <FK16> { [ lstroke, Lstroke ] };
    key <FK17> { [ nacute, Nacute ] };
    key <FK18> { [ oacute, Oacute ] };
    key <FK19> { [ sacute, Sacute ] };
    key <FK20> { [ zacute, Zacute ] };
    key <FK21> { [ zabovedot, Zabovedot ] };
};
"""


class Screen:
    """One X server: DISPLAY is its name; `depth` is how deep a program's
    top-level window sits (2 in a window manager's frame)."""

    def __init__(self, name, out_dir):
        self.name = name
        self.out_dir = out_dir
        self.depth = 1
        self.dpy = xdisplay.Display(name)
        # A window may go between finding it and asking about it.
        self.dpy.set_error_handler(lambda *args: None)
        self.root = self.dpy.screen().root
        self.atoms = {}

    def close(self):
        try:
            self.dpy.close()
        except Exception:  # noqa: BLE001 - its server may be gone already
            pass

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def run(self, *argv, **kwargs):
        return subprocess.run(argv, env=self.env(), check=False, capture_output=True, **kwargs)

    def atom(self, name):
        if name not in self.atoms:
            self.atoms[name] = self.dpy.intern_atom(name)
        return self.atoms[name]

    # --- windows ----------------------------------------------------------

    def _children(self, window):
        try:
            return window.query_tree().children
        except xerror.XError:
            return []

    def _windows(self, depth=None):
        """Every window down to `depth` levels below the root (all of them without)."""
        level = [self.root]
        for _ in range(depth if depth else 64):
            level = [child for window in level for child in self._children(window)]
            if not level:
                return
            yield from level

    def title(self, window):
        """The window's title as the window manager reads it; None once it is gone."""
        try:
            prop = window.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
            if prop is not None:
                return prop.value.decode("utf-8", "replace")
            prop = window.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
            if prop is None:
                return ""
            value = prop.value
            return value.decode("latin-1") if isinstance(value, bytes) else str(value)
        except (xerror.XError, AttributeError):
            return None

    def viewable(self, window):
        try:
            return window.get_attributes().map_state == X.IsViewable
        except xerror.XError:
            return False

    def popup(self, window):
        """Menus are override-redirect popups, titled like the question boxes."""
        try:
            return bool(window.get_attributes().override_redirect)
        except xerror.XError:
            return False

    def wm_class(self, window):
        try:
            return window.get_wm_class() or ()
        except xerror.XError:
            return ()

    def width(self, window):
        try:
            return window.get_geometry().width
        except xerror.XError:
            return 0

    def top_level(self, of_class):
        """The visible windows one level below the root whose WM_CLASS names `of_class`."""
        return [w for w in self._children(self.root) if self.viewable(w) and of_class in self.wm_class(w)]

    def window(self, wid):
        return self.dpy.create_resource_object("window", wid)

    def find(self, pattern, kind="window", visible=True, where=None):
        """The first window whose title matches the regex; kind is "window",
        "popup" or "any". Without `visible`, every window of the tree is
        looked at (a minimised one is not viewable)."""
        regex = re.compile(pattern)
        candidates = where if where is not None else self._windows(self.depth if visible else None)
        for window in candidates:
            if visible and not self.viewable(window):
                continue
            if kind != "any" and self.popup(window) != (kind == "popup"):
                continue
            title = self.title(window)
            if title is not None and regex.search(title):
                return window
        return None

    def wait_window(self, pattern, kind="window", visible=True, seconds=10):
        return waiting.until(lambda: self.find(pattern, kind, visible), seconds, f"a {kind} titled /{pattern}/")

    def wait_popup(self):
        return self.wait_window(".*", "popup")

    def exists(self, pattern):
        return self.find(pattern, "any", visible=False) is not None

    def wait_gone(self, window, seconds=10):
        waiting.until(lambda: not self.viewable(window), seconds, f"window {window.id:#x} to close")

    def wait_none(self, pattern, seconds=10):
        waiting.until(lambda: not self.exists(pattern), seconds, f"no window titled /{pattern}/ left")

    def wait_caption(self, window, expected, seconds=10):
        waiting.until(
            lambda: self.title(window) == expected,
            seconds,
            lambda: f"the caption [{expected}]; it is [{self.title(window)}]",
        )

    def focused(self):
        return self.dpy.get_input_focus().focus

    def focus(self, window):
        """No window manager under plain Xvfb: the input focus is given
        directly, and the server asked until it says so."""

        def has_it():
            focus = self.focused()
            if getattr(focus, "id", None) == window.id:
                return True
            window.set_input_focus(X.RevertToParent, X.CurrentTime)
            self.dpy.sync()
            return getattr(self.focused(), "id", None) == window.id

        waiting.until(has_it, 5, f"window {window.id:#x} to take the focus")

    # --- a window manager's view -----------------------------------------

    def _cardinals(self, window, name, kind=Xatom.CARDINAL):
        try:
            prop = window.get_full_property(self.atom(name), kind)
        except xerror.XError:
            return []
        return list(prop.value) if prop is not None else []

    def active(self):
        value = self._cardinals(self.root, "_NET_ACTIVE_WINDOW", Xatom.WINDOW)
        return value[0] if value else 0

    def wait_active(self, window, what):
        waiting.until(
            lambda: self.active() == window.id,
            10,
            lambda: f"{what} ({window.id:#x}) to be the active window; it is {self.active():#x}",
        )

    def hidden(self, window):
        return self.atom("_NET_WM_STATE_HIDDEN") in self._cardinals(window, "_NET_WM_STATE", Xatom.ATOM)

    def shown(self, window):
        return self.viewable(window) and not self.hidden(window)

    def activate(self, window):
        subprocess.run(["xdotool", "windowactivate", "--sync", str(window.id)], env=self.env(),
                       capture_output=True, timeout=15, check=False)

    def wm_running(self):
        """The root names the window manager's own window, which names itself
        (the root's property outlives the window manager)."""
        check = self._cardinals(self.root, "_NET_SUPPORTING_WM_CHECK", Xatom.WINDOW)
        return bool(check) and self._cardinals(self.window(check[0]), "_NET_SUPPORTING_WM_CHECK", Xatom.WINDOW) == check

    def frame_bottom(self, window):
        extents = self._cardinals(window, "_NET_FRAME_EXTENTS")
        return extents[3] if len(extents) == 4 else 0

    def bounds(self, window):
        """Top and height of the window on the screen, and the screen's height."""
        geometry = window.get_geometry()
        origin = window.translate_coords(self.root, 0, 0)
        return -origin.y, geometry.height, self.dpy.screen().height_in_pixels

    def close_window(self, window):
        """What the window manager's close button does (WM_DELETE_WINDOW)."""
        subprocess.run(["xdotool", "windowclose", str(window.id)], env=self.env(), capture_output=True,
                       check=False)

    def pid_of(self, window):
        value = self._cardinals(window, "_NET_WM_PID")
        return value[0] if value else None

    # --- keys -------------------------------------------------------------

    def key(self, *keys):
        """Real key events (XTEST) to whatever window has the focus."""
        subprocess.run(["xdotool", "key", "--clearmodifiers", "--delay", "30", *keys], env=self.env(),
                       check=True, timeout=30)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--clearmodifiers", "--delay", "15", "--", text], env=self.env(),
                       check=True, timeout=60)

    def click(self, window, x, y):
        subprocess.run(["xdotool", "mousemove", "--window", str(window.id), str(x), str(y), "click", "1"],
                       env=self.env(), check=True, timeout=15)

    def load_polish_keys(self):
        with tempfile.TemporaryDirectory() as folder:
            os.mkdir(os.path.join(folder, "symbols"))
            with open(os.path.join(folder, "symbols", "kestopl"), "w", encoding="ascii") as f:
                f.write(POLISH_KEYS)
            self.load_keymap(folder, "+kestopl(letters)")
        keymap = self.run("xkbcomp", self.name, "-").stdout
        assert b"zabovedot" in keymap, "the Polish letters are not in the keyboard map"

    def load_keymap(self, folder, symbols, layout=None):
        if layout is None:
            query = self.run("setxkbmap", "-query").stdout.decode()
            layout = re.search(r"^layout:\s*(\S+)", query, re.M)
            layout = layout.group(1) if layout else "us"
        keymap = self.run("setxkbmap", f"-I{folder}", "-symbols", f"pc+{layout}+inet(evdev){symbols}", "-print")
        loaded = self.run("xkbcomp", "-w", "0", f"-I{folder}", "-", self.name, input=keymap.stdout)
        assert loaded.returncode == 0, f"xkbcomp: {loaded.stderr.decode()}"

    # --- screenshots ------------------------------------------------------

    def shot(self, name):
        """The screen, trimmed to the windows shown, as OUT/name.png. A window
        just mapped may not be drawn yet (Wine's often are not): an empty
        screen is taken again, for up to 5 s."""
        out = os.path.join(self.out_dir, name + ".png")

        def drawn():
            grab = self.run("import", "-window", "root", "miff:-")
            self.run("convert", "miff:-", "-bordercolor", "black", "-border", "1", "-trim", "+repage", out,
                     input=grab.stdout)
            width = self.run("identify", "-format", "%w", out).stdout
            return width.isdigit() and int(width) > 1

        try:
            waiting.until(drawn, 5, "a drawn screen")
        except AssertionError:
            pass
        return out


def start_xvfb(log_path):
    """An X server of its own (1024x768, no TCP); -noreset keeps the keyboard
    map loaded while no client is connected. Returns (process, display name)."""
    read_end, write_end = os.pipe()
    with open(log_path, "ab") as log:
        process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=log, stderr=log)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    assert number, f"Xvfb did not start: {log_path}"
    return process, f":{number}"


def need(*programs):
    missing = [p for p in programs if shutil.which(p) is None]
    assert not missing, f"missing: {' '.join(missing)} (make e2e installs them)"
