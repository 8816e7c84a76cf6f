"""Waiting with deadlines: every wait in these tests ends, and says what it waited for."""

import time


def until(check, seconds=10, what="the condition", interval=0.05):
    """Calls check() until it returns something true, which is returned.

    Past the deadline the test fails, naming `what` (a string, or a function
    that tells the state at that moment)."""
    end = time.monotonic() + seconds
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"waited {seconds} s in vain for {what() if callable(what) else what}")
        time.sleep(interval)


def holds(check, seconds):
    """True when check() stays true for the whole time (a window that must not close)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not check():
            return False
        time.sleep(0.05)
    return bool(check())


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def wait_bytes(path, expected, what, seconds=10):
    """Waits until the file holds exactly these bytes; the failure shows both."""
    try:
        until(lambda: read(path) == expected, seconds)
    except AssertionError:
        actual = read(path)
        assert actual is not None, f"{what}: {path} does not exist"
        assert actual == expected, f"{what}: {path} holds {actual!r}, expected {expected!r}"
