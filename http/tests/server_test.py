"""varnkit-http-server through real HTTP requests on 127.0.0.1."""
import os
import hmac
import re
import select
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time
import unittest

BUILD = os.environ.get("VARNU_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SERVER = os.path.join(BUILD, "out", "http", "varnkit-http-server")
SECRET = b"SECRET-OUTSIDE-THE-ROOT"
KEY = "k" * 64
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (127\.0\.0\.1:\d+|-) \S+ \S+ \d{3} \d+$")
WAIT = 10  # seconds: an upper bound for things to happen, never a performance goal


class Server:
    """A running server whose standard error is collected line by line; its access log
    goes to a folder of its own unless `args` or `env` say otherwise."""

    def __init__(self, root=None, port=0, cwd=None, key=None, args=(), env=None):
        self.log_tmp = tempfile.TemporaryDirectory()
        self.log_dir = self.log_tmp.name
        command = [SERVER, "--port", str(port)]
        if root is not None:
            command += ["--root", root]
        if env is None and not any(a.startswith("--log-dir") for a in args):
            command += ["--log-dir", self.log_dir]
        command += list(args)
        base = {name: value for name, value in os.environ.items() if name != "VARNKIT_SERVER_KEY"}
        env = {**base, **(env or {}), **({"VARNKIT_SERVER_KEY": key} if key else {})}
        env = {name: value for name, value in env.items() if value is not None}
        self.started = time.monotonic()
        self.proc = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = []
        self.changed = threading.Condition()
        threading.Thread(target=self._collect, daemon=True).start()
        first = self.wait_for_lines(1)[0]
        match = re.search(r"at http://127\.0\.0\.1:(\d+)/$", first)
        if not match:
            self.stop()
            raise AssertionError(f"no readiness line, got {first!r}")
        self.ready_seconds = time.monotonic() - self.started
        self.port = int(match.group(1))

    def _collect(self):
        for raw in self.proc.stderr:
            with self.changed:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.changed.notify_all()

    def wait_for_lines(self, count):
        with self.changed:
            self.changed.wait_for(lambda: len(self.lines) >= count or self.proc.poll() is not None, WAIT)
            if len(self.lines) < count:
                raise AssertionError(f"expected {count} lines on stderr, got {self.lines}")
            return list(self.lines)

    def log_lines(self, count):
        """The access log's lines once it has `count` of them (or after WAIT)."""
        path = os.path.join(self.log_dir, "http-access.log")
        deadline = time.monotonic() + WAIT
        while True:
            with open(path, encoding="utf-8") as f:
                lines = f.read().splitlines()
            if len(lines) >= count or time.monotonic() > deadline:
                return lines
            time.sleep(0.05)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(WAIT)
        self.proc.stdout.close()
        self.proc.stderr.close()
        self.log_tmp.cleanup()


def exchange(port, data):
    """Sends raw request bytes and returns (status, headers, body) of the answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as s:
        s.sendall(data)
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def request(port, target, method="GET", host=None, extra=""):
    host_line = f"Host: {host if host is not None else f'127.0.0.1:{port}'}\r\n" if host != "" else ""
    data = f"{method} {target} HTTP/1.1\r\n{host_line}{extra}Connection: close\r\n\r\n"
    return exchange(port, data.encode("latin-1"))


def make_tree(base):
    """A content folder 'www' with a secret beside it, and the ways one might try to get out."""
    www = os.path.join(base, "www")
    os.makedirs(os.path.join(www, "sub"))
    os.makedirs(os.path.join(www, "empty"))
    files = {
        "index.html": b"<!doctype html><title>index</title>",
        "app.css": b"body{}",
        "app.js": b"'use strict';",
        "data.json": b"{}",
        "logo.png": b"\x89PNG\r\n\x1a\n",
        "LOGO.PNG": b"\x89PNG\r\n\x1a\n",
        "icon.svg": b"<svg/>",
        "font.woff2": b"wOF2",
        "notes.txt": b"notes",
        "Makefile": b"all:",
        "sub/index.html": b"sub index",
        "big.bin": os.urandom(1 << 20) * 8,
    }
    for name, content in files.items():
        with open(os.path.join(www, name), "wb") as f:
            f.write(content)
    with open(os.path.join(base, "secret.txt"), "wb") as f:
        f.write(SECRET)
    os.symlink("../secret.txt", os.path.join(www, "link-out"))
    os.symlink("..", os.path.join(www, "dir-out"))
    os.symlink("app.css", os.path.join(www, "link-in"))
    os.mkfifo(os.path.join(www, "fifo"))
    return www, files


class Serving(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.base = os.path.realpath(cls.tmp.name)
        cls.root, cls.files = make_tree(cls.base)
        cls.server = Server(cls.root, key=KEY)
        cls.port = cls.server.port

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.tmp.cleanup()

    def get(self, target, **kw):
        return request(self.port, target, **kw)

    def test_index_and_content_types(self):
        expected = {
            "/": ("index.html", "text/html; charset=utf-8"),
            "/app.css": ("app.css", "text/css; charset=utf-8"),
            "/app.js": ("app.js", "text/javascript; charset=utf-8"),
            "/data.json": ("data.json", "application/json"),
            "/logo.png": ("logo.png", "image/png"),
            "/LOGO.PNG": ("LOGO.PNG", "image/png"),
            "/icon.svg": ("icon.svg", "image/svg+xml"),
            "/font.woff2": ("font.woff2", "font/woff2"),
            "/notes.txt": ("notes.txt", "text/plain; charset=utf-8"),
            "/Makefile": ("Makefile", "application/octet-stream"),
            "/sub/": ("sub/index.html", "text/html; charset=utf-8"),
            "/index.html?reload=1": ("index.html", "text/html; charset=utf-8"),
        }
        for target, (name, content_type) in expected.items():
            with self.subTest(target=target):
                status, headers, body = self.get(target)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], content_type)
                self.assertEqual(headers["x-content-type-options"], "nosniff")
                self.assertEqual(body, self.files[name])

    def test_large_file_arrives_whole(self):
        status, headers, body = self.get("/big.bin")
        self.assertEqual(status, 200)
        self.assertEqual(int(headers["content-length"]), len(self.files["big.bin"]))
        self.assertEqual(body, self.files["big.bin"])

    def test_head_sends_headers_only(self):
        status, headers, body = self.get("/app.js", method="HEAD")
        self.assertEqual(status, 200)
        self.assertEqual(int(headers["content-length"]), len(self.files["app.js"]))
        self.assertEqual(body, b"")
        # Two requests sent at once on one connection: HEAD's answer has no body, so the
        # next answer starts right after its head.
        host = f"Host: 127.0.0.1:{self.port}\r\n"
        status, _, rest = exchange(self.port, f"HEAD /missing HTTP/1.1\r\n{host}\r\n"
                                              f"GET /app.js HTTP/1.1\r\n{host}Connection: close\r\n\r\n".encode())
        self.assertEqual(status, 404)
        self.assertTrue(rest.startswith(b"HTTP/1.1 200 OK\r\n"), rest[:40])
        self.assertTrue(rest.endswith(b"\r\n\r\n" + self.files["app.js"]), rest[-40:])

    def test_missing_things_and_directories_are_404(self):
        for target in ["/missing.html", "/sub", "/empty/", "/fifo", "/app.css/", "/%252e%252e/secret.txt"]:
            with self.subTest(target=target):
                status, _, body = self.get(target)
                self.assertEqual(status, 404)
                self.assertNotIn(b"index.html", body)

    def test_traversal_never_reaches_outside(self):
        secret_path = os.path.join(self.base, "secret.txt")
        attempts = {
            "/../secret.txt": 400,
            "/sub/../../secret.txt": 400,
            "/%2e%2e/secret.txt": 400,
            "/%2E%2E/secret.txt": 400,
            "/..%2fsecret.txt": 400,
            "/sub/%2e%2e%2f%2e%2e%2fsecret.txt": 400,
            "/..%5csecret.txt": 400,
            "/%5c..%5csecret.txt": 400,
            "/secret.txt%00.html": 400,
            f"http://127.0.0.1:{self.port}/../secret.txt": 400,
            secret_path: 404,
            "/" + secret_path: 404,
            "/link-out": 404,
            "/dir-out/secret.txt": 404,
            "/dir-out/": 404,
        }
        for target, expected in attempts.items():
            with self.subTest(target=target):
                status, _, body = self.get(target)
                self.assertEqual(status, expected)
                self.assertNotIn(SECRET, body)

    def test_symlink_inside_is_followed(self):
        status, headers, body = self.get("/link-in")
        self.assertEqual((status, body), (200, self.files["app.css"]))
        self.assertEqual(headers["content-type"], "text/css; charset=utf-8")

    def test_host_must_be_loopback_on_our_port(self):
        # The name rules themselves are unit-tested; here: that every request passes through them.
        p = self.port
        for host in [f"127.0.0.1:{p}", f"localhost:{p}", f"[::1]:{p}"]:
            with self.subTest(host=host):
                self.assertEqual(self.get("/", host=host)[0], 200)
        for host in [f"evil.example:{p}", f"127.0.0.1.nip.io:{p}", f"127.0.0.1:{p + 1}", "localhost", ""]:
            with self.subTest(host=host):
                status, _, body = self.get("/", host=host)
                self.assertEqual(status, 403)
                self.assertNotIn(self.files["index.html"], body)
        # Two Host headers: one for us, one for the rebinding site.
        status, _, _ = self.get("/", extra="Host: evil.example\r\n")
        self.assertEqual(status, 403)
        status, _, _ = exchange(p, b"GET / HTTP/1.0\r\n\r\n")
        self.assertEqual(status, 403)

    def test_only_get_and_head(self):
        for method in ["POST", "PUT", "DELETE", "OPTIONS", "PATCH"]:
            with self.subTest(method=method):
                status, headers, _ = self.get("/index.html", method=method, extra="Content-Length: 0\r\n")
                self.assertEqual(status, 405)
                self.assertEqual(headers["allow"], "GET, HEAD")

    def test_content_security_policy_allows_only_the_pages_own_code(self):
        policy = dict(d.strip().split(" ", 1) for d in self.get("/")[1]["content-security-policy"].split(";"))
        self.assertEqual((policy["default-src"], policy["script-src"], policy["connect-src"], policy["frame-ancestors"]),
                         ("'none'", "'self'", "'self' varnkit-native:", "'none'"))

    def test_range_requests_get_exactly_the_bytes_asked_for(self):
        whole, css = self.files["big.bin"], self.files["app.css"]
        eight = ",".join(f"{i * 100}-{i * 100 + 9}" for i in range(8))
        cases = [
            ("/big.bin", "bytes=0-9", 206, [whole[:10]]),
            ("/big.bin", "bytes=100-", 206, [whole[100:]]),
            ("/big.bin", "bytes=-5", 206, [whole[-5:]]),
            ("/big.bin", "bytes=%d-" % (len(whole) + 10), 416, None),
            ("/big.bin", "bytes=" + eight, 206, [whole[i * 100:i * 100 + 10] for i in range(8)]),
            ("/big.bin", "bytes=0-99,50-149", 206, [whole[:150]]),
            # Many ranges, overlapping ranges, ranges whose part headers outweigh the file:
            # never more bytes than the file holds.
            ("/big.bin", "bytes=" + ",".join(["0-0"] * 2700), 416, None),
            ("/big.bin", "bytes=" + ",".join(["0-"] * 9), 416, None),
            ("/big.bin", "bytes=" + ",".join(["0-"] * 8), 206, [whole]),
            ("/app.css", "bytes=0-0,2-2", 200, [css]),
            ("/big.bin", "bytes=x-y", 200, [whole]),
        ]
        for target, value, status, parts in cases:
            with self.subTest(range=value[:40]):
                size = len(whole if target == "/big.bin" else css)
                got, headers, body = self.get(target, extra="Range: %s\r\n" % value)
                self.assertEqual(got, status)
                self.assertLessEqual(len(body), size)
                self.assertEqual(int(headers["content-length"]), len(body))
                if parts is None:
                    self.assertEqual(headers["content-range"], "bytes */%d" % size)
                elif len(parts) == 1:
                    self.assertEqual(body, parts[0])
                    if status == 206:
                        self.assertTrue(headers["content-range"].endswith("/%d" % size), headers)
                else:
                    boundary = headers["content-type"].split("boundary=")[1].encode()
                    sections = body.split(b"--" + boundary)
                    self.assertEqual(sections[-1], b"--\r\n")
                    self.assertEqual([s.partition(b"\r\n\r\n")[2][:-2] for s in sections[1:-1]], parts)

    def test_too_many_or_too_big_header_fields_are_refused(self):
        fields = lambda count, size: "".join("X-F%d: %s\r\n" % (i, "v" * size) for i in range(count))
        for extra, status in [(fields(100, 1), 431), (fields(3, 8000), 431), (fields(40, 100), 200)]:
            self.assertEqual(self.get("/", extra=extra)[0], status)

    def test_identity_answer_is_the_hmac_of_the_key(self):
        challenge = os.urandom(16).hex()
        status, headers, body = self.get("/.varnkit/identity?challenge=" + challenge)
        self.assertEqual((status, body.decode()), (200, hmac.new(KEY.encode(), challenge.encode(), "sha256").hexdigest()))
        self.assertIn("no-store", headers["cache-control"])
        for bad in ["", "abc", "x" * 32, "0" * 200]:
            self.assertEqual(self.get("/.varnkit/identity?challenge=" + bad)[0], 400, bad)


class Logging(unittest.TestCase):
    def test_one_line_per_request(self):
        with tempfile.TemporaryDirectory() as tmp:
            root, _ = make_tree(tmp)
            server = Server(root)
            try:
                p = server.port
                request(p, "/")
                request(p, "/missing")
                request(p, "/", host="evil.example")
                request(p, "/\x1b[2J\x7fx")
                request(p, "/", method="POST", extra="Content-Length: 0\r\n")
                exchange(p, b"NONSENSE\r\n\r\n")
                server.log_lines(6)
                time.sleep(0.2)  # a seventh line would be a fault; give it the chance to show
                lines = server.log_lines(6)
            finally:
                server.stop()
        self.assertEqual(len(lines), 6, lines)
        for line in lines:
            self.assertRegex(line, LOG_LINE)
        self.assertEqual([line.split(" ")[-2] for line in lines], ["200", "404", "403", "404", "405", "400"])
        # Terminal control bytes of a request are shown, not passed to the console.
        self.assertIn(" GET /\\x1B[2J\\x7Fx 404 ", lines[3])


# Holds COUNT connections open, silent or sending a request head a byte at a time,
# and reports when the server closed them: "open", "early N" (closed within the
# first second) and "closed N SECONDS". Run by the system's Python, so that it
# can run as another account.
HOLDER = r"""
import socket, sys, time
port, count, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
held = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(count)]
for s in held:
    if mode == "trickle":
        s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX-Slow: " % port)
    s.setblocking(False)
print("open", flush=True)
start, closed, early = time.monotonic(), {}, None
while len(closed) < count and time.monotonic() - start < 30:
    for i, s in enumerate(held):
        if i in closed:
            continue
        try:
            if mode == "trickle":
                s.send(b"a")
            if s.recv(65536) == b"":
                closed[i] = time.monotonic() - start
        except BlockingIOError:
            pass
        except OSError:
            closed[i] = time.monotonic() - start
    if early is None and time.monotonic() - start >= 1:
        early = len(closed)
        print("early", early, flush=True)
    time.sleep(0.25)
print("closed", len(closed), round(max(closed.values(), default=0), 1), flush=True)
"""
SYSTEM_PYTHON = "/usr/bin/python3"
OTHER_ACCOUNT = 65534


def fetch_seconds(port, target="/"):
    started = time.monotonic()
    status, _, body = request(port, target)
    return status, time.monotonic() - started, body


class Limits(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.root, self.files = make_tree(tmp.name)
        self.server = Server(self.root)
        self.addCleanup(self.server.stop)

    def test_page_loads_while_slow_connections_are_held(self):
        cap, total = 16, 256  # per other account, in all
        # kind, connections, account (None: this one), closed within the first second (least, most)
        cases = [
            ("silent", 50, None, (0, 0)),
            ("trickle", 50, None, (0, 0)),
            # Beyond the total the oldest give way, also to the five page fetches.
            ("silent", 300, None, (300 - total, 300 - total + 5)),
            ("silent", 50, OTHER_ACCOUNT, (50 - cap, 50 - cap)),
            ("trickle", 50, OTHER_ACCOUNT, (50 - cap, 50 - cap)),
        ]
        for kind, count, account, (least, most) in cases:
            with self.subTest(kind=kind, count=count, account=account):
                if account is not None and os.geteuid() != 0:
                    self.skipTest("needs root to act as another account")
                holder = subprocess.Popen([SYSTEM_PYTHON, "-c", HOLDER, str(self.server.port), str(count), kind],
                                          stdout=subprocess.PIPE, text=True, cwd="/", user=account)
                try:
                    self.assertEqual(holder.stdout.readline().split(), ["open"])
                    for target in ["/", "/app.css", "/app.js", "/icon.svg", "/"]:
                        status, seconds, _ = fetch_seconds(self.server.port, target)
                        self.assertEqual(status, 200)
                        self.assertLess(seconds, 2.0, target)
                    early = holder.stdout.readline().split()
                    self.assertEqual(early[0], "early")
                    self.assertTrue(least <= int(early[1]) <= most, early)
                    # Every held connection is closed by the server after its time limit.
                    done = holder.stdout.readline().split()
                    self.assertEqual(done[:2], ["closed", str(count)], done)
                    self.assertLess(float(done[2]), 15.0, done)
                finally:
                    holder.kill()
                    holder.wait(WAIT)
                    holder.stdout.close()

    def test_endless_heads_are_cut_off_while_they_arrive(self):
        host = b"Host: 127.0.0.1:%d\r\n" % self.server.port
        cases = [
            ("request line", b"GET /", b"a" * 65536, 414),
            ("one field", b"GET / HTTP/1.1\r\n" + host + b"X-Long: ", b"a" * 65536, 431),
            ("many fields", b"GET / HTTP/1.1\r\n" + host, b"X-Many: y\r\n" * 6000, 431),
        ]
        for name, start, more, status in cases:
            with self.subTest(name=name):
                sent, answer = 0, b""
                with socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT) as s:
                    s.sendall(start)
                    # Sends until the server answers; 64 MiB unanswered would be the fault.
                    while sent < 64 << 20:
                        readable, writable, _ = select.select([s], [s], [], WAIT)
                        if readable:
                            break
                        try:
                            sent += s.send(more)
                        except OSError:
                            break
                    while chunk := s.recv(65536):
                        answer += chunk
                self.assertTrue(answer.startswith(b"HTTP/1.1 %d " % status), answer[:60])
                self.assertLess(sent, 16 << 20)
        with open(f"/proc/{self.server.proc.pid}/status") as f:
            resident_kib = int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1))
        self.assertLess(resident_kib, 64 << 10)
        self.assertEqual(request(self.server.port, "/")[0], 200)


class AccessLogFile(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.base = tmp.name
        self.root, self.files = make_tree(tmp.name)

    def mode(self, path):
        return os.lstat(path).st_mode & 0o777

    def test_rotated_by_size_and_private(self):
        server = Server(self.root, args=["--log-size", "4096"])
        try:
            for i in range(150):
                request(server.port, "/missing-%03d" % i)
            current = server.log_lines(1)
            path = os.path.join(server.log_dir, "http-access.log")
            while not current[-1].endswith(" GET /missing-149 404 14"):
                current = server.log_lines(len(current) + 1)
            with open(path + ".1", encoding="utf-8") as f:
                older = f.read().splitlines()
            self.assertLessEqual(os.path.getsize(path), 4096)
            self.assertTrue(4096 - 100 < os.path.getsize(path + ".1") <= 4096)
            numbers = [int(re.search(r"/missing-(\d+) ", line).group(1)) for line in older + current]
            self.assertEqual(numbers, list(range(numbers[0], 150)))
            for line in older + current:
                self.assertRegex(line, LOG_LINE)
            self.assertEqual([self.mode(p) for p in (server.log_dir, path, path + ".1")], [0o700, 0o600, 0o600])
        finally:
            server.stop()

    def test_log_folder_and_file_follow_no_links(self):
        b = self.base
        victim = os.path.join(b, "victim.txt")
        elsewhere = os.path.join(b, "elsewhere")

        def plant():
            with open(victim, "w") as f:
                f.write("untouched")
            os.makedirs(elsewhere, exist_ok=True)
            os.makedirs(os.path.join(b, "open"), mode=0o755, exist_ok=True)
            os.chmod(os.path.join(b, "open"), 0o755)
            with open(os.path.join(b, "open", "http-access.log"), "w") as f:
                f.write("earlier line\n")
            os.chmod(os.path.join(b, "open", "http-access.log"), 0o644)
            os.makedirs(os.path.join(b, "d"), exist_ok=True)
            if not os.path.lexists(os.path.join(b, "d", "http-access.log")):
                os.symlink(victim, os.path.join(b, "d", "http-access.log"))
                os.symlink(elsewhere, os.path.join(b, "link"))

        # arguments, environment, where the log must be (None: nowhere)
        cases = [
            ([], {"XDG_STATE_HOME": f"{b}/state"}, f"{b}/state/varnkit"),
            ([], {"XDG_STATE_HOME": None, "HOME": f"{b}/home"}, f"{b}/home/.local/state/varnkit"),
            (["--log-dir", f"{b}/open"], {}, f"{b}/open"),
            (["--log-dir", f"{b}/link"], {}, None),
            (["--log-dir", f"{b}/d"], {}, None),
        ]
        plant()
        for args, env, folder in cases:
            with self.subTest(args=args, env=env):
                server = Server(self.root, args=args, env=env)
                try:
                    self.assertEqual(request(server.port, "/")[0], 200)
                    if folder is None:
                        lines = server.wait_for_lines(3)
                        self.assertIn("no access log", lines[1])
                        self.assertRegex(lines[2], LOG_LINE)
                    else:
                        server.log_dir = folder
                        lines = server.log_lines(1)
                        self.assertRegex(lines[-1], LOG_LINE)
                        self.assertTrue(lines[-1].endswith(" GET / 200 %d" % len(self.files["index.html"])), lines)
                        if folder.endswith("/open"):
                            self.assertEqual(lines[0], "earlier line")
                        self.assertEqual((self.mode(folder), self.mode(folder + "/http-access.log")), (0o700, 0o600))
                finally:
                    server.stop()
        with open(victim) as f:
            self.assertEqual(f.read(), "untouched")
        self.assertEqual(os.listdir(elsewhere), [])


class Lifecycle(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.root, self.files = make_tree(tmp.name)

    def run_server(self, *args, cwd=None):
        return subprocess.run([SERVER, *args], cwd=cwd, capture_output=True, timeout=WAIT)

    def test_port_taken_by_another_program(self):
        with socket.socket() as holder:
            holder.bind(("127.0.0.1", 0))
            holder.listen()
            port = holder.getsockname()[1]
            done = self.run_server("--root", self.root, "--port", str(port))
        self.assertEqual(done.returncode, 1)
        self.assertIn(f"port {port} on 127.0.0.1 is already in use".encode(), done.stderr)

    def test_second_server_on_the_same_port_is_refused(self):
        first = Server(self.root)
        try:
            done = self.run_server("--root", self.root, "--port", str(first.port))
            self.assertEqual(done.returncode, 1)
            self.assertIn(b"already in use", done.stderr)
            self.assertEqual(request(first.port, "/")[0], 200)
        finally:
            first.stop()

    def test_terminated_mid_transfer_then_restarted_on_the_same_port(self):
        first = Server(self.root)
        with socket.create_connection(("127.0.0.1", first.port), timeout=WAIT) as s:
            s.sendall(f"GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1:{first.port}\r\n\r\n".encode())
            self.assertTrue(s.recv(65536).startswith(b"HTTP/1.1 200"))
            first.proc.send_signal(signal.SIGTERM)
            self.assertEqual(first.proc.wait(WAIT), -signal.SIGTERM)
        first.stop()
        second = Server(self.root, port=first.port)
        try:
            self.assertEqual(request(second.port, "/")[0], 200)
        finally:
            second.stop()

    def test_installed_folder_serves_the_page_but_not_the_program(self):
        folder = os.path.dirname(SERVER)
        server = Server(cwd=folder)
        try:
            for target, content_type in [("/", "text/html"), ("/app.js", "text/javascript"), ("/app.css", "text/css"),
                                         ("/icon.svg", "image/svg+xml")]:
                status, headers, _ = request(server.port, target)
                self.assertEqual((status, headers["content-type"].split(";")[0]), (200, content_type), target)
            self.assertEqual(request(server.port, "/varnkit-http-server")[0], 404)
        finally:
            server.stop()

    def test_serves_the_working_directory_by_default(self):
        server = Server(cwd=self.root)
        try:
            status, _, body = request(server.port, "/")
            self.assertEqual((status, body), (200, self.files["index.html"]))
            # Started without a key, it has no identity to prove.
            self.assertEqual(request(server.port, "/.varnkit/identity?challenge=" + "0" * 32)[0], 404)
        finally:
            server.stop()

    def test_command_line_errors(self):
        done = self.run_server("--port", "http")
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"--port needs a number", done.stderr)
        self.assertIn(b"Usage:", done.stderr)
        done = self.run_server("--root", os.path.join(self.root, "absent"), "--port", "0")
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"cannot serve", done.stderr)
        done = self.run_server("--root", os.path.join(self.root, "app.css"), "--port", "0")
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"not a folder", done.stderr)
        done = self.run_server("--help")
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Usage: varnkit-http-server", done.stdout)

    def test_start_up_time(self):
        """Measures spawn-to-first-answer; prints the figures, asserts only that it answers."""
        figures = []
        for _ in range(5):
            server = Server(self.root)
            try:
                self.assertEqual(request(server.port, "/")[0], 200)
                figures.append((server.ready_seconds, time.monotonic() - server.started))
            finally:
                server.stop()
        ready = [f[0] * 1000 for f in figures]
        answered = [f[1] * 1000 for f in figures]
        print(f"\nstart-up: readiness line after {statistics.median(ready):.1f} ms median "
              f"(max {max(ready):.1f}); first answer after {statistics.median(answered):.1f} ms median "
              f"(max {max(answered):.1f})")


if __name__ == "__main__":
    unittest.main(verbosity=2)
