"""varnu-site end to end against one gateway-sim playing a whole site (--gateways).

One scenario, step by step, as a site lives it: pin, back up, back up without change, rename a gear on one
gateway, back up, swap a gateway's hardware, restore. The history is read with the real git.
"""

import fcntl
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

from gateway import BUILD_DIR, GATEWAY_SIM, run_cli
from records import LAYOUT, crc16, gear_names, header

SITE = os.path.join(BUILD_DIR, "out", "cli", "varnu-site")
# Gear names set up on the three gateways of the report, one of them markup that must come out as text.
REPORT_NAMES = [["Reception downlight", '<b>&"x"'], ["Stair wall light"], ["Plant room batten", "Caf\u00e9 pendant"]]
HOOK = 'echo "%s $VARNU_GATEWAY $VARNU_PREVIOUS_STATE>$VARNU_STATE" >> "%s"'


class SiteSim:
    """gateway-sim with one gateway per line; restartable on the same ports with other options."""

    def __init__(self, folder):
        self.folder = folder
        self.process = None
        self.ports = []

    def start(self, lines):
        path = os.path.join(self.folder, "gateways.txt")
        with open(path, "w") as f:
            f.write("# one gateway per line\n")
            for i, line in enumerate(lines):
                port = ["--port", str(self.ports[i])] if self.ports else []
                log = ["--log", os.path.join(self.folder, "requests-%d.log" % i)]
                state = ["--state-dir", os.path.join(self.folder, "state-%d" % i)]
                f.write(" ".join(line + port + log + state) + "\n")
        self.process = subprocess.Popen([GATEWAY_SIM, "--gateways", path], stdout=subprocess.PIPE)
        ports = [int(self.process.stdout.readline().decode().rsplit(":", 1)[1]) for _ in lines]
        self.ports = self.ports or ports
        assert ports == self.ports, (ports, self.ports)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)
        self.process.stdout.close()

    def requests(self, i):
        with open(os.path.join(self.folder, "requests-%d.log" % i)) as f:
            return [line.split() for line in f]


class SiteScenario(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="site-test-")
        self.dir = self.temp.name
        self.site = os.path.join(self.dir, "building.csv")
        self.history = os.path.join(self.dir, "building.history")
        self.hooks = os.path.join(self.dir, "hooks.txt")
        self.sim = SiteSim(self.dir)

    def tearDown(self):
        if self.sim.process:
            self.sim.stop()
        self.temp.cleanup()

    def site_cmd(self, *args):
        result = subprocess.run([SITE] + [str(a) for a in args], capture_output=True, timeout=120)
        return result.returncode, result.stdout.decode(), result.stderr.decode()

    def site_events(self, *args):
        """Runs varnu-site with --events; keeps the run's events in self.events."""
        with tempfile.TemporaryFile() as events:
            result = subprocess.run([SITE, *args, "--events", str(events.fileno())], capture_output=True, timeout=120,
                                    pass_fds=(events.fileno(),))
            events.seek(0)
            self.events = [json.loads(line) for line in events.read().decode().splitlines()]
        return result.returncode, result.stdout.decode(), result.stderr.decode()

    def backup(self, *names):
        """Backs up (the gateways named), with the run's events."""
        code, out, err = self.site_events("backup", self.site, *names, "--time-limit", "3",
                                          "--on-change", HOOK % ("change", self.hooks),
                                          "--on-failure", HOOK % ("failure", self.hooks))
        return code, out + err

    def gateway_events(self):
        """The run's steps as {name: (index, total, outcome, reason)}, its notices, and its summary."""
        self.assertEqual(self.events[0], {"event": "start", "action": "site_backup", "gateway": None})
        steps = {e["name"]: (e["index"], e["total"], e["outcome"], e["reason"])
                 for e in self.events if e["event"] == "step" and e["kind"] == "gateway"}
        notices = [e["text"] for e in self.events if e["event"] == "notice"]
        summary = self.events[-1]
        return steps, notices, (summary["event"], summary["counts"], summary["result"], summary["exit_status"])

    def git(self, *args):
        return subprocess.run(["git", "-C", self.history] + list(args), capture_output=True, check=True,
                              timeout=60).stdout.decode()

    def commits(self):
        return int(self.git("rev-list", "--count", "HEAD"))

    def history_bytes(self):
        total = 0
        for root, _, files in os.walk(os.path.join(self.history, "objects")):
            total += sum(os.path.getsize(os.path.join(root, f)) for f in files)
        return total

    def hook_lines(self):
        if not os.path.exists(self.hooks):
            return []
        with open(self.hooks) as f:
            lines = f.read().splitlines()
        os.remove(self.hooks)
        return lines

    def rename_gear(self, gateway, slot, name):
        """Renames one gear of channel 1 in a stand-in's state folder (the stand-in reads it per request)."""
        path = os.path.join(self.dir, "state-%d" % gateway, "etc/config/dali/dali1.bin")
        with open(path, "rb") as f:
            record = bytearray(f.read())
        _, size, name_offset, _ = LAYOUT[header(record)[2]]
        at = 60 + size * slot + name_offset
        old = gear_names(record)[slot]
        record[at:at + 33] = name.encode().ljust(33, b"\0")
        struct.pack_into("<I", record, 4, 0)
        struct.pack_into("<I", record, 4, crc16(record))
        with open(path, "wb") as f:
            f.write(record)
        return old

    def test_site_lifecycle(self):
        self.sim.start([["--serial", "LM4-1"], ["--serial", "LM4-2", "--model", "LUMARO-2"],
                        ["--serial", "LM4-3"], ["--serial", "LM4-4", "--silent", "http"]])
        ports = self.sim.ports
        with open(self.site, "w") as f:
            f.write("# Building A\nname,address,model,serial,mac,notes\n")
            for i, name in enumerate(["hall-1", "hall-2", "hall-3", "attic"]):
                f.write("# row %d\n%s,127.0.0.1:%d,,,,\"note, %d\"\n" % (i, name, ports[i], i))

        with open(os.path.join(self.dir, "building.lock"), "w") as lock:  # another run holds the site
            fcntl.flock(lock, fcntl.LOCK_EX)
            code, out, err = self.site_cmd("pin", self.site)
            self.assertEqual(code, 1)
            self.assertIn("another run is using this site", err)
        code, out, err = self.site_cmd("pin", self.site, "hall-1", "hall-2", "hall-3")
        self.assertEqual(code, 0, err)
        with open(self.site) as f:
            text = f.read()
        self.assertIn("# row 1\nhall-2,127.0.0.1:%d,LUMARO-2,LM4-2,02:00:00:00:01:23,\"note, 1\"\n" % ports[1], text)
        self.assertIn("attic,127.0.0.1:%d,,,,\"note, 3\"\n" % ports[3], text)

        # First backup: one commit; the silent gateway is named, within its time limit, and its hooks fire.
        code, out = self.backup()
        self.assertEqual(code, 1, out)
        self.assertRegex(out, r"attic .*no answer")
        self.assertEqual(self.commits(), 1)
        steps, notices, summary = self.gateway_events()
        self.assertEqual({name: step[:3] for name, step in steps.items()},
                         {"hall-1": (1, 4, "done"), "hall-2": (2, 4, "done"), "hall-3": (3, 4, "done"),
                          "attic": (4, 4, "failed")})
        self.assertRegex(steps["attic"][3], r"^no answer: .+")
        self.assertEqual(notices, ["hall-%d: first backup" % i for i in (1, 2, 3)])
        self.assertEqual(summary, ("summary", {"gateway": {"done": 3, "failed": 1}}, "failed", 1))
        self.assertEqual(self.hook_lines(), ["change attic ok>no answer", "failure attic ok>no answer"])

        # Nothing changed: no commit, not one byte more, no hook.
        size = self.history_bytes()
        code, out = self.backup()
        self.assertEqual(code, 1, out)
        self.assertEqual((self.commits(), self.history_bytes(), self.hook_lines()), (1, size, []))

        old_name = self.rename_gear(1, 2, "Stair light")
        self.rename_gear(0, 1, "Not yet")
        code, out = self.backup("hall-2", "hall-3")
        self.assertEqual((code, self.commits()), (0, 2), out)
        renamed = "channel 1 gear 2 renamed '%s' → 'Stair light'" % old_name
        self.assertEqual(self.gateway_events(), ({"hall-2": (1, 2, "done", None), "hall-3": (2, 2, "done", None)},
                                                 ["hall-2: " + renamed],
                                                 ("summary", {"gateway": {"done": 2}}, "done", 0)))
        self.assertEqual(self.site_cmd("backup", self.site, "hall-9")[::2], (2, "varnu-site backup: no gateway "
                                                                              "'hall-9' in %s\n" % self.site))
        message = self.git("log", "-1", "--format=%B")
        changes = [line for line in message.splitlines() if ": " in line and not line.startswith("backup")]
        self.assertEqual(changes, ["hall-2: channel 1 gear 2 renamed '%s' → 'Stair light'" % old_name])
        code, out, err = self.site_cmd("diff", self.site, "hall-2")
        self.assertEqual(code, 1, err)
        self.assertIn('gear 2 name: "%s" -> "Stair light"' % old_name, out)
        self.assertIn("Stair light", self.git("log", "-p", "-1"))  # the diff driver decodes the archives
        code, out, _ = self.site_cmd("log", self.site, "hall-1")
        self.assertEqual(out.count("backup:"), 1, out)
        versions = json.loads(self.site_cmd("log", self.site, "hall-2", "--json")[1])["versions"]
        self.assertEqual([(v["summary"], v["changes"]) for v in versions],
                         [("backup: 1 of 2 gateways changed", ["hall-2: " + renamed]),
                          ("backup: 3 of 4 gateways changed", ["hall-2: first backup, 22 configurations"])])
        self.assertEqual(versions[0]["short"], self.git("rev-parse", "--short=10", "HEAD").strip())
        code, out, err = self.site_cmd("edit", self.site, "hall-2", "--name", "hall-9")
        self.assertEqual((code, err), (2, "varnu-site edit: 'hall-2' cannot be renamed: its versions in the history "
                                          "are kept under that name. Nothing changed.\n"))
        listed = json.loads(self.site_cmd("list", self.site, "--json")[1])
        self.assertEqual(listed["site"], {"path": os.path.realpath(self.site), "name": "building", "installer": None,
                                          "notes": [], "history": True})
        rows = {g["name"]: (g["changed"], g["state"], g["last_backup"] is None, g["firmware"], g["pinned"])
                for g in listed["gateways"]}
        self.assertEqual(rows, {"hall-1": ("", "ok", False, "1.5.0", True), "hall-2": (renamed, "ok", False, "1.5.0", True),
                                "hall-3": ("", "ok", False, "1.5.0", True),
                                "attic": ("", "no answer", True, None, False)})
        # A state file of an earlier version (five fields) still reads; the firmware then comes from the history.
        state_path = os.path.join(self.dir, "building.state")
        with open(state_path) as f:
            state = f.read()
        with open(state_path, "w") as f:
            f.write("".join("\t".join(line.split("\t")[:5]) + "\n" for line in state.splitlines()))
        listed = json.loads(self.site_cmd("list", self.site, "--json")[1])["gateways"]
        self.assertEqual([(g["firmware"], g["changed"], g["state"]) for g in listed],
                         [("1.5.0", "", "ok")] * 3 + [(None, "", "no answer")])
        with open(state_path, "w") as f:
            f.write(state)

        # Other hardware at hall-3's address: refused for backup and restore, once in the hooks.
        self.sim.stop()
        self.sim.start([["--serial", "LM4-1"], ["--serial", "LM4-2", "--model", "LUMARO-2"],
                        ["--serial", "LM4-9"], ["--serial", "LM4-4", "--silent", "http"]])
        for _ in range(2):
            code, out = self.backup()
            self.assertRegex(out, r"hall-3 .*other gateway at this address: reports serial 'LM4-9' where 'LM4-3'")
            self.assertEqual(self.gateway_events()[0]["hall-3"], (3, 4, "refused", "other gateway at this address: "
                                                                  "reports serial 'LM4-9' where 'LM4-3' is pinned"))
        self.assertEqual(self.hook_lines(), ["change hall-3 ok>other gateway at this address",
                                             "failure hall-3 ok>other gateway at this address"])
        code, out, err = self.site_cmd("status", self.site, "--json", "--time-limit", "3")
        states = {g["name"]: (g["state"], g["failing_since"] is not None) for g in json.loads(out)}
        self.assertEqual(states, {"hall-1": ("ok", False), "hall-2": ("ok", False),
                                  "hall-3": ("other gateway at this address", True), "attic": ("no answer", True)})
        code, out, err = self.site_events("restore", self.site, "hall-3")
        self.assertEqual(code, 1)
        self.assertIn("other gateway at this address", err)
        self.assertEqual([(e["event"], e.get("text", e.get("result"))) for e in self.events[1:]],
                         [("warning", "other gateway at this address: hall-3 reports serial 'LM4-9' where 'LM4-3' is "
                                      "pinned; nothing restored"), ("summary", "failed")])
        code, out, err = self.site_cmd("restore", self.site, "hall-3", "--plan", "--json", "--from",
                                       versions[-1]["short"])
        plan = json.loads(out)
        self.assertEqual((code, plan["identity"], plan["refused"], len(plan["configurations"])),
                         (1, "other gateway at this address: reports serial 'LM4-9' where 'LM4-3' is pinned", 0, 22))
        dali1 = [c for c in plan["configurations"] if c["name"] == "dali1"][0]
        self.assertEqual((dali1["outcome"], dali1["from"], dali1["reason"]), ("unchanged", dali1["to"], None))
        self.assertIsInstance(dali1["from"], int)
        self.assertEqual(json.loads(self.site_cmd("restore", self.site, "hall-1", "--plan", "--json")[1])["identity"],
                         "ok")
        self.assertFalse([r for r in self.sim.requests(2) if r[0] in ("tftp", "restore")])

        code, out, err = self.site_events("restore", self.site, "hall-3", "--replace")
        self.assertEqual(code, 0, out + err)
        steps = [(e["kind"], e["outcome"]) for e in self.events if e["event"] == "step"]
        self.assertEqual((self.events[0]["action"], steps, self.events[-1]["result"]),
                         ("put_backup", [("configuration", "done")] * 22, "done"))
        self.assertEqual(len([r for r in self.sim.requests(2) if r[0] == "restore" and r[1] == "took"]), 22)
        with open(self.site) as f:
            self.assertIn("hall-3,127.0.0.1:%d,LUMARO-4,LM4-9," % ports[2], f.read())
        self.assertIn("hall-3: replaced by serial 'LM4-9'", self.git("log", "-1", "--format=%B"))
        code, out = self.backup()
        self.assertRegex(out, r"hall-3 .*backed up, no change")
        self.assertEqual(self.hook_lines(), ["change hall-3 other gateway at this address>ok"])

    def pdf_pages(self, html):
        """The report printed to PDF by headless Chromium (without a network where possible), as text per page."""
        if not (shutil.which("chromium") and shutil.which("pdftotext")):
            self.skipTest("chromium or pdftotext (poppler-utils) missing: scripts/install-deps")
        pdf = os.path.join(self.dir, "report.pdf")
        command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                   "--disable-background-networking", "--user-data-dir=" + os.path.join(self.dir, "chromium"),
                   "--print-to-pdf=" + pdf, "file://" + html]
        if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode == 0:
            command = ["unshare", "--net"] + command
        subprocess.run(command, capture_output=True, check=True, timeout=120)
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, check=True).stdout.decode()
        return text.split("\f")[:-1]

    def test_handover_report(self):
        self.sim.start([["--serial", "LM4-1"], ["--serial", "LM4-2"], ["--serial", "LM4-3"]])
        with open(self.site, "w") as f:
            f.write("# site: Building <A> & Co\n# installer: Lumen & Sons\n# note: handed over \"as is\"\n"
                    "name,address,model,serial,mac,notes\n")
            for i, name in enumerate(["hall-1", "hall-2", "hall-3"]):
                f.write("%s,127.0.0.1:%d,,,,%s\n" % (name, self.sim.ports[i], "<i>cabinet</i>" if i == 1 else ""))
        for i, names in enumerate(REPORT_NAMES):
            csv = os.path.join(self.dir, "channel-%d.csv" % i)
            with open(csv, "w") as f:
                f.write("#dali-channel-csv-version: 1\n")
                for slot, name in enumerate(names):
                    f.write('1,%d,%d,"%s","[%d]",254,null,254,1,7,0,[]\n' % (slot, slot, name.replace('"', '""'), slot))
            code, out, err = run_cli("--action=setup_channel", "--ip=127.0.0.1:%d" % self.sim.ports[i], "--channel=[1]",
                                     "--channelcsvfile=" + json.dumps([csv]))
            self.assertEqual(code, 0, out + err)
        code, out = self.backup()
        self.assertEqual(code, 0, out)
        with open(self.site, "a") as f:  # a gateway added after the backup: in the report, without a backup
            f.write("spare,127.0.0.1:9,,,,\n")

        html = os.path.join(self.dir, "report.html")
        code, out, err = self.site_cmd("report", self.site, "--html", html)
        self.assertEqual((code, err), (0, "varnu-site report: spare: no backup yet\n"))
        with open(html, encoding="utf-8") as f:
            source = f.read()
        self.assertIn("&lt;b&gt;&amp;&quot;x&quot;", source)
        self.assertNotIn("<b>&", source)
        self.assertNotRegex(source, r"<script|<link|src=|url\(|https?:")  # self-contained

        pages = self.pdf_pages(html)
        text = "\n".join(pages)
        for name in [n for names in REPORT_NAMES for n in names] + ["Building <A> & Co", "Lumen & Sons",
                                                                    '"as is"', "<i>cabinet</i>"]:
            self.assertIn(name, text)
        # The cover, then every gateway from a new page; one backed-up gateway of the stand-in takes two.
        starts = [i for i, page in enumerate(pages) if page.lstrip().startswith("Gateway ")]
        self.assertEqual([pages[i].split()[1] for i in starts], ["hall-1", "hall-2", "hall-3", "spare"])
        self.assertEqual(starts, [1, 3, 5, 7])
        self.assertEqual(len(pages), 1 + 3 * 2 + 1)
        self.assertIn("No backup yet", pages[7])

        code, out, err = self.site_cmd("report", self.site, "hall-3", "--html", "-")
        self.assertEqual(code, 0, err)
        self.assertEqual(re.findall(r"<h2>Gateway ([^<]*)</h2>", out), ["hall-3"])
        folder = os.path.join(self.dir, "backup")
        os.mkdir(folder)
        run_cli("--action=get_backup", "--ip=127.0.0.1:%d" % self.sim.ports[0], "--backupfileout", folder)
        code, out, err = self.site_cmd("report", "--backup", folder, "--html", "-")
        self.assertEqual(code, 0, err)
        self.assertEqual(re.findall(r"<h2>Gateway ([^<]*)</h2>", out), ["LM4-1"])
        self.assertIn("&lt;b&gt;&amp;&quot;x&quot;", out)

    def test_what_a_failing_gateway_gave_is_kept(self):
        self.sim.start([["--fail", "cd2=500"]])
        with open(self.site, "w") as f:
            f.write("name,address,model,serial,mac,notes\nhall-1,127.0.0.1:%d,,,,\n" % self.sim.ports[0])
        code, out = self.backup()
        self.assertEqual(code, 1, out)
        self.assertRegex(out, r"hall-1 .*backup failed: not fetched: cd2; kept in the history: 21 configurations")
        stored = self.git("ls-tree", "--name-only", "HEAD", "hall-1/").split()
        self.assertEqual(len(stored), 21)
        self.assertNotIn("hall-1/cd2.tar", stored)
        self.assertEqual(self.hook_lines(), ["change hall-1 ok>backup failed", "failure hall-1 ok>backup failed"])

    def test_an_interrupted_restore_leaves_no_temporaries(self):
        self.sim.start([["--tftp-stall", "1"]])
        with open(self.site, "w") as f:
            f.write("name,address,model,serial,mac,notes\nhall-1,127.0.0.1:%d,,,,\n" % self.sim.ports[0])
        self.assertEqual(self.backup()[0], 0)
        scratch = os.path.join(self.dir, "tmp")
        os.mkdir(scratch)
        restore = subprocess.Popen([SITE, "restore", self.site, "hall-1"], env=dict(os.environ, TMPDIR=scratch),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # Interrupted while the stand-in holds the upload, the archive and its folder in place.
        deadline = time.monotonic() + 30
        archives = []
        while not archives and time.monotonic() < deadline:
            time.sleep(0.05)
            archives = [f for f in os.listdir(scratch) if os.path.exists(os.path.join(scratch, f, "restore.zip"))]
        self.assertTrue(archives)
        time.sleep(1)
        self.assertIsNone(restore.poll())
        restore.send_signal(signal.SIGINT)
        _, err = restore.communicate(timeout=30)
        self.assertEqual(restore.returncode, 130)
        self.assertTrue(err.decode().endswith("varnu-site: interrupted; temporary files removed.\n"), err)
        self.assertEqual(os.listdir(scratch), [])

    def test_site_file_with_errors_runs_nothing(self):
        with open(self.site, "w") as f:
            f.write("name,address,model,serial,mac,notes\na,127.0.0.1:9,,,,\na,127.0.0.1:9,,,,\n")
        for command in (["status"], ["pin"], ["backup"], ["log"], ["diff", "a"], ["restore", "a"], ["list", "--json"],
                        ["add", "b", "127.0.0.1:9"], ["edit", "a", "--notes", "x"], ["remove", "a"]):
            code, out, err = self.site_cmd(command[0], self.site, *command[1:])
            self.assertEqual(code, 2, command)
            self.assertIn("building.csv:3: row 'a': the name is already used on line 2", err)
        self.assertEqual(json.loads(self.site_cmd("list", self.site, "--json")[1]),
                         {"errors": [self.site + ":3: row 'a': the name is already used on line 2"]})
        self.assertFalse(os.path.exists(self.history))

    def test_editing_the_site_file(self):
        """Each change rewrites the file in one step, other lines byte for byte; a refused one leaves it as it was."""
        top = "# Building A\r\nname,address,model,serial,mac,notes\r\n# wing B\r\n"
        pinned = "hall-2,127.0.0.1:8,LUMARO-2,LM2-1,02:00:00:00:01:23,  stairwell \r\n"
        hall_3 = 'hall-3,127.0.0.1:9,,,,"cabinet, ""E1"""\r\n'
        steps = [  # (command, arguments, exit status, the file after (None: as before), a line on standard error)
            ("create", ["--title", "Office A"], 2, None, "exists already"),
            ("add", ["hall-3", "127.0.0.1:9", "--notes", 'cabinet, "E1"'], 0, top + pinned + hall_3, None),
            ("add", ["hall-2", "127.0.0.1:10"], 2, None, "the name is already used on line 4"),
            ("add", ["hall/4", "127.0.0.1:10"], 2, None, "name 'hall/4' is not usable"),
            ("edit", ["hall-3", "--address", "http://x"], 2, None, "address 'http://x' is not a host"),
            ("edit", ["hall-3", "--notes", "bell\x07"], 2, None, "notes hold control characters"),
            ("edit", ["hall-3", "--name", "hall-2"], 2, None, "the name is already used"),
            ("edit", ["hall-9", "--notes", "x"], 2, None, "no gateway 'hall-9'"),
            ("edit", ["hall-2", "--unpin", "--address", "127.0.0.1:11"], 0,
             top + "hall-2,127.0.0.1:11,,,,stairwell\r\n" + hall_3, None),
            ("edit", ["hall-3", "--name", "hall-1", "--notes", ""], 0,
             top + "hall-2,127.0.0.1:11,,,,stairwell\r\nhall-1,127.0.0.1:9,,,,\r\n", None),
            ("remove", ["hall-2"], 0, top + "hall-1,127.0.0.1:9,,,,\r\n", None),
            ("remove", ["hall-1"], 0, top, None),
        ]
        with open(self.site, "w", newline="") as f:
            f.write(top + pinned)
        for command, arguments, status, text, error in steps:
            with open(self.site, newline="") as f:
                before = f.read()
            code, out, err = self.site_cmd(command, self.site, *arguments)
            with open(self.site, newline="") as f:
                self.assertEqual((command, arguments, code, f.read()), (command, arguments, status, text or before), err)
            self.assertIn(error or "", err)
        self.assertEqual(json.loads(self.site_cmd("list", self.site, "--json")[1])["gateways"], [])

        os.remove(self.site)
        code, _, err = self.site_cmd("create", os.path.join(self.dir, "missing", "site.csv"))
        self.assertEqual(code, 1)
        self.assertIn("lock file %s cannot be made" % os.path.join(self.dir, "missing", "site.lock"), err)
        self.assertEqual(self.site_cmd("create", self.site, "--title", "Office A")[0], 0)
        self.assertEqual(self.site_cmd("backup", self.site, "--events", "99")[::2],
                         (2, "varnu-site backup: --events 99: not a descriptor open for writing\n"))
        with open(self.site) as f:
            self.assertEqual(f.read(), "# site: Office A\nname,address,model,serial,mac,notes\n")
        with open(os.path.join(self.dir, "building.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.assertEqual(self.site_cmd("add", self.site, "a", "127.0.0.1:9")[:1] + (os.path.getsize(self.site),),
                             (1, 53))


if __name__ == "__main__":
    unittest.main()
