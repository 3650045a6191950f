"""End-to-end: varnkit's windows and titles, pop-ups, the load-error page, which
documents get the native interface, and the local web server it starts, proves
and stops, never adopting or stopping one it did not start. Runs under Xvfb;
pages come from the built web server, from a loopback test server, or from a
stand-in that holds port 7681."""

import json
import os
import signal
import subprocess
import threading
import time
import unittest

import shellharness as h

TITLED_PAGE = "<html><head><title>Window Test</title></head><body><input id=field autofocus></body></html>"
# A document that reports, under its name, the types of the four native names and what a direct
# request to the shell's private scheme gets.
REPORTER = ("<script>let direct = 'refused'; try { const r = new XMLHttpRequest(); "
            "r.open('GET', 'varnkit-native:native_actionBackup?ip=127.0.0.1:9', false); r.send(); "
            "direct = 'answered ' + r.status; } catch (e) {} fetch('http://127.0.0.1:%(port)d/report?%(name)s=' + "
            "encodeURIComponent(" + h.NATIVE_TYPES + " + ' ' + direct))</script>")
FOREIGN_PAGE = ("<html><head><title>Foreign</title></head><body>%(self)s<iframe src='/frame'></iframe>"
                "<iframe src='data:text/html,%(data)s'></iframe></body></html>")
NOTHING = " ".join(["undefined"] * len(h.NATIVE_NAMES) + ["refused"])
# The web user interface's title once it sees the native interface.
KIT_TITLE = "varnkit 1.4.0"
KIT_TYPES = " ".join(["string"] + ["function"] * (len(h.NATIVE_NAMES) - 1))
NO_TYPES = " ".join(["undefined"] * len(h.NATIVE_NAMES))
# A direct request to the shell's private scheme, as a foreign document could make it.
DIRECT_REQUEST = ("(() => { try { const r = new XMLHttpRequest(); r.open('GET', 'varnkit-native:native_lastRun', false); "
                  "r.send(); return 'answered ' + r.status; } catch (e) { return 'refused'; } })()")
# Another account's clients that open connections and send a request's head one byte a second.
SLOW_CLIENTS = r"""
import socket, sys, time
connections = [socket.create_connection(("127.0.0.1", int(sys.argv[1]))) for _ in range(int(sys.argv[2]))]
print("connected", flush=True)
while True:
    for c in connections:
        try:
            c.send(b"G")
        except OSError:
            pass
    time.sleep(1)
"""
OPENER_PAGE = "<html><head><title>Opener</title></head><body>opener</body></html>"
POPUP_PAGE = "<html><head><title>Popup Page</title></head><body>pop-up</body></html>"


class WindowTest(h.ShellTestCase):

    def serve_titled(self, gate=None):
        return self.serve({"/": (TITLED_PAGE, gate)})

    def test_native_window_is_790_by_700_and_titled_varnkit_until_the_page_title_arrives(self):
        page_may_come = threading.Event()
        self.addCleanup(page_may_come.set)
        server = self.serve_titled(page_may_come)
        shell = self.start_shell(self.make_tree(), "--url=" + server.url("/"))
        window = shell.first_window()
        self.assertEqual(self.display.window_name(window), "varnkit")
        self.assertEqual(self.display.window_size(window), (790, 700))
        page_may_come.set()
        h.wait_until(lambda: self.display.window_name(window) == "Window Test", 30, what="the page's title")
        self.assertEqual(self.display.window_size(window), (790, 700))

    def test_views_window_hosts_the_browser_at_600_by_700_with_the_keyboard_focus(self):
        server = self.serve_titled()
        shell = self.start_shell(self.make_tree(), "--use-views", "--url=" + server.url("/"))
        page = shell.page(server.url("/"))
        window = self.display.wait_for_window("^Window Test$")
        self.assertEqual(self.display.window_size(window), (600, 700))
        self.assertEqual(shell.windows(), [window])
        # Once the window is active (as a window manager makes a new window), typed keys reach the
        # page's field without a click: the browser view holds the window's keyboard focus.
        # Qt hands keys on only some time after the activation, so the first keys are repeated until one lands.
        self.display.xdotool("windowfocus", "--sync", window)
        field = "document.getElementById('field').value"

        def key_landed():
            self.display.xdotool("key", "x")
            return page.evaluate(field)
        h.wait_until(key_landed, 10, interval=0.1, what="a key to reach the page")
        self.display.xdotool("type", "--delay", "30", "abc")
        h.wait_until(lambda: page.evaluate(field).endswith("xabc"), 10, what="typed text in the page")

    def test_a_popup_gets_its_own_window_and_the_program_runs_until_the_last_window_closes(self):
        for kind in ([], ["--use-views"]):
            with self.subTest(kind=kind or "native"):
                server = self.serve({"/opener": OPENER_PAGE, "/popup": POPUP_PAGE})
                tree = self.make_tree()
                shell = self.start_shell(tree, *kind, "--url=" + server.url("/opener"))
                page = shell.page("/opener")
                main = self.display.wait_for_window("^Opener$")
                self.assertTrue(page.evaluate("window.open('/popup', 'popup', 'width=400,height=300') !== null"))
                popup = self.display.wait_for_window("^Popup Page$")
                self.assertNotEqual(popup, main)
                h.wait_until(lambda: sorted(shell.windows()) == sorted([main, popup]), 10,
                             what="one window each for the main page and the pop-up")
                if kind:
                    self.assertEqual(self.display.window_size(popup), (600, 700))

                self.display.close_window(main)
                h.wait_until(lambda: shell.windows() == [popup], 20, what="only the pop-up left")
                time.sleep(1)
                self.assertIsNone(shell.process.poll(), "the program ended while the pop-up was open")
                self.display.close_window(popup)
                self.assertEqual(shell.wait_exit(30), 0)

    def test_a_page_may_close_its_own_window(self):
        server = self.serve({"/opener": OPENER_PAGE})
        shell = self.start_shell(self.make_tree(), "--use-views", "--url=" + server.url("/opener"))
        shell.page("/opener").call("Runtime.evaluate", {"expression": "setTimeout(() => window.close(), 100)"})
        self.assertEqual(shell.wait_exit(30), 0)


class OriginTest(h.ShellTestCase):
    """Only the kit's own pages get the native interface and may call the shell."""

    def reports(self, server, name, count=1):
        h.wait_until(lambda: len(server.reported(name)) >= count, 20, what="%d reports of %s" % (count, name))
        return server.reported(name)

    def test_the_kits_page_gets_the_interface_and_keeps_other_origins_out(self):
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")
        server = self.serve({})
        server.pages.update({"/popup": REPORTER % {"port": server.port, "name": "popup"},
                             "/frame": REPORTER % {"port": server.port, "name": "frame"}})
        tree = self.make_tree(tool="fake", server="built")
        shell = self.start_shell(tree)
        page = shell.page(h.KIT_URL)
        self.assertEqual(page.evaluate(h.NATIVE_TYPES), KIT_TYPES)
        self.assertEqual(page.evaluate("native_appVersion"), "1.4.0")
        # A frame of another origin, and a data: frame, inside the kit's page: not loaded, or bare.
        page.evaluate("""for (const src of [%s, 'data:text/html,' + encodeURIComponent(%s)]) {
            const frame = document.createElement('iframe'); frame.src = src; document.body.appendChild(frame); }"""
                      % (json.dumps(server.url("/frame")), json.dumps(REPORTER % {"port": server.port, "name": "data"})))
        # A window opened to another origin: its first page opens in the system browser, and the window goes.
        popup = server.url("/popup")
        page.evaluate("window.open(%s, 'other', 'width=300,height=200'); true" % json.dumps(popup))
        h.wait_until(lambda: tree.system_browser_urls() == [popup], 20, what="the system browser")
        # A script that takes the main window elsewhere opens the system browser instead.
        elsewhere = server.url("/elsewhere?x=1")
        page.evaluate("location.href = %s" % json.dumps(elsewhere))
        h.wait_until(lambda: tree.system_browser_urls() == [popup, elsewhere], 20, what="the system browser")
        self.assertEqual(page.evaluate("location.href"), h.KIT_URL)
        time.sleep(1)
        self.assertEqual(server.reported("popup"), [])
        self.assertEqual(len(shell.windows()), 1)
        self.assertTrue(set(server.reported("frame") + server.reported("data")) <= {NOTHING})
        self.assertFalse([d for d in shell.diagnostics() if d.startswith("dialog")])

    def test_other_origins_data_and_file_pages_get_nothing(self):
        server = self.serve({})
        data_frame = "".join("%%%02X" % b for b in (REPORTER % {"port": server.port, "name": "data"}).encode())
        server.pages.update({
            "/foreign": FOREIGN_PAGE % {"self": REPORTER % {"port": server.port, "name": "page"}, "data": data_frame},
            "/frame": REPORTER % {"port": server.port, "name": "frame"}})
        tree = self.make_tree()
        local_file = os.path.join(tree.work, "page.html")
        with open(local_file, "w") as f:
            f.write("<html><head><title>Local file</title></head></html>")
        for url in (server.url("/foreign"), "file://" + local_file, "data:text/html,<title>Data%20page</title>"):
            with self.subTest(url=url[:30]):
                shell = self.start_shell(tree, "--url=" + url)
                self.assertEqual(shell.page(url[:12]).evaluate(h.NATIVE_TYPES), " ".join(["undefined"] * len(h.NATIVE_NAMES)))
                shell.stop()
        for name in ("page", "frame", "data"):
            self.assertEqual(self.reports(server, name), [NOTHING], name)
        self.assertFalse([d for d in shell.diagnostics() if d.startswith("dialog")])

    def test_another_program_on_the_port_is_named_and_never_shown(self):
        if not h.isolated():
            self.skipTest("needs a private network to hold port 7681")
        holder = subprocess.Popen([h.STUB_SERVER])
        self.addCleanup(lambda: (holder.kill(), holder.wait()))
        h.wait_until(lambda: h.accepts_connections(h.SERVER_PORT), 10, what="the other program to listen")
        shell = self.start_shell(self.make_tree(server="built"))
        window = self.display.wait_for_window("^varnkit: port 7681 is taken$", 30)
        page = shell.page("varnkit-page://port-taken")
        self.assertEqual(page.evaluate(h.NATIVE_TYPES), " ".join(["undefined"] * len(h.NATIVE_NAMES)))
        self.assertIn("Port 7681 is used by another program", page.evaluate("document.body.innerText"))
        # The kit's own server could not listen and is gone; the other program was not touched.
        h.wait_until(lambda: not h.processes_named(h.SERVER_NAME), 10, what="the kit's server to give up")
        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertIsNone(holder.poll())


    def test_other_schemes_are_dropped_with_a_line_in_the_diagnostics(self):
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")
        tree = self.make_tree(server="built")
        shell = self.start_shell(tree)
        page = shell.page(h.KIT_URL)
        window = self.display.wait_for_window("^%s$" % KIT_TITLE, 30)
        ways = {"link": "{ const a = document.createElement('a'); a.href = %s; document.body.appendChild(a); a.click(); }",
                "new window": "window.open(%s, 'other', 'width=300,height=200'); true"}
        for url in ("mailto:someone@example.com", "ssh://gateway.example/", "smb://server/share", "made-up:thing"):
            for way, script in ways.items():
                with self.subTest(url=url, way=way):
                    seen = len(shell.diagnostics())
                    page.evaluate(script % json.dumps(url))
                    shell.wait_for_diagnostic("dropped " + url, after=seen)
                    h.wait_until(lambda: shell.windows() == [window], 10, what="only the main window")
        self.assertEqual(tree.system_browser_urls(), [])
        self.assertEqual(page.evaluate("location.href"), h.KIT_URL)


class LoadErrorTest(h.ShellTestCase):

    def error_heading(self, shell):
        page = shell.page("varnkit-page://load-error")
        return page, page.evaluate("document.querySelector('h2').textContent")

    def test_no_server_shows_the_error_page_naming_url_error_and_code(self):
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")
        shell = self.start_shell(self.make_tree())
        page, heading = self.error_heading(shell)
        self.assertEqual(heading, "Failed to load URL http://127.0.0.1:7681/ with error "
                                  "net::ERR_CONNECTION_REFUSED (-102).")
        self.assertEqual(page.evaluate("document.body.getAttribute('bgcolor')"), "white")
        self.display.wait_for_window("^varnkit: page not available$")
        self.assertIn("start varnkit again", page.evaluate("document.body.innerText"))
        # The kit's own error page keeps the native interface.
        self.assertEqual(page.evaluate(h.NATIVE_TYPES), KIT_TYPES)

    def test_markup_in_the_failed_url_is_shown_as_text(self):
        port = h.free_tcp_port()
        # The runtime percent-encodes < and > in a URL; '&' stays, so an entity shows whether the text was escaped.
        url = "http://127.0.0.1:%d/?q=&lt;b&gt;#<script>window.injected=1</script><b>bold</b>" % port
        shell = self.start_shell(self.make_tree(), "--url=" + url)
        page, heading = self.error_heading(shell)
        self.assertTrue(heading.startswith("Failed to load URL http://127.0.0.1:%d/?q=&lt;b&gt;#" % port), heading)
        self.assertTrue(heading.endswith(" with error net::ERR_CONNECTION_REFUSED (-102)."), heading)
        self.assertEqual(page.evaluate("document.querySelectorAll('script, b').length"), 0)
        self.assertEqual(page.evaluate("typeof window.injected"), "undefined")

    def test_an_http_error_status_shows_the_servers_own_page(self):
        server = self.serve({})
        shell = self.start_shell(self.make_tree(), "--url=" + server.url("/missing"))
        self.display.wait_for_window("^Not here$", 30)
        self.assertFalse(any("load-error" in t["url"] for t in shell.targets()))

    def test_an_aborted_load_leaves_the_page_as_it_is(self):
        # A 204 answer ends the navigation without a new page: the runtime reports it as aborted.
        server = self.serve({"/opener": OPENER_PAGE, "/empty": 204})
        shell = self.start_shell(self.make_tree(), "--url=" + server.url("/opener"))
        page = shell.page("/opener")
        page.evaluate("window.marker = 'still here'; location.href = '/empty'")
        time.sleep(2)
        self.assertEqual(page.evaluate("window.marker + ' ' + location.pathname"), "still here /opener")
        self.assertFalse(any("load-error" in t["url"] for t in shell.targets()))


class ServerTest(h.ShellTestCase):

    def setUp(self):
        super().setUp()
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")

    def assert_started_hidden_beside(self, pid, tree, shell):
        self.assertEqual(os.readlink("/proc/%d/cwd" % pid), os.path.realpath(tree.http))
        self.assertEqual([os.readlink("/proc/%d/fd/%d" % (pid, fd)) for fd in range(3)], ["/dev/null"] * 3)
        self.assertEqual(os.getsid(pid), pid, "the server shares a session (terminal) with the shell")
        with open("/proc/%d/stat" % pid) as f:
            self.assertEqual(int(f.read().rsplit(")", 1)[1].split()[1]), shell.process.pid)

    def test_starts_the_server_hidden_beside_itself_and_stops_it_at_the_end(self):
        tree = self.make_tree(server="built")
        shell = self.start_shell(tree)
        window = shell.first_window()
        h.wait_until(lambda: self.display.window_name(window) == KIT_TITLE, 30, what="the server's page")
        servers = h.processes_named(h.SERVER_NAME)
        self.assertEqual(len(servers), 1)
        self.assert_started_hidden_beside(servers[0], tree, shell)

        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertFalse(h.process_alive(servers[0]), "the server still runs after the shell ended")
        self.assertTrue(os.path.isdir(os.path.join(tree.data_home, "KORVANE", "cuserdata")))

    def test_a_server_it_did_not_start_is_neither_trusted_nor_stopped(self):
        # The kit's server, started by hand with a key of its own: the window never adopts it.
        tree = self.make_tree(server="built")
        running = subprocess.Popen([os.path.join(tree.http, h.SERVER_NAME)], cwd=tree.http,
                                   env=dict(os.environ, VARNKIT_SERVER_KEY="a key of its own"), stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (running.kill(), running.wait()))
        h.wait_until(lambda: h.accepts_connections(h.SERVER_PORT), 10, what="the server to listen")
        shell = self.start_shell(tree, "--use-views")
        window = self.display.wait_for_window("^varnkit: port 7681 is taken$", 30)
        self.assertEqual(shell.page("varnkit-page://port-taken").evaluate(h.NATIVE_TYPES),
                         " ".join(["undefined"] * len(h.NATIVE_NAMES)))
        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertIsNone(running.poll(), "the window stopped a server it did not start")
        self.assertEqual(h.processes_named(h.SERVER_NAME), [running.pid])

    def test_another_accounts_program_on_the_port_gets_nothing_and_the_window_proves_a_new_server(self):
        if not h.isolated():
            self.skipTest("needs a private network to hand port 7681 to another program")
        tree = self.make_tree(server="built")
        shell = self.start_shell(tree)
        page = shell.page(h.KIT_URL)
        self.display.wait_for_window("^%s$" % KIT_TITLE, 30)
        self.assertEqual(page.evaluate(h.NATIVE_TYPES), KIT_TYPES)
        [first] = h.processes_named(h.SERVER_NAME)
        other = self.foreign_listener("127.0.0.1")
        os.kill(first, signal.SIGKILL)
        other.wait_listening()
        shell.wait_for_diagnostic("server ended unexpectedly")
        # The kit's page's link to the CSV formats opens a window: another account's page is in it.
        seen = len(shell.diagnostics())
        page.evaluate("document.querySelector('a[href=\"csv-formats.txt\"]').click()")
        foreign = shell.page("csv-formats.txt")
        self.assertEqual(foreign.evaluate("document.title"), "Foreign")
        self.assertEqual(foreign.evaluate("typeof native_actionBackup"), "undefined")
        self.assertEqual(foreign.evaluate(h.NATIVE_TYPES), NO_TYPES)
        self.assertEqual(foreign.evaluate(DIRECT_REQUEST), "refused")
        # The kit's page, loaded from the server that is gone, keeps its functions' names but no answers.
        self.assertEqual(page.evaluate("native_lastRun()"), "{}")
        self.assertIn("refused native request from http://127.0.0.1:7681", shell.diagnostics()[seen:])
        # Once the other program is gone, the window's next server proves itself and the pages load again.
        other.stop()
        shell.wait_for_diagnostic("server proved again", timeout=40)
        [second] = h.processes_named(h.SERVER_NAME)
        self.assertNotEqual(second, first)
        with open("/proc/%d/stat" % second) as f:
            self.assertEqual(int(f.read().rsplit(")", 1)[1].split()[1]), shell.process.pid)
        h.wait_until(lambda: page.evaluate(h.NATIVE_TYPES) == KIT_TYPES, 30, what="the kit's page with its functions")
        h.wait_until(lambda: foreign.evaluate("document.title") != "Foreign", 30, what="the window to load again")
        self.assertTrue(json.loads(page.evaluate("native_lastRun()")) == {"log": "", "archive": ""})

    def test_a_listener_on_ipv6_loopback_never_gets_the_functions(self):
        if not h.isolated():
            self.skipTest("needs a private network to hold [::1]:7681")
        self.foreign_listener("::1").wait_listening()
        tree = self.make_tree(server="built")
        # localhost is the kit's origin written as 127.0.0.1; [::1] is another program's.
        for given, shown, title, types in (("http://[::1]:7681/", "http://[::1]:7681/", "Foreign", NO_TYPES),
                                           ("http://localhost:7681/", h.KIT_URL, KIT_TITLE, KIT_TYPES)):
            with self.subTest(url=given):
                shell = self.start_shell(tree, "--url=" + given)
                # Generous: the window starts Chromium and its server while other window tests run.
                self.display.wait_for_window("^%s$" % title, 60)
                page = shell.page(shown)
                self.assertEqual(page.evaluate("location.href"), shown)
                self.assertEqual(page.evaluate(h.NATIVE_TYPES), types)
                self.assertEqual(page.evaluate(DIRECT_REQUEST), "refused")
                shell.stop()

    def test_a_second_start_hands_its_address_over_and_both_windows_keep_working(self):
        for closed_first in ("first", "second"):
            with self.subTest(closed_first=closed_first):
                tree = self.make_tree(server="built")
                shell = self.start_shell(tree)
                pages = {"first": shell.page(h.KIT_URL)}
                self.display.wait_for_window("^%s$" % KIT_TITLE, 30)
                servers = h.processes_named(h.SERVER_NAME)
                # Without an address the running window comes to the front; with one, it opens in a new window.
                self.assertEqual(self.start_shell(tree).wait_exit(30), 0)
                shell.wait_for_diagnostic("handed over no address")
                self.assertEqual(len(shell.windows()), 1)
                self.assertEqual(self.start_shell(tree, "--url=http://localhost:7681/#second").wait_exit(30), 0)
                shell.wait_for_diagnostic("handed over http://localhost:7681/#second")
                pages["second"] = shell.page("#second")
                self.assertEqual(h.processes_named(h.SERVER_NAME), servers, "the second start ran a server")
                windows = {}
                for name, page in pages.items():
                    page.evaluate("document.title = %s" % json.dumps(name))
                    windows[name] = self.display.wait_for_window("^%s$" % name)
                self.display.close_window(windows[closed_first])
                kept = "second" if closed_first == "first" else "first"
                h.wait_until(lambda: shell.windows() == [windows[kept]], 20, what="the other window left")
                pages[kept].evaluate("location.reload()")
                h.wait_until(lambda: pages[kept].evaluate("document.readyState") == "complete", 20, what="the reload")
                self.assertEqual(pages[kept].evaluate(h.NATIVE_TYPES), KIT_TYPES)
                self.assertEqual(json.loads(pages[kept].evaluate("native_lastRun()")), {"log": "", "archive": ""})
                self.assertEqual(h.processes_named(h.SERVER_NAME), servers)
                self.display.close_window(windows[kept])
                self.assertEqual(shell.wait_exit(30), 0)
                self.assertEqual(h.processes_named(h.SERVER_NAME), [])

    def test_a_server_that_does_not_prove_itself_is_stopped_and_replaced(self):
        # The stand-in answers every request with its page, the identity question too.
        shell = self.start_shell(self.make_tree(server="stub"))
        # The window opens once it has given up on the proof.
        window = shell.first_window(timeout=30)
        started = h.wait_until(lambda: h.processes_named(h.SERVER_NAME), 20, what="the next start")
        h.wait_until(lambda: not set(started) & set(h.processes_named(h.SERVER_NAME)), 30,
                     what="the unproved server to be stopped")
        self.assertFalse([d for d in shell.diagnostics() if d.startswith("server proved")])
        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertEqual(h.processes_named(h.SERVER_NAME), [])

    def test_the_page_loads_within_2_s_while_another_account_holds_50_slow_connections(self):
        # Relies on the server's own limits on connections and read time (http/server).
        if not h.isolated():
            self.skipTest("needs a private network for the slow connections")
        shell = self.start_shell(self.make_tree(server="built"))
        page = shell.page(h.KIT_URL)
        slow = subprocess.Popen(["/usr/bin/python3", "-c", SLOW_CLIENTS, str(h.SERVER_PORT), "50"],
                                stdout=subprocess.PIPE, user=65534 if os.geteuid() == 0 else None, cwd="/")
        self.addCleanup(lambda: (slow.kill(), slow.wait(), slow.stdout.close()))
        self.assertEqual(h.Background(slow.stdout.readline).result(30), b"connected\n")
        started = time.monotonic()
        # An address never loaded before: the page comes from the server, not from a cache.
        page.evaluate("location.href = '/?under-load'")
        loaded = "location.search == '?under-load' && document.readyState == 'complete' && typeof native_actionBackup"
        h.wait_until(lambda: page.evaluate(loaded) == "function", 10, interval=0.02, what="the page to load again")
        self.assertLess(time.monotonic() - started, 2.0)
        self.assertFalse([d for d in shell.diagnostics() if d.startswith("server")])

    def test_a_termination_signal_ends_the_program_and_stops_the_server(self):
        tree = self.make_tree(server="built")
        shell = self.start_shell(tree)
        window = shell.first_window()
        h.wait_until(lambda: self.display.window_name(window) == KIT_TITLE, 30, what="the server's page")
        server = h.processes_named(h.SERVER_NAME)[0]
        shell.process.send_signal(signal.SIGTERM)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertFalse(h.process_alive(server))


if __name__ == "__main__":
    h.isolate()
    unittest.main()
