"""End-to-end: a building of 20 gateways in the window, as an installer works through it. The kit's page
drives the real varnu-site and varnu-cli against one stand-in playing every gateway: open the site, see
the states, back up all, change one gateway, back up again, read the difference, restore the earlier
version after the question, and print the handover report of three gateways to PDF."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

import shellharness as h
from gateway import run_cli
from test_shell_bridge import BridgeTestCase
from varnu_site_test import SiteSim

GATEWAYS = 20
# The gear set up on the first three gateways before the first backup; the second one's then renamed.
GEAR = [["Reception downlight", "Reception wall washer"], ["Stair wall light"], ["Plant room batten"]]
RENAMED = "Stair light, renamed"


class SiteWindowTest(BridgeTestCase):

    def setUp(self):
        super().setUp()
        folder = tempfile.mkdtemp(prefix="varnkit-site-")
        self.addCleanup(shutil.rmtree, folder)
        self.sim = SiteSim(folder)
        self.sim.start([["--serial", "LM4-%d" % (i + 1)] for i in range(GATEWAYS)])
        self.addCleanup(self.sim.stop)

    def address(self, i):
        return "127.0.0.1:%d" % self.sim.ports[i]

    def set_up_gear(self, i, names):
        csv = os.path.join(self.sim.folder, "channel-%d.csv" % i)
        with open(csv, "w") as f:
            f.write("#dali-channel-csv-version: 1\n")
            for slot, name in enumerate(names):
                f.write('1,%d,%d,"%s","[%d]",254,null,254,1,7,0,[]\n' % (slot, slot, name, slot))
        status, out, err = run_cli("--action=setup_channel", "--ip=" + self.address(i), "--channel=[1]",
                                   "--channelcsvfile=" + json.dumps([csv]))
        self.assertEqual(status, 0, out + err)

    def gear_names(self, i):
        """Channel 1's gear names as the gateway holds them now."""
        csv = os.path.join(self.sim.folder, "export-%d.csv" % i)
        status, out, err = run_cli("--action=export_channel", "--ip=" + self.address(i), "--channel=1",
                                   "--channelcsvfile=" + json.dumps([csv]))
        self.assertEqual(status, 0, out + err)
        with open(csv) as f:
            return [line.split(",")[3].strip('"') for line in f if line[:1].isdigit()]

    def click(self, element_id):
        self.page.evaluate("document.getElementById(%s).click()" % json.dumps(element_id))

    def text(self, selector):
        return self.page.evaluate("(document.querySelector(%s) || {}).textContent" % json.dumps(selector))

    def cells(self, column):
        return self.page.evaluate("Object.fromEntries([...document.querySelectorAll('#site-rows tr')].map(r => "
                                  "[r.dataset.name, r.querySelector('[data-column=%s]').textContent]))" % column)

    def run_in_view(self, start, outcome_id):
        """Starts a run from the page; its run view's rows and summary, and the page's outcome."""
        seen = len(self.shell.diagnostics())
        start(seen)
        view = self.run_view(seen)
        h.wait_until(lambda: not self.text("#" + outcome_id).startswith(("Starting", "Waiting", "Running")), 60,
                     what="the page's outcome")
        return view, self.text("#" + outcome_id)

    def back_up_all(self):
        view, outcome = self.run_in_view(lambda seen: self.click("site-backup-all"), "site-outcome")
        self.assertEqual(outcome, "Done: every gateway of the site was backed up.")
        self.assertEqual(sorted(view["rows"]), sorted("✓  hall-%d: done" % (i + 1) for i in range(GATEWAYS)))
        self.assertEqual(view["summary"], "Done: %d gateways: %d done." % (GATEWAYS, GATEWAYS))

    def test_a_site_of_twenty_gateways_from_opening_to_the_handover_report(self):
        for i, names in enumerate(GEAR):
            self.set_up_gear(i, names)
        site = os.path.join(self.sim.folder, "building.csv")
        with open(site, "w") as f:
            f.write("# site: Office building A\nname,address,model,serial,mac,notes\n")
            f.writelines("hall-%d,%s,,,,floor %d\n" % (i + 1, self.address(i), i // 5) for i in range(GATEWAYS))
        self.start(tool="real")

        self.click("tab-site")
        seen = len(self.shell.diagnostics())
        self.click("site-open")
        self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen), "dialog file")
        self.display.type_into(self.display.wait_for_window("^Choose a site file$"), site)
        states = "[...document.querySelectorAll('#site-rows tr')].map(r => r.dataset.state)"
        h.wait_until(lambda: self.page.evaluate(states) == ["ok"] * GATEWAYS, 5, interval=0.1,
                     what="the states of all %d gateways" % GATEWAYS)
        self.assertEqual(self.text("#site-name"), "Office building A")

        self.back_up_all()
        # The page reads the site file again after the run: every row has its first backup.
        h.wait_until(lambda: set(self.cells("changed").values()) == {"first backup"}, 20, what="the first backups")
        before = self.gear_names(1)
        self.set_up_gear(1, [RENAMED])
        self.assertNotEqual(self.gear_names(1), before)
        self.back_up_all()
        h.wait_until(lambda: RENAMED in self.cells("changed")["hall-2"], 20, what="hall-2 changed")
        changed = self.cells("changed")
        del changed["hall-2"]
        self.assertEqual(set(changed.values()), {"–"})

        # The history of hall-2: both versions, and the decoded difference between them.
        self.page.evaluate("document.querySelector('#site-rows tr[data-name=\"hall-2\"]').click()")
        self.click("site-row-history")
        versions = "document.querySelectorAll('#site-versions > li').length"
        h.wait_until(lambda: self.page.evaluate(versions) == 2, 20, what="the versions of hall-2")
        self.page.evaluate("document.querySelectorAll('#site-versions input').forEach(tick => tick.click())")
        self.click("site-diff")
        h.wait_until(lambda: self.page.evaluate("!document.getElementById('site-diff-view').hidden"), 20,
                     what="the difference")
        difference = self.text("#site-diff-view")
        self.assertIn(GEAR[1][0], difference)
        self.assertIn(RENAMED, difference)

        # The earlier version goes back onto hall-2 once the question is answered.
        def restore(seen):
            self.click("restore-1")
            self.assertIn("Restore version ", self.confirm("native_actionRestore", seen, True))
        view, outcome = self.run_in_view(restore, "site-restore-outcome")
        self.assertEqual(outcome, "Done: the version was restored onto the gateway.", view)
        self.assertEqual(self.gear_names(1), before)
        self.back_up_all()
        h.wait_until(lambda: GEAR[1][0] in self.cells("changed")["hall-2"], 20, what="hall-2 changed back")

        # The handover report of three gateways, printed by the window.
        report = os.path.join(self.tree.work, "handover")
        answer = self.read("native_siteReport(%s, '[\"hall-1\", \"hall-2\", \"hall-3\"]')" % json.dumps(site),
                           "^Save the handover report as PDF$", report, len(self.shell.diagnostics()),
                           kind="dialog save")
        self.assertEqual(answer, {"path": report + ".pdf"})
        text = subprocess.run(["pdftotext", "-layout", report + ".pdf", "-"], capture_output=True,
                              check=True).stdout.decode()
        for name in [n for names in GEAR for n in names] + ["Office building A"]:
            self.assertIn(name, text)
        self.assertNotIn(RENAMED, text)
        # The cover, then two pages for each gateway of the stand-in.
        self.assertEqual(len(text.split("\f")[:-1]), 1 + 3 * 2)


if __name__ == "__main__":
    h.isolate()
    unittest.main()
