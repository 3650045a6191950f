"""varnu-cli as a process: exit statuses, dispatch, and the pause before exit."""

import os
import pty
import shlex
import subprocess
import time
import unittest

CLI = os.path.join(os.environ.get("VARNU_BUILD_DIR", "build"), "out", "cli", "varnu-cli")

MISSING = "Missing arguments for action {}."


def run(*args, env=None):
    environment = dict(os.environ)
    environment.pop("POSIXLY_CORRECT", None)
    environment.update(env or {})
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60, env=environment)


def run_on_terminal(*args):
    """Runs with standard output on a pseudo-terminal.

    Returns (status, output, seconds until the exit, seconds until the last output arrived)."""
    master, slave = pty.openpty()
    started = time.monotonic()
    process = subprocess.Popen([CLI, *args], stdout=slave, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    os.close(slave)
    output = b""
    last_output = 0.0
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal's other end has closed
            break
        if not chunk:
            break
        output += chunk
        last_output = time.monotonic() - started
    status = process.wait(timeout=60)
    elapsed = time.monotonic() - started
    os.close(master)
    return status, output.decode().replace("\r\n", "\n"), elapsed, last_output


class ExitStatus(unittest.TestCase):
    def test_version_and_help_end_at_once_with_zero(self):
        version = run("--version", "--action", "get_status")
        self.assertEqual(version.returncode, 0)
        self.assertEqual(version.stdout, "varnu-cli\nVersion 1.2.0\n")
        self.assertEqual(version.stderr, "")

        help_run = run("--ip", "127.0.0.1", "--help", "--action", "get_status")
        self.assertEqual(help_run.returncode, 0)
        lines = help_run.stdout.splitlines()
        self.assertEqual(lines[:3], ["varnu-cli", "IP=127.0.0.1", "Help"])
        self.assertEqual(len(lines), 20)
        self.assertNotIn("Missing arguments", help_run.stdout)

    def test_no_action_is_a_success(self):
        for args in ([], ["--ip", "127.0.0.1", "stray"], ["--verb", "-i"]):
            with self.subTest(args=args):
                self.assertEqual(run(*args).returncode, 0)
        self.assertEqual(run().stdout, "varnu-cli\n")

    def test_an_action_without_its_values_is_a_usage_error(self):
        for action in ("get_backup", "put_backup", "setup_channel", "push_firmware", "get_status"):
            with self.subTest(action=action):
                result = run("--action", action)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout,
                                 f"varnu-cli\nACTION={action}\noptAction={action}\n" + MISSING.format(action))

    def test_dispatch_is_exact_and_case_sensitive(self):
        for action in ("frobnicate", "GET_STATUS", "get_status ", "get"):
            with self.subTest(action=action):
                result = run("--action", action)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, f"varnu-cli\nACTION={action}\noptAction={action}\n")
                self.assertEqual(result.stderr.count("\n"), 1)
                self.assertIn(action, result.stderr)

        dash_a = run("-a")  # "(null)" names no action
        self.assertEqual(dash_a.returncode, 2)
        self.assertIn("(null)", dash_a.stderr)

    def test_a_failed_action_ends_with_one(self):
        # Nothing listens on the discard port of the loopback address.
        result = run("--ip", "127.0.0.1:9", "--action", "get_status")
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stdout.startswith(
            "varnu-cli\nIP=127.0.0.1:9\nACTION=get_status\noptAction=get_status\noptIP=127.0.0.1:9\n"),
            result.stdout)
        self.assertNotIn(MISSING.format("get_status"), result.stdout)


class Parsing(unittest.TestCase):
    def test_diagnostics_carry_the_program_name(self):
        result = run("--verb", "--fi", "x", "-i", "1.2.3.4", "--nope", "--ip")
        self.assertEqual(result.stderr,
                         "varnu-cli: ambiguous option -- verb\n"
                         "varnu-cli: ambiguous option -- fi\n"
                         "varnu-cli: unknown option -- i\n"
                         "varnu-cli: unknown option -- nope\n"
                         "varnu-cli: option requires an argument -- ip\n")
        self.assertEqual(result.stdout,
                         "varnu-cli\n" + "?? getopt returned character code 077 ??\n" * 5
                         + "non-option ARGV-elements: x 1.2.3.4 \n")

    def test_posixly_correct_stops_at_the_first_non_option(self):
        result = run("--ip", "127.0.0.1", "x", "--action", "get_status", env={"POSIXLY_CORRECT": "1"})
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         "varnu-cli\nIP=127.0.0.1\nnon-option ARGV-elements: x --action get_status \n"
                         "optIP=127.0.0.1\n")

    def test_list_values_quoted_for_a_posix_shell(self):
        # The README's examples, through a real shell's quoting.
        result = subprocess.run(
            ["sh", "-c", shlex.quote(CLI) + " --channel='[1,3]' --channelcsvfile='\"a.csv\"' --backupconfig '[\"dali2\",\"cd2\"]'"],
            capture_output=True, text=True, timeout=60)
        self.assertEqual(result.stdout,
                         "varnu-cli\nCHANNEL=[1,3]\nCHANNELCSVFILE=\"a.csv\"\noptarg=#\"a.csv\"#"
                         "BackupConfig[\"dali2\",\"cd2\"]\n")


class Pause(unittest.TestCase):
    def test_terminal_runs_pause_four_seconds(self):
        status, output, elapsed, last_output = run_on_terminal("--action", "get_status")
        self.assertEqual(status, 2)
        self.assertGreaterEqual(elapsed, 3.9)
        # the message without a line end is on screen while the pause lasts
        self.assertTrue(output.endswith(MISSING.format("get_status")), output)
        self.assertLess(last_output, elapsed - 2.0)

    def test_help_and_version_never_pause(self):
        for option in ("--help", "--version"):
            with self.subTest(option=option):
                status, output, elapsed, _ = run_on_terminal(option)
                self.assertEqual(status, 0)
                self.assertTrue(output.startswith("varnu-cli\n"))
                self.assertLess(elapsed, 3.0)

    def test_piped_runs_end_at_once(self):
        started = time.monotonic()
        result = run("--action", "get_status")
        self.assertLess(time.monotonic() - started, 3.0)
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    unittest.main()
