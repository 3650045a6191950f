"""End-to-end: a building of 20 gateways in the window, as an installer works through it. The kit's page
drives the real varnu-site and varnu-cli against one stand-in playing every gateway."""

import json
import os
import subprocess
import unittest

import shellharness as h
from gateway import run_cli
from test_shell_bridge import BridgeTestCase

GATEWAYS = 20
# The gear set up on the first three gateways before the first backup; the second one's is then renamed.
GEAR = [["Reception downlight", "Reception wall washer"], ["Stair wall light"], ["Plant room batten"]]
RENAMED = "Stair light, renamed"


class SiteWindowTest(BridgeTestCase):

    def channel(self, i, action, names=None):
        """Sets up channel 1 of gateway i with gear of `names`, or exports it: its gear names."""
        csv = os.path.join(self.sim.folder, "channel-%d.csv" % i)
        if names:
            with open(csv, "w") as f:
                f.write("#dali-channel-csv-version: 1\n")
                f.writelines('1,%d,%d,"%s","[%d]",254,null,254,1,7,0,[]\n' % (n, n, name, n)
                             for n, name in enumerate(names))
        status, out, err = run_cli("--action=" + action, "--ip=127.0.0.1:%d" % self.sim.ports[i], "--channel=1",
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
        """Starts a run from the page: its run view's rows and summary, and the page's outcome."""
        seen = len(self.shell.diagnostics())
        start(seen)
        view = self.run_view(seen)
        h.wait_until(lambda: not self.text("#" + outcome_id).startswith(("Starting", "Waiting", "Running")), 60,
                     what="the page's outcome")
        return view, self.text("#" + outcome_id)

    def back_up_all(self, hall_2_changed):
        view, outcome = self.run_in_view(lambda seen: self.click("site-backup-all"), "site-outcome")
        self.assertEqual(outcome, "Done: every gateway of the site was backed up.")
        self.assertEqual(sorted(view["rows"]), sorted("✓  hall-%d: done" % (i + 1) for i in range(GATEWAYS)))
        self.assertEqual(view["summary"], "Done: %d gateways: %d done." % (GATEWAYS, GATEWAYS))
        # The page reads the site file again after the run.
        h.wait_until(lambda: hall_2_changed in self.cells("changed")["hall-2"], 20, what="hall-2's change")
        return self.cells("changed")

    def test_a_site_of_twenty_gateways_from_opening_to_the_handover_report(self):
        site = self.start_site([["--serial", "LM4-%d" % (i + 1)] for i in range(GATEWAYS)],
                               ["hall-%d,127.0.0.1:%%d,,,,floor %d" % (i + 1, i // 5) for i in range(GATEWAYS)])
        for i, names in enumerate(GEAR):
            self.channel(i, "setup_channel", names)
        self.click("tab-site")
        seen = len(self.shell.diagnostics())
        self.click("site-open")
        self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen), "dialog file")
        self.display.type_into(self.display.wait_for_window("^Choose a site file$"), site)
        states = "[...document.querySelectorAll('#site-rows tr')].map(r => r.dataset.state)"
        h.wait_until(lambda: self.page.evaluate(states) == ["ok"] * GATEWAYS, 5, interval=0.1,
                     what="the states of all %d gateways" % GATEWAYS)

        self.assertEqual(set(self.back_up_all("first backup").values()), {"first backup"})
        before = self.channel(1, "export_channel")
        self.channel(1, "setup_channel", [RENAMED])
        changed = self.back_up_all(RENAMED)
        del changed["hall-2"]
        self.assertEqual(set(changed.values()), {"–"})

        # The history of hall-2: both versions, and the decoded difference between them.
        self.page.evaluate("document.querySelector('#site-rows tr[data-name=\"hall-2\"]').click()")
        self.click("site-row-history")
        h.wait_until(lambda: self.page.evaluate("document.querySelectorAll('#site-versions > li').length") == 2, 20,
                     what="the versions of hall-2")
        self.page.evaluate("document.querySelectorAll('#site-versions input').forEach(tick => tick.click())")
        self.click("site-diff")
        h.wait_until(lambda: RENAMED in self.text("#site-diff-view"), 20, what="the difference")
        self.assertIn(GEAR[1][0], self.text("#site-diff-view"))

        # The earlier version goes back onto hall-2 once the question is answered.
        def restore(seen):
            self.click("restore-1")
            self.assertIn("Restore version ", self.confirm("native_actionRestore", seen, True))
        view, outcome = self.run_in_view(restore, "site-restore-outcome")
        self.assertEqual(outcome, "Done: the version was restored onto the gateway.", view)
        self.assertEqual(self.channel(1, "export_channel"), before)
        self.back_up_all(GEAR[1][0])

        # The handover report of three gateways, printed by the window: the cover, then two pages per gateway.
        report = os.path.join(self.tree.work, "handover")
        answer = self.read("native_siteReport(%s, '[\"hall-1\", \"hall-2\", \"hall-3\"]')" % json.dumps(site),
                           "^Save the handover report as PDF$", report, len(self.shell.diagnostics()),
                           kind="dialog save")
        self.assertEqual(answer, {"path": report + ".pdf"})
        text = subprocess.run(["pdftotext", report + ".pdf", "-"], capture_output=True, check=True).stdout.decode()
        for name in [n for names in GEAR for n in names] + ["Test building"]:
            self.assertIn(name, text)
        self.assertNotIn(RENAMED, text)
        self.assertEqual(len(text.split("\f")[:-1]), 1 + 3 * 2)

        # One gateway as it is now, read by the window for its report.
        live = os.path.join(self.tree.work, "hall-1 now.pdf")
        answer = self.read("native_gatewayReport('127.0.0.1:%d')" % self.sim.ports[0],
                           "^Save the handover report as PDF$", live, len(self.shell.diagnostics()), kind="dialog save")
        self.assertEqual(answer, {"path": live})
        text = subprocess.run(["pdftotext", live, "-"], capture_output=True, check=True).stdout.decode()
        for name in GEAR[0]:
            self.assertIn(name, text)


if __name__ == "__main__":
    h.isolate()
    unittest.main()
