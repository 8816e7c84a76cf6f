"""A program the tests started."""

import signal
import subprocess

import waiting


class Program:
    """A started program: its process, and its output in a log file."""

    def __init__(self, argv, cwd, env, log_path):
        self.log_path = log_path
        with open(log_path, "ab") as log:
            self.process = subprocess.Popen(argv, cwd=cwd, env=env, stdout=log, stderr=log)
        self.pid = self.process.pid

    def ended(self):
        return self.process.poll() is not None

    def wait_exit(self, status, seconds=10):
        waiting.until(self.ended, seconds, f"the program (pid {self.pid}) to end")
        assert self.process.returncode == status, f"exit status {self.process.returncode}, expected {status}"

    def kill(self, sig=signal.SIGKILL):
        if not self.ended():
            self.process.send_signal(sig)
        self.process.wait()

    def output(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()
