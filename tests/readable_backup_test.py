"""Backups read, compared and turned back into CSV, against the gateway stand-in: show_backup, diff_backup
and export_channel.

Records are read back from the stand-ins' state folders and decoded here, apart from the tool's own code.
"""

import csv
import glob
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest

from gateway import Gateway, run_cli
from records import LAYOUT, crc16, group_names, header, text


def state_file(directory, name):
    with open(os.path.join(directory, "etc/config/dali", name + ".bin"), "rb") as f:
        return f.read()


def clear_channel(directory, channel):
    """Replaces a channel record in a state folder with an empty one of the same length, version and count."""
    path = os.path.join(directory, "etc/config/dali/dali%d.bin" % channel)
    with open(path, "rb") as f:
        length, _, version, changes = header(f.read())
    record = bytearray(length)
    struct.pack_into("<4I", record, 0, length, 0, version, changes)
    struct.pack_into("<I", record, 4, crc16(record))
    with open(path, "wb") as f:
        f.write(record)


def write(directory, name, content):
    path = os.path.join(directory, name)
    with open(path, "w", newline="") as f:
        f.write(content)
    return path


def numbers(rng, count, top, none=False):
    cells = [str(rng.randrange(top)) if not none or rng.random() < 0.7 else "null" for _ in range(count)]
    return '"[%s]"' % ",".join(cells)


def name(rng):
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") for _ in
                   range(rng.randrange(1, 34))).strip() or "x"


def random_csvs(rng):
    """Channel, group and input-device CSV texts of a few random rows each."""
    gear = ["#dali-channel-csv-version: 1"]
    for slot in rng.sample(range(64), 8):
        levels = [str(rng.randrange(255)) if rng.random() < 0.8 else "null" for _ in range(4)]
        gear.append('%d,%d,%d,%s,%s,%s,%d,%d,%s' % (
            rng.randrange(1, 100), slot, rng.randrange(64), name(rng), numbers(rng, rng.randrange(4), 16),
            ",".join(levels), rng.randrange(1, 16), rng.randrange(16), numbers(rng, rng.randrange(17), 255, True)))
    groups = ["#dali-channel-groups-csv-version: 1"]
    groups += ["0,%d,%s" % (g, name(rng)) for g in rng.sample(range(16), 5)]
    inputs = ["#dali-channel-inputs-csv-version: 1"]
    for slot in rng.sample(range(32), 4):
        inputs.append('%d,%d,%d,%s,0,2,"[1,3]",%s,"[6]",%s,,,,,,%s,%s,%s,,' % (
            rng.randrange(1, 100), slot, rng.randrange(64), name(rng), numbers(rng, 2, 30), numbers(rng, 2, 30),
            numbers(rng, 2, 60), numbers(rng, 2, 60), numbers(rng, 2, 60)))
    return ["\n".join(rows) + "\n" for rows in (gear, groups, inputs)]


def gear_in_use(record):
    """slot -> (name, short address or None, group numbers), decoded at the offsets of the record's version."""
    _, size, name_at, _ = LAYOUT[max(header(record)[2], 1)]
    found = {}
    for slot in range(64):
        at = 60 + size * slot
        flags, address = struct.unpack_from("<I", record, at)[0], record[at + 11]
        gear_name = text(record, at + name_at, 33)
        if not (flags & 0xB or record[at + 36] == 255 or gear_name):
            continue
        short = address // 2 if flags & 1 and address % 2 and address // 2 < 64 else None
        mask = struct.unpack_from("<H", record, at + 18)[0]
        found[slot] = (gear_name, short, [g for g in range(16) if mask >> g & 1])
    return found


def json_document(stdout):
    """With --json standard output is the document alone: python3 -m json.tool must read it as it is."""
    subprocess.run([sys.executable, "-m", "json.tool"], input=stdout, capture_output=True, check=True)
    return json.loads(stdout)


class ReadableBackups(unittest.TestCase):
    def setUp(self):
        self._temp = tempfile.TemporaryDirectory(prefix="readable-")
        self.dir = self._temp.name

    def tearDown(self):
        self._temp.cleanup()

    def gateway(self, *options):
        state = tempfile.mkdtemp(prefix="state-", dir=self.dir)
        return Gateway(*options, state_dir=state), state

    def cli(self, *args):
        code, out, err = run_cli(*args)
        self.assertNotIn(code, (-6, -11), err)
        return code, out, err

    def setup_channel(self, gw, channel, option, path):
        code, out, err = self.cli("--action=setup_channel", "--ip=" + gw.address, "--channel=[%d]" % channel,
                                  "--%s=%s" % (option, json.dumps([path])))
        self.assertEqual(code, 0, out + err)

    def backup(self, gw, name):
        folder = os.path.join(self.dir, name)
        os.mkdir(folder)
        code, out, err = self.cli("--action=get_backup", "--ip", gw.address, "--backupfileout", folder,
                                  "--backupfileouttype", "zip")
        self.assertEqual(code, 0, out + err)
        return glob.glob(os.path.join(folder, "*.zip"))[0]

    def test_exported_csv_reproduces_the_records_on_a_second_gateway(self):
        options = ("channelcsvfile", "channelgroupscsvfile", "channelinputscsvfile")
        for seed, firmware in enumerate(("1.3.0", "1.3.1", "1.5.0")):
            rng = random.Random(seed)
            channel = rng.randrange(1, 5)
            # Older firmware keeps input devices in a layout the import does not write.
            kinds = 3 if firmware == "1.5.0" else 2
            records = ["dali%d" % channel, "dali%d" % channel, "cd%d" % channel][:kinds]
            csvs = random_csvs(rng)
            first, first_state = self.gateway("--firmware-version", firmware)
            second, second_state = self.gateway("--firmware-version", firmware)
            with self.subTest(firmware=firmware), first, second:
                # The stand-in's own gear carry device types the import does not write (export_channel
                # names them): both start from an empty channel, so that every byte comes from a CSV.
                for state in (first_state, second_state):
                    clear_channel(state, channel)
                exported = []
                for kind in range(kinds):
                    self.setup_channel(first, channel, options[kind], write(self.dir, "in%d.csv" % kind, csvs[kind]))
                for kind in range(kinds):
                    exported.append(os.path.join(self.dir, "out%d-%s.csv" % (kind, firmware)))
                    code, out, err = self.cli("--action=export_channel", "--ip=" + first.address,
                                              "--channel=[%d]" % channel,
                                              "--%s=%s" % (options[kind], json.dumps([exported[-1]])))
                    self.assertEqual((code, err), (0, b""), out)
                for kind in range(kinds):
                    self.setup_channel(second, channel, options[kind], exported[kind])
                for record in records:
                    self.assertEqual(state_file(first_state, record), state_file(second_state, record), record)

    def test_show_lists_what_the_records_hold_and_diff_names_what_changed(self):
        exported = os.path.join(self.dir, "ch3.csv")
        gw, state = self.gateway()
        with gw:
            # The channel's own gear through export and import once, so that only the names differ later.
            code, out, err = self.cli("--action=export_channel", "--ip=" + gw.address, "--channel=[3]",
                                      "--channelcsvfile=" + json.dumps([exported]))
            self.assertEqual(code, 0, out + err)
            self.setup_channel(gw, 3, "channelcsvfile", exported)
            before = self.backup(gw, "before")
            with open(exported, newline="") as f:
                rows = list(csv.reader(f))
            for row in rows:
                if row[0][:1] != "#" and row[1] in ("2", "7"):
                    row[3] = "Renamed " + row[1]
            with open(exported, "w", newline="") as f:
                csv.writer(f).writerows(rows)
            self.setup_channel(gw, 3, "channelcsvfile", exported)
            after = self.backup(gw, "after")
        records = {c: state_file(state, "dali%d" % c) for c in range(1, 5)}

        code, out, err = self.cli("--action=show_backup", "--backupfilein", after, "--json")
        self.assertEqual(code, 0, err)
        shown = {c["channel"]: c["record"] for c in json_document(out)["configurations"]
                 if c["name"].startswith("dali")}
        self.assertEqual(sorted(shown), [1, 2, 3, 4])
        for channel, record in records.items():
            listed = {g["slot"]: (g["name"], g["short_address"], g["groups"]) for g in shown[channel]["gear"]}
            self.assertEqual(listed, gear_in_use(record), channel)
            names = {g["group"]: g["name"] for g in shown[channel]["groups"]}
            self.assertEqual(names, {g: n for g, n in enumerate(group_names(record)) if n})

        code, out, _ = self.cli("--action=diff_backup", "--backupfilein", before, "--with", before)
        self.assertEqual((code, out.decode().splitlines()[-1]), (0, "no differences"))
        code, _, err = self.cli("--action=diff_backup", "--backupfilein", before, "--with", before + ".absent")
        self.assertEqual((code, err.decode()), (2, "diff_backup\t'%s.absent': cannot be read.\n" % before))
        code, out, _ = self.cli("--action=diff_backup", "--backupfilein", before, "--with", after, "--json")
        self.assertEqual(code, 1)
        changed = [(c["name"], [(x["section"], x["slot"], x["field"], x["new"]) for x in c["changes"]])
                   for c in json_document(out)["configurations"] if c["state"] != "unchanged"]
        self.assertEqual(changed, [("dali3", [("gear", 2, "name", "Renamed 2"), ("gear", 7, "name", "Renamed 7")])])

    def test_the_same_content_on_older_and_newer_firmware_has_no_record_differences(self):
        older, _ = self.gateway("--firmware-version", "1.3.0")
        newer, _ = self.gateway("--firmware-version", "1.5.0")
        with older, newer:
            old_backup = self.backup(older, "old")
            # The upgrade path: the older gateway's backup restored onto the newer one, as put_backup converts it.
            code, out, err = self.cli("--action=put_backup", "--ip=" + newer.address, "--backupfilein", old_backup)
            self.assertEqual(code, 0, out + err)
            new_backup = self.backup(newer, "new")
        code, out, err = self.cli("--action=diff_backup", "--backupfilein", old_backup, "--with", new_backup,
                                  "--json")
        diff = json_document(out)
        self.assertEqual((code, diff["different"]), (0, False), out)
        self.assertEqual([g["field"] for g in diff["gateway"]], ["firmware_version"])
        self.assertEqual({c["state"] for c in diff["configurations"]}, {"unchanged"})
        self.assertTrue(all(c["compared_as_records"] for c in diff["configurations"] if c["name"][:4] == "dali"))


if __name__ == "__main__":
    unittest.main()
