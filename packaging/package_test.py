"""The Debian package on a real system: built with CPack, checked by lintian,
installed with apt-get, used from /usr/bin, then purged without leftovers.

It installs into the system, so it runs only as root and only in CI (CI=true)
or when VARNU_PACKAGE_TEST=1; elsewhere it exits with 77 (skipped).
With --shell it is the desktop part alone, run in private namespaces."""

import glob
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.request

TESTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests")
sys.path[:0] = [TESTS, os.path.join(TESTS, "shell")]
import gateway  # noqa: E402
import shellharness as h  # noqa: E402

LIB = "/usr/lib/varnkit"
ACTIONS = {"get_status", "get_backup", "put_backup", "setup_channel", "push_firmware",
           "show_backup", "diff_backup", "export_channel"}


def run(*command, check=True, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, timeout=600, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError("%s failed (%d): %s%s" % (" ".join(command), result.returncode,
                                                        result.stdout[-3000:], result.stderr[-3000:]))
    return result


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


class PackageTest(unittest.TestCase):

    def test_package_installs_works_and_purges_cleanly(self):
        if run("dpkg-query", "-W", "-f=${Status}", "varnkit", check=False).stdout.startswith("install"):
            self.fail("a varnkit package is installed already; this test would replace and remove it")
        out = tempfile.mkdtemp(prefix="varnkit-package-")
        self.addCleanup(shutil.rmtree, out)
        run(os.environ.get("VARNU_CPACK", "cpack"), "-G", "DEB", "--config",
            os.path.join(gateway.BUILD_DIR, "CPackConfig.cmake"), "-B", out)
        debs = glob.glob(os.path.join(out, "varnkit_*.deb"))
        self.assertEqual(len(debs), 1, os.listdir(out))
        deb = debs[0]
        self.assertRegex(os.path.basename(deb), r"^varnkit_\d+\.\d+\.\d+_[a-z0-9]+\.deb$")

        depends = run("dpkg-deb", "-f", deb, "Depends").stdout
        for library in ("libcurl4", "libzip4", "libqt6webenginecore6", "libqt6svg6"):
            self.assertIn(library, depends, "Depends lacks %s" % library)
        version = run("dpkg-deb", "-f", deb, "Version").stdout.strip()

        # Errors fail; warnings are printed for the record.
        lintian = run("lintian", "--fail-on", "error", "--display-info", deb, check=False)
        print("lintian:\n" + lintian.stdout, file=sys.stderr)
        self.assertEqual(lintian.returncode, 0, lintian.stdout + lintian.stderr)

        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        # Nothing may be downloaded: the dependencies come from scripts/install-deps.
        planned = re.findall(r"(?m)^Inst (\S+)", run("apt-get", "install", "-s", deb, env=env).stdout)
        self.assertEqual(planned, ["varnkit"], "dependencies missing; run scripts/install-deps")
        run("apt-get", "install", "-y", deb, env=env)
        try:
            files = run("dpkg", "-L", "varnkit").stdout.split()
            self.check_installed(version)
        finally:
            run("apt-get", "purge", "-y", "varnkit", env=env)
        self.check_nothing_left(files)

    def check_installed(self, version):
        for program in ("varnkit", "varnu-cli"):
            self.assertEqual(shutil.which(program), "/usr/bin/" + program)
        self.assertEqual(os.path.realpath("/usr/bin/varnu-cli"), LIB + "/cli/varnu-cli")
        for path in ("varnkit", "http/varnkit-http-server", "http/index.html", "http/icon.svg"):
            self.assertTrue(os.path.isfile(os.path.join(LIB, path)), path)

        with open("/usr/share/doc/varnkit/changelog.gz", "rb") as f:
            first = subprocess.run(["gzip", "-dc"], input=f.read(), capture_output=True).stdout.split(b"\n")[0]
        self.assertEqual(first.split()[:2], [b"varnkit", ("(%s)" % version).encode()],
                         "the changelog's latest entry is not this version")

        result = run("varnu-cli", "--version")
        self.assertRegex(result.stdout, r"(?m)^Version \d+\.\d+\.\d+$")
        with gateway.Gateway("--model", "LUMARO-2") as gw:
            result = run("varnu-cli", "--action", "get_status", "--ip", gw.address)
        self.assertIn("model_name=LUMARO-2", result.stdout)

        for page in ("varnu-cli", "varnkit"):
            self.assertEqual(run("man", "-w", page).stdout.strip(), "/usr/share/man/man1/%s.1.gz" % page)
        run("desktop-file-validate", "/usr/share/applications/varnkit.desktop")
        run("appstreamcli", "validate", "--no-net", "/usr/share/metainfo/varnkit.metainfo.xml")
        icons = glob.glob("/usr/share/icons/hicolor/*x*/apps/varnkit.png")
        self.assertGreaterEqual(len(icons), 6)
        for icon in icons:
            size = int(icon.split("/")[-3].split("x")[0])
            self.assertEqual(png_size(icon), (size, size), icon)

        self.check_completion()
        shell = subprocess.run([sys.executable, os.path.abspath(__file__), "--shell"], timeout=300)
        self.assertEqual(shell.returncode, 0, "the desktop part failed (its output is above)")

    def check_completion(self):
        script = r'''
            source /usr/share/bash-completion/bash_completion
            __load_completion varnu-cli || exit 3
            complete_words() {  # the words offered for the last of the arguments
                COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
                COMPREPLY=()
                $(complete -p varnu-cli | sed -n 's/.*-F \([^ ]*\) .*/\1/p') varnu-cli "${@: -1}" "${@: -2:1}"
                printf '%s\n' "${COMPREPLY[@]}"
            }
            complete_words varnu-cli --action ""
            echo --
            complete_words varnu-cli --backupfileouttype ""
            echo --
            complete_words varnu-cli --tf
        '''
        result = run("bash", "-c", script)
        actions, types, options = [part.split() for part in result.stdout.split("--\n")]
        self.assertEqual(set(actions), ACTIONS)
        self.assertEqual(set(types), {"zip", "directory"})
        self.assertEqual(options, ["--tftp-blksize"])

    def check_nothing_left(self, files):
        left = []
        for path in files:
            if not os.path.lexists(path):
                continue
            # Folders such as /usr/share/man/man1 stay when other packages own them.
            if os.path.isdir(path) and not os.path.islink(path) and run("dpkg", "-S", path, check=False).returncode == 0:
                continue
            left.append(path)
        self.assertEqual(left, [], "files of the package left after the purge")
        self.assertFalse(os.path.lexists(LIB))


class InstalledShellTest(unittest.TestCase):
    """varnkit started as /usr/bin/varnkit: it must find the server and the tool beside its real file."""

    def test_shell_from_usr_bin_shows_the_page(self):
        home = tempfile.mkdtemp(prefix="varnkit-package-home-")
        self.addCleanup(shutil.rmtree, home)
        display = h.Display().__enter__()
        self.addCleanup(display.__exit__, None, None, None)
        port = h.free_tcp_port()
        env = dict(display.env(), HOME=home, XDG_DATA_HOME=home, QT_QPA_PLATFORM="xcb",
                   QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:%d" % port)
        shell = subprocess.Popen(["varnkit"], env=env, cwd=home, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: shell.poll() is None and (shell.kill(), shell.wait()))

        servers = h.wait_until(lambda: h.processes_named(h.SERVER_NAME), 20, what="the web server")
        self.assertEqual(os.readlink("/proc/%d/exe" % servers[0]), LIB + "/http/varnkit-http-server")
        self.assertEqual(os.readlink("/proc/%d/cwd" % servers[0]), LIB + "/http")

        def page_target():
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=5) as r:
                    return next((t for t in json.load(r) if t.get("url") == "http://127.0.0.1:7681/"), None)
            except OSError:
                return None
        page = h.DevToolsPage(h.wait_until(page_target, 30, what="the page")["webSocketDebuggerUrl"], timeout=60)
        self.addCleanup(page.close)
        loaded = "document.readyState == 'complete' && location.href == 'http://127.0.0.1:7681/'"
        h.wait_until(lambda: page.evaluate(loaded), 30, what="the page to load")
        self.assertRegex(page.evaluate("native_appVersion"), r"^\d+\.\d+\.\d+$")

        window = h.wait_until(lambda: display.windows("", pid=shell.pid), 20, what="the window")[0]
        icon = run("xprop", "-display", display.name, "-id", str(window), "_NET_WM_ICON").stdout
        self.assertRegex(icon, r"Icon \((\d+) x \1\)", "the window has no icon")
        page.evaluate("new Promise(done => setTimeout(done, 1000))")
        colours = h.image_colours(display.screenshot(os.path.join(home, "window.png"), window))
        self.assertGreater(len(colours), 16, "the window shows hardly anything")

        display.close_window(window)
        self.assertEqual(shell.wait(30), 0)
        self.assertEqual(h.processes_named(h.SERVER_NAME), [])


if __name__ == "__main__":
    if "--shell" in sys.argv:
        h.isolate()
        sys.argv.remove("--shell")
        unittest.main(defaultTest="InstalledShellTest")
    if os.geteuid() != 0 or not (os.environ.get("CI") == "true" or os.environ.get("VARNU_PACKAGE_TEST") == "1"):
        print("skipped: installs into the system; runs as root with CI=true or VARNU_PACKAGE_TEST=1")
        sys.exit(77)
    unittest.main(defaultTest="PackageTest")
