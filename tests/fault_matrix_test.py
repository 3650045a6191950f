"""Every action against a stand-in that fails in one way on one endpoint the action uses: the exit
status, the lines that say why, the time taken, what is left on disk and what the gateway took.

Cells run side by side; the TFTP stalls take the upload's low-speed limit (60 s) and set the pace, the silent
HTTP endpoints the requests' stall limit (30 s)."""

import functools
import os
import pathlib
import re
import struct
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile
import zlib
from concurrent.futures import ThreadPoolExecutor
from fnmatch import fnmatchcase

from gateway import BUILD_DIR, CLI, SOURCE_DIR, Gateway, run_cli, run_cli_events
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
NOT_EXPORTED = "export_channel\tchannel 1 not exported: dali1 could not be fetched."
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


# Why a backup names dali1 missing, by fault.
MISSING = {"error page": "HTTP 500", "truncated": "not a valid configuration archive", "cut": "transfer broke off",
           "garbage": "not a valid configuration archive", "empty": "empty reply", "closed": "transfer broke off",
           "silent": "transfer broke off"}


def incomplete_backup(fault):
    status, errors = broken_transfer(fault, (1, []))[:2]
    return status, errors + ["Backup incomplete: dali1 missing (%s)" % MISSING[fault]], NOT_FOUND, (0, 0)


MATRIX = {
    "get_status": {**STATUS, ("silent", "http"): (1, [SILENCE], None, (0, 0))},
    "get_backup": {**rows("dali1", HTTP_FAULTS, incomplete_backup),
                   (NO_GATEWAY, ""): (1, [REFUSED, UNREACHABLE], None, (0, 0))},
    "put_backup": {**STATUS, **trigger("restore", "\x1b[32mbackup\tbackup push completed."), **TFTP},
    "setup_channel": {**rows("dali1", [f for f in HTTP_FAULTS if f != "empty"],
                             lambda f: broken_transfer(f, (1, [], NO_STATUS_TXT)) + ((0, 0),)),
                      **trigger("restore", "OK"), **TFTP},
    "push_firmware": {**trigger("firmware", "OK"), **TFTP},
    "export_channel": rows("dali1", [f for f in HTTP_FAULTS if f != "empty"],
                           lambda f: (1, broken_transfer(f, (1, []))[1] + [NOT_EXPORTED], None, (0, 0))),
}
# Empty replies: the status or the channel's configuration, each with one line saying why.
EMPTY_STATUS = (1, ["status\tthe gateway's status reply is empty"], None, (0, 0))
MATRIX["get_status"][("empty", "status")] = EMPTY_STATUS
MATRIX["put_backup"][("empty", "status")] = EMPTY_STATUS
MATRIX["setup_channel"][("empty", "dali1")] = (1, [], "setup_channel\tchannel 1 not pushed: its configuration could "
                                                     "not be fetched.", (0, 0))
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
                          "push_firmware": ["--firmwarefile", image],
                          "export_channel": ["--channel", "1", "--channelcsvfile", '"ch1.csv"']}

    def run_cell(self, action, kind, fault, target, expected):
        """Runs one cell in a folder of its own, which is also the output folder; returns what differs."""
        folder = tempfile.mkdtemp(dir=self._temp.name)
        status, errors, line, took_by_gateway = expected
        with Gateway(*[o.format(target) for o in {**HTTP_FAULTS, **TFTP_FAULTS}.get(fault, [])]) as gw:
            if fault == NO_GATEWAY:
                gw.stop()
            started = time.monotonic()
            code, out, err, events = run_cli_events("--action", action, "--ip", gw.address,
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
        problems += self.events_agree(action, events, code, took_by_gateway, (fault, target))
        return problems + self.left_on_disk(action, kind, folder, [] if fault == NO_GATEWAY else None)

    @staticmethod
    def events_agree(action, events, code, took_by_gateway, cell):
        """The events start and end the run, their summary has its exit status, and the steps done are what the
        stand-in took: configurations saved, or restores and upgrades (none when the gateway acted and its reply
        was lost or refused)."""
        summary = events[-1] if events else {}
        done = sum(c.get("done", 0) for c in summary.get("counts", {}).values())
        lost_reply = code != 0 and cell[1] in ("restore", "firmware")
        expected = {"get_backup": 2 if cell[0] != NO_GATEWAY else 0, "get_status": 0,
                    "export_channel": 0}.get(action, 0 if lost_reply else took_by_gateway[1])
        steps = sum(1 for e in events if e["event"] == "step" and e["outcome"] == "done")
        agree = (events[0] == {"event": "start", "action": action, "gateway": events[0]["gateway"]}
                 and summary.get("exit_status") == code and (summary.get("result") == "done") == (code == 0)
                 and done == steps == expected)
        return [] if agree else ["events %s" % [events[0], summary] if events else "no events"]

    def left_on_disk(self, action, kind, folder, wanted=None):
        """Only whole files under final names: the configurations that arrived (by default rlc and cd1), nothing
        else."""
        names = sorted(os.listdir(folder))
        if action == "get_backup" and kind == "zip" and len(names) == 1 and names[0].endswith(".zip"):
            with zipfile.ZipFile(os.path.join(folder, names[0])) as z:
                names = z.namelist() if z.testzip() is None else ["damaged " + names[0]]
        if wanted is None:
            wanted = {"zip": ["rlc.tar", "cd1.tar", "manifest.json"],
                      "directory": ["cd1.tar", "manifest.json", "rlc.tar"]}.get(kind, [])
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



def lying_tar(path):
    """A configuration tar whose member `path` claims 4 GiB - 1 bytes while the file holds a few KiB."""
    tar = bytearray(tar_bytes([(path, b"x" * 10), ("status.txt", b'{"model_name":"LUMARO-4"}')]))
    tar[124:136], tar[148:156] = b"%011o\0" % (2 ** 32 - 1), b" " * 8
    tar[148:156] = b"%06o\0 " % sum(tar[:512])
    return bytes(tar)


def entry(name, data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    return name, compressor.compress(data) + compressor.flush(), zlib.crc32(data), len(data)


def bomb(name, mib):
    """An entry of `mib` MiB of zeros, made in a moment: after a full flush every MiB deflates alike."""
    zeros, compressor = bytes(1 << 20), zlib.compressobj(9, zlib.DEFLATED, -15)
    block = compressor.compress(zeros) + compressor.flush(zlib.Z_FULL_FLUSH)
    crc = functools.reduce(lambda c, _: zlib.crc32(zeros, c), range(mib), 0)
    return name, block * mib + b"\x03\x00", crc, mib << 20  # an empty final block ends the stream


def zip_bytes(entries):
    """A zip of (name, deflated bytes, crc, size) entries, written by hand so that one can be a bomb."""
    body, central = b"", b""
    for name, data, crc, size in entries:
        fields = (20, 0, 8, 0, 0x21, crc, len(data), size, len(name))
        central += struct.pack("<IH5HIIIH4HII", 0x02014B50, 20, *fields, 0, 0, 0, 0, 0, len(body)) + name.encode()
        body += struct.pack("<I5HIIIHH", 0x04034B50, *fields, 0) + name.encode() + data
    return body + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, *[len(entries)] * 2, len(central), len(body), 0)


class FilesThatLie(unittest.TestCase):
    """put_backup on backups whose sizes lie or that hold no configuration: refused at once, in little memory,
    with one line naming the entry, the honest entries still restored."""

    def test_lying_sizes_and_empty_archives(self):
        rlc = entry("rlc.tar", tar_bytes([("/etc/config/rlc/rlc.bin", bytes(range(256)) * 12),
                                          ("status.txt", b'{"model_name":"LUMARO-4"}')]))
        inputs = {  # name: (bytes, stderr lines, stdout line, (uploads, restores))
            "member.tar": (lying_tar("/etc/config/rlc/rlc.bin"), [],
                           "action_put_backup\terror reading '/etc/config/rlc/rlc.bin'", (0, 0)),
            "member.zip": (zip_bytes([entry("dali1.tar", lying_tar("/etc/config/dali/dali1.bin")), rlc]), [],
                           "action_put_backup\terror reading '/etc/config/dali/dali1.bin'", (1, 1)),
            "bomb.zip": (zip_bytes([bomb("dali1.tar", 2048), rlc]),
                         ["put_backup: entry 'dali1.tar' is larger than 64 MiB; not restored"], None, (1, 1)),
            "hello.tar": (tar_bytes([("hello.txt", b"hello\n")]),
                          ["put_backup: '*hello.tar' holds no configuration; nothing is uploaded"], None, (0, 0)),
        }
        for name, (data, errors, line, took_by_gateway) in inputs.items():
            with self.subTest(name), Gateway() as gw, tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                path = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), name)
                with open(path, "wb") as f:
                    f.write(data)
                started = time.monotonic()
                cli = subprocess.Popen([CLI, "--action", "put_backup", "--ip", gw.address, "--backupfilein", path],
                                       stdout=out, stderr=err)
                _, status, usage = os.wait4(cli.pid, 0)  # its own peak memory, not the stand-in's
                cli.returncode = os.waitstatus_to_exitcode(status)
                self.assertLess(time.monotonic() - started, 2)
                self.assertLess(usage.ru_maxrss, 64 << 10)
                self.assertEqual(cli.returncode, 1)
                out.seek(0), err.seek(0)
                lines = message_lines(err.read())
                self.assertTrue(len(lines) == len(errors) and all(map(fnmatchcase, lines, errors)), lines)
                self.assertIn(line, out.read().decode(errors="replace").splitlines() + [None])
                gw.wait_for_log(lambda e: e.protocol == "restore", timeout=3 if took_by_gateway[1] else 0)
                self.assertEqual(gateway_took(gw), took_by_gateway)

    def test_planted_partial_link_is_not_followed(self):
        with Gateway() as gw:
            folder = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
            (folder / "victim").write_text("mine")
            (folder / "rlc.tar.partial").symlink_to(folder / "victim")
            code, _, _ = run_cli("--action", "get_backup", "--ip", gw.address, "--backupfileouttype", "directory",
                                 "--backupconfig", '["rlc"]', "--backupfileout", folder)
            self.assertEqual((code, (folder / "victim").read_text()), (0, "mine"))
            self.assertEqual(sorted(os.listdir(folder)), ["manifest.json", "rlc.tar", "rlc.tar.partial", "victim"])
            self.assertTrue(tarfile.is_tarfile(folder / "rlc.tar"))


if __name__ == "__main__":
    unittest.main()
