"""Wine, always in a prefix of the tests' own: no debug output, no Mono or
Gecko prompt, no desktop-menu entries; its processes end through that prefix
only (wineserver -k)."""

import os
import shutil
import subprocess


def available():
    return shutil.which("wine") is not None


def env(prefix, base=None, **extra):
    env = dict(base if base is not None else os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    env.update({k: str(v) for k, v in extra.items()})
    return env


def make_prefix(prefix, base=None):
    """The prefix, made once and kept for the next runs."""
    if not os.path.isdir(prefix):
        subprocess.run(["wineboot", "-i"], env=env(prefix, base), capture_output=True, check=False)
        subprocess.run(["wineserver", "-w"], env=env(prefix, base), check=False)
    return prefix


def end(prefix):
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=env(prefix), capture_output=True, check=False)


def windows_path(unix_path):
    """A Unix path as Wine's programs see it: drive Z: is the root."""
    return "Z:" + os.path.realpath(unix_path).replace("/", "\\")

