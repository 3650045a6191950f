"""put_backup against gateway stand-ins: backups taken at one firmware restored onto another.

The records are read back from the receiving stand-in's state folder and
checked here with this file's own reading of the record layouts.
"""

import os
import struct
import tempfile
import unittest
import zipfile

from gateway import Gateway, run_cli
from records import LAYOUT, INPUT_LENGTH, crc_is_valid, gear_names, group_names, header, member_names, tar_bytes, tar_member

DALI = ["/etc/config/dali/dali%d.bin" % c for c in range(1, 5)]
CD = ["/etc/config/dali/cd%d.bin" % c for c in range(1, 5)]


def state_file(directory, path):
    with open(os.path.join(directory, path.lstrip("/")), "rb") as f:
        return f.read()


class RestoreCase(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="restore-test-")
        self.dir = self.temp.name

    def tearDown(self):
        self.temp.cleanup()

    def backup_of(self, *options, kind="zip"):
        """A backup taken from a fresh stand-in: the zip path, or the folder for kind "directory"."""
        folder = os.path.join(self.dir, "backup-%d" % len(os.listdir(self.dir)))
        os.mkdir(folder)
        with Gateway(*options) as gw:
            code, out, err = run_cli("--action", "get_backup", "--ip", gw.address,
                                     "--backupfileout", folder, "--backupfileouttype", kind)
        self.assertEqual(code, 0, err)
        if kind == "directory":
            return folder
        (name,) = os.listdir(folder)
        return os.path.join(folder, name)

    def state_dir(self):
        path = tempfile.mkdtemp(dir=self.dir, prefix="state-")
        return path

    def restore(self, gw, path):
        code, out, err = run_cli("--action", "put_backup", "--ip", gw.address, "--backupfilein", path)
        return code, out.decode(), err.decode()

    def restore_lines(self, gw, outcome=None):
        return [e for e in gw.log_lines("restore") if outcome is None or e.outcome == outcome]


class FirmwareUpgrade(RestoreCase):
    def check_restored_records(self, state, source_zip, version):
        length = LAYOUT[version][0]
        with zipfile.ZipFile(source_zip) as z:
            for channel, path in enumerate(DALI, 1):
                source = tar_member(z.read("dali%d.tar" % channel), path)
                record = state_file(state, path)
                self.assertEqual(len(record), length, path)
                got_length, crc, got_version, changes = header(record)
                self.assertEqual((got_length, got_version), (length, version), path)
                self.assertEqual(changes, header(source)[3] + 1, path)
                self.assertTrue(crc_is_valid(record), path)
                self.assertLess(crc, 0x10000)
                self.assertEqual(gear_names(record), gear_names(source), path)
                self.assertIn("Ch%d Luminaire 01" % channel, gear_names(record))
                self.assertEqual(group_names(record), group_names(source), path)

    def test_backup_of_1_3_0_onto_newer_firmware(self):
        source_zip = self.backup_of("--firmware-version", "1.3.0")
        for firmware, version in (("1.3.1", 2), ("1.5.0", 3)):
            with self.subTest(firmware=firmware):
                state = self.state_dir()
                with Gateway("--firmware-version", firmware, state_dir=state) as gw:
                    code, out, err = self.restore(gw, source_zip)
                    self.assertEqual(code, 0, out + err)
                    self.assertEqual(self.restore_lines(gw, "refused"), [])
                    took = [e.target for e in self.restore_lines(gw, "took")]
                    log = gw.log_lines()
                self.check_restored_records(state, source_zip, version)
                with zipfile.ZipFile(source_zip) as z:
                    expected = [member_names(z.read(n))[0] for n in z.namelist()]
                # One upload and one restore per configuration, in the archive's order: each
                # restore applied the upload just before it. (The stand-in logs a TFTP transfer
                # after its last acknowledgement, so log order alone cannot show the alternation.)
                self.assertEqual(took, expected)
                self.assertEqual(out.count("\x1b[32mbackup\tbackup push completed.\n\n\x1b[0m"), 22)
                self.assertEqual(len([e for e in log if e.protocol == "tftp" and e.outcome == "ok"]), 22)
                restores = [e.target for e in log if e.protocol == "http"][1:]
                self.assertEqual(len(restores), 22)
                self.assertTrue(all(t.endswith("/status.ssi?action=restoreconfig") for t in restores))

    def test_input_records_of_1_3_1_onto_2_2_4(self):
        source_zip = self.backup_of("--firmware-version", "1.3.1")
        state = self.state_dir()
        with Gateway("--firmware-version", "2.2.4", state_dir=state) as gw:
            code, out, err = self.restore(gw, source_zip)
            self.assertEqual(self.restore_lines(gw, "refused"), [])
        self.assertEqual(code, 0, out + err)
        self.check_restored_records(state, source_zip, 3)
        settings = {1: 6, 3: 4, 4: 3}
        with zipfile.ZipFile(source_zip) as z:
            for channel, path in enumerate(CD, 1):
                source = tar_member(z.read("cd%d.tar" % channel), path)
                record = state_file(state, path)
                self.assertEqual(header(source)[2], 2)
                self.assertEqual((header(record)[0], header(record)[2]), (INPUT_LENGTH[3], 3))
                self.assertTrue(crc_is_valid(record))
                devices = 0
                for d in range(32):
                    entry = 28 + 100 * d
                    self.assertEqual(record[entry:entry + 97], source[entry:entry + 97])
                    b2, b3 = 3228 + 194 * d, 3228 + 198 * d
                    self.assertEqual(record[b3 + 1], source[b2 + 192])
                    for k in range(32):
                        n = settings.get(source[entry + 16 + 2 * k], 0)
                        self.assertEqual(record[b3 + 6 + 6 * k:b3 + 6 + 6 * k + n], source[b2 + n * k:b2 + n * k + n])
                    devices += record[entry + 13] == 255
                self.assertGreaterEqual(devices, 3)

    def test_each_upload_is_a_one_member_tar(self):
        source_zip = self.backup_of("--firmware-version", "1.3.0")
        with zipfile.ZipFile(source_zip) as z:
            only_dali = os.path.join(self.dir, "only-dali.zip")
            with zipfile.ZipFile(only_dali, "w") as out:
                out.writestr("dali3.tar", z.read("dali3.tar"))
        with Gateway("--firmware-version", "1.5.0") as gw:
            code, out, _ = self.restore(gw, only_dali)
            uploads = gw.log_lines("tftp")
        self.assertEqual(code, 0)
        self.assertEqual(out.splitlines()[-8:-3], [
            "backup\tpush backup file '/etc/config/dali/dali3.bin'.",
            "firmware_push_tftp\tpushing URL 'tftp://%s/flashraw.bin'." % gw.address,
            "backup\tbackup file pushed.",
            "backup_put\tpushing URL '%s/api/v100/status.ssi?action=restoreconfig'." % gw.address,
            "backup\tbackup file restore started.",
        ])
        # Header, 7072 bytes padded to 7168, end marker; no status.txt.
        self.assertEqual([e.size for e in uploads], [512 + 7168 + 1024])


class Refusals(RestoreCase):
    def test_newer_records_onto_older_firmware_are_refused_and_the_rest_restored(self):
        source_zip = self.backup_of("--firmware-version", "1.5.0")
        state = self.state_dir()
        with Gateway("--firmware-version", "1.3.1", state_dir=state) as gw:
            before = [state_file(state, p) for p in DALI]
            code, out, err = self.restore(gw, source_zip)
            took = [e.target for e in self.restore_lines(gw, "took")]
        self.assertEqual(code, 1)
        for path in DALI:
            self.assertIn("action_put_backup\terror '%s' not restored: CONFIGURATION dali CONVERSION VERSION 3 to 2 "
                          "IS NOT SUPPORTED!\r\n" % path, out)
        self.assertEqual([state_file(state, p) for p in DALI], before)
        self.assertEqual(len(took), 18)
        self.assertEqual(took[-1], "/etc/config/nvp/cmdrnamenvp.bin")
        self.assertFalse(set(DALI) & set(took))

    def test_stand_in_refuses_a_damaged_record(self):
        source_zip = self.backup_of("--firmware-version", "1.5.0")
        with zipfile.ZipFile(source_zip) as z:
            record = bytearray(tar_member(z.read("dali2.tar"), DALI[1]))
        record[100] ^= 0xFF  # the CRC no longer matches
        bad_crc = tar_bytes([(DALI[1], bytes(record))])
        record[100] ^= 0xFF
        struct.pack_into("<I", record, 0, 7000)  # the length field lies
        bad_length = tar_bytes([(DALI[1], bytes(record))])
        for name, archive in (("crc", bad_crc), ("length", bad_length)):
            with self.subTest(name):
                path = os.path.join(self.dir, "dali2-%s.zip" % name)
                with zipfile.ZipFile(path, "w") as out:
                    out.writestr("dali2.tar", archive)
                state = self.state_dir()
                with Gateway("--firmware-version", "1.5.0", state_dir=state) as gw:
                    before = state_file(state, DALI[1])
                    code, out, err = self.restore(gw, path)
                    refused = self.restore_lines(gw, "refused")
                self.assertEqual(code, 1)
                if name == "crc":
                    self.assertEqual([e.target for e in refused], [DALI[1]])
                    self.assertIn("422", err)
                else:  # a length field that does not match is refused before anything is sent
                    self.assertEqual((refused, gw.log_lines("tftp")), ([], []))
                    self.assertIn("not restored: record version 3 says 7000 bytes but holds 7072\r\n", out)
                self.assertNotIn("backup push completed", out)
                self.assertEqual(state_file(state, DALI[1]), before)

    def test_unknown_firmware_version_restores_only_plain_configurations(self):
        source_zip = self.backup_of("--firmware-version", "1.5.0")
        status = os.path.join(self.dir, "status.json")
        with open(status, "w") as f:
            f.write('{"model_name":"LUMARO-2","serial_number":"X1"}')
        with Gateway("--reply", "status=" + status) as gw:
            code, out, err = self.restore(gw, source_zip)
            took = [e.target for e in self.restore_lines(gw, "took")]
        self.assertEqual(code, 1)
        for path in DALI + CD:
            self.assertIn("action_put_backup\terror '%s' not restored: the gateway's firmware version is unknown.\r\n"
                          % path, out)
        self.assertEqual(len(took), 14)
        self.assertFalse(set(DALI + CD) & set(took))

    def test_failed_upload_sends_no_restore_request(self):
        source_zip = self.backup_of("--firmware-version", "1.5.0")
        with Gateway("--tftp-error", "2") as gw:
            code, out, _ = self.restore(gw, source_zip)
            restores = [e for e in gw.log_lines("http") if "restoreconfig" in e.target]
        self.assertEqual(code, 1)
        self.assertEqual(restores, [])
        self.assertNotIn("backup file pushed.", out)
        self.assertEqual(out.count("push backup file"), 22)


class Inputs(RestoreCase):
    def test_stray_and_case_variant_entries_are_passed_over(self):
        source_zip = self.backup_of()
        path = os.path.join(self.dir, "mixed.zip")
        with zipfile.ZipFile(source_zip) as z, zipfile.ZipFile(path, "w") as out:
            out.writestr("notes.txt", "not a configuration")
            out.writestr("DALI1.tar", z.read("dali1.tar"))
            out.writestr("rlc.TAR", z.read("rlc.tar"))
            out.writestr("cd2.tar", z.read("cd2.tar"))
            out.writestr("folder/", "")
        with Gateway() as gw:
            code, out, err = self.restore(gw, path)
            took = [e.target for e in self.restore_lines(gw, "took")]
        self.assertEqual(code, 0, out + err)
        self.assertEqual(took, [CD[1]])
        self.assertEqual(out.count("push backup file"), 1)

        # An empty entry of a configuration's name is not restored, and that makes a failure.
        with zipfile.ZipFile(path, "a") as out:
            out.writestr("cd3.tar", b"")
        with Gateway() as gw:
            code, out, err = self.restore(gw, path)
            took = [e.target for e in self.restore_lines(gw, "took")]
        self.assertEqual(code, 1)
        self.assertEqual(took, [CD[1]])
        self.assertIn("'cd3.tar' cannot be read", err)

    def test_member_problems_are_reported_and_counted(self):
        path = os.path.join(self.dir, "odd.zip")
        with zipfile.ZipFile(path, "w") as out:
            out.writestr("dali1.tar", tar_bytes([("status.txt", b"{}")]))
            out.writestr("rlc.tar", tar_bytes([("/etc/config/rlc/rlc.bin", b"")]))
            out.writestr("dalv.tar", tar_bytes([("/etc/config/nvp/dalv.bin", b"opaque")]))
        with Gateway() as gw:
            code, out, _ = self.restore(gw, path)
            took = [e.target for e in self.restore_lines(gw, "took")]
        self.assertEqual(code, 1)
        self.assertIn("action_put_backup\terror '/etc/config/dali/dali1.bin' file not found.\r\n", out)
        self.assertIn("action_put_backup\terror '/etc/config/rlc/rlc.bin' file size error\r\n", out)
        self.assertEqual(took, ["/etc/config/nvp/dalv.bin"])

    def test_folder_tar_is_uploaded_byte_for_byte(self):
        folder = self.backup_of("--firmware-version", "1.5.0", kind="directory")
        for name in ("systemconfig.tar", "dali1.tar", "cd3.tar"):
            with self.subTest(name):
                tar = os.path.join(folder, name)
                with Gateway("--firmware-version", "1.5.0") as gw:
                    code, out, err = self.restore(gw, tar)
                    uploads = gw.log_lines("tftp")
                    took = self.restore_lines(gw, "took")
                self.assertEqual(code, 0, out + err)
                self.assertTrue(out.endswith("backup\tbackup file restore started.\nOK\n"), out)
                self.assertEqual([e.size for e in uploads], [os.path.getsize(tar)])
                self.assertEqual(len(took), 1)

    def test_single_tar_with_an_older_record_is_converted(self):
        folder = self.backup_of("--firmware-version", "1.3.0", kind="directory")
        state = self.state_dir()
        with Gateway("--firmware-version", "1.5.0", state_dir=state) as gw:
            code, out, err = self.restore(gw, os.path.join(folder, "dali4.tar"))
            uploads = gw.log_lines("tftp")
        self.assertEqual(code, 0, out + err)
        self.assertNotIn("OK\n", out)
        self.assertEqual([e.size for e in uploads], [512 + 7168 + 1024])
        length, _, version, _ = header(state_file(state, DALI[3]))
        self.assertEqual((length, version), (7072, 3))

    def test_single_tar_with_a_newer_record_uploads_nothing(self):
        folder = self.backup_of("--firmware-version", "1.5.0", kind="directory")
        with Gateway("--firmware-version", "1.3.1") as gw:
            code, out, _ = self.restore(gw, os.path.join(folder, "dali2.tar"))
            uploads = gw.log_lines("tftp")
        self.assertEqual(code, 1)
        self.assertIn("CONFIGURATION dali CONVERSION VERSION 3 to 2 IS NOT SUPPORTED!", out)
        self.assertEqual(uploads, [])

    def test_unreadable_inputs(self):
        with Gateway() as gw:
            missing = self.restore(gw, os.path.join(self.dir, "nothing-here.tar"))
            garbage_path = os.path.join(self.dir, "garbage.bin")
            with open(garbage_path, "wb") as f:
                f.write(b"\x01" * 2048)
            garbage = self.restore(gw, garbage_path)
            empty_zip = os.path.join(self.dir, "empty.zip")
            zipfile.ZipFile(empty_zip, "w").close()
            nothing = self.restore(gw, empty_zip)
            uploads = gw.log_lines("tftp")
        self.assertEqual(missing[0], 1)
        self.assertTrue(missing[1].endswith("model_name=LUMARO-4\r\nError -2 opening tar file."), missing[1])
        self.assertEqual(garbage[0], 1)
        self.assertTrue(garbage[1].endswith("Error -6 opening tar file."), garbage[1])
        self.assertEqual(nothing[0], 1)
        self.assertEqual(uploads, [])

    def test_usage_and_unreachable_gateway(self):
        code, out, _ = run_cli("--action", "put_backup", "--backupfilein", "x.zip")
        self.assertEqual((code, out.decode().splitlines()[-1]), (2, "Missing arguments for action put_backup."))
        with Gateway("--fail", "status=500") as gw:
            code, out, _ = self.restore(gw, "x.zip")
            self.assertEqual(gw.log_lines("tftp"), [])
        self.assertEqual(code, 1)
        self.assertNotIn("model_name=", out.decode() if isinstance(out, bytes) else out)


if __name__ == "__main__":
    unittest.main()
