"""Harness of the desktop shell's end-to-end tests: varnkit under Xvfb.

Each test script calls isolate() first: where the system allows it, the script
runs again in its own PID and network namespaces, so that the fixed server
port 7681 and the tests' checks of running processes see only this test's
processes. Inside, the tests drive real X windows with xdotool, close windows
the way a window manager does (WM_DELETE_WINDOW), and read and run page scripts
through Chromium's DevTools protocol on a loopback port.
"""

import base64
import ctypes
import ctypes.util
import fcntl
import http.server
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

BUILD_DIR = os.environ.get("VARNU_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.environ.get("VARNU_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
VARNKIT = os.path.join(BUILD_DIR, "out", "varnkit")
CLI = os.path.join(BUILD_DIR, "out", "cli", "varnu-cli")
SITE_TOOL = os.path.join(BUILD_DIR, "out", "cli", "varnu-site")
HTTP_DIR = os.path.join(BUILD_DIR, "out", "http")
STUB_SERVER = os.path.join(BUILD_DIR, "shell", "stub-web-server")
SERVER_NAME = "varnkit-http-server"
SERVER_PORT = 7681
KIT_URL = "http://127.0.0.1:%d/" % SERVER_PORT
# What the native interface looks like from a page's point of view.
NATIVE_NAMES = ("native_appVersion", "native_actionBackup", "native_actionRestore", "native_actionFirmwareUpgrade",
                "native_actionSetupChannel", "native_actionExportChannel", "native_gatewayStatus", "native_lastRun",
                "native_showLog", "native_runAction", "native_runProgress", "native_showBackup", "native_compareBackups",
                "native_siteRecent", "native_siteOpen", "native_siteCreate", "native_siteList", "native_siteStatus",
                "native_siteChange", "native_siteLog", "native_siteDiff", "native_siteBackupAll", "native_siteRestore",
                "native_siteAction", "native_siteReport", "native_backupReport")
NATIVE_TYPES = "[%s].map(n => typeof window[n]).join(' ')" % ", ".join("'%s'" % n for n in NATIVE_NAMES)

_ISOLATED_FLAG = "VARNKIT_E2E_ISOLATED"


def isolate():
    """Re-runs this script in fresh PID, network and mount namespaces when possible."""
    if os.environ.get(_ISOLATED_FLAG) == "1":
        _bring_loopback_up()
        # A /tmp of our own: Xvfb's lock files there name process ids that other namespaces cannot
        # see, so two isolated runs would otherwise take the same display number.
        _private_tmp()
        return
    if os.environ.get(_ISOLATED_FLAG) == "0" or not shutil.which("unshare"):
        return
    probe = ["unshare", "--pid", "--fork", "--mount-proc", "--net", "mount", "-t", "tmpfs", "tmpfs", "/tmp"]
    if subprocess.run(probe, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        os.environ[_ISOLATED_FLAG] = "0"
        return
    os.environ[_ISOLATED_FLAG] = "1"
    os.execvp("unshare", ["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "--net",
                          sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:])


def _private_tmp():
    """Mounts an empty /tmp, keeping the source and build trees reachable when they live there."""
    keep = [os.path.realpath(d) for d in (SOURCE_DIR, BUILD_DIR)]
    keep = [d for d in keep if d.startswith("/tmp/")]
    outer = tempfile.mkdtemp(prefix="varnkit-e2e-outer-tmp-", dir="/run")
    if keep:
        subprocess.run(["mount", "--bind", "/tmp", outer], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp"], check=True)
    for d in keep:
        os.makedirs(d, exist_ok=True)
        subprocess.run(["mount", "--bind", outer + d[len("/tmp"):], d], check=True)
    if keep:
        subprocess.run(["umount", outer], check=True)
    os.rmdir(outer)


def isolated():
    return os.environ.get(_ISOLATED_FLAG) == "1"


def _bring_loopback_up():
    SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14s", b"lo", 0, b"")
        flags = struct.unpack("16sH14s", fcntl.ioctl(s, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14s", b"lo", flags | IFF_UP, b""))


def missing_requirements():
    """Why the end-to-end tests cannot run here, or None."""
    for program in ("Xvfb", "xdotool", "import", "convert"):
        if not shutil.which(program):
            return "%s is not installed" % program
    if not os.path.exists(VARNKIT):
        return "varnkit is not built (%s)" % VARNKIT
    return None


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts_connections(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


# ---------------------------------------------------------------- processes

def processes_named(name):
    """Ids of the processes whose executable's file name is `name`."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.path.basename(os.readlink("/proc/%s/exe" % entry)) == name:
                    found.append(int(entry))
            except OSError:
                pass
    return sorted(found)


def processes_running(program):
    """Ids of the live processes whose command line holds `program` as one word (scripts too)."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                if program.encode() in f.read().split(b"\0") and process_alive(int(entry)):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except OSError:
        return False


# ---------------------------------------------------------------- X display

class Display:
    """An Xvfb server on a display number of its own choosing."""

    def __init__(self, width=1280, height=1024):
        self.size = (width, height)
        self.process = None
        self.name = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % self.size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.root = int(self.xdotool("search", "--maxdepth", "0", "--name", "").split()[0])
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=10)

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def xdotool(self, *args, check=True):
        """xdotool's output; with check=False a failure or a hang (seen with windows that vanish
        during a search) gives an empty output instead of an error."""
        try:
            result = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(),
                                    capture_output=True, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            if check:
                raise AssertionError("xdotool %s hung" % " ".join(map(str, args)))
            return ""
        if check and result.returncode != 0:
            raise AssertionError("xdotool %s failed: %s" % (" ".join(map(str, args)), result.stderr))
        return result.stdout

    def windows(self, name_pattern, pid=None):
        """Visible top-level windows whose title matches the regular expression."""
        args = ["search", "--onlyvisible"]
        if pid is not None:
            args += ["--pid", pid]
        out = self.xdotool(*(args + ["--name", name_pattern]), check=False)
        return [int(w) for w in out.split() if int(w) != self.root]

    def wait_for_window(self, name_pattern, timeout=20):
        try:
            return wait_until(lambda: self.windows(name_pattern), timeout, what="a window named %r" % name_pattern)[0]
        except AssertionError as error:
            shown = [self.xdotool("getwindowname", w, check=False).strip() for w in self.windows("")]
            raise AssertionError("%s; the windows shown are %r" % (error, shown)) from None

    def window_name(self, window):
        return self.xdotool("getwindowname", window).rstrip("\n")

    def window_size(self, window):
        for line in self.xdotool("getwindowgeometry", window).splitlines():
            if "Geometry:" in line:
                width, height = line.split()[-1].split("x")
                return int(width), int(height)
        raise AssertionError("no geometry for window %s" % window)

    def type_into(self, window, text, then="Return"):
        """Focuses the window and types as the user would, then presses `then`."""
        self.xdotool("windowfocus", "--sync", window)
        time.sleep(0.3)
        if text:
            self.xdotool("type", "--delay", "20", text)
        if then:
            self.xdotool("key", then)

    def close_window(self, window):
        """Asks the window to close the way a window manager does."""
        _send_delete_window(self.name, window)

    def screenshot(self, path, window="root"):
        subprocess.run(["import", "-display", self.name, "-window", str(window), path],
                       check=True, capture_output=True, timeout=60)
        return path


def _send_delete_window(display_name, window):
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):  # XEvent: 24 longs
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise AssertionError("cannot open display %s" % display_name)
    try:
        event = Event()
        event.message.type = 33  # ClientMessage
        event.message.window = window
        event.message.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.message.format = 32
        event.message.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.message.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


def image_colours(path):
    """{(r, g, b): pixel count} of an image, read through ImageMagick."""
    out = subprocess.run(["convert", path, "-depth", "8", "-format", "%c", "histogram:info:-"],
                         capture_output=True, text=True, check=True, timeout=60).stdout
    colours = {}
    for line in out.splitlines():
        count, _, rest = line.strip().partition(":")
        rgb = rest.split("(", 1)[1].split(")", 1)[0].split(",")[:3]
        colours[tuple(int(float(v)) for v in rgb)] = int(count)
    return colours


# ---------------------------------------------------------------- test pages

class PageServer:
    """Test pages on a loopback port. pages: path -> html, a bare status code, or (html, gate): the
    answer waits until the threading.Event gate is set.
    A GET of /report?name=value records the pair (frames report what they see)."""

    def __init__(self, pages):
        self.pages = dict(pages)
        self.reports = []
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                if url.path == "/report":
                    with server.lock:
                        server.reports.extend(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
                    return self.answer(204, b"")
                page = server.pages.get(url.path)
                if page is None:
                    return self.answer(404, b"<html><head><title>Not here</title></head></html>")
                if isinstance(page, int):
                    return self.answer(page, b"")
                html, gate = page if isinstance(page, tuple) else (page, None)
                if gate:
                    gate.wait(60)
                self.answer(200, html.encode())

            def answer(self, status, body):
                self.send_response(status)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                if status != 204:
                    self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def reported(self, name):
        with self.lock:
            return [v for n, v in self.reports if n == name]

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


# ---------------------------------------------------------------- DevTools

class DevToolsPage:
    """A WebSocket connection to one page target of Chromium's DevTools protocol."""

    def __init__(self, websocket_url, timeout):
        url = urllib.parse.urlsplit(websocket_url)
        self.sock = socket.create_connection((url.hostname, url.port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                           % (url.path, url.netloc, key)).encode())
        response = b""
        while b"\r\n\r\n" not in response:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise AssertionError("DevTools closed the connection")
            response += chunk
        if b" 101 " not in response.split(b"\r\n", 1)[0]:
            raise AssertionError("DevTools refused the connection: %r" % response)
        self.buffer = response.split(b"\r\n\r\n", 1)[1]
        self.next_id = 0

    def close(self):
        self.sock.close()

    def _read(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise AssertionError("DevTools closed the connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def _send_frame(self, opcode, payload):
        header = bytes([0x80 | opcode])
        if len(payload) < 126:
            header += bytes([0x80 | len(payload)])
        elif len(payload) < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(payload))
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", len(payload))
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def _receive_message(self):
        message = b""
        while True:
            first, second = self._read(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(length)
            opcode = first & 0x0F
            if opcode == 0x8:
                raise AssertionError("DevTools closed the page connection")
            if opcode == 0x9:
                self._send_frame(0xA, payload)
                continue
            message += payload
            if first & 0x80:
                return json.loads(message)

    def call(self, method, params=None):
        self.next_id += 1
        self._send_frame(0x1, json.dumps({"id": self.next_id, "method": method, "params": params or {}}).encode())
        while True:
            message = self._receive_message()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s failed: %s" % (method, message["error"]))
                return message["result"]

    def evaluate(self, expression, await_promise=False):
        """The value of a script expression in the page's main world, run as if the user clicked;
        with await_promise, the value a Promise resolves to."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "userGesture": True, "awaitPromise": await_promise})
        if "exceptionDetails" in result:
            raise AssertionError("script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")


class Background:
    """Runs a function in a thread; result() waits for its value or its exception."""

    def __init__(self, function, *args):
        self._value = None
        self._error = None
        self._thread = threading.Thread(target=self._run, args=(function,) + args, daemon=True)
        self._thread.start()

    def _run(self, function, *args):
        try:
            self._value = function(*args)
        except BaseException as error:  # handed to the waiting test
            self._error = error

    def done(self):
        return not self._thread.is_alive()

    def result(self, timeout):
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError("still running after %.1f s" % timeout)
        if self._error:
            raise self._error
        return self._value


# ---------------------------------------------------------------- the shell

FAKE_TOOL = r'''#!/usr/bin/env python3
# Stands in for varnu-cli: records its arguments, prints a plain line, a progress line
# redrawn after carriage returns and a green line,
# waits while the hold file exists, and exits with the status the test chose, telling one step
# and the summary on the events descriptor.
# A status query and a restore's plan get an answer at once (its model as the test chose); a backup to show or compare
# gets a small document naming its files, a comparison's with status 1 (different);
# the documents come after echo lines, as the tool's do.
import json, os, sys, time
if "--json" in sys.argv:
    sys.stdout.write("varnu-cli\nACTION=%s\n" % sys.argv[2])
if sys.argv[1:3] == ["--action", "get_status"]:
    model = os.environ.get("VARNKIT_TEST_GATEWAY_MODEL", "LUMARO-2")
    sys.stdout.write(json.dumps({"model_name": model, "serial_number": "SN-FAKE"}) + "\n")
    sys.exit(0)
if "--plan" in sys.argv:
    sys.stdout.write(json.dumps({"refused": 0, "configurations": [{"name": "rlc", "outcome": "unchanged"}]}) + "\n")
    sys.exit(0)
# The events descriptor the window passes is not recorded: the test checks what the events show.
events = [a for a in sys.argv[1:] if a.startswith("--events=")]
with open(os.environ["VARNKIT_TEST_TOOL_LOG"], "a") as log:
    log.write(json.dumps([a for a in sys.argv[1:] if a not in events]) + "\n")
events = os.fdopen(int(events[0][len("--events="):]), "w") if events else open(os.devnull, "w")
if sys.argv[1:3] == ["--action", "show_backup"]:
    print(json.dumps({"source": sys.argv[4], "kind": "archive", "problem": None, "configurations": []}))
    sys.exit(0)
if sys.argv[1:3] == ["--action", "diff_backup"]:
    print(json.dumps({"old": sys.argv[4], "new": sys.argv[6], "different": True, "configurations": []}))
    sys.exit(1)
sys.stdout.write("tool started\r\nprogress 5%\rprogress 40%\rprogress 100%\r\n"
                 "\x1b[1m\x1b[32mgreen completion\x1b[0m\r\n")
sys.stdout.flush()
sys.stderr.write("a line on stderr\n")
sys.stderr.flush()
hold = os.environ.get("VARNKIT_TEST_TOOL_HOLD", "")
while hold and os.path.exists(hold):
    time.sleep(0.05)
status = int(os.environ.get("VARNKIT_TEST_TOOL_STATUS", "0"))
events.write(json.dumps({"event": "step", "kind": "step", "name": "fake", "index": 1, "total": 1,
                         "outcome": "failed" if status else "done", "reason": "exit %d" % status if status else None})
             + "\n" + json.dumps({"event": "summary", "counts": {"step": {"failed" if status else "done": 1}},
                                   "warnings": 0, "result": "failed" if status else "done", "exit_status": status}) + "\n")
events.close()
sys.exit(status)
'''


GARBLED_TOOL = r'''#!/usr/bin/env python3
# The real varnu-cli with its human lines replaced by nonsense that reads like progress and saved
# files; the events descriptor passes through untouched. Runs without one (status queries) are left alone.
import os, subprocess, sys
fds = [int(a[len("--events="):]) for a in sys.argv[1:] if a.startswith("--events=")]
if not fds:
    os.execv(%r, [%r] + sys.argv[1:])
tool = subprocess.Popen([%r] + sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, pass_fds=fds)
for n, _ in enumerate(tool.stdout):
    sys.stdout.write("%%d of 22\tbackup\tsaved '/nowhere/backup.zip'\n 99 1835k firmware_push_tftp\tpushing OK\n" %% n)
    sys.stdout.flush()
sys.exit(tool.wait())
''' % ((os.path.abspath(CLI),) * 3)


class ShellTree:
    """A private installed tree: varnkit, cli/varnu-cli and http/.
    tool: "fake" (records its arguments), "real" (the built varnu-cli and varnu-site), "garbled" (the built
    varnu-cli with nonsense for its human lines) or None.
    server: "stub" (stub-web-server as varnkit-http-server), "built" (the built http/ folder) or None.
    The shell hands addresses for the system browser to a recorder (system_browser_urls())."""

    def __init__(self, tool="fake", server=None):
        self.temp = tempfile.TemporaryDirectory(prefix="varnkit-e2e-")
        self.root = self.temp.name
        self.varnkit = os.path.join(self.root, "varnkit")
        # A copy, not a link: the shell finds its neighbours beside its real path.
        shutil.copy2(VARNKIT, self.varnkit)
        os.makedirs(os.path.join(self.root, "cli"))
        self.http = os.path.join(self.root, "http")
        if server == "built":
            os.symlink(os.path.abspath(HTTP_DIR), self.http)
        else:
            os.makedirs(self.http)
        self.tool_log = os.path.join(self.root, "tool-arguments.jsonl")
        tool_path = os.path.join(self.root, "cli", "varnu-cli")
        if tool == "fake":
            with open(tool_path, "w") as f:
                f.write(FAKE_TOOL)
            os.chmod(tool_path, 0o755)
        elif tool == "real":
            os.symlink(os.path.abspath(CLI), tool_path)
            os.symlink(os.path.abspath(SITE_TOOL), os.path.join(self.root, "cli", "varnu-site"))
        elif tool == "garbled":
            with open(tool_path, "w") as f:
                f.write(GARBLED_TOOL)
            os.chmod(tool_path, 0o755)
        if server == "stub":
            shutil.copy2(STUB_SERVER, os.path.join(self.http, SERVER_NAME))
        self.data_home = os.path.join(self.root, "data")
        self.state_home = os.path.join(self.root, "state")
        self.work = os.path.join(self.root, "work")
        os.makedirs(self.work)
        self.browser_log = os.path.join(self.root, "system-browser.txt")
        self.browser = os.path.join(self.root, "system-browser")
        with open(self.browser, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> %s\n' % self.browser_log)
        os.chmod(self.browser, 0o755)
        # Whatever reaches the desktop's opener past the shell's own rule is recorded too.
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.bin)
        with open(os.path.join(self.bin, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\nprintf "xdg-open %%s\\n" "$1" >> %s\n' % self.browser_log)
        os.chmod(os.path.join(self.bin, "xdg-open"), 0o755)

    def system_browser_urls(self):
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log) as f:
            return f.read().splitlines()

    def tool_calls(self):
        if not os.path.exists(self.tool_log):
            return []
        with open(self.tool_log) as f:
            return [json.loads(line) for line in f if line.strip()]

    def cleanup(self):
        self.temp.cleanup()


class Shell:
    """A running varnkit in a tree, on a display."""

    def __init__(self, display, tree, *args, env=None):
        self.display = display
        self.tree = tree
        self.devtools_port = free_tcp_port()
        environment = display.env()
        environment.update({
            "QT_QPA_PLATFORM": "xcb",
            "XDG_DATA_HOME": tree.data_home,
            "XDG_STATE_HOME": tree.state_home,
            "VARNKIT_DIAGNOSTICS": "1",
            "QTWEBENGINE_REMOTE_DEBUGGING": "127.0.0.1:%d" % self.devtools_port,
            "VARNKIT_TEST_TOOL_LOG": tree.tool_log,
            "VARNKIT_SYSTEM_BROWSER": tree.browser,
            "PATH": tree.bin + os.pathsep + os.environ.get("PATH", ""),
        })
        environment.update(env or {})
        self.stderr_path = os.path.join(tree.root, "varnkit-stderr-%d.txt" % self.devtools_port)
        self._stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen([tree.varnkit] + list(args), env=environment, cwd=tree.work,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self._stderr)
        self._pages = []

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def diagnostics(self):
        return [line[len("varnkit: "):] for line in self.stderr().splitlines() if line.startswith("varnkit: ")]

    def wait_for_diagnostic(self, prefix, timeout=20, after=0):
        """The first diagnostic line starting with `prefix` among those after the first `after`."""
        try:
            return wait_until(lambda: next((d for d in self.diagnostics()[after:] if d.startswith(prefix)), None),
                              timeout, what="diagnostic %r" % (prefix,))
        except AssertionError as error:
            raise AssertionError("%s; the shell reported %r" % (error, self.diagnostics()[after:])) from None

    def targets(self):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % self.devtools_port, timeout=5) as r:
                return [t for t in json.load(r) if t.get("type") == "page"]
        except OSError:
            return []

    def page(self, url_part="", timeout=30):
        """A DevTools connection to the first page whose URL contains url_part."""
        try:
            target = wait_until(lambda: next((t for t in self.targets() if url_part in t.get("url", "")), None),
                                timeout, what="a page at %r" % url_part)
        except AssertionError as error:
            raise AssertionError("%s; the pages are %r; the shell (%s) wrote %r" % (
                error, [t.get("url") for t in self.targets()], self.state(), self.stderr()[-3000:])) from None
        # Long enough for a native call that waits for a whole console-tool run.
        page = DevToolsPage(target["webSocketDebuggerUrl"], timeout=300)
        self._pages.append(page)
        loaded = "document.readyState == 'complete' && location.href.includes(%s)" % json.dumps(url_part)
        wait_until(lambda: page.evaluate(loaded), timeout, what="the page at %r to load" % url_part)
        return page

    def state(self):
        """The process's exit status, or what its threads wait in (for failure messages)."""
        if self.process.poll() is not None:
            return "exited with %d" % self.process.returncode
        waits = []
        for task in sorted(os.listdir("/proc/%d/task" % self.process.pid)):
            try:
                with open("/proc/%d/task/%s/wchan" % (self.process.pid, task)) as f:
                    waits.append(f.read())
            except OSError:
                pass
        return "running, its threads waiting in %s" % ", ".join(waits)

    def answer_question(self, expected, stop, seen_before):
        """Answers the question asked before running tools are stopped, after checking its text."""
        self.wait_for_diagnostic("question", after=seen_before)
        asked = [d for d in self.diagnostics()[seen_before:] if d.startswith("question ")][0]
        if asked != "question " + expected:
            raise AssertionError("asked %r, expected %r" % (asked, expected))
        box = self.display.wait_for_window("^Stop the running action\\?$")
        self.display.type_into(box, "", then="alt+s" if stop else "Return")
        self.wait_for_diagnostic("answer stop" if stop else "answer keep running", after=seen_before)

    def windows(self):
        """The shell's visible top-level windows."""
        return self.display.windows("", pid=self.process.pid)

    def first_window(self, timeout=30):
        """The first window that stays: the runtime shows and drops a helper window while it starts."""
        def settled():
            first = self.windows()
            time.sleep(0.2)
            return first[:1] if first and self.windows()[:1] == first[:1] else None
        try:
            return wait_until(settled, timeout, what="a varnkit window")[0]
        except AssertionError as error:
            raise AssertionError("%s; the shell is %s" % (error, self.state())) from None

    def wait_exit(self, timeout=30):
        return self.process.wait(timeout=timeout)

    def stop(self):
        for page in self._pages:
            page.close()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._stderr.close()


FOREIGN_SERVER = r'''
# Another account's program: takes the address as soon as it is free and answers every GET with its own page.
import http.server, socket, sys, time
class Server(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<html><head><title>Foreign</title></head><body>another account's page</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
while True:
    try:
        server = Server((sys.argv[1], int(sys.argv[2])), Handler)
        break
    except OSError:
        time.sleep(0.002)
print("listening", flush=True)
server.serve_forever()
'''


class ForeignListener:
    """A web server of another account (nobody, when the tests run as root) on host:port; it waits
    for the address to be free and then takes it."""

    def __init__(self, host, port):
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        self.process = subprocess.Popen([python, "-c", FOREIGN_SERVER, host, str(port)], stdout=subprocess.PIPE,
                                        user=65534 if os.geteuid() == 0 else None, cwd="/")

    def wait_listening(self, timeout=20):
        ready = Background(self.process.stdout.readline)
        if ready.result(timeout) != b"listening\n":
            raise AssertionError("the other account's server did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()


class ShellTestCase(unittest.TestCase):
    """Starts a display per test; shells started through start_shell() are stopped afterwards."""

    def setUp(self):
        reason = missing_requirements()
        if reason:
            # Under CTest the shell was built on purpose: a missing piece is a failure, not a skip.
            if "VARNU_BUILD_DIR" in os.environ:
                self.fail(reason)
            self.skipTest(reason)
        if not isolated() and processes_named(SERVER_NAME):
            self.skipTest("a %s runs here and, without private namespaces, every shell would stop it" % SERVER_NAME)
        self.display = Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)

    def make_tree(self, **kwargs):
        tree = ShellTree(**kwargs)
        self.addCleanup(tree.cleanup)
        return tree

    def start_shell(self, tree, *args, env=None):
        shell = Shell(self.display, tree, *args, env=env)
        self.addCleanup(shell.stop)
        return shell

    def serve(self, pages):
        server = PageServer(pages)
        self.addCleanup(server.close)
        return server

    def foreign_listener(self, host, port=SERVER_PORT):
        listener = ForeignListener(host, port)
        self.addCleanup(listener.stop)
        return listener
