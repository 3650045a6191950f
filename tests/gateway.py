"""Shared harness of the integration tests: the gateway stand-in and the console tool as processes.

    with Gateway("--model", "LUMARO-2") as gw:
        code, out, err = run_cli("--action", "get_status", "--ip", gw.address)
        gw.log_lines()          # the stand-in's request log, parsed

Everything talks to 127.0.0.1 only.
"""

import json
import os
import signal
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass

BUILD_DIR = os.environ.get("VARNU_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build"))
SOURCE_DIR = os.environ.get("VARNU_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
CLI = os.path.join(BUILD_DIR, "out", "cli", "varnu-cli")
GATEWAY_SIM = os.path.join(BUILD_DIR, "tools", "gateway-sim", "gateway-sim")

# The console tool pauses 4 s before it exits; leave room for that and a transfer.
CLI_TIMEOUT = 120


@dataclass
class LogEntry:
    """One line of the request log.

    http lines: protocol "http", outcome the status ("200"), "closed" or "silent", size the bytes sent,
    method "GET", target the request target with its query.
    tftp lines: protocol "tftp", outcome ok|refused|stalled|aborted|timeout, size the bytes
    received, method "WRQ"/"RRQ", target the file name, options the name=value options the client sent
    plus block_size=<bytes per block> of a transfer that was taken and sha256=<hex digest> of a
    complete upload.
    """
    protocol: str
    outcome: str
    size: int
    method: str
    target: str
    options: dict


def parse_log_line(line):
    fields = line.split()
    options = dict(f.split("=", 1) for f in fields[5:] if "=" in f)
    return LogEntry(fields[0], fields[1], int(fields[2]), fields[3], fields[4], options)


class Gateway:
    """A running gateway-sim on a free loopback port; a context manager that stops it with SIGTERM."""

    def __init__(self, *options, state_dir=None):
        self.options = list(options)
        self.state_dir = state_dir
        self.process = None
        self.port = None
        self._temp = tempfile.TemporaryDirectory(prefix="gateway-sim-")
        self.log_path = os.path.join(self._temp.name, "requests.log")
        self.stderr_path = os.path.join(self._temp.name, "stderr.txt")

    @property
    def address(self):
        """The --ip value that reaches this stand-in: "127.0.0.1:PORT"."""
        return "127.0.0.1:%d" % self.port

    def start(self):
        command = [GATEWAY_SIM, "--port", "0", "--log", self.log_path] + self.options
        if self.state_dir:
            command += ["--state-dir", str(self.state_dir)]
        self._stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=self._stderr)
        first = self.process.stdout.readline().decode()
        if not first.startswith("gateway-sim listening on 127.0.0.1:"):
            self.process.wait(timeout=15)
            message = "gateway-sim did not start: %r %r" % (first, self.stderr())
            self.stop()
            raise RuntimeError(message)
        self.port = int(first.rsplit(":", 1)[1])
        return self

    def stop(self, timeout=15):
        """Ends the stand-in with SIGTERM and returns its exit status; its log goes with it."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self.process.stdout.close()
        self._stderr.close()
        self.process = None
        self._temp.cleanup()
        return code

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def log_lines(self, protocol=None):
        """The request log so far, as LogEntry records, optionally only "http" or "tftp" ones."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path) as f:
            entries = [parse_log_line(line) for line in f if line.strip()]
        return [e for e in entries if protocol is None or e.protocol == protocol]

    def wait_for_log(self, predicate, timeout=10):
        """Waits until a log entry satisfies predicate (the stand-in writes TFTP lines when a transfer ends)."""
        deadline = time.monotonic() + timeout
        while True:
            found = [e for e in self.log_lines() if predicate(e)]
            if found or time.monotonic() > deadline:
                return found
            time.sleep(0.05)


def run_cli(*args, timeout=CLI_TIMEOUT, cwd=None):
    """Runs varnu-cli with these arguments; returns (exit status, stdout bytes, stderr bytes)."""
    result = subprocess.run([CLI] + [str(a) for a in args], capture_output=True, timeout=timeout, cwd=cwd)
    return result.returncode, result.stdout, result.stderr


def run_cli_events(*args, timeout=CLI_TIMEOUT, cwd=None):
    """Runs varnu-cli with --events to a file; returns (exit status, stdout, stderr, the parsed events)."""
    with tempfile.TemporaryFile() as events:
        result = subprocess.run([CLI, "--events", str(events.fileno())] + [str(a) for a in args], cwd=cwd,
                                capture_output=True, timeout=timeout, pass_fds=(events.fileno(),))
        events.seek(0)
        lines = events.read().decode().splitlines()
    return result.returncode, result.stdout, result.stderr, [json.loads(line) for line in lines]


def free_udp_port():
    """A UDP port number on 127.0.0.1 that was free a moment ago (for peers started by the tests)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
