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


REPO = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINE_ENV = os.path.join(REPO, "scripts", "windows", "wine-env.sh")


def _bash(script, *args, env=None):
    return subprocess.run(["bash", "-c", f'set -e; source "{WINE_ENV}"; {script}', "bash", *args],
                          env=env, capture_output=True, check=True).stdout


def lab_env(prefix, base=None):
    """The environment of every Windows run, as scripts/windows/wine-env.sh
    makes it: the Polish locale (code page 1250), a HOME inside the prefix."""
    out = _bash('wine_env "$1"; env -0', prefix, env=dict(base if base is not None else os.environ))
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


def fresh_prefix(prefix):
    """A new prefix, made as the Windows targets make theirs."""
    end(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    _bash('wine_prefix "$1"', prefix)
    return prefix
