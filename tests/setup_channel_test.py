"""setup_channel against the gateway stand-in: channel, group and input-device CSV files installed on a
gateway, and the channels that must be refused.

The records the gateway took are read back from the stand-in's state folder and decoded here, at the
offsets of their version, independently of the console tool's own record code.
"""

import json
import os
import struct
import tempfile
import unittest

from gateway import Gateway, run_cli, run_cli_events
from records import INPUT_LENGTH, LAYOUT, crc_is_valid, group_names, header, tar_bytes, text


def gear(record, slot):
    """The imported fields of gear slot `slot` as a dict."""
    version = max(header(record)[2], 1)
    _, size, name, _ = LAYOUT[version]
    at = 60 + size * slot
    return {
        "flags": struct.unpack_from("<I", record, at)[0],
        "levels": list(record[at + 5:at + 9]),
        "fade": (record[at + 9], record[at + 10]),
        "address": record[at + 11],
        "groups": struct.unpack_from("<H", record, at + 18)[0],
        "scenes": list(record[at + 20:at + 36]),
        "marker": record[at + 36],
        "name": text(record, at + name, 33),
    }


def state_file(directory, path):
    with open(os.path.join(directory, path.lstrip("/")), "rb") as f:
        return f.read()


def write(directory, name, content):
    path = os.path.join(directory, name)
    with open(path, "w", newline="") as f:
        f.write(content)
    return path


def status_txt(firmware="1.5.0"):
    status = {"model_name": "LUMARO-4", "serial_number": "LM4-1", "mac": "02:00:00:00:00:01"}
    if firmware:
        status["firmware_version"] = firmware
    return json.dumps(status).encode()


def channel_record(version, length):
    record = bytearray(length)
    struct.pack_into("<4I", record, 0, length, 0, version, 0)
    return bytes(record)


def quoted(path):
    return json.dumps(path)


CHANNEL_CSV = ('#dali-channel-csv-version: 1\n'
               '# tag,slot,address,name,groups,l1,l2,l3,l4,fade rate,fade time,scenes\n'
               '9,3,12,Desk {n},"[1,4]",FALSE,null,254,2,0,16,"[10,null,30]"\n')
GROUP_CSV = '#dali-channel-groups-csv-version: 1\n0,5,Stairs\n0,15,"Roof, north"\n'
INPUT_CSV = ('#dali-channel-inputs-csv-version: 1\n'
             '5,4,9,Hall keypad,0,2,"[1,3]","[7,8]","[6]","[11,12]",,,,,,"[21,22]","[31,32]","[41,42]",,\n')


class SetupChannel(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory(prefix="setup-channel-")
        self.dir = self._temp.name
        self.state = None

    def tearDown(self):
        self._temp.cleanup()

    def gateway(self, *options):
        """A stand-in with a fresh state folder of its own (self.state)."""
        self.state = tempfile.mkdtemp(prefix="state-", dir=self.dir)
        return Gateway(*options, state_dir=self.state)

    def setup(self, gw, *options):
        code, out, err = run_cli("--action=setup_channel", "--ip=" + gw.address, *options)
        return code, out.decode(errors="replace"), err.decode(errors="replace")

    def requests(self, gw):
        """The stand-in's HTTP requests and TFTP uploads in order, as (method, target)."""
        gw.wait_for_log(lambda e: e.protocol == "tftp", timeout=1)
        return [(e.method, e.target) for e in gw.log_lines() if e.protocol in ("http", "tftp")]

    def restored(self, gw):
        return [(e.outcome, e.target) for e in gw.log_lines("restore")]

    def test_two_channel_files_for_two_channels(self):
        first = write(self.dir, "a.csv", CHANNEL_CSV.format(n=1))
        second = write(self.dir, "b.csv", CHANNEL_CSV.format(n=2))
        with self.gateway() as gw:
            before = state_file(self.state, "/etc/config/dali/dali2.bin")
            code, out, err = self.setup(gw, "--channel=[1,2]", "--channelcsvfile=" + json.dumps([first, second]))
            self.assertEqual(code, 0, out + err)
            restore = ("GET", "/api/v100/status.ssi?action=restoreconfig")
            self.assertEqual(self.requests(gw), [
                ("GET", "/api/v100/backup.ssi?config=dali1"), ("WRQ", "flashraw.bin"), restore,
                ("GET", "/api/v100/backup.ssi?config=dali2"), ("WRQ", "flashraw.bin"), restore])
            self.assertEqual(self.restored(gw), [("took", "/etc/config/dali/dali1.bin"),
                                                 ("took", "/etc/config/dali/dali2.bin")])
        self.assertIn("OK\nCH=1\nFILE=%s\n" % first, out)
        self.assertIn("OK\nCH=2\nFILE=%s\n" % second, out)
        self.assertEqual(out.count("backup\tbackup file restore started.\nOK\n"), 2)

        record = state_file(self.state, "/etc/config/dali/dali2.bin")
        self.assertEqual(len(record), 7072)
        self.assertTrue(crc_is_valid(record))
        length, _, version, changes = header(record)
        self.assertEqual((length, version, changes), (header(before)[0], 3, header(before)[3]))
        self.assertEqual(struct.unpack_from("<I", record, 16)[0], 9)  # the import tag of version 3
        entry = gear(record, 3)
        self.assertEqual(entry["name"], "Desk 2")
        old_flags = struct.unpack_from("<I", before, 60 + 100 * 3)[0]
        self.assertEqual(entry["flags"], old_flags | 0x9)  # addressed, imported with level 1 "false"
        self.assertEqual(entry["address"], 25)
        self.assertEqual(entry["levels"], [100, 255, 254, 2])
        self.assertEqual(entry["fade"], (1, 15))
        self.assertEqual(entry["groups"], 0x12)
        self.assertEqual(entry["scenes"], [10, 255, 30] + [255] * 13)
        self.assertEqual(entry["marker"], 255)
        # Everything outside the imported slot and the import tag is the gateway's own.
        at, size = 60 + 100 * 3, 100
        self.assertEqual(record[20:at], before[20:at])
        self.assertEqual(record[at + size:], before[at + size:])

    def test_only_channels_with_a_file_are_handled(self):
        path = write(self.dir, "a.csv", CHANNEL_CSV.format(n=1))
        with self.gateway() as gw:
            code, out, err = self.setup(gw, "--channel=[1,2]", "--channelcsvfile=" + quoted(path))
            self.assertEqual(code, 0, out + err)
            self.assertEqual([t for _, t in self.requests(gw) if "config=" in t],
                             ["/api/v100/backup.ssi?config=dali1"])
            self.assertEqual(len([m for m, _ in self.requests(gw) if m == "WRQ"]), 1)

    def test_channel_files_win_over_group_files(self):
        path = write(self.dir, "a.csv", CHANNEL_CSV.format(n=1))
        missing = os.path.join(self.dir, "no-groups.csv")
        with self.gateway() as gw:
            code, out, err = self.setup(gw, "--channel=3", "--channelcsvfile=" + quoted(path),
                                        "--channelgroupscsvfile=" + quoted(missing))
            self.assertEqual(code, 0, out + err)
            self.assertIn("FILE=%s\n" % path, out)
            self.assertNotIn(missing, out.split("optIP")[-1])
            self.assertEqual(gear(state_file(self.state, "/etc/config/dali/dali3.bin"), 3)["name"], "Desk 1")

    def test_records_of_every_firmware_layout(self):
        channels = write(self.dir, "a.csv", CHANNEL_CSV.format(n=7))
        groups = write(self.dir, "g.csv", GROUP_CSV)
        for firmware, version in (("1.2.9", 1), ("1.4.2", 2), ("1.5.0", 3)):
            with self.subTest(firmware=firmware), self.gateway("--firmware-version", firmware) as gw:
                code, out, err = self.setup(gw, "--channel=1", "--channelcsvfile=" + quoted(channels))
                self.assertEqual(code, 0, out + err)
                code, out, err = self.setup(gw, "--channel=1", "--channelgroupscsvfile=" + quoted(groups))
                self.assertEqual(code, 0, out + err)
                self.assertEqual([o for o, _ in self.restored(gw)], ["took", "took"])
                record = state_file(self.state, "/etc/config/dali/dali1.bin")
                self.assertEqual(len(record), LAYOUT[version][0])
                self.assertEqual(header(record)[2], version)
                self.assertTrue(crc_is_valid(record))
                self.assertEqual(gear(record, 3)["name"], "Desk 7")
                self.assertEqual(gear(record, 3)["address"], 25)
                self.assertEqual((group_names(record)[5], group_names(record)[15]), ("Stairs", "Roof, north"))
                table = LAYOUT[version][3]
                self.assertEqual(record[table + 38 * 5 + 36], 255)

    def test_input_devices_for_channel_2(self):
        path = write(self.dir, "in.csv", INPUT_CSV)
        with self.gateway() as gw:
            code, out, err = self.setup(gw, "--channel=[2]", "--channelinputscsvfile=" + quoted(path))
            self.assertEqual(code, 0, out + err)
            requests = self.requests(gw)
            self.assertEqual(requests[0], ("GET", "/api/v100/backup.ssi?config=dali2"))
            upload = [e for e in gw.log_lines("tftp")]
            # One member of 9564 bytes: header, 19 data blocks, end marker.
            self.assertEqual(upload[0].size, 512 + 19 * 512 + 1024)
            self.assertEqual(self.restored(gw), [("took", "/etc/config/dali/cd2.bin")])
        listing = out.split("CH=2")[1]
        self.assertIn("backup file contains: \r\n\t/etc/config/dali/cd2.bin (9564 bytes)\r\nfirmware_push_tftp",
                      listing)

        record = state_file(self.state, "/etc/config/dali/cd2.bin")
        self.assertEqual(len(record), INPUT_LENGTH[3])
        self.assertEqual(header(record)[0], INPUT_LENGTH[3])
        self.assertEqual(header(record)[2], 3)
        self.assertTrue(crc_is_valid(record))
        self.assertEqual(struct.unpack_from("<I", record, 16)[0], 5)
        entry, block = 28 + 100 * 4, 3228 + 198 * 4
        self.assertEqual(struct.unpack_from("<I", record, entry)[0], 3)
        self.assertEqual((record[entry + 8], record[entry + 10], record[entry + 13]), (19, 2, 255))
        self.assertEqual(list(record[entry + 16:entry + 20]), [1, 7, 3, 8])
        self.assertEqual(text(record, entry + 80, 17), "Hall keypad")
        self.assertEqual(record[block + 1], 6)
        self.assertEqual(list(record[block + 6:block + 12]), [11, 0, 0, 0, 0, 0])
        self.assertEqual(list(record[block + 12:block + 18]), [0, 22, 32, 42, 0, 0])

    def test_input_devices_on_older_firmware_end_the_tool(self):
        path = write(self.dir, "in.csv", INPUT_CSV)
        with self.gateway("--firmware-version", "1.3.1") as gw:
            code, out, err = self.setup(gw, "--channel=[2,3]", "--channelinputscsvfile=" + quoted([path, path]))
            self.assertEqual(code, 1)
            self.assertTrue(out.endswith("importcsv_cd\terror version 1.3.1 not supported.\r\n"), out)
            self.assertEqual(gw.log_lines("tftp"), [])
            self.assertNotIn("config=dali3", "".join(t for _, t in self.requests(gw)))

    def test_argument_edges(self):
        with self.gateway() as gw:
            code, out, _ = self.setup(gw, "--channelcsvfile=" + quoted("a.csv"))
            self.assertEqual(code, 2)
            self.assertTrue(out.endswith("Missing arguments for action setup_channel."), out)
            code, out, _ = self.setup(gw, "--channel=[0]", "--channelcsvfile=" + quoted("a.csv"))
            self.assertEqual(code, 0)
            self.assertTrue(out.endswith("optIP=%s\n" % gw.address), out)
            self.assertEqual(gw.log_lines(), [])

    def test_csv_files_that_install_nothing_push_nothing(self):
        cases = {  # the file, and the line that names its skipped row
            "missing": (os.path.join(self.dir, "missing.csv"), None),
            "no header": (write(self.dir, "plain.csv", CHANNEL_CSV.split("\n", 1)[1].format(n=1)),
                          'line 2 of \'{}\' skipped: no version line "#dali-channel-csv-version: 1" before it'),
            "version 2": (write(self.dir, "v2.csv", CHANNEL_CSV.replace("version: 1", "version: 2").format(n=1)),
                          "line 3 of '{}' skipped: the file's version 2 is not read (1 is)"),
            "short rows": (write(self.dir, "short.csv", "#dali-channel-csv-version: 1\n1,2,3\n"),
                           "line 2 of '{}' skipped: 3 fields, 12 expected."),
            "semicolons": (write(self.dir, "semi.csv", CHANNEL_CSV.format(n=1).replace(",", ";")),
                           "line 3 of '{}' skipped: 1 fields, 12 expected (separated by ';'"),
            "field too long": (write(self.dir, "long.csv", '#dali-channel-csv-version: 1\n1,5,0,"%s",,0,0,0,0,1,0,\n'
                                     % ("n" * 100000)), None),
        }
        for case, (path, skipped) in cases.items():
            with self.subTest(case=case), self.gateway() as gw:
                code, out, err = self.setup(gw, "--channel=1", "--channelcsvfile=" + quoted(path))
                self.assertEqual(code, 1)
                reports = [line for line in err.splitlines() if line.startswith("setup_channel\t")]
                self.assertEqual(len(reports), 2 if skipped else 1, err)
                if skipped:
                    self.assertIn("channel 1: " + skipped.format(path), reports[0])
                self.assertIn("channel 1 not pushed", reports[-1])
                self.assertIn(path, reports[-1])
                self.assertEqual(gw.log_lines("tftp"), [])
                self.assertNotIn("OK\n", out.split("\nFILE=")[1])

    def test_skipped_rows_are_named_and_the_run_ends_with_warnings(self):
        rows = CHANNEL_CSV.format(n=1) + '9,64,1,Slot 64,,0,0,0,0,1,0,\n9,4,1,Short\n9,5,13,Desk 5,"[2]",1,1,1,1,1,1,\n'
        path = write(self.dir, "mixed.csv", rows)
        with self.gateway() as gw:
            code, out, err, events = run_cli_events("--action", "setup_channel", "--ip", gw.address, "--channel=1",
                                                    "--channelcsvfile=" + quoted(path))
            self.assertEqual(len([e for e in gw.log_lines("restore") if e.outcome == "took"]), 1)
        self.assertEqual(code, 1)
        self.assertIn("applied 2 of 4 rows, 2 skipped", out.decode().splitlines())
        self.assertEqual([line.split(": ", 1)[1] for line in err.decode().splitlines() if "skipped:" in line],
                         ["line 4 of '%s' skipped: slot not within 0-63." % path,
                          "line 5 of '%s' skipped: 4 fields, 12 expected." % path])
        steps = [(e["kind"], e["name"], e["index"], e["total"], e["outcome"]) for e in events if e["event"] == "step"]
        self.assertEqual(steps, [("row", "4", 2, 4, "skipped"), ("row", "5", 3, 4, "skipped"),
                                 ("channel", "1", 1, 1, "done")])
        self.assertEqual((events[-1]["result"], events[-1]["exit_status"]), ("warnings", 1))

    def test_channels_whose_record_cannot_be_patched_are_refused(self):
        path = write(self.dir, "a.csv", CHANNEL_CSV.format(n=1))
        other = [("/etc/config/dali/dali2.bin", channel_record(3, 7072)), ("status.txt", status_txt())]
        cases = {
            "record missing": (other, "could not be read"),
            "record empty": ([("/etc/config/dali/dali1.bin", b""), ("status.txt", status_txt())], "could not be read"),
            "version 2 for 1.5.0": ([("/etc/config/dali/dali1.bin", channel_record(2, 10912)),
                                     ("status.txt", status_txt())], "version 2 of 10912 bytes"),
            "short member": ([("/etc/config/dali/dali1.bin", channel_record(3, 7072)[:7000]),
                              ("status.txt", status_txt())], "version 3 of 7000 bytes"),
            "no firmware version": ([("/etc/config/dali/dali1.bin", channel_record(3, 7072)),
                                     ("status.txt", status_txt(None))], "no firmware version"),
        }
        for case, (members, reason) in cases.items():
            reply = os.path.join(self.dir, "reply.tar")
            with open(reply, "wb") as f:
                f.write(tar_bytes(members))
            with self.subTest(case=case), self.gateway("--reply", "dali1=" + reply) as gw:
                code, out, err = self.setup(gw, "--channel=1", "--channelcsvfile=" + quoted(path))
                self.assertEqual(code, 1, out + err)
                self.assertIn("channel 1 refused", err)
                self.assertIn(reason, err)
                self.assertEqual(gw.log_lines("tftp"), [])

    def test_failed_upload_is_a_failure(self):
        path = write(self.dir, "a.csv", CHANNEL_CSV.format(n=1))
        with self.gateway("--tftp-error", "2") as gw:
            code, out, _ = self.setup(gw, "--channel=1", "--channelcsvfile=" + quoted(path))
            self.assertEqual(code, 1)
            self.assertNotIn("backup file pushed", out)
            self.assertFalse(out.endswith("OK\n"))


if __name__ == "__main__":
    unittest.main()
