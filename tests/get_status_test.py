"""varnu-cli --action get_status against the gateway stand-in."""

import os
import tempfile
import unittest

from gateway import Gateway, run_cli


def reply_file(folder, text):
    path = os.path.join(folder, "reply.json")
    with open(path, "w") as f:
        f.write(text)
    return path


class GetStatus(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def get_status(self, gateway, *extra):
        return run_cli("--action", "get_status", "--ip", gateway.address, *extra)

    def with_reply(self, text):
        return Gateway("--reply", "status=" + reply_file(self.folder.name, text))

    def test_reports_the_model(self):
        with Gateway("--model", "LUMARO-2") as gw:
            code, out, err = self.get_status(gw)
            body = gw.log_lines("http")[0]
        self.assertEqual(code, 0, err)
        url = "%s/api/v100/status.ssi" % gw.address
        expected = ("status\tfetching URL '%s'.\nstatus\treceived %d bytes.\nmodel_name=LUMARO-2\r\n"
                    % (url, body.size)).encode()
        self.assertTrue(out.endswith(expected), out)
        self.assertEqual(body.target, "/api/v100/status.ssi")
        self.assertEqual(err, b"")

    def test_pairing_quirks(self):
        # A number leaves "boot_count" pending: the next string becomes its value and
        # the pairs shift, so that the member name "model_name" ends up as the model.
        shifted = '{"boot_count":7,"x":"model_name","model_name":"LUMARO-3"}'
        duplicated = '{"model_name":"LUMARO-1","mac":"m","model_name":"LUMARO-4"}'
        for reply, line in ((shifted, b"model_name=model_name\r\n"), (duplicated, b"model_name=LUMARO-4\r\n")):
            with self.subTest(reply=reply), self.with_reply(reply) as gw:
                code, out, err = self.get_status(gw)
                self.assertEqual(code, 0, err)
                self.assertTrue(out.endswith(line), out)

    def test_replies_without_a_model(self):
        cases = {
            "no model_name": ["--reply", "status=" + reply_file(self.folder.name, '{"firmware_version":"1.3.1"}')],
            "empty": ["--body", "status=empty"],
            "number as model": ["--reply", "status=" + reply_file(self.folder.name, '{"model_name":4}')],
        }
        for name, options in cases.items():
            with self.subTest(name), Gateway(*options) as gw:
                code, out, err = self.get_status(gw)
                self.assertEqual(code, 1)
                self.assertIn(b"status\treceived ", out)
                self.assertNotIn(b"model_name=", out)
                self.assertRegex(err, b"^status\tthe gateway's status reply (is empty|holds no model_name)\n$")

    def test_unreadable_replies(self):
        for name, options in {"HTML 404 page": ["--fail", "status=404"], "garbage": ["--body", "status=garbage"],
                              "truncated": ["--body", "status=truncate"]}.items():
            with self.subTest(name), Gateway(*options) as gw:
                code, out, err = self.get_status(gw)
                self.assertEqual(code, 1)
                self.assertIn(b"status\treceived ", out)  # the fetch itself succeeded
                self.assertNotIn(b"model_name=", out)
                lines = err.decode().splitlines()
                self.assertEqual(len(lines), 1, err)
                self.assertIn("status reply could not be read", lines[0])

    def test_transfer_failures(self):
        with Gateway() as gw:
            stopped = gw.address
        code, out, err = run_cli("--action", "get_status", "--ip", stopped)
        self.assertEqual(code, 1)
        self.assertEqual(err, b"curl_easy_perform() failed: Couldn't connect to server\n")
        self.assertNotIn(b"received", out)

        with Gateway("--close", "status") as gw:
            code, out, err = self.get_status(gw)
        self.assertEqual(code, 1)
        self.assertEqual(err, b"curl_easy_perform() failed: Server returned nothing (no headers, no data)\n")

    def test_slow_gateway_and_trace(self):
        with Gateway("--delay", "500", "--model", "LUMARO-1") as gw:
            code, out, err = self.get_status(gw, "--verbose")
        self.assertEqual(code, 0)
        self.assertTrue(out.endswith(b"model_name=LUMARO-1\r\n"))
        self.assertIn(b"> GET /api/v100/status.ssi HTTP/1.1", err)

    def test_without_address(self):
        code, out, err = run_cli("--action", "get_status")
        self.assertEqual(code, 2)
        self.assertTrue(out.endswith(b"Missing arguments for action get_status."), out)


if __name__ == "__main__":
    unittest.main()
