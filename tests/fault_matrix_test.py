"""Every action against a stand-in that fails in one way on one endpoint the action uses: the exit
status, the lines that say why, the time taken, what is left on disk and what the gateway took.

Cells run side by side; the TFTP stalls take the upload's low-speed limit (60 s) and set the pace, the silent
HTTP endpoints the requests' stall limit (30 s)."""

import os
import re
import subprocess
import tempfile
import time
import unittest
import zipfile
from concurrent.futures import ThreadPoolExecutor
from fnmatch import fnmatchcase

from gateway import BUILD_DIR, SOURCE_DIR, Gateway, run_cli
from records import tar_bytes

# Seconds a cell may take: no limit was reached / an HTTP request's stall limit / the upload's low-speed limit.
QUICK, SILENT, STALL = 10, 33, 80
HTTP_FAULTS = {"error page": ["--fail", "{}=500"], "truncated": ["--body", "{}=truncate"],
               "cut": ["--body", "{}=cut"], "garbage": ["--body", "{}=garbage"], "empty": ["--body", "{}=empty"],
               "closed": ["--close", "{}"], "silent": ["--silent", "{}"]}
NO_GATEWAY = "closed port"  # a stand-in started and stopped again: nobody listens on its port
TFTP_FAULTS = {"tftp error": ["--tftp-error", "2"], "tftp stall": ["--tftp-stall", "2"]}
UNREADABLE = "status\tthe gateway's status reply could not be read: "
CURL = "curl_easy_perform() failed: "
ACCESS, TIMEOUT = CURL + "TFTP: Access Violation", CURL + "Timeout was reached"
PARTIAL, NOTHING = CURL + "Transferred a partial file", CURL + "Server returned nothing (no headers, no data)"
HTTP_500, NOT_FOUND = "request failed: HTTP 500", "backup\tbackup file not found for action get_backup."
NO_STATUS_TXT = "backup\terror status.txt file not found."
SILENCE = "No answer from 127.0.0.1: less than 30 bytes/s for 30 s."
REFUSED = CURL + "Couldn't connect to server"


def rows(target, faults, outcome):
    return {(fault, target): outcome(fault) for fault in faults}


def broken_transfer(fault, otherwise):
    """A reply cut short, a connection closed or a silent server fails the transfer itself."""
    return {"cut": (1, [PARTIAL], None), "closed": (1, [NOTHING], None), "silent": (1, [SILENCE], None)}.get(
        fault, otherwise)


# Each cell: (exit status, standard-error lines (a prefix ends with "*"), a standard-output line,
# (uploads, restores or upgrades the gateway took)). Left out until the tool gives them a line: empty
# status or channel configuration replies.
STATUS = rows("status", [f for f in HTTP_FAULTS if f != "empty"],
              lambda f: broken_transfer(f, (1, [UNREADABLE + "*"], None)) + ((0, 0),))
UNREACHABLE = "get_backup: the gateway 127.0.0.1:* cannot be reached; the other configurations are not fetched."
TFTP = rows("tftp", TFTP_FAULTS, lambda f: (1, [ACCESS if f == "tftp error" else TIMEOUT], None, (0, 0)))


def trigger(target, done):
    """The restore or upgrade request after an upload: the gateway acts unless it failed or hung up first."""
    return rows(target, HTTP_FAULTS, lambda f: (1, [HTTP_500], None, (1, 0)) if f == "error page" else
                broken_transfer(f, (0, [], done)) + ((1, 0 if f in ("closed", "silent") else 1),))


MATRIX = {
    "get_status": {**STATUS, ("silent", "http"): (1, [SILENCE], None, (0, 0))},
    "get_backup": {**rows("dali1", HTTP_FAULTS, lambda f: broken_transfer(f, (1, [], None))[:2] + (NOT_FOUND, (0, 0))),
                   (NO_GATEWAY, ""): (1, [REFUSED, UNREACHABLE], None, (0, 0))},
    "put_backup": {**STATUS, **trigger("restore", "\x1b[32mbackup\tbackup push completed."), **TFTP},
    "setup_channel": {**rows("dali1", [f for f in HTTP_FAULTS if f != "empty"],
                             lambda f: broken_transfer(f, (1, [], NO_STATUS_TXT)) + ((0, 0),)),
                      **trigger("restore", "OK"), **TFTP},
    "push_firmware": {**trigger("firmware", "OK"), **TFTP},
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
        self.arguments = {"get_status": [], "put_backup": ["--backupfilein", backup],
                          "get_backup": ["--backupfileouttype", "{kind}", "--backupconfig", '["rlc","dali1","cd1"]',
                                         "--backupfileout", "."],
                          "setup_channel": ["--channel", "1", "--channelgroupscsvfile", groups],
                          "push_firmware": ["--firmwarefile", image]}

    def run_cell(self, action, kind, fault, target, expected):
        """Runs one cell in a folder of its own, which is also the output folder; returns what differs."""
        folder = tempfile.mkdtemp(dir=self._temp.name)
        status, errors, line, took_by_gateway = expected
        with Gateway(*[o.format(target) for o in {**HTTP_FAULTS, **TFTP_FAULTS}.get(fault, [])]) as gw:
            if fault == NO_GATEWAY:
                gw.stop()
            started = time.monotonic()
            code, out, err = run_cli("--action", action, "--ip", gw.address,
                                     *[a.format(kind=kind) for a in self.arguments[action]], cwd=folder)
            took = time.monotonic() - started
            deadline = time.monotonic() + 3  # the stand-in logs a transfer once it has ended
            while gateway_took(gw) != took_by_gateway and time.monotonic() < deadline:
                time.sleep(0.05)
            problems = [] if gateway_took(gw) == took_by_gateway else ["gateway took %s" % (gateway_took(gw),)]
            if fault == "tftp stall" and not gw.wait_for_log(lambda e: e.outcome == "stalled", timeout=15):
                problems.append("no stalled upload")
        lines = message_lines(err)
        problems += [] if code == status else ["exit status %d" % code]
        problems += [] if len(lines) == len(errors) and all(map(fnmatchcase, lines, errors)) else ["stderr %r" % lines]
        problems += [] if line in out.decode(errors="replace").splitlines() + [None] else ["no line %r" % line]
        problems += [] if took <= {"tftp stall": STALL, "silent": SILENT}.get(fault, QUICK) else ["took %.1f s" % took]
        return problems + self.left_on_disk(action, kind, folder, [] if fault == NO_GATEWAY else None)

    def left_on_disk(self, action, kind, folder, wanted=None):
        """Only whole files under final names: the configurations that arrived (by default rlc and cd1), nothing
        else."""
        names = sorted(os.listdir(folder))
        if action == "get_backup" and kind == "zip" and len(names) == 1 and names[0].endswith(".zip"):
            with zipfile.ZipFile(os.path.join(folder, names[0])) as z:
                names = z.namelist() if z.testzip() is None else ["damaged " + names[0]]
        if wanted is None:
            wanted = {"zip": ["rlc.tar", "cd1.tar"], "directory": ["cd1.tar", "rlc.tar"]}.get(kind, [])
        return [] if names == wanted else ["left %s" % names]

    def test_every_action_against_every_fault(self):
        cells = [(action, kind, fault, target, expected)
                 for action, rows in MATRIX.items()
                 for kind in (("zip", "directory") if action == "get_backup" else ("",))
                 for (fault, target), expected in rows.items()]
        cells.sort(key=lambda cell: cell[2] not in ("tftp stall", "silent"))  # the slow ones first
        with ThreadPoolExecutor(max_workers=8) as pool:
            results = list(pool.map(lambda cell: (cell, self.run_cell(*cell)), cells))
        failed = ["%s %s: %s on %s: %s" % (a, k, f, t, "; ".join(p)) for (a, k, f, t, _), p in results if p]
        self.assertEqual(failed, [])


if __name__ == "__main__":
    unittest.main()
