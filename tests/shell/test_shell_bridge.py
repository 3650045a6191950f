"""End-to-end: the native functions the kit's page calls, their notices and dialogs, the
console-tool runs they make, and how a run is stopped. Under Xvfb; the dialogs are driven
with xdotool.

Most cases run a stand-in tool that records its arguments; the last ones run the real
varnu-cli against the gateway stand-in."""

import glob
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import zipfile

import shellharness as h
from gateway import BUILD_DIR, GATEWAY_SIM, Gateway, run_cli
from varnu_site_test import SiteSim

FWMAKER = os.path.join(BUILD_DIR, "tools", "dev", "fwmaker")

FUNCTIONS = ("native_actionBackup", "native_actionRestore", "native_actionFirmwareUpgrade")
DIALOG_TITLES = {"native_actionBackup": "^Choose the folder for the backup of ",
                 "native_actionRestore": "^Choose a backup to restore$",
                 "native_actionFirmwareUpgrade": "^Choose a firmware package$",
                 "native_actionSetupChannel": "^Choose the CSV file for channel [1-4]$",
                 "native_actionExportChannel": "^Save channel [1-4] of .* as CSV$"}
# The question asked before an action writes to the gateway: its title and the key that agrees.
QUESTIONS = {"native_actionRestore": ("^Restore the gateway\\?$", "alt+r"),
             "native_actionFirmwareUpgrade": ("^Upgrade the gateway\\?$", "alt+u"),
             "native_actionSetupChannel": ("^Set up the channel\\?$", "alt+s")}
MISSING = "notice File Path: Missing or wrong arguments."
# Windows console green, as the console window paints the tool's completion lines.
GREEN = (0x13, 0xA1, 0x0E)
# Markup that, rendered, paints its text bright green and makes a link of it.
MARKUP = "<a href='file:///usr/bin/xterm'><font color=#00ff00>LUMARO-2</font></a>"
# A site program whose report asks for outside resources: the page that prints it must load none of them.
LEAKY_REPORT = r'''#!/usr/bin/env python3
import sys
html = [a[len("--html="):] for a in sys.argv if a.startswith("--html=")][0]
with open(html, "w") as f:
    f.write('<html><head><link rel="stylesheet" href="%(url)s?leak=css"></head><body><h1>Handover of %%s</h1>'
            '<img src="%(url)s?leak=img"><iframe src="%(url)s?leak=frame"></iframe>'
            '<p style="break-before: page">Second page</p></body></html>' %% sys.argv[3])
'''


class BridgeTestCase(h.ShellTestCase):

    def setUp(self):
        super().setUp()
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")

    def start(self, tool="fake", env=None):
        """The shell on the kit's own page, served by the built server."""
        self.tree = self.make_tree(tool=tool, server="built")
        self.shell = self.start_shell(self.tree, env=env)
        self.page = self.shell.page(h.KIT_URL)

    def start_with_held_tool(self):
        """Starts with a stand-in tool that keeps running until the returned file is removed."""
        hold = tempfile.NamedTemporaryFile(prefix="varnkit-hold-", delete=False).name
        self.addCleanup(lambda: os.path.exists(hold) and os.remove(hold))
        self.start(env={"VARNKIT_TEST_TOOL_HOLD": hold})
        return hold

    def call(self, expression):
        """Starts a call in the page; the page waits in it until the shell answers."""
        return h.Background(self.page.evaluate, expression)

    def dismiss_notice(self, expected, seen_before, title="^File Path$"):
        self.assertEqual(self.shell.wait_for_diagnostic("notice", after=seen_before), expected)
        notice = self.display.wait_for_window(title)
        self.display.type_into(notice, "", then="Return")

    def choose(self, function, path, seen_before, confirm=True):
        """Answers the function's dialog with `path`, typed as the user would, and then the
        question asked before a restore or upgrade writes (unless confirm is None)."""
        kind = {"native_actionBackup": "dialog folder", "native_actionExportChannel": "dialog save"}.get(function,
                                                                                                      "dialog file")
        self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen_before), kind)
        dialog = self.display.wait_for_window(DIALOG_TITLES[function])
        self.display.type_into(dialog, path)
        if function in QUESTIONS and confirm is not None:
            return self.confirm(function, seen_before, confirm)
        return None

    def confirm(self, function, seen_before, go):
        """Answers the question before writing; returns its text."""
        asked = self.shell.wait_for_diagnostic("confirm ", after=seen_before)
        title, key = QUESTIONS[function]
        box = self.display.wait_for_window(title)
        self.display.type_into(box, "", then=key if go else "Escape")
        self.shell.wait_for_diagnostic("answer go" if go else "answer cancel", after=seen_before)
        return json.loads(asked[len("confirm "):])[0]

    def read(self, expression, dialog, path, seen_before, kind="dialog file"):
        """A Promise's JSON answer after the dialog it opens was answered with `path` (Escape when empty)."""
        answer = h.Background(self.page.evaluate, expression, True)
        self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen_before), kind)
        self.display.type_into(self.display.wait_for_window(dialog), path, then="Return" if path else "Escape")
        return json.loads(answer.result(60))

    def start_site(self, gateway_lines, rows):
        """One stand-in playing a gateway per line, the shell with the real tools, and the site file building.csv
        of `rows` (%d: the gateways' ports in order)."""
        self.sim = SiteSim(tempfile.mkdtemp(prefix="varnkit-site-"))
        self.addCleanup(shutil.rmtree, self.sim.folder)
        self.sim.start(gateway_lines)
        self.addCleanup(self.sim.stop)
        self.start(tool="real")
        return self.site_file("building.csv", [row % port for row, port in zip(rows, self.sim.ports)])

    def site_file(self, name, rows):
        path = os.path.join(self.tree.work, name)
        with open(path, "w") as f:
            f.write("# site: Test building\nname,address,model,serial,mac,notes\n" + "".join(r + "\n" for r in rows))
        return path

    def console(self):
        return self.display.wait_for_window("^varnu-cli: ")

    def console_result(self, seen_before, timeout=30):
        """(exit status, text) of the console window of the run that ended."""
        line = self.shell.wait_for_diagnostic("console ", after=seen_before, timeout=timeout)
        status, text = line[len("console "):].split(" ", 1)
        return int(status), json.loads(text)[0]

    def run_view(self, seen_before):
        """The rows and summary line of the run view of the run that ended."""
        view = json.loads(self.shell.wait_for_diagnostic("run view ", after=seen_before)[len("run view "):])
        summary, log = view["summary"].rsplit("\n", 1)
        return {"rows": [r["mark"] + "  " + r["text"] for r in view["rows"]], "summary": summary, "log": log}

    def firmware_package(self, model, version):
        """A firmware package made by the developer utility fwmaker."""
        if not os.path.exists(FWMAKER):
            self.fail("fwmaker is not built")
        folder = tempfile.mkdtemp(prefix="varnkit-fw-")
        self.addCleanup(shutil.rmtree, folder)
        image, package = os.path.join(folder, "image.binary"), os.path.join(folder, "firmware package.bin")
        subprocess.run([FWMAKER, "image", image, "--model", model, "--version", version, "--size", "1835192"],
                       check=True)
        subprocess.run([FWMAKER, "package", package, image], check=True)
        return package


class ArgumentTest(BridgeTestCase):

    def test_missing_or_non_string_address_shows_the_notice_and_returns_minus_one(self):
        self.start()
        for function in FUNCTIONS:
            for arguments in ("", "42", "new String('10.0.0.1')", "undefined, '10.0.0.1'"):
                with self.subTest(function=function, arguments=arguments):
                    seen = len(self.shell.diagnostics())
                    call = self.call("%s(%s)" % (function, arguments))
                    self.dismiss_notice(MISSING, seen)
                    self.assertEqual(call.result(20), -1)
                    self.assertNotIn("dialog folder", self.shell.diagnostics()[seen:])
                    self.assertNotIn("dialog file", self.shell.diagnostics()[seen:])
        self.assertEqual(self.tree.tool_calls(), [])

    def test_an_empty_address_returns_minus_one_at_once(self):
        self.start()
        for function in FUNCTIONS:
            self.assertEqual(self.page.evaluate("%s('')" % function), -1)
            self.assertEqual(self.page.evaluate("%s('', 'extra')" % function), -1)
        self.assertEqual(self.shell.diagnostics(), [])
        self.assertEqual(self.display.windows("^(File Path|Choose .*)$"), [])

    def test_a_cancelled_dialog_returns_minus_one_without_a_box(self):
        self.start()
        for function in FUNCTIONS:
            with self.subTest(function=function):
                seen = len(self.shell.diagnostics())
                call = self.call("%s('127.0.0.1:1')" % function)
                kind = "dialog folder" if function == "native_actionBackup" else "dialog file"
                self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen), kind)
                self.display.type_into(self.display.wait_for_window(DIALOG_TITLES[function]), "", then="Escape")
                # The user cancelled: the page says so, no box repeats it.
                self.assertEqual(call.result(20), -1)
                self.assertEqual([d for d in self.shell.diagnostics()[seen:] if d.startswith("notice")], [])
                self.assertEqual(self.display.windows("^File Path$"), [])
        self.assertEqual(self.tree.tool_calls(), [])

    def test_functions_survive_a_page_that_replaces_the_request_machinery(self):
        self.start()
        self.page.evaluate("XMLHttpRequest = function () { throw new Error('replaced'); };"
                           "encodeURIComponent = () => ''; Number.isNaN = () => true")
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionRestore(7)")
        self.dismiss_notice(MISSING, seen)
        self.assertEqual(call.result(20), -1)


class ToolRunTest(BridgeTestCase):

    def test_address_and_chosen_path_reach_the_tool_as_single_arguments(self):
        self.start(env={"VARNKIT_TEST_TOOL_STATUS": "7"})
        marker = os.path.join(self.tree.root, "injected")
        address = "127.0.0.1:9; touch %s \"$(touch %s)\"" % (marker, marker)
        folder = os.path.join(self.tree.work, "my backups")
        os.makedirs(folder)
        package = os.path.join(self.tree.work, "fw package 'v2'.zip")
        open(package, "wb").close()
        expected = {
            "native_actionBackup": (folder, ["--action=get_backup", "--ip=" + address, "--backupfileouttype=zip",
                                             "--backupfileout=" + folder]),
            "native_actionRestore": (package, ["--action", "put_backup", "--ip", address,
                                               "--backupfilein=" + package]),
            "native_actionFirmwareUpgrade": (package, ["--action", "push_firmware", "--ip", address, "--verify",
                                                       "--firmwarefile=" + package]),
        }
        for function, (path, arguments) in expected.items():
            with self.subTest(function=function):
                seen = len(self.shell.diagnostics())
                call = self.call("%s(%s, 'ignored extra argument')" % (function, json.dumps(address)))
                self.choose(function, path, seen)
                # The tool's exit status reaches the page unchanged.
                self.assertEqual(call.result(30), 7)
                self.assertEqual(self.tree.tool_calls()[-1], arguments)
                status, text = self.console_result(seen)
                self.assertEqual(status, 7)
                # The progress line was redrawn in place, not repeated.
                self.assertEqual(text, "tool started\nprogress 100%\ngreen completion\na line on stderr\n\n"
                                       "varnu-cli ended with exit status 7.")
                # The run view is the tool's events: the stand-in's one step and its summary.
                view = self.run_view(seen)
                self.assertEqual(view["rows"], ["✗  fake: exit 7"])
                self.assertEqual(view["summary"], "Failed: 1 step: 1 failed.")
                # The run view names the log with its folder.
                run = json.loads(self.page.evaluate("native_lastRun()"))
                self.assertEqual(view["log"], "Log: " + os.path.join(self.tree.state_home, "varnkit", "logs", run["log"]))
        self.assertFalse(os.path.exists(marker), "the address ran a command of its own")
        # Every console window stays open until the user closes it, titled after its run.
        titles = sorted(self.display.window_name(w) for w in self.display.windows("^varnu-cli: "))
        self.assertEqual(titles, sorted("varnu-cli: %s %s" % (what, address) for what in
                                        ("backup of", "restore onto", "firmware upgrade of")))

    def test_the_console_shows_output_live_and_in_green_and_stays_open(self):
        hold = self.start_with_held_tool()
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionBackup('127.0.0.1:9')")
        self.choose("native_actionBackup", self.tree.work, seen)
        console = self.console()
        # The tool's own output is under Details.
        self.display.type_into(console, "", then="alt+d")
        shot = os.path.join(self.tree.root, "console.png")

        def green_shown():
            colours = h.image_colours(self.display.screenshot(shot, console))
            return colours.get(GREEN, 0) > 20
        # The tool still runs (it waits for the hold file), yet its green line is on screen.
        h.wait_until(green_shown, 20, interval=0.3, what="the tool's green line in the console window")
        self.assertFalse(call.done(), "the call returned before the tool ended")

        os.remove(hold)
        self.assertEqual(call.result(30), 0)
        self.assertEqual(self.display.windows("^varnu-cli: "), [console])
        self.display.type_into(console, "", then="alt+c")
        h.wait_until(lambda: not self.display.windows("^varnu-cli: "), 10, what="the run view to close")
        self.assertIsNone(self.shell.process.poll(), "closing the console window ended the program")

    def test_closing_the_console_window_asks_and_a_stopped_run_says_so(self):
        self.start_with_held_tool()
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionFirmwareUpgrade('127.0.0.1:9')")
        self.choose("native_actionFirmwareUpgrade", h.STUB_SERVER, seen)
        console = self.console()
        question = ("A firmware upgrade of 127.0.0.1:9 is running. "
                    "Stopping it may leave the gateway partly upgraded.")
        self.display.close_window(console)
        self.shell.answer_question(question, stop=True, seen_before=seen)
        self.assertEqual(call.result(20), -2)
        status, text = self.console_result(seen)
        self.assertEqual(status, -2)
        self.assertTrue(text.endswith("\nvarnu-cli was stopped before the end."), text)
        # The stopped run's window stays with its last lines until it is closed again.
        self.assertEqual(self.display.windows("^varnu-cli: "), [console])
        self.display.close_window(console)
        h.wait_until(lambda: not self.display.windows("^varnu-cli: "), 10, what="the console window to close")

    def test_a_termination_signal_stops_a_running_tool_without_asking(self):
        self.start_with_held_tool()
        seen = len(self.shell.diagnostics())
        self.call("native_actionRestore('127.0.0.1:9')")
        self.choose("native_actionRestore", h.STUB_SERVER, seen)
        self.console()
        tool = os.path.join(self.tree.root, "cli", "varnu-cli")
        self.assertEqual(len(h.processes_running(tool)), 1)
        self.shell.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.shell.wait_exit(30), 0)
        self.assertEqual(h.processes_running(tool), [], "the tool outlived the shell")
        self.assertFalse([d for d in self.shell.diagnostics() if d.startswith("question")])
        # The stopped run still has its log.
        [log] = glob.glob(os.path.join(self.tree.state_home, "varnkit", "logs", "*-restore-127.0.0.1_9.log"))
        with open(log) as f:
            logged = f.read()
        self.assertEqual(logged.splitlines(True)[-1], "varnu-cli was stopped before the end.\n")

    def test_a_tool_ended_by_a_signal_the_window_did_not_send_is_reported_and_logged(self):
        # 200 logs of earlier runs: the oldest goes when this run's log comes.
        hold = tempfile.NamedTemporaryFile(prefix="varnkit-hold-", delete=False).name
        self.addCleanup(lambda: os.path.exists(hold) and os.remove(hold))
        self.tree = self.make_tree(server="built")
        logs = os.path.join(self.tree.state_home, "varnkit", "logs")
        os.makedirs(logs)
        for i in range(200):
            open(os.path.join(logs, "20000101-%06d-backup-127.0.0.1.log" % i), "w").close()
        self.shell = self.start_shell(self.tree, env={"VARNKIT_TEST_TOOL_HOLD": hold})
        self.page = self.shell.page(h.KIT_URL)
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionBackup('127.0.0.1:9')")
        self.choose("native_actionBackup", self.tree.work, seen)
        self.console()
        tool = os.path.join(self.tree.root, "cli", "varnu-cli")
        [pid] = h.wait_until(lambda: h.processes_running(tool), 10, what="the tool")
        os.kill(pid, signal.SIGKILL)
        self.assertEqual(call.result(20), -5)
        status, text = self.console_result(seen)
        self.assertEqual(status, -5)
        self.assertEqual(text.split("\n")[-1], "varnu-cli ended unexpectedly (signal 9).")
        run = json.loads(self.page.evaluate("native_lastRun()"))
        self.assertEqual(sorted(os.listdir(logs))[0], "20000101-000001-backup-127.0.0.1.log")
        self.assertEqual(len(os.listdir(logs)), 200)
        self.assertIn(run["log"], os.listdir(logs))
        # Only the user may enter the folders or read the log.
        for folder in (os.path.dirname(logs), logs):
            self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700, folder)
        self.assertEqual(os.stat(os.path.join(logs, run["log"])).st_mode & 0o777, 0o600)

    def test_closing_a_window_that_runs_nothing_never_asks(self):
        hold = self.start_with_held_tool()
        seen = len(self.shell.diagnostics())
        # Started as the kit's page starts it, without blocking the page (on a connection of its own).
        call = h.Background(self.shell.page(h.KIT_URL).evaluate,
                            "native_runAction('native_actionRestore', '127.0.0.1:9')", True)
        self.choose("native_actionRestore", h.STUB_SERVER, seen)
        self.console()
        # The help pop-up of the kit's page.
        self.page.evaluate("document.querySelector('a[href=\"csv-formats.txt\"]').click()")
        self.shell.page("csv-formats.txt")
        popup = [w for w in self.shell.windows() if self.display.window_name(w).endswith("csv-formats.txt")]
        self.assertEqual(len(popup), 1)
        self.display.close_window(popup[0])
        h.wait_until(lambda: popup[0] not in self.shell.windows(), 20, what="the pop-up to close")
        self.assertFalse([d for d in self.shell.diagnostics()[seen:] if d.startswith("question")])
        self.assertFalse(call.done(), "closing the pop-up ended the restore")
        os.remove(hold)
        self.assertEqual(call.result(30), 0)

    def test_markup_in_a_model_name_or_an_address_shows_as_written_in_every_dialog(self):
        hold = tempfile.NamedTemporaryFile(prefix="varnkit-hold-", delete=False).name
        self.addCleanup(lambda: os.path.exists(hold) and os.remove(hold))
        self.start(env={"VARNKIT_TEST_GATEWAY_MODEL": MARKUP, "VARNKIT_TEST_TOOL_HOLD": hold})
        backup = os.path.join(self.tree.work, "backup.zip")
        open(backup, "wb").close()
        firmware = self.firmware_package("LUMARO-3", "1.6.0")
        address = "<font color=#00ff00>127.0.0.1:9"
        # (call, its dialog's answer, the box, the text it must hold as written, the key that answers it)
        cases = [("native_actionRestore('127.0.0.1:9')", backup, "^Restore the gateway\\?$", MARKUP, "Escape"),
                 ("native_actionFirmwareUpgrade('127.0.0.1:9')", firmware, "^Firmware for another model$", MARKUP,
                  "Return"),
                 ("native_actionBackup(%s)" % json.dumps(address), self.tree.work, "^Stop the running action\\?$",
                  address, "Return")]
        for call_text, path, box_title, written, key in cases:
            with self.subTest(box=box_title):
                seen = len(self.shell.diagnostics())
                call = self.call(call_text)
                self.choose(call_text.split("(")[0], path, seen, confirm=None)
                if box_title.startswith("^Stop"):
                    self.display.close_window(self.console())
                box = self.display.wait_for_window(box_title)
                said = self.shell.wait_for_diagnostic(("question", "confirm", "refused"), after=seen)
                self.assertIn(written, said)
                time.sleep(0.5)
                colours = h.image_colours(self.display.screenshot(os.path.join(self.tree.root, "box.png"), box))
                rendered = sum(n for (r, g, b), n in colours.items() if g > 160 and r < 100 and b < 100)
                self.assertEqual(rendered, 0, "the box rendered the markup")
                self.display.type_into(box, "", then=key)
                if box_title.startswith("^Stop"):
                    os.remove(hold)
                self.assertIn(call.result(30), (-3, -4, 0))

    def test_a_missing_tool_returns_minus_one(self):
        self.start(tool=None)
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionRestore('127.0.0.1:9')")
        self.choose("native_actionRestore", h.STUB_SERVER, seen)
        self.assertEqual(call.result(20), -1)
        status, text = self.console_result(seen)
        self.assertEqual(status, -1)
        self.assertTrue(text.startswith("varnu-cli could not be started"), text)


class BackupReaderTest(BridgeTestCase):

    def test_backups_are_shown_and_compared_without_a_console_window(self):
        self.start()
        first, second = (os.path.join(self.tree.work, name) for name in ("old backup.zip", "new 'b' --with.zip"))
        for path in (first, second):
            open(path, "wb").close()
        shown = self.read("native_showBackup('')", "^Choose a backup to open$", first, 0)
        self.assertEqual(shown["source"], first)
        compared = self.read("native_compareBackups(%s)" % json.dumps(first),
                             "^Choose a backup to compare with %s$" % re.escape(first), second,
                             len(self.shell.diagnostics()))
        self.assertEqual((compared["old"], compared["new"], compared["different"]), (first, second, True))
        # A path from the page needs no dialog; a closed dialog, or nothing to compare with, reads nothing.
        self.assertEqual(json.loads(self.page.evaluate("native_showBackup(%s)" % json.dumps(second), True))["source"],
                         second)
        self.assertEqual(self.read("native_showBackup()", "^Choose a backup to open$", "",
                                   len(self.shell.diagnostics())), {"cancelled": True})
        self.assertIn("error", json.loads(self.page.evaluate("native_compareBackups('', %s)" % json.dumps(second), True)))
        self.assertEqual(self.tree.tool_calls(), [
            ["--action", "show_backup", "--backupfilein", first, "--json"],
            ["--action", "diff_backup", "--backupfilein", first, "--with", second, "--json"],
            ["--action", "show_backup", "--backupfilein", second, "--json"]])
        self.assertEqual(self.display.windows("^varnu-cli: "), [])

    def test_a_channel_export_asks_where_to_save_and_runs_in_the_console_window(self):
        self.start()
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionExportChannel('127.0.0.1:9', 5, 'groups')")
        self.dismiss_notice(MISSING, seen)
        self.assertEqual(call.result(20), -1)
        target = os.path.join(self.tree.work, "channel 2 'groups'.csv")
        seen = len(self.shell.diagnostics())
        call = self.call("native_actionExportChannel('127.0.0.1:9', 2, 'groups')")
        # A name typed without its suffix gets ".csv".
        self.choose("native_actionExportChannel", target[:-len(".csv")], seen)
        self.assertEqual(call.result(30), 0)
        self.assertEqual(self.tree.tool_calls(), [["--action", "export_channel", "--ip", "127.0.0.1:9", "--channel=2",
                                                   "--channelgroupscsvfile=" + json.dumps(target)]])
        self.assertEqual(self.display.window_name(self.console()), "varnu-cli: CSV export from 127.0.0.1:9")
        # Nothing is written to the gateway, so nothing is asked before.
        self.assertFalse([d for d in self.shell.diagnostics()[seen:] if d.startswith("confirm")])


class RealToolTest(BridgeTestCase):
    """The real varnu-cli against the gateway stand-in."""

    def setUp(self):
        super().setUp()
        for program in (h.CLI, GATEWAY_SIM):
            self.assertTrue(os.path.exists(program), "%s is not built" % program)

    def run_action(self, function, address, path, *extra):
        seen = len(self.shell.diagnostics())
        call = self.call("%s(%s)" % (function, ", ".join(json.dumps(a) for a in (address,) + extra)))
        self.choose(function, path, seen)
        result = call.result(180)
        status, text = self.console_result(seen)
        self.assertEqual(status, result)
        return result, text

    def test_backup_into_the_chosen_folder(self):
        self.start(tool="real")
        folder = os.path.join(self.tree.work, "backups here")
        os.makedirs(folder)
        with Gateway() as gateway:
            result, text = self.run_action("native_actionBackup", gateway.address, folder)
        self.assertEqual(result, 0, text)
        archives = glob.glob(os.path.join(folder, "backup_*_LUMARO_*.zip"))
        self.assertEqual(len(archives), 1, text)
        # The page learns the archive and the run's log, which holds the console text and can be shown.
        run = json.loads(self.page.evaluate("native_lastRun()"))
        self.assertEqual(run["archive"], archives[0])
        self.assertRegex(run["log"], r"^\d{8}-\d{6}-backup-127\.0\.0\.1_\d+\.log$")
        with open(os.path.join(self.tree.state_home, "varnkit", "logs", run["log"])) as f:
            self.assertEqual(f.read(), text + "\n")
        self.assertEqual(self.page.evaluate("native_showLog(%s)" % json.dumps(run["log"])), 0)
        self.display.wait_for_window("^varnkit log: %s$" % re.escape(run["log"]))
        self.assertEqual(self.page.evaluate("native_showLog('../server-key.log')"), -1)
        with zipfile.ZipFile(archives[0]) as archive:
            self.assertIsNone(archive.testzip())
            self.assertTrue(archive.namelist())

    def test_partial_results_show_as_warnings_or_failures_from_the_events_alone(self):
        mixed = os.path.join(tempfile.mkdtemp(prefix="varnkit-csv-"), "mixed.csv")
        self.addCleanup(shutil.rmtree, os.path.dirname(mixed))
        with open(os.path.join(h.SOURCE_DIR, "examples", "channel.csv")) as f:
            rows = f.read().splitlines()
        with open(mixed, "w") as f:
            f.write("\n".join(rows[:3] + ["1,4,1,Short", "1;5;13;Desk"]) + "\n")
        package = self.firmware_package("LUMARO-2", "1.6.0")
        folder = os.path.join(tempfile.mkdtemp(prefix="varnkit-backup-"))
        self.addCleanup(shutil.rmtree, folder)
        # action, stand-in options, path, page outcome (kind, text), a row of the run view, its summary
        cases = [
            ("backup", ["--fail", "dali2=500"], folder,
             ("error", r"^Backup incomplete: dali2 missing \(HTTP 500\) The archive is %s/backup_\S+\.zip The run view"
              % re.escape(folder)), "✗  dali2: HTTP 500", r"^Failed: Backup incomplete: dali2 missing"),
            ("channel", [], mixed, ("warn", r"^Finished with warnings: .*2 rows: 2 skipped"),
             "!  channel 1: applied 1 of 3 rows, 2 skipped", r"^Finished with warnings: "),
            ("firmware", ["--firmware-version", "1.5.0", "--upgrade-keeps-version", "--upgrade-restart-ms", "300"],
             package, ("error", r"^Failed: .*1 failed"), "✗  ", r"^Failed: "),
        ]
        outcome = "[document.getElementById('%s-outcome').dataset.kind, document.getElementById('%s-outcome').textContent]"
        for tool in ("real", "garbled"):
            self.start(tool=tool)
            for action, options, path, (kind, text), row, summary in cases:
                with self.subTest(tool=tool, action=action), Gateway("--model", "LUMARO-2", *options) as gateway:
                    seen = len(self.shell.diagnostics())
                    self.page.evaluate("document.getElementById('address').value = %s; "
                                       "document.querySelector('button[data-action=\"%s\"]').click()"
                                       % (json.dumps(gateway.address), action))
                    function = {"backup": "native_actionBackup", "channel": "native_actionSetupChannel",
                                "firmware": "native_actionFirmwareUpgrade"}[action]
                    self.choose(function, path, seen)
                    view = self.run_view(seen)
                    self.assertTrue([r for r in view["rows"] if r.startswith(row)], view)
                    self.assertRegex(view["summary"], summary)
                    shown = h.wait_until(lambda: (lambda o: o if o[0] != "busy" else None)(
                        self.page.evaluate(outcome % (action, action))), 30, what="the page's outcome")
                    self.assertEqual(shown[0], kind, shown)
                    self.assertRegex(shown[1], text)
                    self.assertNotIn("nowhere", shown[1])
            self.shell.stop()

    def test_firmware_upgrade_with_a_package(self):
        package = self.firmware_package("LUMARO-2", "1.6.0")
        self.start(tool="real")
        with Gateway("--model", "LUMARO-2", "--firmware-version", "1.5.0") as gateway:
            result, text = self.run_action("native_actionFirmwareUpgrade", gateway.address, package)
            self.assertEqual(result, 0, text)
            requests = gateway.wait_for_log(lambda e: e.protocol == "http" and "firmwareupgrade" in e.target)
            uploads = gateway.wait_for_log(lambda e: e.protocol == "tftp" and e.method == "WRQ")
        self.assertTrue(requests and uploads, text)

    def test_a_channel_setup_from_the_example_csv_reaches_the_stand_in(self):
        self.start(tool="real")
        for arguments in ("'127.0.0.1:1'", "'127.0.0.1:1', 5, 'gear'", "'127.0.0.1:1', 1, 'all'"):
            seen = len(self.shell.diagnostics())
            call = self.call("native_actionSetupChannel(%s)" % arguments)
            self.dismiss_notice(MISSING, seen)
            self.assertEqual(call.result(20), -1, arguments)
        example = os.path.realpath(os.path.join(h.SOURCE_DIR, "examples", "channel.csv"))
        with Gateway("--model", "LUMARO-2") as gateway:
            result, text = self.run_action("native_actionSetupChannel", gateway.address, example, 2, "gear")
            uploads = gateway.wait_for_log(lambda e: e.protocol == "tftp" and e.method == "WRQ")
            restores = [e for e in gateway.log_lines("http") if "restore" in e.target]
        self.assertEqual(result, 0, text)
        # It asked first, naming what is replaced on which gateway.
        asked = json.loads([d for d in self.shell.diagnostics() if d.startswith("confirm ")][-1][len("confirm "):])[0]
        self.assertIn("Set up channel 2 of the gateway at %s from %s?" % (gateway.address, example), asked)
        with open(example) as f:
            rows = len([line for line in f if line.strip() and not line.startswith("#")])
        self.assertIn("replaces all DALI gear of channel 2 on the gateway with %d rows of the file." % rows, asked)
        self.assertIn("CH=2\nFILE=%s\n" % example, text)
        self.assertTrue(uploads and restores, text)
        # The next CSV dialog starts where this file was.
        with open(os.path.join(self.tree.state_home, "varnkit", "dialogs.ini")) as f:
            self.assertIn("csv=%s" % os.path.dirname(example), f.read())

    def test_the_gateway_card_shows_the_stand_ins_status_or_a_plain_error(self):
        self.start(tool="real")
        check = ("document.getElementById('address').value = %s; document.getElementById('check-button').click()")
        settled = "['ok', 'error'].includes(document.getElementById('gateway-card').dataset.state)"
        with Gateway("--model", "LUMARO-3", "--serial", "SN-CARD-7") as gateway:
            self.page.evaluate(check % json.dumps(gateway.address))
            h.wait_until(lambda: self.page.evaluate(settled), 60, what="the gateway card")
            self.assertEqual(self.page.evaluate("document.getElementById('card-model').textContent"), "LUMARO-3")
        silent = "127.0.0.1:%d" % h.free_tcp_port()
        self.page.evaluate(check % json.dumps(silent))
        h.wait_until(lambda: self.page.evaluate(settled), 60, what="the gateway card")
        message = self.page.evaluate("document.getElementById('card-message').textContent")
        self.assertTrue(message.startswith("The gateway at %s could not be reached (" % silent), message)
        self.assertTrue(message.endswith(": check the address and that the gateway is powered and on this network."))

    def test_a_restore_asks_first_with_its_plan_and_writes_nothing_when_declined(self):
        # source, gateway, what the question starts with, what it says besides
        cases = [
            (["--model", "LUMARO-4", "--serial", "SN-OTHER-1"], ["--model", "LUMARO-2", "--serial", "SN-HERE-2"],
             r"^Restore ", ["Backup: from LUMARO-4, serial number SN-OTHER-1",
                            "Warning: this backup comes from another model (LUMARO-4).", "0 refused."]),
            # Records too new for the gateway's firmware: the refusals come first, and Enter cancels.
            (["--firmware-version", "1.5.0"], ["--firmware-version", "1.3.1"],
             r"^\d+ configurations of \d+ would be refused:\n- 4 channel records cannot go down to version \d+: "
             r"upgrade the gateway to 1\.5\.0 first\n", ["firmware 1.3.1.\n", "Backup: from LUMARO-4", "4 refused."]),
        ]
        self.start(tool="real")
        for source_options, options, start, said in cases:
            with self.subTest(gateway=options):
                folder = tempfile.mkdtemp(prefix="varnkit-backup-")
                self.addCleanup(shutil.rmtree, folder)
                with Gateway(*source_options) as source:
                    status, _, err = run_cli("--action=get_backup", "--ip=" + source.address,
                                             "--backupfileouttype=zip", "--backupfileout=" + folder)
                self.assertEqual(status, 0, err)
                archive = glob.glob(os.path.join(folder, "*.zip"))[0]
                with Gateway(*options) as gateway:
                    seen = len(self.shell.diagnostics())
                    call = self.call("native_actionRestore(%s)" % json.dumps(gateway.address))
                    self.choose("native_actionRestore", archive, seen, confirm=None)
                    asked = json.loads(self.shell.wait_for_diagnostic("confirm ", after=seen)[len("confirm "):])[0]
                    self.display.type_into(self.display.wait_for_window("^Restore the gateway\\?$"), "", then="Return")
                    self.shell.wait_for_diagnostic("answer cancel", after=seen)
                    self.assertEqual(call.result(30), -3)
                    time.sleep(0.5)
                    written = [e for e in gateway.log_lines() if e.protocol == "tftp" or "restore" in e.target]
                self.assertRegex(asked, start)
                self.assertIn("Restore %s onto the gateway at %s?" % (archive, gateway.address), asked)
                for text in said:
                    self.assertIn(text, asked)
                self.assertEqual(written, [])

    def test_firmware_for_another_model_is_refused_before_any_upload(self):
        package = self.firmware_package("LUMARO-3", "1.6.0")
        self.start(tool="real")
        with Gateway("--model", "LUMARO-2") as gateway:
            seen = len(self.shell.diagnostics())
            call = self.call("native_actionFirmwareUpgrade(%s)" % json.dumps(gateway.address))
            self.choose("native_actionFirmwareUpgrade", package, seen, confirm=None)
            refused = json.loads(self.shell.wait_for_diagnostic("refused ", after=seen)[len("refused "):])[0]
            self.display.type_into(self.display.wait_for_window("^Firmware for another model$"), "", then="Return")
            self.assertEqual(call.result(30), -4)
            uploads = [e for e in gateway.log_lines() if e.protocol == "tftp"]
        self.assertEqual(refused, "%s is firmware for LUMARO-3, but the gateway at %s is a LUMARO-2. Nothing was sent."
                         % (package, gateway.address))
        self.assertEqual(uploads, [])

    def test_an_address_with_a_command_runs_nothing_else(self):
        self.start(tool="real")
        folder = os.path.join(self.tree.work, "out")
        os.makedirs(folder)
        marker = os.path.join(self.tree.root, "injected")
        with Gateway() as gateway:
            result, text = self.run_action("native_actionBackup", "%s; touch %s" % (gateway.address, marker), folder)
        self.assertNotEqual(result, -1, text)
        time.sleep(0.5)
        self.assertFalse(os.path.exists(marker), "the address ran a command of its own")

    def start_slow_restore(self, from_page=False):
        """Runs, from the kit's page (its Restore button with from_page, else a direct call), the restore
        of a whole backup onto a stand-in that answers slowly.
        Returns the stand-in, the pending call, the diagnostics seen before, and the stop question."""
        folder = tempfile.mkdtemp(prefix="varnkit-backup-")
        self.addCleanup(shutil.rmtree, folder)
        with Gateway() as source:
            status, _, err = run_cli("--action=get_backup", "--ip=" + source.address, "--backupfileouttype=zip",
                                     "--backupfileout=" + folder)
        self.assertEqual(status, 0, err)
        archive = glob.glob(os.path.join(folder, "*.zip"))[0]
        self.start(tool="real")
        gateway = Gateway("--delay", "400").start()
        self.addCleanup(gateway.stop)
        seen = len(self.shell.diagnostics())
        if from_page:
            call = None
            self.page.evaluate("document.getElementById('address').value = %s; "
                               "document.querySelector('button[data-action=\"restore\"]').click()"
                               % json.dumps(gateway.address))
        else:
            call = self.call("native_actionRestore(%s)" % json.dumps(gateway.address))
        self.choose("native_actionRestore", archive, seen)
        h.wait_until(lambda: self.restores(gateway), 60, what="the first restore")
        question = ("A restore onto %s is running. Stopping it may leave the gateway partly restored."
                    % gateway.address)
        return gateway, call, seen, question

    def test_the_page_shows_the_restores_progress_and_logs_the_run(self):
        gateway, _, _, _ = self.start_slow_restore(from_page=True)
        outcome = "document.getElementById('restore-outcome').textContent"
        shown = h.wait_until(lambda: re.match(r"^Running: (\d+) of 22\.", self.page.evaluate(outcome)), 60,
                             what="the restore's progress on the page")
        self.assertLess(int(shown.group(1)), 22)
        h.wait_until(lambda: self.page.evaluate(outcome).startswith("Done:"), 120, what="the restore's outcome")
        self.assertEqual(len(self.restores(gateway)), 22)
        self.assertEqual(self.page.evaluate("document.querySelector('#activity .activity-log').textContent"), "Show log")

    @staticmethod
    def restores(gateway):
        return [e for e in gateway.log_lines("http") if "restore" in e.target]

    def test_closing_the_main_window_during_a_restore_asks_and_keep_running_lets_it_finish(self):
        gateway, call, seen, question = self.start_slow_restore()
        main = self.display.wait_for_window("^varnkit 1.4.0$")
        self.display.close_window(main)
        self.shell.answer_question(question, stop=False, seen_before=seen)
        h.wait_until(lambda: len(self.restores(gateway)) == 22, 120, what="all 22 restores")
        self.assertEqual(call.result(60), 0)
        self.assertIn(main, self.shell.windows())

    def test_closing_the_main_window_during_a_restore_and_stopping_ends_the_tool_as_stopped(self):
        gateway, call, seen, question = self.start_slow_restore()
        self.display.close_window(self.display.wait_for_window("^varnkit 1.4.0$"))
        self.shell.answer_question(question, stop=True, seen_before=seen)
        status, text = self.console_result(seen)
        self.assertEqual(status, -2, text)
        self.assertEqual(self.shell.wait_exit(30), 0)
        self.assertEqual(h.processes_named("varnu-cli"), [])
        self.assertLess(len(self.restores(gateway)), 22)

    def test_the_console_windows_stop_button_asks_and_the_page_gets_stopped(self):
        gateway, call, seen, question = self.start_slow_restore()
        console = self.console()
        self.display.type_into(console, "", then="alt+s")
        self.shell.answer_question(question, stop=True, seen_before=seen)
        self.assertEqual(call.result(30), -2)
        status, text = self.console_result(seen)
        self.assertEqual(status, -2)
        self.assertTrue(text.endswith("\nvarnu-cli was stopped before the end."), text)
        self.assertEqual(self.display.windows("^varnu-cli: "), [console])
        self.assertLess(len(self.restores(gateway)), 22)

    def backups_before_and_after_a_channel_setup(self):
        """Two backup archives of one stand-in: before and after channel 1 was set up from examples/channel.csv."""
        example = os.path.realpath(os.path.join(h.SOURCE_DIR, "examples", "channel.csv"))
        archives = []
        with Gateway("--model", "LUMARO-2") as gateway:
            for folder in (tempfile.mkdtemp(prefix="varnkit-backup-") for _ in range(2)):
                self.addCleanup(shutil.rmtree, folder)
                if archives:
                    status, _, err = run_cli("--action=setup_channel", "--ip=" + gateway.address, "--channel=1",
                                             "--channelcsvfile=" + json.dumps([example]))
                    self.assertEqual(status, 0, err)
                status, _, err = run_cli("--action=get_backup", "--ip=" + gateway.address, "--backupfileouttype=zip",
                                         "--backupfileout=" + folder)
                self.assertEqual(status, 0, err)
                archives += glob.glob(os.path.join(folder, "*.zip"))
        return archives

    def click_and_choose(self, button, dialog, path):
        seen = len(self.shell.diagnostics())
        self.page.evaluate("document.getElementById(%s).click()" % json.dumps(button))
        self.assertEqual(self.shell.wait_for_diagnostic("dialog", after=seen), "dialog file")
        self.display.type_into(self.display.wait_for_window(dialog), path)

    def test_a_backup_of_the_stand_in_is_shown_and_compared_with_one_after_a_channel_setup(self):
        before, after = self.backups_before_and_after_a_channel_setup()
        self.start(tool="real")
        cells = "[...document.querySelectorAll(%s)].map(cell => cell.textContent)"
        self.click_and_choose("open-backup", "^Choose a backup to open$", after)
        h.wait_until(lambda: self.page.evaluate("!document.getElementById('backup-view').hidden"), 30, what="the backup")
        self.assertEqual(self.page.evaluate(cells % json.dumps(".backup-gateway dd"))[0], "LUMARO-2")
        self.assertEqual(self.page.evaluate("document.querySelector('.backup-channel h4').textContent"), "Channel 1")
        names = self.page.evaluate(
            cells % json.dumps(".backup-channel:first-of-type table:first-of-type tbody td:nth-child(2)"))
        self.assertEqual(names[:3], ["Entrance downlight", "Entrance wall washer", "Corridor panel east"])
        self.click_and_choose("compare-backup", "^Choose a backup to compare with ", before)
        h.wait_until(lambda: self.page.evaluate("document.querySelector('.backup-summary') !== null"), 30,
                     what="the differences")
        self.assertEqual(self.page.evaluate("document.querySelector('.backup-summary').textContent"),
                         "The backups differ.")
        rows = self.page.evaluate(
            "[...document.querySelectorAll('#backup-view tbody tr')].map(r => r.cells[0].textContent)")
        self.assertEqual(rows, ["dali1"])
        changes = self.page.evaluate(cells % json.dumps("#backup-view tbody .backup-changes li"))
        prefix = "gear 0 name: Entrance downlight → "
        self.assertIn(prefix, [c[:len(prefix)] for c in changes])

    def test_a_channel_export_of_the_stand_in_writes_the_channel_csv(self):
        self.start(tool="real")
        target = os.path.join(self.tree.work, "channel 1.csv")
        with Gateway("--model", "LUMARO-2") as gateway:
            result, text = self.run_action("native_actionExportChannel", gateway.address, target, 1, "gear")
        self.assertEqual(result, 0, text)
        with open(target) as f:
            self.assertEqual(f.readline().strip(), "#dali-channel-csv-version: 1")


class SiteFunctionTest(BridgeTestCase):
    """The site functions with the real varnu-site and varnu-cli, against one stand-in playing the site's gateways."""

    def ask(self, expression):
        return json.loads(self.page.evaluate(expression, True))

    def change(self, site, change):
        return self.ask("native_siteChange(%s, %s)" % (json.dumps(site), json.dumps(json.dumps(change))))

    @staticmethod
    def rows(listed):
        return {g["name"]: g for g in listed["gateways"]}

    def test_sites_are_opened_remembered_and_changed_in_their_file(self):
        site = self.start_site([["--serial", "LM4-1"], ["--serial", "LM4-2"]],
                               ["hall-1,127.0.0.1:%d,,,,", "hall-2,127.0.0.1:%d,,,,"])
        broken = self.site_file("broken.csv", ["hall-1,not an address,,,,"])
        self.assertEqual(len(self.ask("native_siteOpen(%s)" % json.dumps(broken))["errors"]), 1)
        # A new site file gets the suffix and the header, and is opened.
        gone = os.path.join(self.tree.work, "gone")
        self.assertEqual(self.read("native_siteCreate()", "^Create a site file$", gone, len(self.shell.diagnostics()),
                                   kind="dialog save")["gateways"], [])
        os.remove(gone + ".csv")
        listed = self.read("native_siteOpen('')", "^Choose a site file$", site, len(self.shell.diagnostics()))
        self.assertEqual((listed["site"]["name"], list(self.rows(listed))), ("Test building", ["hall-1", "hall-2"]))
        self.assertEqual(self.read("native_siteOpen('')", "^Choose a site file$", "", len(self.shell.diagnostics())),
                         {"cancelled": True})
        # Newest first; a file that is gone is left out.
        self.assertEqual(self.ask("native_siteRecent()"), {"sites": [site, broken]})

        marker = os.path.join(self.tree.root, "injected")
        notes = "--unpin $(touch %s)" % marker
        listed = self.change(site, {"op": "add", "name": "spare", "address": "127.0.0.1:9", "notes": notes})
        self.assertEqual(self.rows(listed)["spare"]["notes"], notes)
        listed = self.change(site, {"op": "edit", "name": "spare", "new_name": "spare-2", "address": "127.0.0.1:10"})
        self.assertEqual((self.rows(listed)["spare-2"]["address"], self.rows(listed)["spare-2"]["notes"]),
                         ("127.0.0.1:10", notes))
        self.assertIn("error", self.change(site, {"op": "add", "name": "hall-1", "address": "127.0.0.1:11"}))
        pinned = self.rows(self.change(site, {"op": "pin", "name": "hall-1"}))["hall-1"]
        self.assertEqual((pinned["pinned"], pinned["serial"]), (True, "LM4-1"))
        # A removal asks first, Enter cancels it.
        for key, answer in (("Return", {"cancelled": True}), ("alt+r", None)):
            seen = len(self.shell.diagnostics())
            call = h.Background(self.page.evaluate, "native_siteChange(%s, %s)" % (
                json.dumps(site), json.dumps(json.dumps({"op": "remove", "name": "spare-2"}))), True)
            asked = json.loads(self.shell.wait_for_diagnostic("confirm ", after=seen)[len("confirm "):])[0]
            self.assertEqual(asked, "Remove the gateway spare-2 from the site file building.csv?\n\n"
                                    "Its versions stay in the site's history.")
            self.display.type_into(self.display.wait_for_window("^Remove the gateway\\?$"), "", then=key)
            answered = json.loads(call.result(30))
            self.assertEqual(answered if answer else sorted(self.rows(answered)), answer or ["hall-1", "hall-2"])
        states = self.ask("native_siteStatus(%s)" % json.dumps(site))["gateways"]
        self.assertEqual({g["name"]: g["state"] for g in states}, {"hall-1": "ok", "hall-2": "ok"})
        self.assertFalse(os.path.exists(marker), "a note ran a command of its own")

    def test_a_gateways_action_runs_at_its_address_and_only_on_its_pinned_gateway(self):
        site = self.start_site([["--serial", "LM4-1"], ["--serial", "LM4-2"]],
                               ["hall-1,127.0.0.1:%d,LUMARO-4,LM4-9,,", "hall-2,127.0.0.1:%d,,,,"])
        example = os.path.realpath(os.path.join(h.SOURCE_DIR, "examples", "channel.csv"))
        texts = {}
        for i, (name, result) in enumerate((("hall-1", 1), ("hall-2", 0))):
            with self.subTest(gateway=name):
                seen = len(self.shell.diagnostics())
                call = h.Background(self.page.evaluate, "native_siteAction(%s, %s, 'native_actionSetupChannel', 1, "
                                    "'gear')" % (json.dumps(site), json.dumps(name)), True)
                self.choose("native_actionSetupChannel", example, seen)
                self.assertEqual(call.result(120), result)
                _, texts[name] = self.console_result(seen)
                uploads = [request for request in self.sim.requests(i) if request[0] == "tftp"]
                self.assertEqual(bool(uploads), result == 0, texts[name])
        self.assertIn("Not the pinned gateway: serial 'LM4-1' answered, 'LM4-9' is pinned. Nothing was written.",
                      texts["hall-1"])
        # A row that is not in the site file runs nothing.
        seen = len(self.shell.diagnostics())
        call = h.Background(self.page.evaluate, "native_siteAction(%s, 'hall-9', 'native_actionBackup')"
                            % json.dumps(site), True)
        self.dismiss_notice("notice Site: The site file %s has no gateway hall-9." % site, seen, "^Site$")
        self.assertEqual(call.result(30), -1)

    def test_the_report_is_printed_to_a4_without_loading_anything_else(self):
        server = self.serve({})
        self.start(tool="real")
        tool = os.path.join(self.tree.root, "cli", "varnu-site")
        os.remove(tool)
        with open(tool, "w") as f:
            f.write(LEAKY_REPORT % {"url": server.url("/report")})
        os.chmod(tool, 0o755)
        backup = os.path.join(self.tree.work, "gateway backup.zip")
        open(backup, "wb").close()
        target = os.path.join(self.tree.work, "handover")
        seen = len(self.shell.diagnostics())
        self.assertEqual(self.read("native_backupReport(%s)" % json.dumps(backup), "^Save the handover report as PDF$",
                                   "", seen, kind="dialog save"), {"cancelled": True})
        answer = self.read("native_backupReport(%s)" % json.dumps(backup), "^Save the handover report as PDF$", target,
                           seen, kind="dialog save")
        self.assertEqual(answer, {"path": target + ".pdf"})
        text = subprocess.run(["pdftotext", target + ".pdf", "-"], capture_output=True, check=True).stdout.decode()
        # The page, of two sheets; pdftotext may join a path broken at a hyphen.
        pages = text.split("\f")
        self.assertEqual((pages[0][:21], pages[0].split("/")[-1], pages[1:]),
                         ("Handover of --backup=", "gateway backup.zip\n\n", ["Second page\n\n", ""]))
        info = subprocess.run(["pdfinfo", target + ".pdf"], capture_output=True, check=True).stdout.decode()
        self.assertRegex(info, r"Page size:\s+59\d\.\d+ x 84\d\.\d+ pts \(A4\)")
        self.assertEqual(server.reported("leak"), [])
        # The report's temporary folder is gone with it.
        self.assertEqual(glob.glob("/tmp/varnkit*/report.html"), [])


if __name__ == "__main__":
    h.isolate()
    unittest.main()
