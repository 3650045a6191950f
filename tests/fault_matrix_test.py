"""Every action against a stand-in that fails in one way on one endpoint the action uses: the exit
status, the lines that say why, the time taken, the tool's peak memory, what is left on disk and what the
gateway took.

Cells run side by side; the TFTP stalls take the upload's low-speed limit (60 s), the dripping replies the
requests' overall limit (60 s) and set the pace, the silent HTTP endpoints the requests' stall limit (30 s)."""

import functools
import io
import json
import os
import pathlib
import re
import signal
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

from gateway import BUILD_DIR, CLI, SOURCE_DIR, Gateway, run_cli
from records import tar_bytes

# Seconds a cell may take: no limit was reached / an HTTP request's stall limit / its overall limit / the upload's
# low-speed limit.
QUICK, SILENT, DRIP, STALL = 10, 33, 65, 70
# Peak resident memory in KiB: any cell / a configuration flooded up to its cap of some 64 MiB.
MEMORY, CONFIGURATION_MEMORY = 32 << 10, 100 << 10
HTTP_FAULTS = {"error page": ["--fail", "{}=500"], "truncated": ["--body", "{}=truncate"],
               "cut": ["--body", "{}=cut"], "garbage": ["--body", "{}=garbage"], "empty": ["--body", "{}=empty"],
               "closed": ["--close", "{}"], "silent": ["--silent", "{}"], "flood": ["--flood", "{}"],
               "drip": ["--drip", "{}"], "redirect loop": ["--redirect-loop", "{}"],
               "foreign redirect": ["--redirect", "{}={other}"]}
NO_GATEWAY = "closed port"  # a stand-in started and stopped again: nobody listens on its port
SILENT_GATEWAY = {"silent gateway": ["--silent", "http", "--tftp-stall", "0"]}  # takes everything, answers nothing
TFTP_FAULTS = {"tftp error": ["--tftp-error", "2"], "tftp stall": ["--tftp-stall", "2"],
               "tftp error 8": ["--tftp-error", "8"], "tftp big block": ["--tftp-grant-blksize", "4000"],
               "tftp options refused": ["--tftp-options", "refuse-all"]}
SIGNALS = {"SIGINT": ["--silent", "cd1"], "SIGTERM": ["--silent", "cd1"]}  # sent while cd1 is awaited
# --gateway-pin against the gateway that answers: (stand-in options, the pin). The MAC's case does not count.
PINS = {"other gateway": (["--serial", "LM4-9"], ",LM2-000817,"),
        "pinned gateway": (["--serial", "LM4-1", "--mac", "02:00:00:00:AB:CD"], "LUMARO-4,LM4-1,02:00:00:00:ab:cd")}
NOT_PINNED = "Not the pinned gateway: serial 'LM4-9' answered, 'LM2-000817' is pinned. Nothing was written."
# An upgrade reply that would retitle the terminal and fill the console: shown escaped, its first line cut.
NOISY = b"\x1b]0;owned\x07" + b"A" * 300 + b"\n" + b"line\n" * 1000
REPLIES = {"noisy reply": ["--reply", "{}={reply}"]}
# Faults whose endpoint handler never runs: the gateway does not act on such a request.
NOT_HANDLED = {"closed", "silent", "flood", "drip", "redirect loop", "foreign redirect"}
UNREADABLE = "status\tthe gateway's status reply could not be read: "
CURL = "curl_easy_perform() failed: "
ACCESS = CURL + "TFTP: Access Violation"
STALLED = "TFTP upload to 127.0.0.1 stalled after * bytes: less than 30 bytes/s for 60 s."
OPTIONS_REFUSED = ("TFTP upload to 127.0.0.1 refused: the gateway rejects the transfer options (TFTP error 8), also "
                   "when none are sent.")
BIG_BLOCK = "TFTP upload to 127.0.0.1 refused: the gateway granted blocks of 4000 bytes, more than the 1468 asked for."
PARTIAL, NOTHING = CURL + "Transferred a partial file", CURL + "Server returned nothing (no headers, no data)"
HTTP_500, NOT_FOUND = "request failed: HTTP 500", "backup\tbackup file not found for action get_backup."
NO_STATUS_TXT = "backup\terror status.txt file not found."
NOT_EXPORTED = "export_channel\tchannel 1 not exported: dali1 could not be fetched."
SILENCE = "No answer from 127.0.0.1: less than 30 bytes/s for 30 s."
REFUSED = CURL + "Couldn't connect to server"
INTERRUPTED = "varnu-cli: interrupted; temporary files removed."


def broken_transfer(fault, target, otherwise):
    """A reply cut short, a connection closed, a silent, flooding, dripping or redirecting server fails the transfer
    itself."""
    flood = "The reply from 127.0.0.1 runs past %d KiB; the transfer is abandoned." % (
        65616 if target == "dali1" else 64)
    lines = {"cut": PARTIAL, "closed": NOTHING, "silent": SILENCE, "flood": flood,
             "drip": "No complete answer from 127.0.0.1 within 60 s.",
             "redirect loop": "More than 5 redirects from 127.0.0.1; the request is abandoned.",
             "foreign redirect": "Redirect from 127.0.0.1 to 'http://127.0.0.1:*/api/v100/*' refused: it leads away "
                                 "from the gateway."}
    return (1, [lines[fault]], None) if fault in lines else otherwise


def rows(target, faults, outcome):
    return {(fault, target): outcome(fault) for fault in faults}


# Each cell: (exit status, standard-error lines (a prefix ends with "*"), a standard-output line,
# (uploads, restores or upgrades the gateway took)[, {"left": files, "seconds": bound}]). Left out until the tool
# gives them a line: empty status or channel configuration replies.
STATUS = rows("status", [f for f in HTTP_FAULTS if f != "empty"],
              lambda f: broken_transfer(f, "status", (1, [UNREADABLE + "*"], None)) + ((0, 0),))
STOPPED = "get_backup: the gateway 127.0.0.1:* does not answer; the other configurations are not fetched."


# Why a backup names dali1 missing, by fault.
MISSING = {"error page": "HTTP 500", "truncated": "not a valid configuration archive", "cut": "transfer broke off",
           "garbage": "not a valid configuration archive", "empty": "empty reply", "closed": "transfer broke off",
           "flood": "transfer broke off", "redirect loop": "transfer broke off",
           "foreign redirect": "transfer broke off"}
SILENT_MISSING = ("Backup incomplete: dali1 missing (the gateway does not answer), cd1 missing (not fetched: the "
                  "gateway does not answer)")


def backup_row(fault):
    """A configuration that cannot be fetched is left out and named missing; a gateway that stops answering ends
    the backup."""
    if fault in ("silent", "drip"):
        return 1, broken_transfer(fault, "dali1", None)[1] + [STOPPED, SILENT_MISSING], None, (0, 0), \
            {"left": {"zip": ["rlc.tar", "manifest.json"], "directory": ["manifest.json", "rlc.tar"]}}
    status, errors = broken_transfer(fault, "dali1", (1, [], None))[:2]
    return status, errors + ["Backup incomplete: dali1 missing (%s)" % MISSING[fault]], NOT_FOUND, (0, 0)


def tftp(done):
    """The upload: refused, stalled, or taken on the second try without any option."""
    return rows("tftp", TFTP_FAULTS, lambda f: (0, [], done, (1, 1)) if f == "tftp options refused" else
                (1, [{"tftp error": ACCESS, "tftp stall": STALLED, "tftp error 8": OPTIONS_REFUSED,
                      "tftp big block": BIG_BLOCK}[f]], None, (0, 0)))


def trigger(target, done):
    """The restore or upgrade request after an upload: the gateway acts unless it failed or hung up first."""
    return rows(target, HTTP_FAULTS, lambda f: (1, [HTTP_500], None, (1, 0)) if f == "error page" else
                broken_transfer(f, target, (0, [], done)) + ((1, 0 if f in NOT_HANDLED else 1),))


PUSHED = "\x1b[32mbackup\tbackup push completed."
MATRIX = {
    "get_status": {**STATUS, ("silent", "http"): (1, [SILENCE], None, (0, 0))},
    "get_backup": {**rows("dali1", HTTP_FAULTS, backup_row),
                   (NO_GATEWAY, ""): (1, [REFUSED, STOPPED], None, (0, 0), {"left": []}),
                   ("silent gateway", ""): (1, [SILENCE, STOPPED], None, (0, 0), {"left": [], "seconds": SILENT}),
                   **rows("", SIGNALS, lambda f: (128 + getattr(signal, f), [INTERRUPTED], None, (0, 0),
                                                  {"left": {"zip": [], "directory": ["dali1.tar", "rlc.tar"]}}))},
    "put_backup": {**STATUS, **trigger("restore", PUSHED), **tftp(PUSHED),
                   # a stalled upload ends the restore: the second configuration is not tried
                   ("tftp stall", "tftp"): (1, [STALLED, "put_backup: the gateway 127.0.0.1:* does not answer; 1 more "
                                                         "configuration(s) not restored."], None, (0, 0)),
                   ("silent gateway", ""): (1, [SILENCE], None, (0, 0), {"seconds": SILENT})},
    "setup_channel": {**rows("dali1", [f for f in HTTP_FAULTS if f != "empty"],
                             lambda f: broken_transfer(f, "dali1", (1, [], NO_STATUS_TXT)) + ((0, 0),)),
                      **trigger("restore", "OK"), **tftp("OK"),
                      # two channels: the second is not tried once the gateway stopped answering
                      ("silent gateway", ""): (1, [SILENCE, "setup_channel\tthe gateway 127.0.0.1:* does not answer; "
                                                           "the other channels are not set up."], None, (0, 0),
                                               {"seconds": SILENT, "two channels": True})},
    "push_firmware": {**trigger("firmware", "OK"), **tftp("OK"),
                      ("noisy reply", "firmware"): (0, [], "\\x1b]0;owned\\x07" + "A" * 190 + " ...", (1, 0)),
                      ("silent gateway", ""): (1, [STALLED], None, (0, 0), {"seconds": STALL})},
    "export_channel": {**rows("dali1", [f for f in HTTP_FAULTS if f != "empty"],
                              lambda f: (1, broken_transfer(f, "dali1", (1, []))[1] + [NOT_EXPORTED], None, (0, 0))),
                       ("silent gateway", ""): (1, [SILENCE, NOT_EXPORTED, "export_channel\tthe gateway 127.0.0.1:* "
                                                                           "does not answer; the other channels are "
                                                                           "not exported."], None, (0, 0),
                                                {"seconds": SILENT, "two channels": True})},
}
# Empty replies: the status or the channel's configuration, each with one line saying why.
EMPTY_STATUS = (1, ["status\tthe gateway's status reply is empty"], None, (0, 0))
MATRIX["get_status"][("empty", "status")] = EMPTY_STATUS
MATRIX["put_backup"][("empty", "status")] = EMPTY_STATUS
MATRIX["setup_channel"][("empty", "dali1")] = (1, [], "setup_channel\tchannel 1 not pushed: its configuration could "
                                                     "not be fetched.", (0, 0))
# Nothing is written to a gateway other than the pinned one; the pinned one takes all.
for action, done in (("put_backup", PUSHED), ("setup_channel", "OK"), ("push_firmware", "OK")):
    MATRIX[action][("other gateway", "")] = (1, [NOT_PINNED], None, (0, 0))
    MATRIX[action][("pinned gateway", "")] = (0, [], done, (1, 1))
SLOW = {"tftp stall": STALL, "silent": SILENT, "drip": DRIP, "silent gateway": STALL}
# libcurl's progress meter of uploads and requests, between the lines that matter.
METER = re.compile(r"^\s*(% Total|Dload|\d+\s+[\d.]+[kMG]?\s+\d+\s)")


def message_lines(stderr):
    lines = re.split(r"[\r\n]+", stderr.decode(errors="replace"))
    return [line for line in lines if line.strip() and not METER.match(line)]


def gateway_took(gw):
    return (len([e for e in gw.log_lines("tftp") if e.outcome == "ok"]),
            len([e for e in gw.log_lines() if e.protocol in ("restore", "firmware") and e.outcome == "took"]))


def run_measured(command, cwd, interrupt=None):
    """Runs the tool with --events; with `interrupt` (a signal name), sends it once the tool waits for cd1. Returns
    (exit status, stdout, stderr, seconds, peak resident KiB of the tool alone, the parsed events)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as events:
        started = time.monotonic()
        cli = subprocess.Popen(command[:1] + ["--events", str(events.fileno())] + command[1:], stdout=out, stderr=err,
                               cwd=cwd, pass_fds=(events.fileno(),))
        while interrupt and b"config=cd1" not in os.pread(out.fileno(), 1 << 20, 0) and cli.poll() is None:
            time.sleep(0.02)
        if interrupt and cli.poll() is None:
            cli.send_signal(getattr(signal, interrupt))
        _, status, usage = os.wait4(cli.pid, 0)
        cli.returncode = os.waitstatus_to_exitcode(status)
        took = time.monotonic() - started
        out.seek(0), err.seek(0), events.seek(0)
        return (cli.returncode, out.read(), err.read(), took, usage.ru_maxrss,
                [json.loads(line) for line in events.read().decode().splitlines()])


class FaultMatrix(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory(prefix="fault-matrix-")
        self.addCleanup(self._temp.cleanup)
        folder = self._temp.name
        archives = {name: tar_bytes([(path, bytes(range(256)) * 12), ("status.txt", b'{"model_name":"LUMARO-4"}')])
                    for name, path in (("rlc.tar", "/etc/config/rlc/rlc.bin"),
                                       ("commanders.tar", "/etc/config/cmdr/cmdr.bin"))}
        self.backups = {}
        for name, members in (("backup.zip", ["rlc.tar"]), ("two.zip", ["rlc.tar", "commanders.tar"])):
            self.backups[name] = os.path.join(folder, name)
            with zipfile.ZipFile(self.backups[name], "w", zipfile.ZIP_DEFLATED) as z:
                for member in members:
                    z.writestr(member, archives[member])
        self.noisy = os.path.join(folder, "noisy.txt")
        pathlib.Path(self.noisy).write_bytes(NOISY)
        image = os.path.join(folder, "image.binary")
        subprocess.run([os.path.join(BUILD_DIR, "tools", "dev", "fwmaker"), "image", image, "--version", "1.6.0"],
                       check=True)
        groups = '"%s"' % os.path.join(SOURCE_DIR, "examples", "groups.csv")
        self.arguments = {"get_status": [], "put_backup": ["--backupfilein", "{backup}"],
                          "get_backup": ["--backupfileouttype", "{kind}", "--backupconfig", '["rlc","dali1","cd1"]',
                                         "--backupfileout", "."],
                          "setup_channel": ["--channel", "1", "--channelgroupscsvfile", groups],
                          "push_firmware": ["--firmwarefile", image],
                          "export_channel": ["--channel", "1", "--channelcsvfile", '"ch1.csv"']}
        self.two_channels = {
            "setup_channel": ["--channel", "[1,2]", "--channelgroupscsvfile", "[%s,%s]" % (groups, groups)],
            "export_channel": ["--channel", "[1,2]", "--channelcsvfile", '["ch1.csv","ch2.csv"]']}

    def run_cell(self, action, kind, fault, target, expected):
        """Runs one cell in a folder of its own, which is also the output folder; returns what differs."""
        folder = tempfile.mkdtemp(dir=self._temp.name)
        status, errors, line, took_by_gateway, extras = (expected + ({},))[:5]
        faults = {**HTTP_FAULTS, **TFTP_FAULTS, **SILENT_GATEWAY, **SIGNALS, **REPLIES,
                  **{f: options for f, (options, _) in PINS.items()}}.get(fault, [])
        pin = ["--gateway-pin", PINS[fault][1]] if fault in PINS else []
        # a stalled upload must end put_backup: it gets a backup of two configurations
        backup = self.backups["two.zip" if fault == "tftp stall" else "backup.zip"]
        with Gateway() as other, \
                Gateway(*[o.format(target, other=other.address, reply=self.noisy) for o in faults]) as gw:
            if fault == NO_GATEWAY:
                gw.stop()
            code, out, err, took, peak, events = run_measured(
                [CLI, "--action", action, "--ip", gw.address] + pin +
                [a.format(kind=kind, backup=backup)
                 for a in (self.two_channels if extras.get("two channels") else self.arguments)[action]], folder,
                fault if fault in SIGNALS else None)
            deadline = time.monotonic() + 3  # the stand-in logs a transfer once it has ended
            while gateway_took(gw) != took_by_gateway and time.monotonic() < deadline:
                time.sleep(0.05)
            problems = [] if gateway_took(gw) == took_by_gateway else ["gateway took %s" % (gateway_took(gw),)]
            problems += ["the other host was asked: %s" % other.log_lines()] if other.log_lines() else []
            if fault == "tftp stall" and not gw.wait_for_log(lambda e: e.outcome == "stalled", timeout=15):
                problems.append("no stalled upload")
        lines = message_lines(err)
        problems += [] if code == status else ["exit status %d" % code]
        problems += [] if len(lines) == len(errors) and all(map(fnmatchcase, lines, errors)) else ["stderr %r" % lines]
        problems += [] if line in out.decode(errors="replace").splitlines() + [None] else ["no line %r" % line]
        problems += ["a raw escape sequence or %d lines" % out.count(b"\n")] if b"\x1b]" in out + err or \
            out.count(b"\n") > 100 else []
        problems += [] if took <= extras.get("seconds", SLOW.get(fault, QUICK)) else ["took %.1f s" % took]
        memory = CONFIGURATION_MEMORY if fault == "flood" and target == "dali1" else MEMORY
        problems += [] if peak <= memory else ["peak memory %d KiB" % peak]
        problems += self.events_agree(action, events, code, took_by_gateway, (fault, target), errors)
        return problems + self.left_on_disk(action, kind, folder, extras.get("left"))

    @staticmethod
    def events_agree(action, events, code, took_by_gateway, cell, errors):
        """The events start and end the run, their summary has its exit status, and the steps done are what the
        stand-in took: configurations saved, or restores and upgrades (none when the gateway acted and its reply
        was lost or refused). A gateway that stopped answering leaves the steps not tried skipped, saying why. An
        interrupted run ends without a summary."""
        if not events or events[0] != {"event": "start", "action": action, "gateway": events[0]["gateway"]}:
            return ["events start %s" % events[:1]]
        if cell[0] in SIGNALS:
            return [] if all(e["event"] != "summary" for e in events) else ["a summary after an interrupt"]
        summary = events[-1]
        done = sum(c.get("done", 0) for c in summary.get("counts", {}).values())
        lost_reply = code != 0 and cell[1] in ("restore", "firmware")
        saved = 0 if cell[0] in (NO_GATEWAY, "silent gateway") else 1 if cell[0] in ("silent", "drip") else 2
        expected = {"get_backup": saved, "get_status": 0, "export_channel": 0,
                    "push_firmware": int(code == 0)}.get(action, 0 if lost_reply else took_by_gateway[1])
        steps = sum(1 for e in events if e["event"] == "step" and e["outcome"] == "done")
        stopped = any("does not answer;" in line for line in errors)
        skipped = any(e["event"] == "step" and e["outcome"] == "skipped" and "does not answer" in (e.get("reason") or "")
                      for e in events)
        agree = (summary.get("exit_status") == code and (summary.get("result") == "done") == (code == 0)
                 and done == steps == expected and skipped == stopped
                and (cell[0] != "other gateway" or (summary.get("result"), events[1]) ==
                     ("failed", {"event": "warning", "text": NOT_PINNED})))
        return [] if agree else ["events %s" % [events[0], summary, skipped]]

    def left_on_disk(self, action, kind, folder, wanted=None):
        """Only whole files under final names: the configurations that arrived (by default rlc and cd1), nothing
        else."""
        names = sorted(os.listdir(folder))
        if action == "get_backup" and kind == "zip" and len(names) == 1 and names[0].endswith(".zip"):
            with zipfile.ZipFile(os.path.join(folder, names[0])) as z:
                names = z.namelist() if z.testzip() is None else ["damaged " + names[0]]
        if isinstance(wanted, dict):
            wanted = wanted[kind]
        if wanted is None:
            wanted = {"zip": ["rlc.tar", "cd1.tar", "manifest.json"],
                      "directory": ["cd1.tar", "manifest.json", "rlc.tar"]}.get(kind, [])
        return [] if names == wanted else ["left %s" % names]

    def test_every_action_against_every_fault(self):
        cells = [(action, kind, fault, target, expected)
                 for action, rows in MATRIX.items()
                 for kind in (("zip", "directory") if action == "get_backup" else ("",))
                 for (fault, target), expected in rows.items()]
        cells.sort(key=lambda cell: cell[2] not in SLOW)  # the slow ones first
        with ThreadPoolExecutor(max_workers=24) as pool:
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


def record_v3(name=b""):
    """A channel record of version 3 whose gear slot 0 bears `name` (an empty record without one)."""
    record = bytearray(7072)
    struct.pack_into("<I4xI", record, 0, 7072, 3)
    record[60 + 45:60 + 45 + len(name)] = name
    return bytes(record)


def ustar(*members):
    """A tar from Python's tarfile of (TarInfo fields, bytes) members, e.g. ({"name": "x", "type": b"2"}, b"")."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for fields, data in members:
            info = tarfile.TarInfo(fields.pop("name"))
            for key, value in fields.items():
                setattr(info, key, value)
            info.size = len(data) if info.type in (tarfile.REGTYPE, tarfile.AREGTYPE) else 0
            tar.addfile(info, io.BytesIO(data))
    return out.getvalue()


def gnu_tar_with_symlink(folder):
    """GNU tar's own archive of a configuration path that is a symbolic link to /etc/passwd."""
    root = os.path.join(folder, "root")
    os.makedirs(os.path.join(root, "etc/config/rlc"))
    os.symlink("/etc/passwd", os.path.join(root, "etc/config/rlc/rlc.bin"))
    with open(os.path.join(root, "status.txt"), "w") as f:
        f.write(STATUS_TXT.decode())
    path = os.path.join(folder, "gnu.tar")
    subprocess.run(["tar", "-P", "-cf", path, "--transform", "s|^.*/root/etc|/etc|;s|^.*/root/||",
                    os.path.join(root, "etc/config/rlc/rlc.bin"), os.path.join(root, "status.txt")], check=True)
    return pathlib.Path(path).read_bytes()


STATUS_TXT = b'{"model_name":"LUMARO-4","firmware_version":"1.5.0"}'
RLC = [("/etc/config/rlc/rlc.bin", bytes(range(256)) * 12), ("status.txt", STATUS_TXT)]
HOSTILE = b"\x1b]0;owned\x07\x1b[2J\x7f\xc2\x9b1m"  # OSC, BEL, CSI, DEL, a C1 CSI
ESCAPED_STATUS = b'{"model_name":"LUMARO-4\\u001b[2J\\u0007","firmware_version":"1.5.0\\u001b]0;x\\u0007"}'
OWN_COLOURS = re.compile(rb"\x1b\[(32|0)m")
RAW_CONTROL = re.compile(rb"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]|\xc2[\x80-\x9f]")


def member(path, data):
    return {"name": path}, data


class FilesThatLie(unittest.TestCase):
    """Crafted backups, single tars, export paths, hostile bytes and FIFOs against the actions that read files:
    each cell is a run with its exit status, the line that says why (a pattern on standard output or error),
    its peak memory, and what reached the stand-in; nothing hangs (every run ends within QUICK seconds)."""

    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory(prefix="files-that-lie-"))

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def zip_of(self, name, entries, method=zipfile.ZIP_DEFLATED):
        path = os.path.join(self.folder, name)
        with zipfile.ZipFile(path, "w", method) as z:
            for entry_name, data in entries:
                z.writestr(entry_name, data)
        return path

    def firmware(self, *options):
        path = os.path.join(self.folder, "image.binary")
        subprocess.run([os.path.join(BUILD_DIR, "tools", "dev", "fwmaker"), "image", path, *options], check=True)
        return path

    def fifo(self, name):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.mkfifo(path)
        return path

    def run_cell(self, args, gateway=(), stdin_tty=False):
        """Runs the tool; returns (status, stdout, stderr, peak memory in MiB, seconds, what the gateway took)."""
        with Gateway(*gateway) as gw, tempfile.NamedTemporaryFile() as peak:
            started = time.monotonic()
            # time(1) reports the tool's own peak, not that of this process, whose pages a fork would count.
            done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, CLI] +
                                  [a.replace("{ip}", gw.address) for a in args], capture_output=True, cwd=self.folder)
            took = time.monotonic() - started
            gw.wait_for_log(lambda e: e.protocol in ("restore", "firmware"), timeout=1 if b"OK" in done.stdout else 0)
            return (done.returncode, done.stdout, done.stderr, int(peak.read().split()[-1]) / 1024, took,
                    gateway_took(gw))

    def check(self, name, args, status, line, memory=64, took_by_gateway=(0, 0), gateway=()):
        code, out, err, peak, took, took_by = self.run_cell(args, gateway)
        printed = re.split(r"[\r\n]+", out.decode(errors="replace") + "\n" + err.decode(errors="replace"))
        problems = [] if code == status else ["exit status %d" % code]
        pattern = re.compile(".*".join(map(re.escape, line.split("*"))))  # "*" is the only wildcard
        problems += [] if any(pattern.fullmatch(p) for p in printed) else ["no line %r in %r" % (line, printed[-8:])]
        problems += [] if peak < memory else ["peak memory %.0f MiB" % peak]
        problems += [] if took < QUICK else ["took %.1f s" % took]
        problems += [] if took_by == took_by_gateway else ["gateway took %s" % (took_by,)]
        problems += [] if not RAW_CONTROL.search(OWN_COLOURS.sub(b"", out + err)) else ["raw control bytes"]
        return ["%s: %s" % (name, "; ".join(problems))] if problems else []

    def test_crafted_files(self):
        f = self
        rlc_tar = tar_bytes(RLC)
        big = b"\0" * (60 << 20)  # a configuration of 60 MiB: within the entry limit, far beyond any real one
        big_tar = tar_bytes([("/etc/config/rlc/rlc.bin", big), ("status.txt", STATUS_TXT)])
        changed_tar = tar_bytes([("/etc/config/rlc/rlc.bin", big[:-1] + b"\1"), ("status.txt", STATUS_TXT)])
        dali1 = tar_bytes([("/etc/config/dali/dali1.bin", record_v3(b"lamp")), ("status.txt", STATUS_TXT)])
        put = ["--action", "put_backup", "--ip", "{ip}", "--backupfilein"]
        show = ["--action", "show_backup", "--backupfilein"]
        cells = {  # name: (arguments, exit status, line, peak MiB, (uploads, restores), stand-in options)
            # Sizes that lie, entries that would inflate far, entries repeated thousands of times.
            "show tar member of 4 GiB": (show + [f.write("member.tar", lying_tar("/etc/config/rlc/rlc.bin"))], 0,
                                         "  rlc * '/etc/config/rlc/rlc.bin' claims more bytes than the archive holds"),
            "show zip bomb": (show + [f.write("bomb.zip", zip_bytes([bomb("dali1.tar", 2048)]))], 0,
                              "  dali1 * entry is larger than 64 MiB; not read"),
            "show 60 MiB configuration": (show + [f.zip_of("big.zip", [("rlc.tar", big_tar)])], 0,
                                          "  rlc * 62914560"),
            "show 10000 repeated entries": (show + [f.zip_of("many.zip", [("dali1.tar", dali1)] * 10000)], 0,
                                           "  dali1 * repeats an earlier archive of this configuration; not read"),
            "diff two 60 MiB configurations": (["--action", "diff_backup", "--backupfilein", f.zip_of(
                "old.zip", [("rlc.tar", big_tar)]), "--with", f.zip_of("new.zip", [("rlc.tar", changed_tar)])], 1,
                "changed rlc: 1 bytes differ", 128),
            "put tar of 65 MiB": (put + [f.write("huge.tar", tar_bytes([("/etc/config/rlc/rlc.bin", b"\0" * (65 << 20))]))],
                                  1, "put_backup: '*huge.tar' is larger than 64 MiB; nothing is uploaded", 64),
            # Single tars: one configuration file and status.txt, regular and whole, or nothing goes up.
            "put acceptable tar": (put + [f.write("rlc.tar", rlc_tar)], 0, "OK", 64, (1, 1)),
            "put symlink by GNU tar": (put + [f.write("gnu.tar", gnu_tar_with_symlink(f.folder))], 1,
                                       "put_backup: '*gnu.tar': member '/etc/config/rlc/rlc.bin' is a symbolic link; "
                                       "nothing is uploaded"),
            "put hard link": (put + [f.write("hard.tar", ustar(member(*RLC[1]), ({
                "name": "/etc/config/dali/dali1.bin", "type": tarfile.LNKTYPE, "linkname": "status.txt"}, b"")))],
                1, "put_backup: '*hard.tar': member '/etc/config/dali/dali1.bin' is a hard link; nothing is uploaded"),
            "put device": (put + [f.write("device.tar", ustar(({"name": "/etc/config/rlc/rlc.bin", "type": tarfile.CHRTYPE,
                                                                 "devmajor": 1, "devminor": 3}, b""), member(*RLC[1])))],
                           1, "put_backup: '*device.tar': member '/etc/config/rlc/rlc.bin' is a device; nothing is "
                           "uploaded"),
            "put path outside": (put + [f.write("shadow.tar", ustar(member(*RLC[0]), member("../../etc/shadow", b"x")))],
                                 1, "put_backup: '*shadow.tar': member '../../etc/shadow' is not a configuration file "
                                 "of the gateway; nothing is uploaded"),
            "put absolute path": (put + [f.write("passwd.tar", ustar(member("/etc/passwd", b"root"), member(*RLC[0])))],
                                  1, "put_backup: '*passwd.tar': member '/etc/passwd' is not a configuration file of "
                                  "the gateway; nothing is uploaded"),
            "put two configurations": (put + [f.write("two.tar", ustar(member(*RLC[0]), member(
                "/etc/config/dali/dali1.bin", record_v3())))], 1, "put_backup: '*two.tar': member "
                "'/etc/config/dali/dali1.bin' is a second configuration file; nothing is uploaded"),
            "put impossible record": (put + [f.write("dali1.tar", ustar(member("/etc/config/dali/dali1.bin", record_v3()[:100]),
                                                                          member(*RLC[1])))], 1,
                                      "action_put_backup\terror '/etc/config/dali/dali1.bin' not restored: record "
                                      "version 3 has 7072 bytes, this one 100"),
            "put FIFO": (put + [f.fifo("fifo/backup.zip")], 1,
                         "put_backup: '*backup.zip' is not a regular file; nothing is uploaded"),
            # FIFOs in or as a backup are refused without waiting on them.
            "show FIFO in a folder": (show + [os.path.dirname(f.fifo("folder/dali1.tar"))], 0,
                                      "  dali1 * is not a regular file; not read"),
            "show FIFO": (show + [f.fifo("fifo.zip")], 1, "show_backup\t'*fifo.zip': is not a regular file."),
            # Export paths that would destroy the input, a FIFO, or each other; or a file's permissions.
            "export onto its input": (["--action", "export_channel", "--backupfilein", f.write("in.tar", dali1),
                                       "--channel", "1", "--channelcsvfile", '"%s/../%s/in.tar"' % (
                                           f.folder, os.path.basename(f.folder))], 2,
                                      "export_channel\t'*in.tar' is the backup being read; the CSV would replace it."),
            "export into its folder": (["--action", "export_channel", "--backupfilein",
                                        os.path.dirname(f.write("bk/dali1.tar", dali1)),
                                        "--channel", "1", "--channelcsvfile", '"bk/../bk/ch1.csv"'], 2,
                                       "export_channel\t'bk/../bk/ch1.csv' is inside the backup folder being read."),
            "export onto a FIFO": (["--action", "export_channel", "--backupfilein", f.write("fx.tar", dali1),
                                    "--channel", "1", "--channelcsvfile", '"%s"' % f.fifo("out.csv")], 2,
                                   "export_channel\t'*out.csv' is not a regular file; it is not replaced."),
            "export two channels to one file": (["--action", "export_channel", "--backupfilein", f.write("x.tar", dali1),
                                                 "--channel", "[1,2]", "--channelcsvfile", '["a.csv","./a.csv"]'], 2,
                                                "export_channel\t'./a.csv' is named for channels 1 and 2; each channel "
                                                "needs a file of its own."),
            # Hostile bytes from files and gateways are shown escaped by every action.
            "show hostile names": (show + [f.zip_of("hostile.zip", [(
                "dali1.tar", tar_bytes([("/etc/config/dali/dali1.bin", record_v3(HOSTILE)), ("status.txt", STATUS_TXT)])),
                ("x\x1b[2J.tar", tar_bytes([("hello.txt", b"hi")]))])], 0, r" 0    - \x1b]0;owned\x07\x1b[2J\x7f\xc2\x9b1m*"),
            "diff hostile names": (["--action", "diff_backup", "--backupfilein", f.zip_of("a.zip", [("dali1.tar", dali1)]),
                                    "--with", f.zip_of("b.zip", [("dali1.tar", tar_bytes([(
                                        "/etc/config/dali/dali1.bin", record_v3(HOSTILE)), ("status.txt", STATUS_TXT)]))])],
                                   1, r'  gear 0 name: "lamp" -> "\u001b]0;owned\u0007\u001b[2J\u007f\u009b1m"'),
            "put_backup model name": (put + [f.write("p.tar", rlc_tar)], 0, r"model_name=LUMARO-4\x1b[2J\x07", 64,
                                      (1, 1), ["--reply", "status=" + f.write("status.json", ESCAPED_STATUS)]),
            "get_backup status.txt": (["--action", "get_backup", "--ip", "{ip}", "--backupconfig", '["rlc"]',
                                       "--backupfileouttype", "directory", "--backupfileout",
                                       os.path.dirname(f.write("got/.keep", b""))], 0,
                                      "backup\tmodel name: LUMARO-4\\x1b[2J\\x07", 64, (0, 0),
                                      ["--reply", "rlc=" + f.write("rlc-reply.tar", tar_bytes([
                                          RLC[0], ("status.txt", ESCAPED_STATUS)]))]),
            "setup_channel status.txt": (["--action", "setup_channel", "--ip", "{ip}", "--channel", "1",
                                          "--channelgroupscsvfile", '"%s"' % os.path.join(SOURCE_DIR, "examples",
                                                                                          "groups.csv")], 0,
                                         "backup\tfirmware version: 1.5.0\\x1b]0;x\\x07", 64, (1, 1),
                                         ["--reply", "dali1=" + f.write("dali1-reply.tar", tar_bytes([(
                                             "/etc/config/dali/dali1.bin", record_v3()), ("status.txt",
                                                                                          ESCAPED_STATUS)]))]),
            "get_status model name": (["--action", "get_status", "--ip", "{ip}"], 0, "model_name=LUMARO-4\\x1b[2J\\x07",
                                      64, (0, 0), ["--reply", "status=" + f.write("status.json", ESCAPED_STATUS)]),
            "export_channel status.txt": (["--action", "export_channel", "--ip", "{ip}", "--channel", "1",
                                           "--channelcsvfile", '"e1.csv"'], 0,
                                          "backup\tfirmware version: 1.5.0\\x1b]0;x\\x07", 64, (0, 0),
                                          ["--reply", "dali1=" + f.write("dali1-export.tar", tar_bytes([(
                                              "/etc/config/dali/dali1.bin", record_v3(b"lamp")), ("status.txt",
                                                                                              ESCAPED_STATUS)]))]),
            "push_firmware information": (["--action", "push_firmware", "--ip", "{ip}", "--firmwarefile", f.firmware(
                "--description", HOSTILE.decode())], 0, "model_description=\\x1b]0;owned\\x07\\x1b[2J*", 64, (1, 1)),
        }
        with ThreadPoolExecutor(max_workers=4) as pool:
            failed = sum(pool.map(lambda item: self.check(item[0], *item[1]), cells.items()), [])
        self.assertEqual(failed, [])
        self.assertEqual(tarfile.open(os.path.join(self.folder, "in.tar")).getnames()[0], "/etc/config/dali/dali1.bin")

    def test_export_keeps_permissions(self):
        backup = self.write("keep.tar", tar_bytes([("/etc/config/dali/dali1.bin", record_v3(b"lamp")),
                                                   ("status.txt", STATUS_TXT)]))
        private = self.write("private.csv", b"old")
        os.chmod(private, 0o600)
        code, _, _ = run_cli("--action", "export_channel", "--backupfilein", backup, "--channel", "1",
                             "--channelcsvfile", '"%s"' % private)
        self.assertEqual((code, oct(os.stat(private).st_mode & 0o777)), (0, "0o600"))
        self.assertIn(b"lamp", pathlib.Path(private).read_bytes())

    def test_lying_sizes_in_backups_for_put_backup(self):
        rlc = entry("rlc.tar", tar_bytes(RLC))
        inputs = {  # name: (bytes, stderr lines, stdout line, (uploads, restores))
            "member.tar": (lying_tar("/etc/config/rlc/rlc.bin"), [],
                           "action_put_backup\terror reading '/etc/config/rlc/rlc.bin'", (0, 0)),
            "member.zip": (zip_bytes([entry("dali1.tar", lying_tar("/etc/config/dali/dali1.bin")), rlc]), [],
                           "action_put_backup\terror reading '/etc/config/dali/dali1.bin'", (1, 1)),
            "bomb.zip": (zip_bytes([bomb("dali1.tar", 2048), rlc]),
                         ["put_backup: entry 'dali1.tar' is larger than 64 MiB; not restored"], None, (1, 1)),
            "hello.tar": (tar_bytes([("hello.txt", b"hello\n")]),
                          ["put_backup: '*hello.tar': member 'hello.txt' is not a configuration file of the gateway; "
                           "nothing is uploaded"], None, (0, 0)),
        }
        for name, (data, errors, line, took_by_gateway) in inputs.items():
            with self.subTest(name):
                code, out, err, peak, took, took_by = self.run_cell(
                    ["--action", "put_backup", "--ip", "{ip}", "--backupfilein", self.write(name, data)])
                self.assertLess(took, 2)
                self.assertLess(peak, 64)
                self.assertEqual(code, 1)
                lines = message_lines(err)
                self.assertTrue(len(lines) == len(errors) and all(map(fnmatchcase, lines, errors)), lines)
                self.assertIn(line, out.decode(errors="replace").splitlines() + [None])
                self.assertEqual(took_by, took_by_gateway)

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
