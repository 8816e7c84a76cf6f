"""What a screen reader finds and reads (AT-SPI, pyatspi), on the private
session bus the test run starts. Nothing is cached: a name or a text is
asked for each time, as the program may have changed it."""

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

import waiting  # noqa: E402


def _uncached(accessible):
    accessible.set_cache_mask(Atspi.Cache.NONE)
    accessible.clear_cache()
    return accessible


def _pump():
    # Events the registry sent meanwhile; nobody else runs this process's main loop.
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


class App:
    """The program with process id `pid`, as found on the accessibility bus."""

    def __init__(self, pid, seconds=10):
        self.root = waiting.until(lambda: self._find(pid), seconds, f"process {pid} on the accessibility bus")

    @staticmethod
    def _find(pid):
        _pump()
        desktop = _uncached(pyatspi.Registry.getDesktop(0))
        for i in range(desktop.get_child_count()):
            try:
                app = desktop.get_child_at_index(i)
                if app is not None and app.get_process_id() == pid:
                    return _uncached(app)
            except GLib.GError:
                continue
        return None

    def tree(self, limit=8):
        """(depth, role, name, object) of every object, depth first."""
        out = []

        def walk(obj, depth):
            _uncached(obj)
            try:
                out.append((depth, obj.getRoleName(), obj.name or "", obj))
                count = obj.get_child_count() if depth < limit else 0
            except GLib.GError:
                return
            for i in range(count):
                try:
                    child = obj.get_child_at_index(i)
                except GLib.GError:
                    continue
                if child is not None:
                    walk(child, depth + 1)

        _pump()
        walk(self.root, 0)
        return out

    def write_tree(self, path):
        tree = self.tree()
        with open(path, "w", encoding="utf-8") as f:
            for depth, role, name, _ in tree:
                f.write(f"{depth}\t{role}\t{name}\n")
        return tree

    def named(self, name, tree=None):
        for _, _, n, obj in tree if tree is not None else self.tree():
            if n == name:
                return obj
        raise AssertionError(f"a screen reader finds nothing named [{name}]")

    def names(self):
        return [name for _, _, name, _ in self.tree()]


def text(obj):
    _uncached(obj)
    try:
        return Atspi.Text.get_text(obj, 0, -1)
    except GLib.GError:
        return None


def wait_text(obj, expected, what, seconds=10):
    waiting.until(lambda: text(obj) == expected, seconds,
                  lambda: f"{what} to read [{expected}]; a screen reader reads [{text(obj)}]")
