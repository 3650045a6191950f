"""push_firmware end to end: varnu-cli against the gateway stand-in, with
packages made by fwmaker and by 7-Zip, and the stand-in's upgrade endpoint."""

import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import urllib.error
import urllib.request

from gateway import BUILD_DIR, Gateway, run_cli, run_cli_events

FWMAKER = os.path.join(BUILD_DIR, "tools", "dev", "fwmaker")
PASSWORD = "5e0a7c91d2b84f36a1c9e07b3d58f2a6c4e19b70"
NOT_VALID = "FIRMWARE FILE IS NOT VALID!"
SMALLEST = 1835192
LARGEST = 16777214


def fwmaker(*args):
    subprocess.run([FWMAKER, *[str(a) for a in args]], check=True)


def info_block(model, version, description="LUMARO DALI gateway", number=65536,
               date="Jan 15 2024", time="12:00:00", channels=4):
    return ("\r\n== Firmware Info ==\r\n"
            f"model_name={model}\r\nmodel_description={description}\r\nversion_string={version}\r\n"
            f"version_number={number}\r\nversion_date={date}\r\nversion_time={time}\r\n"
            f"dali_number_of_channel={channels}\r\n== ==\r\n\r\n")


def success_tail(address, model, version, digest, size):
    return ("\nPreparing file...\n" + info_block(model, version)
            + f"firmware_push_tftp\tpushing URL 'tftp://{address}/flashraw.bin'.\nOK\n"
            + f"firmware\tpushing URL '{address}/api/v100/status.ssi?action=firmwareupgrade"
            + f"&hash={digest}&size={size}'.\n"
            + '{"result":"upgrade started"}\nOK\nKeep the gateway powered: it installs the firmware and restarts.\n')


def reported_version(gateway):
    with urllib.request.urlopen(f"http://{gateway.address}/api/v100/status.ssi", timeout=10) as reply:
        return json.load(reply)["firmware_version"]


class FirmwareFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="firmware-test-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def image(self, name, model="LUMARO-4", version="1.6.0", size=SMALLEST):
        """Makes an image file; returns (path, bytes)."""
        path = self.path(name)
        fwmaker("image", path, "--model", model, "--version", version, "--size", size)
        with open(path, "rb") as f:
            return path, f.read()

    def package(self, name, image_path, *options):
        path = self.path(name)
        fwmaker("package", path, image_path, *options)
        return path

    def assert_tail(self, out, tail):
        text = out.decode()
        self.assertEqual(text[-len(tail):], tail)


class Upgrade(FirmwareFiles):
    def test_package_upgrades_the_gateway(self):
        image_path, image = self.image("img.binary", model="LUMARO-2", version="1.6.0")
        package = self.package("fw.bin", image_path)
        digest = hashlib.sha256(image).hexdigest()
        with Gateway("--model", "LUMARO-2", "--firmware-version", "1.5.0") as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", package)
            self.assertEqual(code, 0, err)
            self.assert_tail(out, success_tail(gw.address, "LUMARO-2", "1.6.0", digest, SMALLEST))
            tftp = gw.wait_for_log(lambda e: e.protocol == "tftp")
            self.assertEqual([(e.outcome, e.size, e.options["sha256"]) for e in tftp], [("ok", SMALLEST, digest)])
            self.assertEqual([e.outcome for e in gw.log_lines("firmware")], ["took"])
            self.assertEqual(reported_version(gw), "1.6.0")

    def test_verified_upgrade_waits_for_the_new_version(self):
        image_path, _ = self.image("img.binary", model="LUMARO-2", version="1.6.0")
        cases = {  # stand-in options: (exit status, last line, outcome of the firmware step)
            (): (0, "upgraded 1.5.0 \u2192 1.6.0", "done"),
            ("--upgrade-restart-ms", "4000"): (0, "upgraded 1.5.0 \u2192 1.6.0", "done"),
            ("--upgrade-restart-ms", "1000", "--upgrade-keeps-version"):
                (1, "push_firmware: the gateway restarted with firmware 1.5.0, not 1.6.0.", "failed"),
        }
        for options, (status, line, outcome) in cases.items():
            with self.subTest(options=options), Gateway("--model", "LUMARO-2", "--firmware-version", "1.5.0",
                                                        *options) as gw:
                code, out, err, events = run_cli_events("--action", "push_firmware", "--verify", "--ip", gw.address,
                                                        "--firmwarefile", image_path, timeout=60)
                self.assertEqual(code, status, err)
                self.assertIn(line, (out + err).decode().splitlines())
                steps = [e for e in events if e["event"] == "step"]
                self.assertEqual([(s["kind"], s["outcome"]) for s in steps], [("firmware", outcome)])
                self.assertEqual(events[-1]["result"], "done" if status == 0 else "failed")
                self.assertIn({"event": "notice", "text": "Keep the gateway powered: it installs the firmware and "
                               "restarts."}, events)
                progress = [e["bytes"] for e in events if e["event"] == "progress"]
                self.assertEqual((progress[0], progress[-1]), (0, SMALLEST))
                self.assertEqual(progress, sorted(progress))

    def test_7z_package_with_upper_case_header(self):
        image_path, image = self.image("varnu.binary")
        digest = hashlib.sha256(image).hexdigest()
        with open(self.path("varnu.bh"), "w") as f:
            f.write(digest.upper())
        package = self.path("seven.bin")
        subprocess.run(["7z", "a", "-tzip", "-mem=AES256", "-p" + PASSWORD, package, "varnu.bh", "varnu.binary"],
                       cwd=self.dir, check=True, stdout=subprocess.DEVNULL)
        with Gateway() as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", package)
            self.assertEqual(code, 0, err)
            # The request carries the digest in lower case whatever the header's case.
            self.assert_tail(out, success_tail(gw.address, "LUMARO-4", "1.6.0", digest, SMALLEST))
            self.assertEqual(reported_version(gw), "1.6.0")

    def seven_zip(self, name, image, method):
        """A 7-Zip package of `image` (AES-256) whose entries use this compression method."""
        with open(self.path("varnu.binary"), "wb") as f:
            f.write(image)
        with open(self.path("varnu.bh"), "w") as f:
            f.write(hashlib.sha256(image).hexdigest())
        package = self.path(name)
        subprocess.run(["7z", "a", "-tzip", "-mm=" + method, "-mem=AES256", "-p" + PASSWORD, package,
                        "varnu.bh", "varnu.binary"], cwd=self.dir, check=True, stdout=subprocess.DEVNULL)
        return package

    def test_every_compression_method(self):
        # Text that compresses, then noise that does not, with the information block.
        _, image = self.image("img.binary")
        image = (b"level 254\n" * SMALLEST)[:SMALLEST // 2] + image[SMALLEST // 2:]
        image_path = self.path("img.binary")
        with open(image_path, "wb") as f:
            f.write(image)
        digest = hashlib.sha256(image).hexdigest()
        packages = [(m, self.seven_zip(f"{m}.bin", image, m)) for m in ("Deflate", "LZMA", "BZip2", "Copy")]
        packages.append(("zstd", self.package("zstd.bin", image_path, "--zstd")))
        with Gateway() as gw:
            for method, package in packages:
                with self.subTest(method):
                    code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address,
                                             "--firmwarefile", package)
                    self.assertEqual(code, 0, err)
                    self.assert_tail(out, success_tail(gw.address, "LUMARO-4", "1.6.0", digest, SMALLEST))
            tftp = gw.wait_for_log(lambda e: e.protocol == "tftp" and e.options.get("sha256"))
            self.assertEqual([e.options["sha256"] for e in tftp], [digest] * len(packages))

    def test_block_size_negotiation(self):
        image_path, image = self.image("fw.binary")
        digest = hashlib.sha256(image).hexdigest()
        cases = [  # stand-in options, varnu-cli options, outcomes and block sizes of the tries
            ((), (), [("ok", "1468")]),
            ((), ("--tftp-blksize", "8192"), [("ok", "8192")]),
            (("--tftp-options", "ignore"), (), [("ok", "512")]),
            (("--tftp-options", "refuse"), (), [("refused", None), ("ok", "512")]),
        ]
        for sim_options, cli_options, tries in cases:
            with self.subTest(sim=sim_options, cli=cli_options), Gateway(*sim_options) as gw:
                code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address,
                                         "--firmwarefile", image_path, *cli_options)
                self.assertEqual(code, 0, err)
                self.assertNotIn(b"curl_easy_perform", err)
                self.assert_tail(out, success_tail(gw.address, "LUMARO-4", "1.6.0", digest, SMALLEST))
                tftp = gw.log_lines("tftp")
                self.assertEqual([(e.outcome, e.options.get("block_size")) for e in tftp], tries)
                self.assertEqual(tftp[-1].options["sha256"], digest)

    def test_block_size_out_of_range_is_a_usage_error(self):
        code, out, err = run_cli("--action", "push_firmware", "--ip", "127.0.0.1",
                                 "--firmwarefile", "fw.binary", "--tftp-blksize", "65465")
        self.assertEqual(code, 2)
        self.assertIn(b"--tftp-blksize takes a number from 8 to 65464", err)
        self.assertNotIn(b"Preparing file", out)

    def test_raw_image_at_a_long_path(self):
        folder = os.path.join(self.dir, *["f" * 60] * 4)
        os.makedirs(folder)
        path = os.path.join(folder, "fw.binary")
        self.assertGreaterEqual(len(path), 280)
        _, image = self.image("fw.binary")
        shutil.copy(self.path("fw.binary"), path)
        with Gateway() as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", path)
            self.assertEqual(code, 0, err)
            self.assert_tail(out, success_tail(gw.address, "LUMARO-4", "1.6.0",
                                               hashlib.sha256(image).hexdigest(), SMALLEST))

    def test_raw_image_of_the_largest_size(self):
        image_path, image = self.image("a.b.binary", version="2.0.1", size=LARGEST)
        digest = hashlib.sha256(image).hexdigest()
        with Gateway() as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", image_path)
            self.assertEqual(code, 0, err)
            self.assert_tail(out, success_tail(gw.address, "LUMARO-4", "2.0.1", digest, LARGEST))
            # The stand-in computed the same digest from what arrived.
            tftp = gw.wait_for_log(lambda e: e.protocol == "tftp")
            self.assertEqual([e.options["sha256"] for e in tftp], [digest])
            self.assertEqual(reported_version(gw), "2.0.1")

    def test_failed_upload_sends_no_request(self):
        image_path, _ = self.image("fw.binary")
        with Gateway("--tftp-error", "3") as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", image_path)
            self.assertEqual(code, 1)
            self.assertTrue(out.decode().endswith("firmware_push_tftp\tpushing URL "
                                                  f"'tftp://{gw.address}/flashraw.bin'.\n"), out)
            self.assertIn(b"curl_easy_perform() failed: ", err)
            self.assertEqual(gw.log_lines("http"), [])
            self.assertEqual(reported_version(gw), "1.5.0")

    def test_refused_upgrade_is_a_failure(self):
        image_path, image = self.image("fw.binary", model="LUMARO-3")
        with Gateway("--model", "LUMARO-4") as gw:
            code, out, err = run_cli("--action", "push_firmware", "--ip", gw.address, "--firmwarefile", image_path)
            self.assertEqual(code, 1)
            text = out.decode()
            self.assertEqual(text.count("OK\n"), 1)  # the upload's, not the request's
            self.assertTrue(text.endswith("firmware upgrade refused: image is for LUMARO-3\n"), text)
            http = gw.wait_for_log(lambda e: e.protocol == "http")
            self.assertEqual([e.outcome for e in http], ["422"])
            self.assertEqual(reported_version(gw), "1.5.0")


class LocalChecks(FirmwareFiles):
    """Files that fail before the gateway is contacted: the stand-in sees nothing."""

    def run_against(self, gw, firmwarefile, cwd=None):
        args = ["--action", "push_firmware", "--ip", gw.address]
        if firmwarefile is not None:
            args += ["--firmwarefile", firmwarefile]
        return run_cli(*args, cwd=cwd)

    def test_extension_rule(self):
        image_path, _ = self.image("fw.binary")
        for name in ("fw.BIN", ".bin", "fw", "fw.bin.zip"):
            shutil.copy(image_path, self.path(name))
        with Gateway() as gw:
            for name in ("fw.BIN", ".bin", "fw", "fw.bin.zip"):
                with self.subTest(name=name):
                    code, out, _ = self.run_against(gw, name, cwd=self.dir)
                    self.assertEqual(code, 1)
                    self.assert_tail(out, "\nFile format not supported.\n" + NOT_VALID)
            code, out, _ = self.run_against(gw, None)
            self.assertEqual(code, 2)
            self.assert_tail(out, "\nFile format not supported.\n" + NOT_VALID)
            self.assertEqual(gw.log_lines(), [])

    def test_invalid_packages_and_images(self):
        # One case of each way push_firmware ends; the readers' own messages are unit-tested.
        image_path, image = self.image("fw.binary")
        small_path, _ = self.image("small.binary", size=SMALLEST - 1)
        digest = hashlib.sha256(image).hexdigest()
        cases = [
            ("digest mismatch", self.package("h.bin", image_path, "--header", hashlib.sha256(b"").hexdigest()),
             "File is invalid (h).\n" + NOT_VALID),
            ("non-hex header", self.package("x.bin", image_path, "--header", digest[:63] + "x"), NOT_VALID),
            ("wrong password", self.package("p.bin", image_path, "--password", "secret"),
             "File format is invalid (pbh).\n" + NOT_VALID),
            ("one byte too small", self.package("s.bin", small_path), NOT_VALID),
            ("raw image of an unknown model", self.image("m.binary", model="LUMARO-5")[0], NOT_VALID),
        ]
        with Gateway() as gw:
            for what, path, message in cases:
                with self.subTest(what):
                    code, out, _ = self.run_against(gw, path)
                    self.assertEqual(code, 1)
                    self.assert_tail(out, "\nPreparing file...\n" + message)
            self.assertEqual(gw.log_lines(), [])

    def test_damaged_or_undecodable_image_entry(self):
        _, image = self.image("fw.binary")
        ppmd = Upgrade.seven_zip(self, "ppmd.bin", image, "PPMd")
        package = Upgrade.seven_zip(self, "damaged.bin", image, "Copy")
        with open(package, "r+b") as f:
            data = bytearray(f.read())
            at = data.index(b"varnu.binary") + 1000  # inside the stored, encrypted image
            data[at] ^= 0x01
            f.seek(0)
            f.write(data)
        with Gateway() as gw:
            code, out, err = self.run_against(gw, package)
            self.assertEqual(code, 1)
            self.assert_tail(out, "\nPreparing file...\nFile is invalid (h).\n" + NOT_VALID)
            self.assertEqual(err, b"The firmware package entry varnu.binary is damaged.\n")
            code, out, err = self.run_against(gw, ppmd)
            self.assertEqual(code, 1)
            self.assert_tail(out, "\nPreparing file...\nFile format is invalid (pbh).\n" + NOT_VALID)
            self.assertEqual(err, b"The firmware package entry varnu.bh is compressed with zip method 98, "
                                  b"which this tool cannot decode.\n")
            self.assertEqual(gw.log_lines(), [])

    def test_missing_file_is_said_on_stderr(self):
        with Gateway() as gw:
            for name, message in (("gone.bin", "File format is invalid (open).\n" + NOT_VALID),
                                  ("gone.binary", NOT_VALID)):
                with self.subTest(name):
                    code, out, err = self.run_against(gw, self.path(name))
                    self.assertEqual(code, 1)
                    self.assert_tail(out, "\nPreparing file...\n" + message)
                    self.assertEqual(err.decode().count("\n"), 1, err)
                    self.assertIn(name, err.decode())
            self.assertEqual(gw.log_lines(), [])

    def test_without_address(self):
        image_path, _ = self.image("fw.binary")
        code, out, _ = run_cli("--action", "push_firmware", "--firmwarefile", image_path)
        self.assertEqual(code, 2)
        self.assertTrue(out.decode().endswith("Missing arguments for action push_firmware."), out)


class StandIn(FirmwareFiles):
    """The stand-in's upgrade endpoint on its own: it checks the last upload against the request."""

    def request(self, gw, digest, size):
        url = f"http://{gw.address}/api/v100/status.ssi?action=firmwareupgrade&hash={digest}&size={size}"
        try:
            with urllib.request.urlopen(url, timeout=10) as reply:
                return reply.status, reply.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode()

    def test_upgrade_needs_the_uploaded_size_and_digest(self):
        image_path, image = self.image("fw.binary", version="1.7.0")
        digest = hashlib.sha256(image).hexdigest()
        with Gateway() as gw:
            self.assertEqual(self.request(gw, digest, len(image))[0], 409)
            subprocess.run(["curl", "-sS", "-T", image_path, f"tftp://{gw.address}/flashraw.bin"], check=True)
            for hash_text, size, status in ((digest, len(image) - 1, 422),
                                            (hashlib.sha256(b"").hexdigest(), len(image), 422),
                                            (digest.upper(), len(image), 400),
                                            (digest, "", 400)):
                with self.subTest(hash=hash_text, size=size):
                    self.assertEqual(self.request(gw, hash_text, size)[0], status)
                    self.assertEqual(reported_version(gw), "1.5.0")
            self.assertEqual(self.request(gw, digest, len(image)), (200, '{"result":"upgrade started"}\n'))
            self.assertEqual(reported_version(gw), "1.7.0")


if __name__ == "__main__":
    unittest.main()
