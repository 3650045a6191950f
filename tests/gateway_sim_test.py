"""The gateway stand-in itself: its TFTP side against real peers and a raw client,
its HTTP endpoints and faults, its state folder and its life cycle."""

import getpass
import hashlib
import json
import os
import socket
import struct
import subprocess
import tempfile
import time
import unittest
import urllib.error
import urllib.request

from gateway import GATEWAY_SIM, Gateway, free_udp_port

STATUS_MEMBERS = ["model_name", "firmware_version", "build_date", "license", "license_number", "hostname",
                  "serial_number", "mac", "rtc_temperature", "ram_memory", "flash_memory", "boot_count", "time",
                  "uptime", "dali_channel_1", "dali_channel_2", "dali_channel_3", "dali_channel_4", "ip",
                  "bacnet_ip", "session_id", "username"]


def http_get(gw, target):
    """(status, content type, body) of a GET to the stand-in."""
    try:
        with urllib.request.urlopen("http://%s%s" % (gw.address, target), timeout=10) as reply:
            return reply.status, reply.headers.get("Content-Type"), reply.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers.get("Content-Type"), error.read()


def curl(*args):
    return subprocess.run(["curl", "-sS"] + list(args), capture_output=True, timeout=60)


class Files:
    def __init__(self):
        self.temp = tempfile.TemporaryDirectory()

    def make(self, name, size):
        data = os.urandom(size)
        path = os.path.join(self.temp.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path, hashlib.sha256(data).hexdigest()


class TftpPeers(unittest.TestCase):
    def setUp(self):
        self.files = Files()
        self.addCleanup(self.files.temp.cleanup)

    def upload_entry(self, gw):
        found = gw.wait_for_log(lambda e: e.protocol == "tftp")
        self.assertTrue(found, gw.log_lines())
        return found[0]

    def test_tftp_hpa_client_uploads_to_the_stand_in(self):
        path, digest = self.files.make("image.bin", 300000)
        with Gateway() as gw:
            run = subprocess.run(["tftp", "-m", "binary", "127.0.0.1", str(gw.port), "-c", "put", path, "flashraw.bin"],
                                 capture_output=True, timeout=60)
            entry = self.upload_entry(gw)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual((entry.outcome, entry.size, entry.method, entry.target), ("ok", 300000, "WRQ", "flashraw.bin"))
        self.assertEqual(entry.options, {"block_size": "512", "sha256": digest})  # this client sends no options

    def test_tftp_hpa_netascii_is_refused(self):
        path, _ = self.files.make("image.bin", 1000)
        with Gateway() as gw:
            subprocess.run(["tftp", "-m", "netascii", "127.0.0.1", str(gw.port), "-c", "put", path, "flashraw.bin"],
                           capture_output=True, timeout=60)
            entry = self.upload_entry(gw)
        self.assertEqual((entry.outcome, entry.size), ("refused", 0))

    def test_curl_uploads_to_tftpd_hpa(self):
        path, digest = self.files.make("image.bin", 2 << 20)
        served = tempfile.TemporaryDirectory()
        self.addCleanup(served.cleanup)
        os.chmod(served.name, 0o777)
        port = free_udp_port()
        tftpd = subprocess.Popen(["/usr/sbin/in.tftpd", "--foreground", "--address", "127.0.0.1:%d" % port, "--create",
                                  "--secure", "--user", getpass.getuser(), served.name])
        try:
            time.sleep(0.3)
            run = curl("-T", path, "tftp://127.0.0.1:%d/flashraw.bin" % port)
        finally:
            tftpd.terminate()
            tftpd.wait(timeout=10)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(served.name, "flashraw.bin"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest)

    def test_curl_option_sets(self):
        # 5 MB in blocks of 64 bytes: 81920 blocks, so the block number wraps past 65535.
        cases = [("small blocks", 5000000, ["--tftp-blksize", "64"], {"blksize": "64", "tsize": "5000000"}),
                 ("default", 1 << 20, [], {"blksize": "512", "tsize": str(1 << 20)}),
                 ("no options", 100000, ["--tftp-no-options"], {}),
                 ("exact multiple of the block size", 512 * 40, [], {"tsize": str(512 * 40)})]
        for name, size, options, expected in cases:
            with self.subTest(name), Gateway() as gw:
                path, digest = self.files.make("image.bin", size)
                run = curl(*options, "-T", path, "tftp://%s/flashraw.bin" % gw.address)
                self.assertEqual(run.returncode, 0, run.stderr)
                entry = self.upload_entry(gw)
                self.assertEqual((entry.outcome, entry.size), ("ok", size))
                self.assertEqual(entry.options["sha256"], digest)
                for key, value in expected.items():
                    self.assertEqual(entry.options[key], value)
                if not expected:
                    self.assertEqual(list(entry.options), ["block_size", "sha256"])

    def test_refusals(self):
        path, _ = self.files.make("image.bin", 5000)
        cases = [
            ("read request", [], ["-o", os.path.join(self.files.temp.name, "out"), "tftp://%s/flashraw.bin"],
             ("refused", "RRQ", "flashraw.bin")),
            ("other file", [], ["-T", path, "tftp://%s/other.bin"], ("refused", "WRQ", "other.bin")),
            ("injected error", ["--tftp-error", "3"], ["-T", path, "tftp://%s/flashraw.bin"],
             ("refused", "WRQ", "flashraw.bin")),
            ("announced size too large", ["--max-upload", "4096"], ["-T", path, "tftp://%s/flashraw.bin"],
             ("refused", "WRQ", "flashraw.bin")),
            ("size found too large", ["--max-upload", "4096"],
             ["--tftp-no-options", "-T", path, "tftp://%s/flashraw.bin"], ("aborted", "WRQ", "flashraw.bin")),
        ]
        for name, options, args, expected in cases:
            with self.subTest(name), Gateway(*options) as gw:
                run = curl(*[a % gw.address if "%s" in a else a for a in args])
                self.assertNotEqual(run.returncode, 0)
                entry = self.upload_entry(gw)
                self.assertEqual((entry.outcome, entry.method, entry.target), expected)
        with Gateway("--tftp-error", "3") as gw:
            run = curl("-T", path, "tftp://%s/flashraw.bin" % gw.address)
        self.assertEqual(run.returncode, 70)  # libcurl's code for the gateway's "disk full"


    def test_slow_links_and_old_servers(self):
        # (name, stand-in options, client: curl options or "tftp-hpa", outcome, block size, acknowledgements delayed)
        cases = [("block size granted", [], ["--tftp-blksize", "1468"], "ok", "1468", 0),
                 ("options ignored", ["--tftp-options", "ignore"], ["--tftp-blksize", "1468"], "ok", "512", 0),
                 ("block size refused", ["--tftp-options", "refuse"], ["--tftp-blksize", "1468"], "refused", None, 0),
                 ("default size taken", ["--tftp-options", "refuse"], [], "ok", "512", 0),
                 ("old client, old server", ["--tftp-options", "refuse"], "tftp-hpa", "ok", "512", 0),
                 ("slow link", ["--tftp-ack-delay-ms", "20"], ["--tftp-blksize", "1024"], "ok", "1024", 20)]
        path, digest = self.files.make("image.bin", 20000)
        for name, options, client, outcome, block_size, delay_ms in cases:
            with self.subTest(name), Gateway(*options) as gw:
                started = time.monotonic()
                if client == "tftp-hpa":
                    run = subprocess.run(["tftp", "-m", "binary", "127.0.0.1", str(gw.port), "-c", "put", path,
                                          "flashraw.bin"], capture_output=True, timeout=60)
                else:
                    run = curl(*client, "-T", path, "tftp://%s/flashraw.bin" % gw.address)
                took = time.monotonic() - started
                entry = self.upload_entry(gw)
                self.assertEqual(entry.outcome, outcome)
                self.assertEqual(entry.options.get("block_size"), block_size)
                if outcome == "refused":
                    self.assertEqual(run.returncode, 42)  # libcurl's code for TFTP error 8
                    continue
                self.assertEqual((run.returncode, entry.options["sha256"]), (0, digest))
                # One acknowledgement for the request and one per block, each after the delay.
                self.assertGreaterEqual(took, (20000 // int(block_size) + 2) * delay_ms / 1000)


class RawTftp(unittest.TestCase):
    """Protocol details that the real peers do not exercise, through a hand-made client."""

    def setUp(self):
        self.gw = Gateway().start()
        self.addCleanup(self.gw.stop)
        self.client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.client.settimeout(5)
        self.addCleanup(self.client.close)

    def write_request(self, *options):
        fields = [b"flashraw.bin", b"octet"] + [o.encode() for o in options]
        self.client.sendto(struct.pack("!H", 2) + b"".join(f + b"\0" for f in fields), ("127.0.0.1", self.gw.port))
        return self.receive()

    def receive(self, sock=None):
        packet, self.server = (sock or self.client).recvfrom(70000)
        return packet

    def data(self, block, payload):
        self.client.sendto(struct.pack("!HH", 3, block) + payload, self.server)
        return self.receive()

    def test_option_answers(self):
        self.assertEqual(self.write_request("blksize", "70000", "timeout", "3", "foo", "1"),
                         b"\0\x06blksize\x0065464\0timeout\x003\0")
        self.data(1, b"x")
        self.assertEqual(self.gw.wait_for_log(lambda e: e.protocol == "tftp")[0].outcome, "ok")

    def test_plain_ack_without_known_options(self):
        self.assertEqual(self.write_request("foo", "1", "blksize", "7"), b"\0\x04\0\0")

    def test_duplicate_block_and_stranger(self):
        self.write_request()
        block = bytes(range(256)) * 2
        self.assertEqual(self.data(1, block), b"\0\x04\0\x01")
        self.assertEqual(self.data(1, block), b"\0\x04\0\x01")  # lost acknowledgement: answered again
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as stranger:
            stranger.settimeout(5)
            stranger.sendto(struct.pack("!HH", 3, 2) + b"intruder", self.server)
            error, _ = stranger.recvfrom(1000)
        self.assertEqual(error[:4], b"\0\x05\0\x05")
        self.assertEqual(self.data(2, b"end"), b"\0\x04\0\x02")
        entry = self.gw.wait_for_log(lambda e: e.protocol == "tftp")[0]
        self.assertEqual(entry.size, 515)
        self.assertEqual(entry.options["sha256"], hashlib.sha256(block + b"end").hexdigest())

    def test_malformed_request(self):
        self.client.sendto(b"\0\x02flashraw.bin", ("127.0.0.1", self.gw.port))  # no terminator, no mode
        self.assertEqual(self.receive()[:4], b"\0\x05\0\x04")


class Http(unittest.TestCase):
    def test_status_document(self):
        with Gateway("--model", "LUMARO-3", "--firmware-version", "1.3.1", "--serial", "S-1", "--mac", "02:aa") as gw:
            status, kind, body = http_get(gw, "/api/v100/status.ssi")
        self.assertEqual((status, kind), (200, "application/json"))
        document = json.loads(body)
        self.assertEqual(list(document), STATUS_MEMBERS)
        self.assertTrue(all(isinstance(v, str) for v in document.values()))
        self.assertEqual([document[k] for k in ("model_name", "firmware_version", "serial_number", "mac")],
                         ["LUMARO-3", "1.3.1", "S-1", "02:aa"])
        self.assertEqual([document["dali_channel_%d" % n] for n in range(1, 5)], ["active"] * 3 + ["absent"])

    def test_unknown_paths_get_an_html_404(self):
        with Gateway() as gw:
            for target in ("/index.html", "/api/v100/status.ssi?action=reboot", "/api/v100/backup.ssx"):
                with self.subTest(target):
                    status, kind, body = http_get(gw, target)
                    self.assertEqual((status, kind), (404, "text/html"))
                    self.assertIn(b"<html>", body)
            self.assertEqual([e.outcome for e in gw.log_lines("http")], ["404"] * 3)

    def test_status_faults(self):
        with Gateway("--fail", "dali1=500", "--fail", "restore=503") as gw:
            self.assertEqual(http_get(gw, "/api/v100/backup.ssi?config=dali1")[0], 500)
            self.assertNotEqual(http_get(gw, "/api/v100/backup.ssi?config=dali2")[0], 500)
            status, kind, body = http_get(gw, "/api/v100/status.ssi?action=restoreconfig")
            self.assertEqual((status, kind), (503, "text/html"))
            self.assertEqual(http_get(gw, "/api/v100/status.ssi")[0], 200)
        with Gateway("--fail", "backup=410") as gw:
            for name in ("systemconfig", "cmdrnamenvp", "nosuchconfig"):
                self.assertEqual(http_get(gw, "/api/v100/backup.ssi?config=" + name)[0], 410)

    def test_body_faults(self):
        with Gateway() as gw:
            whole = http_get(gw, "/api/v100/status.ssi")[2]
        with Gateway("--body", "status=truncate") as gw:
            self.assertEqual(http_get(gw, "/api/v100/status.ssi")[2], whole[:len(whole) // 2])
        with Gateway("--body", "status=garbage") as gw:
            body = http_get(gw, "/api/v100/status.ssi")[2]
            self.assertEqual(len(body), len(whole))
            self.assertRaises(ValueError, json.loads, body)
        with Gateway("--body", "status=empty") as gw:
            self.assertEqual(http_get(gw, "/api/v100/status.ssi")[2], b"")
        with Gateway("--body", "status=cut") as gw:
            run = curl("http://%s/api/v100/status.ssi" % gw.address)
            self.assertEqual(run.returncode, 18)  # partial file
            self.assertEqual(run.stdout, whole[:len(whole) // 2])
            self.assertEqual(gw.log_lines("http")[0].size, len(whole) // 2)

    def test_hang_up(self):
        with Gateway("--close", "status") as gw:
            self.assertEqual(curl("http://%s/api/v100/status.ssi" % gw.address).returncode, 52)
            self.assertEqual(http_get(gw, "/other")[0], 404)  # other requests are still answered
            self.assertEqual([e.outcome for e in gw.log_lines("http")], ["closed", "404"])


    def test_silence(self):
        status, rlc, dali2 = "/api/v100/status.ssi", "/api/v100/backup.ssi?config=rlc", "/api/v100/backup.ssi?config=dali2"
        for target, silent in (("status", [status]), ("dali2", [dali2]), ("http", [status, rlc, dali2])):
            with self.subTest(target), Gateway("--silent", target) as gw:
                for request in (status, rlc, dali2):
                    run = curl("-m", "1", "http://%s%s" % (gw.address, request))
                    self.assertEqual(run.returncode, 28 if request in silent else 0, request)  # 28: timed out
                self.assertEqual(sorted(e.target for e in gw.wait_for_log(lambda e: e.outcome == "silent")),
                                 sorted(silent))
        # A client still waiting does not keep the stand-in from stopping.
        gw = Gateway("--silent", "http").start()
        waiting = subprocess.Popen(["curl", "-sS", "http://%s%s" % (gw.address, status)], stderr=subprocess.PIPE)
        time.sleep(0.5)
        started = time.monotonic()
        self.assertEqual(gw.stop(), 0)
        self.assertLess(time.monotonic() - started, 2)
        self.assertEqual(waiting.wait(timeout=10), 52)  # the connection closed without a reply


class StateAndLifecycle(unittest.TestCase):
    def test_state_folder(self):
        with tempfile.TemporaryDirectory() as folder:
            mine = os.path.join(folder, "etc/config/dali/dali2.bin")
            os.makedirs(os.path.dirname(mine))
            with open(mine, "wb") as f:
                f.write(b"seeded by the test")
            with Gateway(state_dir=folder):
                files = sorted(os.path.relpath(os.path.join(d, n), folder) for d, _, names in os.walk(folder)
                               for n in names)
                self.assertEqual(len(files), 22)
                self.assertIn("etc/config/nvp/cmdrnamenvp.bin", files)
                with open(mine, "rb") as f:
                    self.assertEqual(f.read(), b"seeded by the test")
                with open(os.path.join(folder, "etc/config/dali/dali1.bin"), "rb") as f:
                    first = f.read()
            with Gateway(state_dir=folder):  # seeding is deterministic and keeps what is there
                with open(os.path.join(folder, "etc/config/dali/dali1.bin"), "rb") as f:
                    self.assertEqual(f.read(), first)

    def test_side_by_side_and_stop(self):
        first, second = Gateway().start(), Gateway().start()
        try:
            self.assertNotEqual(first.port, second.port)
            self.assertEqual(http_get(second, "/api/v100/status.ssi")[0], 200)
        finally:
            self.assertEqual(first.stop(), 0)
            self.assertEqual(second.stop(), 0)

    def test_site_of_gateways(self):
        """--gateways: one process, a port, an identity and faults per line, the command line's options for all."""
        with tempfile.TemporaryDirectory() as folder:
            lines = os.path.join(folder, "gateways.txt")
            with open(lines, "w") as f:
                f.write("# comment\n--serial A-1\n\n--serial A-2 --model LUMARO-2 --fail status=503\n--serial A-3\n"
                        "--serial A-4 --redirect-loop status\n")
            with Gateway("--gateways", lines, "--firmware-version", "1.6.0") as first:
                others = [int(first.process.stdout.readline().decode().rsplit(":", 1)[1]) for _ in range(3)]
                answers = []
                for port in [first.port] + others[:2]:
                    first.port = port
                    status, _, body = http_get(first, "/api/v100/status.ssi")
                    answers.append((status, json.loads(body)["serial_number"] if status == 200 else None))
                    if status == 200:
                        self.assertEqual(json.loads(body)["firmware_version"], "1.6.0")
                # The faults of the transfer limits are a line's own too: only A-4 redirects.
                codes = [curl("-o", "/dev/null", "-w", "%{http_code}", "http://127.0.0.1:%d/api/v100/status.ssi" % port)
                         .stdout for port in others]
            self.assertEqual(answers, [(200, "A-1"), (503, None), (200, "A-3")])
            self.assertEqual(codes, [b"503", b"200", b"302"])
            with open(lines, "a") as f:
                f.write("--model LUMARO-7\n")
            run = subprocess.run([GATEWAY_SIM, "--gateways", lines], capture_output=True, timeout=10)
            self.assertEqual((run.returncode, run.stdout), (2, b""))

    def test_command_line_errors(self):
        for args in (["--model", "LUMARO-5"], ["--fail", "nowhere=500"], ["--body", "status=sideways"],
                     ["--port", "x"], ["--frobnicate", "1"], ["--delay"], ["--silent", "nowhere"],
                     ["--tftp-options", "maybe"], ["--tftp-ack-delay-ms", "-1"], ["--flood", "nowhere"],
                     ["--tftp-grant-blksize", "7"], ["--redirect", "status=127.0.0.1"],
                     # a redirect never sends a client off this machine
                     ["--redirect", "status=192.0.2.1:80"], ["--redirect", "status=128.0.0.1:80"]):
            with self.subTest(args=args):
                run = subprocess.run([GATEWAY_SIM] + args, capture_output=True, timeout=10)
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.stdout, b"")
                self.assertTrue(run.stderr.startswith(b"gateway-sim: "))


if __name__ == "__main__":
    unittest.main()
