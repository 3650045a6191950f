"""Every action against a stand-in that fails in one way on one endpoint the action uses: the exit
status, the lines that say why, the time taken, what is left on disk and what the gateway took.

Cells run side by side; the TFTP stalls take the upload's low-speed limit (60 s) and set the pace."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile
from concurrent.futures import ThreadPoolExecutor

from gateway import BUILD_DIR, SOURCE_DIR, Gateway, run_cli
from records import tar_bytes

QUICK, STALL = 10, 80  # seconds a cell may take: no limit was reached / the upload's low-speed limit
HTTP_FAULTS = {"error page": ["--fail", "{}=500"], "truncated": ["--body", "{}=truncate"],
               "cut": ["--body", "{}=cut"], "garbage": ["--body", "{}=garbage"], "empty": ["--body", "{}=empty"],
               "closed": ["--close", "{}"]}
TFTP_FAULTS = {"tftp error": ["--tftp-error", "2"], "tftp stall": ["--tftp-stall", "2"]}
UNREADABLE = "status\tthe gateway's status reply could not be read: "
CURL = "curl_easy_perform() failed: "
ACCESS = CURL + "TFTP: Access Violation"
TIMEOUT = CURL + "Timeout was reached"
PARTIAL, NOTHING = CURL + "Transferred a partial file", CURL + "Server returned nothing (no headers, no data)"
HTTP_500 = "request failed: HTTP 500"
NOT_FOUND = "backup\tbackup file not found for action get_backup."
NO_STATUS_TXT = "backup\terror status.txt file not found."

# action -> {(fault, target): (exit status, standard-error lines (a prefix ends with "*"),
#                              a standard-output line, (uploads, restores or upgrades the gateway took))}
# Cells left out on purpose: today's tool hangs or ends without a line there (see the report of this test's
# introduction); the hardening of the console tool adds them with their decided outcomes.
MATRIX = {
    "get_status": {
        ("error page", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("truncated", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("cut", "status"): (1, [PARTIAL], None, (0, 0)),
        ("garbage", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("closed", "status"): (1, [NOTHING], None, (0, 0)),
    },
    "get_backup": {(fault, "dali1"): (1, {"cut": [PARTIAL], "closed": [NOTHING]}.get(fault, []), NOT_FOUND, (0, 0))
                   for fault in HTTP_FAULTS},
    "put_backup": {
        ("error page", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("truncated", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("cut", "status"): (1, [PARTIAL], None, (0, 0)),
        ("garbage", "status"): (1, [UNREADABLE + "*"], None, (0, 0)),
        ("closed", "status"): (1, [NOTHING], None, (0, 0)),
        ("error page", "restore"): (1, [HTTP_500], None, (1, 0)),
        ("truncated", "restore"): (0, [], "\x1b[32mbackup\tbackup push completed.", (1, 1)),
        ("cut", "restore"): (1, [PARTIAL], None, (1, 1)),
        ("garbage", "restore"): (0, [], "\x1b[32mbackup\tbackup push completed.", (1, 1)),
        ("empty", "restore"): (0, [], "\x1b[32mbackup\tbackup push completed.", (1, 1)),
        ("closed", "restore"): (1, [NOTHING], None, (1, 0)),
        ("tftp error", "tftp"): (1, [ACCESS], None, (0, 0)),
        ("tftp stall", "tftp"): (1, [TIMEOUT], None, (0, 0)),
    },
    "setup_channel": {
        ("error page", "dali1"): (1, [], NO_STATUS_TXT, (0, 0)),
        ("truncated", "dali1"): (1, [], NO_STATUS_TXT, (0, 0)),
        ("cut", "dali1"): (1, [PARTIAL], None, (0, 0)),
        ("garbage", "dali1"): (1, [], NO_STATUS_TXT, (0, 0)),
        ("closed", "dali1"): (1, [NOTHING], None, (0, 0)),
        ("error page", "restore"): (1, [HTTP_500], None, (1, 0)),
        ("truncated", "restore"): (0, [], "OK", (1, 1)),
        ("cut", "restore"): (1, [PARTIAL], None, (1, 1)),
        ("garbage", "restore"): (0, [], "OK", (1, 1)),
        ("empty", "restore"): (0, [], "OK", (1, 1)),
        ("closed", "restore"): (1, [NOTHING], None, (1, 0)),
        ("tftp error", "tftp"): (1, [ACCESS], None, (0, 0)),
        ("tftp stall", "tftp"): (1, [TIMEOUT], None, (0, 0)),
    },
    "push_firmware": {
        ("error page", "firmware"): (1, [HTTP_500], None, (1, 0)),
        ("truncated", "firmware"): (0, [], "OK", (1, 1)),
        ("cut", "firmware"): (1, [PARTIAL], None, (1, 1)),
        ("garbage", "firmware"): (0, [], "OK", (1, 1)),
        ("empty", "firmware"): (0, [], "OK", (1, 1)),
        ("closed", "firmware"): (1, [NOTHING], None, (1, 0)),
        ("tftp error", "tftp"): (1, [ACCESS], None, (0, 0)),
        ("tftp stall", "tftp"): (1, [TIMEOUT], None, (0, 0)),
    },
}
# libcurl's progress meter of uploads and requests, between the lines that matter.
METER = re.compile(r"^\s*(% Total|Dload|\d+\s+[\d.]+[kMG]?\s+\d+\s)")


def message_lines(stderr):
    lines = re.split(r"[\r\n]+", stderr.decode(errors="replace"))
    return [line for line in lines if line.strip() and not METER.match(line)]


def gateway_took(gw):
    return (len([e for e in gw.log_lines("tftp") if e.outcome == "ok"]),
            len([e for e in gw.log_lines() if e.protocol in ("restore", "firmware") and e.outcome == "took"]))


class FaultMatrix(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory(prefix="fault-matrix-")
        self.addCleanup(self._temp.cleanup)
        folder = self._temp.name
        backup = os.path.join(folder, "backup.zip")
        with zipfile.ZipFile(backup, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("rlc.tar", tar_bytes([("/etc/config/rlc/rlc.bin", bytes(range(256)) * 12),
                                             ("status.txt", b'{"model_name":"LUMARO-4"}')]))
        image = os.path.join(folder, "image.binary")
        subprocess.run([os.path.join(BUILD_DIR, "tools", "dev", "fwmaker"), "image", image, "--version", "1.6.0"],
                       check=True)
        groups = '"%s"' % os.path.join(SOURCE_DIR, "examples", "groups.csv")
        self.arguments = {
            "get_status": [],
            "get_backup": ["--backupfileouttype", "{kind}", "--backupconfig", '["rlc","dali1","cd1"]',
                           "--backupfileout", "."],
            "put_backup": ["--backupfilein", backup],
            "setup_channel": ["--channel", "1", "--channelgroupscsvfile", groups],
            "push_firmware": ["--firmwarefile", image],
        }

    def run_cell(self, action, kind, fault, target, expected):
        """Runs one cell in a folder of its own, which is also the output folder; returns what differs."""
        folder = tempfile.mkdtemp(dir=self._temp.name)
        options = [o.format(target) for o in {**HTTP_FAULTS, **TFTP_FAULTS}[fault]]
        arguments = [a.format(kind=kind) for a in self.arguments[action]]
        status, errors, line, took_by_gateway = expected
        problems = []
        with Gateway(*options) as gw:
            started = time.monotonic()
            code, out, err = run_cli("--action", action, "--ip", gw.address, *arguments, cwd=folder)
            took = time.monotonic() - started
            deadline = time.monotonic() + (15 if fault == "tftp stall" else 3)  # a stalled transfer ends later
            while gateway_took(gw) != took_by_gateway and time.monotonic() < deadline:
                time.sleep(0.05)
            if gateway_took(gw) != took_by_gateway:
                problems.append("gateway took %s" % (gateway_took(gw),))
            if fault == "tftp stall" and not gw.wait_for_log(lambda e: e.outcome == "stalled", timeout=15):
                problems.append("no stalled upload")
        if code != status:
            problems.append("exit status %d" % code)
        lines = message_lines(err)
        if len(lines) != len(errors) or any(not (got.startswith(want[:-1]) if want.endswith("*") else got == want)
                                            for got, want in zip(lines, errors)):
            problems.append("standard error %r" % lines)
        if line is not None and line not in out.decode(errors="replace").splitlines():
            problems.append("no line %r" % line)
        if took > (STALL if fault == "tftp stall" else QUICK):
            problems.append("took %.1f s" % took)
        problems += self.left_on_disk(action, kind, folder)
        return problems

    def left_on_disk(self, action, kind, folder):
        """Only whole files under final names: the configurations that arrived, nothing else."""
        names = sorted(os.listdir(folder))
        if action != "get_backup":
            return ["left %s" % names] if names else []
        if kind == "directory":
            return [] if names == ["cd1.tar", "rlc.tar"] else ["left %s" % names]
        if len(names) != 1 or not names[0].endswith(".zip"):
            return ["left %s" % names]
        with zipfile.ZipFile(os.path.join(folder, names[0])) as z:
            stored = z.namelist()
            damaged = z.testzip()
        return [] if stored == ["rlc.tar", "cd1.tar"] and damaged is None else ["archive %s %s" % (stored, damaged)]

    def test_every_action_against_every_fault(self):
        cells = [(action, kind, fault, target, expected)
                 for action, rows in MATRIX.items()
                 for kind in (("zip", "directory") if action == "get_backup" else ("",))
                 for (fault, target), expected in rows.items()]
        cells.sort(key=lambda cell: cell[2] != "tftp stall")  # the slow ones first
        with ThreadPoolExecutor(max_workers=8) as pool:
            results = list(pool.map(lambda cell: (cell, self.run_cell(*cell)), cells))
        failed = ["%s %s: %s on %s: %s" % (a, k, f, t, "; ".join(p)) for (a, k, f, t, _), p in results if p]
        self.assertEqual(failed, [])


if __name__ == "__main__":
    unittest.main()
