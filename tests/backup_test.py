"""get_backup against the gateway stand-in: zip and folder output, configuration
lists, damaged answers and the refusals before the first fetch."""

import io
import json
import os
import re
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile

from gateway import CLI, Gateway, run_cli, run_cli_events
from records import tar_bytes

DEFAULT_ORDER = [
    "systemconfig", "schedules", "schedulesastro", "rlc", "commanders", "dali1", "dali2", "dali3", "dali4",
    "cd1", "cd2", "cd3", "cd4", "system_ui32", "dalv", "daeu", "daeutr", "daeutc", "dacdlcm", "dacdlcr",
    "rlcnamenvp", "cmdrnamenvp",
]
PATHS = {
    "systemconfig": "/etc/config/system/systemconfig.bin", "schedules": "/etc/config/schedule/schedule.bin",
    "schedulesastro": "/etc/config/schedule/scheduleastro.bin", "rlc": "/etc/config/rlc/rlc.bin",
    "commanders": "/etc/config/cmdr/cmdr.bin", "system_ui32": "/etc/config/nvp/system_ui32.bin",
    "dalv": "/etc/config/nvp/dalv.bin", "daeu": "/etc/config/nvp/daeu.bin", "daeutr": "/etc/config/nvp/daeutr.bin",
    "daeutc": "/etc/config/nvp/daeutc.bin", "dacdlcm": "/etc/config/nvp/dacdlcm.bin",
    "dacdlcr": "/etc/config/nvp/dacdlcr.bin", "rlcnamenvp": "/etc/config/nvp/rlcnamenvp.bin",
    "cmdrnamenvp": "/etc/config/nvp/cmdrnamenvp.bin",
}
for n in range(1, 5):
    PATHS["dali%d" % n] = "/etc/config/dali/dali%d.bin" % n
    PATHS["cd%d" % n] = "/etc/config/dali/cd%d.bin" % n

SERIAL = "SN-BACKUP-7"
OK_LINE = "\x1b[32mbackup\tbackup file OK, adding to backup archive...\r\n\r\n\x1b[0m"
NOT_FOUND_LINE = "backup\tbackup file not found for action get_backup.\r\n\r\n"
ARCHIVE_NAME = re.compile(r"^backup_127\.0\.0\.1_(\d+)_LUMARO_(\d{8}_\d{6})\.zip$")


def sections(stdout):
    """The output per fetch, keyed by configuration name (without the final saved-archive line)."""
    text = re.sub(r"backup\tsaved '[^']*'\n$", "", stdout.decode())
    parts = re.split(r"(?=backup\tfetching URL ')", text)
    out = {}
    for part in parts[1:]:
        name = re.match(r"backup\tfetching URL '[^']*config=([^']*)'", part).group(1)
        out[name] = part
    return out


class BackupTest(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory(prefix="backup-test-")
        self.temp = self._temp.name
        self.state = os.path.join(self.temp, "state")
        self.out = os.path.join(self.temp, "out")
        os.makedirs(self.out)

    def tearDown(self):
        self._temp.cleanup()

    def gateway(self, *options):
        return Gateway("--serial", SERIAL, *options, state_dir=self.state)

    def state_file(self, name):
        with open(os.path.join(self.state, PATHS[name].lstrip("/")), "rb") as f:
            return f.read()

    def backup_sizes(self, gw):
        """Body size of each backup answer the stand-in sent, by configuration name."""
        return {e.target.split("config=")[1]: e.size for e in gw.log_lines("http") if "backup.ssi" in e.target}

    def check_configuration_tar(self, name, data):
        """A stored archive holds the configuration file as the stand-in keeps it, then status.txt."""
        with tarfile.open(fileobj=io.BytesIO(data)) as t:
            self.assertEqual(t.getnames(), [PATHS[name], "status.txt"])
            self.assertEqual(t.extractfile(PATHS[name]).read(), self.state_file(name))
            self.assertIn(b'"serial_number":"%s"' % SERIAL.encode(), t.extractfile("status.txt").read())

    def only_archive(self):
        names = os.listdir(self.out)
        self.assertEqual(len(names), 1, names)
        return names[0]

    def test_full_zip_backup(self):
        with self.gateway() as gw:
            before = time.time()
            code, stdout, stderr = run_cli("--action=get_backup", "--ip", gw.address, "--backupfileout", self.out,
                                           "--backupfileouttype", "zip")
            after = time.time()
            sizes = self.backup_sizes(gw)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(stderr, b"")

        name = self.only_archive()
        match = ARCHIVE_NAME.match(name)
        self.assertTrue(match, name)
        self.assertEqual(int(match.group(1)), gw.port)  # the colon of the address became an underscore
        stamp = time.mktime(time.strptime(match.group(2), "%Y%m%d_%H%M%S"))
        self.assertTrue(int(before) - 1 <= stamp <= after + 1, (before, stamp, after))

        path = os.path.join(self.out, name)
        self.assertTrue(stdout.decode().endswith("backup\tsaved '%s'\n" % path), stdout[-200:])
        tested = subprocess.run(["unzip", "-t", path], capture_output=True, text=True)
        self.assertEqual(tested.returncode, 0, tested.stdout)
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos], [n + ".tar" for n in DEFAULT_ORDER] + ["manifest.json"])
            self.assertEqual(json.loads(z.read("manifest.json"))["saved"], DEFAULT_ORDER)
            for info, config in zip(infos, DEFAULT_ORDER):
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
                self.assertEqual(info.external_attr, 0)
                data = z.read(info)
                self.assertEqual(len(data), sizes[config], config)
                self.check_configuration_tar(config, data)

        parts = sections(stdout)
        self.assertEqual(list(parts), DEFAULT_ORDER)
        dali1 = parts["dali1"]
        url = "http://%s/api/v100/backup.ssi?config=dali1" % gw.address
        self.assertRegex(dali1, r"^backup\tfetching URL '%s'\.\nbackup\treceived %d bytes\.\n"
                                r"backup\tbackup file contains: \r\n"
                                r"\t/etc/config/dali/dali1\.bin \(%d bytes\)\r\n\tstatus\.txt \(\d+ bytes\)\r\n"
                                r"backup\tmodel name: LUMARO-4\r\nbackup\tfirmware version: 1\.5\.0\r\n"
                                r"backup\tserial number: %s\r\nbackup\tmac: [0-9a-f:]+\r\n%s$"
                         % (re.escape(url), sizes["dali1"], len(self.state_file("dali1")), SERIAL,
                            re.escape(OK_LINE)))

    def test_folder_backup_replaces_existing_files(self):
        with open(os.path.join(self.out, "dali1.tar"), "wb") as f:
            f.write(b"an older backup that is longer than nothing" * 1000)
        with self.gateway() as gw:
            code, stdout, stderr = run_cli("--action=get_backup", "--ip", gw.address, "--backupfileout", self.out,
                                           "--backupfileouttype", "directory")
            sizes = self.backup_sizes(gw)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(sorted(os.listdir(self.out)), sorted([n + ".tar" for n in DEFAULT_ORDER] + ["manifest.json"]))
        for config in DEFAULT_ORDER:
            with open(os.path.join(self.out, config + ".tar"), "rb") as f:
                data = f.read()
            self.assertEqual(len(data), sizes[config], config)
            self.check_configuration_tar(config, data)
        self.assertEqual(stdout.decode().count(OK_LINE), 22)

    def test_configuration_lists(self):
        with self.gateway() as gw:
            code, _, stderr = run_cli("--action=get_backup", "--ip", gw.address, "--backupfileout", self.out,
                                      "--backupfileouttype", "zip", '--backupconfig=["dali2","cd2"]')
            self.assertEqual(code, 0, stderr)
            with zipfile.ZipFile(os.path.join(self.out, self.only_archive())) as z:
                self.assertEqual(z.namelist(), ["dali2.tar", "cd2.tar", "manifest.json"])
                self.check_configuration_tar("cd2", z.read("cd2.tar"))
            # No type given: folder output. An empty list means the default list.
            folder = os.path.join(self.temp, "folder")
            os.makedirs(folder)
            code, _, stderr = run_cli("--action=get_backup", "--ip", gw.address, "--backupfileout", folder,
                                      "--backupconfig=[]")
            self.assertEqual(code, 0, stderr)
            self.assertEqual(len(os.listdir(folder)), 23)

    def test_damaged_answers_are_left_out(self):
        only_config = os.path.join(self.temp, "only_config.tar")
        with open(only_config, "wb") as f:
            f.write(tar_bytes([(PATHS["cd1"], b"\x01" * 3000)]))
        only_status = os.path.join(self.temp, "only_status.tar")
        with open(only_status, "wb") as f:
            f.write(tar_bytes([("status.txt", b'{"model_name":"LUMARO-4","mac":"aa"}')]))
        with self.gateway("--fail", "dali1=404", "--body", "dali3=truncate", "--reply", "cd1=" + only_config,
                          "--reply", "cd2=" + only_status, "--close", "rlc") as gw:
            code, stdout, stderr, events = run_cli_events("--action=get_backup", "--ip", gw.address,
                                                          "--backupfileout", self.out, "--backupfileouttype", "zip")
        self.assertEqual(code, 1)
        self.assertIn(b"curl_easy_perform() failed", stderr)
        missing = {"dali1", "dali3", "cd1", "cd2", "rlc"}
        archive = os.path.join(self.out, self.only_archive())
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), [n + ".tar" for n in DEFAULT_ORDER if n not in missing] + ["manifest.json"])
            manifest = json.loads(z.read("manifest.json"))
        # The backup, its events, show_backup and a restore all name what is missing.
        reasons = {"dali1": "HTTP 404", "dali3": "not a valid configuration archive", "rlc": "transfer broke off",
                   "cd1": "not a valid configuration archive", "cd2": "not a valid configuration archive"}
        self.assertEqual({m["name"]: m["reason"] for m in manifest["missing"]}, reasons)
        self.assertEqual((manifest["complete"], manifest["requested"]), (False, DEFAULT_ORDER))
        failed = {e["name"]: e["reason"] for e in events if e["event"] == "step" and e["outcome"] == "failed"}
        self.assertEqual(failed, reasons)
        self.assertEqual(events[-1]["counts"], {"configuration": {"done": 17, "failed": 5}})
        self.assertEqual([e["path"] for e in events if e["event"] == "file"], [archive])
        incomplete = "Backup incomplete: " + ", ".join("%s missing (%s)" % (n, reasons[n]) for n in DEFAULT_ORDER
                                                       if n in missing)
        self.assertEqual(stderr.decode().splitlines()[-1], incomplete)
        _, shown, _ = run_cli("--action=show_backup", "--backupfilein", archive)
        self.assertIn(incomplete, shown.decode().splitlines())
        with self.gateway() as gw:
            code, _, stderr = run_cli("--action=put_backup", "--ip", gw.address, "--backupfilein", archive)
        self.assertEqual((code, stderr.decode().splitlines()[0]), (0, incomplete))
        parts = sections(stdout)
        for config in DEFAULT_ORDER:
            self.assertEqual(parts[config].endswith(NOT_FOUND_LINE), config in missing, config)
            self.assertEqual(parts[config].endswith(OK_LINE), config not in missing, config)
        # An HTML page shorter than one header: nothing can be listed.
        self.assertIn("backup\tbackup file contains: \r\n\tfile error -3.\r\n"
                      "backup\terror status.txt file not found.\r\n", parts["dali1"])
        # Half an archive: the configuration's data is cut.
        self.assertRegex(parts["dali3"], r"\t/etc/config/dali/dali3\.bin \(\d+ bytes\)\r\n\tfile error -3\.\r\n"
                                         r"backup\terror status\.txt file not found\.\r\n")
        self.assertIn("\t/etc/config/dali/cd1.bin (3000 bytes)\r\nbackup\terror status.txt file not found.\r\n",
                      parts["cd1"])
        self.assertIn("\tstatus.txt (36 bytes)\r\nbackup\tmodel name: LUMARO-4\r\n", parts["cd2"])
        self.assertNotIn("backup file contains", parts["rlc"])

    def test_nothing_fetched_leaves_no_archive(self):
        with self.gateway("--fail", "backup=404") as gw:
            code, stdout, _ = run_cli("--action=get_backup", "--ip", gw.address, "--backupfileout", self.out,
                                      "--backupfileouttype", "zip")
        self.assertEqual(code, 1)
        self.assertEqual(stdout.decode().count(NOT_FOUND_LINE), 22)
        self.assertEqual(os.listdir(self.out), [])

    def test_refusals_before_the_first_fetch(self):
        missing = os.path.join(self.temp, "missing")
        cases = [
            (2, ["--backupfileout", self.out, "--backupfileouttype", "tar"], b'"zip", "directory"'),
            (2, ["--backupfileout", self.out, '--backupconfig=["dali1","../dali2"]'], b"outside the output folder"),
            (1, ["--backupfileout", missing, "--backupfileouttype", "zip"], b"not writable"),
            (1, ["--backupfileout", missing, "--backupfileouttype", "directory"], b"not writable"),
            (2, ["--backupfileout", self.out, "--backupconfig=dali1"], b"option --backupconfig takes a JSON list"),
        ] + [(2, ["--backupfileout", self.out, "--backupfileouttype", kind, '--backupconfig=["rlc","dali1","rlc"]'],
              b"names the configuration 'rlc' twice") for kind in ("zip", "directory")]
        with self.gateway() as gw:
            for expected, options, message in cases:
                with self.subTest(options=options):
                    code, stdout, stderr = run_cli("--action=get_backup", "--ip", gw.address, *options)
                    self.assertEqual(code, expected)
                    self.assertIn(message, stderr)
                    self.assertNotIn(b"fetching", stdout)
            self.assertEqual([e for e in gw.log_lines("http") if "backup.ssi" in e.target], [])
        self.assertEqual(os.listdir(self.out), [])
        self.assertFalse(os.path.exists(missing))

    def test_refusal_follows_the_banner_in_one_stream(self):
        merged = subprocess.run([CLI, "--action=get_backup", "--ip=127.0.0.1:9", "--backupconfig=dali1"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30).stdout
        self.assertTrue(merged.startswith(b"varnu-cli\nACTION=get_backup\nIP=127.0.0.1:9\nBackupConfigdali1\n"
                                          b"varnu-cli: option --backupconfig"), merged)


if __name__ == "__main__":
    unittest.main()
