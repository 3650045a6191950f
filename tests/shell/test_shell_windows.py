"""End-to-end: varnkit's windows and titles, pop-ups, the load-error page, and the
local web server it starts, adopts and stops. Runs under Xvfb; pages come from a
loopback test server or from a stand-in web server on port 7681."""

import os
import signal
import subprocess
import threading
import time
import unittest

import shellharness as h

TITLED_PAGE = ("<html><head><title>Window Test</title></head><body><input id=field autofocus>"
               "<iframe src='/frame'></iframe><iframe src='http://localhost:%(port)d/frame'></iframe></body></html>")
# Each frame reports what its own global object holds.
FRAME_PAGE = "<html><body><script>fetch('/report?frame=' + String(window.native_appVersion))</script></body></html>"
OPENER_PAGE = "<html><head><title>Opener</title></head><body>opener</body></html>"
POPUP_PAGE = "<html><head><title>Popup Page</title></head><body>pop-up</body></html>"


class WindowTest(h.ShellTestCase):

    def serve_titled(self, gate=None):
        server = self.serve({})
        server.pages.update({"/": (TITLED_PAGE % {"port": server.port}, gate), "/frame": FRAME_PAGE})
        return server

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

    def test_native_interface_is_in_every_frame_and_comes_back_after_a_reload(self):
        server = self.serve_titled()
        shell = self.start_shell(self.make_tree(), "--url=" + server.url("/"))
        page = shell.page(server.url("/"))
        self.assertEqual(page.evaluate("native_appVersion"), "1.4.0")
        # The same-origin frame and the cross-site one both report.
        h.wait_until(lambda: len(server.reported("frame")) == 2, 20, what="two frame reports")
        self.assertEqual(server.reported("frame"), ["1.4.0", "1.4.0"])
        shape = page.evaluate("""JSON.stringify(Object.keys(window).filter(k => k.startsWith('native_')).map(k => {
            const d = Object.getOwnPropertyDescriptor(window, k);
            return [k, typeof d.value, d.writable, d.enumerable, d.configurable]; }))""")
        self.assertEqual(shape, '[["native_appVersion","string",true,true,true],'
                                '["native_actionBackup","function",true,true,true],'
                                '["native_actionRestore","function",true,true,true],'
                                '["native_actionFirmwareUpgrade","function",true,true,true]]')

        page.evaluate("window.native_appVersion = 'changed'; location.reload()")
        h.wait_until(lambda: len(server.reported("frame")) == 4, 20, what="frame reports after the reload")
        self.assertEqual(server.reported("frame")[2:], ["1.4.0", "1.4.0"])
        h.wait_until(lambda: page.evaluate("document.readyState == 'complete' && native_appVersion") == "1.4.0",
                     20, what="the main frame's version after the reload")

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
                self.assertEqual(shell.page("/popup").evaluate("native_appVersion"), "1.4.0")

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


class LoadErrorTest(h.ShellTestCase):

    def error_heading(self, shell):
        page = shell.page("data:text/html")
        return page, page.evaluate("document.querySelector('h2').textContent")

    def test_no_server_shows_the_error_page_naming_url_error_and_code(self):
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")
        shell = self.start_shell(self.make_tree())
        page, heading = self.error_heading(shell)
        self.assertEqual(heading, "Failed to load URL http://127.0.0.1:7681/ with error "
                                  "net::ERR_CONNECTION_REFUSED (-102).")
        self.assertEqual(page.evaluate("document.body.getAttribute('bgcolor')"), "white")
        # The error page gets the native interface like any other page.
        self.assertEqual(page.evaluate("native_appVersion"), "1.4.0")

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
        self.assertFalse(any("data:" in t["url"] for t in shell.targets()))

    def test_an_aborted_load_leaves_the_page_as_it_is(self):
        # A 204 answer ends the navigation without a new page: the runtime reports it as aborted.
        server = self.serve({"/opener": OPENER_PAGE, "/empty": 204})
        shell = self.start_shell(self.make_tree(), "--url=" + server.url("/opener"))
        page = shell.page("/opener")
        page.evaluate("window.marker = 'still here'; location.href = '/empty'")
        time.sleep(2)
        self.assertEqual(page.evaluate("window.marker + ' ' + location.pathname"), "still here /opener")
        self.assertFalse(any("data:" in t["url"] for t in shell.targets()))


class ServerTest(h.ShellTestCase):

    def setUp(self):
        super().setUp()
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")

    def assert_started_hidden_beside(self, pid, tree, shell):
        self.assertEqual(os.readlink("/proc/%d/cwd" % pid), tree.http)
        self.assertEqual([os.readlink("/proc/%d/fd/%d" % (pid, fd)) for fd in range(3)], ["/dev/null"] * 3)
        self.assertEqual(os.getsid(pid), pid, "the server shares a session (terminal) with the shell")
        with open("/proc/%d/stat" % pid) as f:
            self.assertEqual(int(f.read().rsplit(")", 1)[1].split()[1]), shell.process.pid)

    def test_starts_the_server_hidden_beside_itself_and_stops_it_at_the_end(self):
        tree = self.make_tree(server="stub")
        shell = self.start_shell(tree)
        window = shell.first_window()
        h.wait_until(lambda: self.display.window_name(window) == "Stub UI", 30, what="the server's page")
        servers = h.processes_named(h.SERVER_NAME)
        self.assertEqual(len(servers), 1)
        self.assert_started_hidden_beside(servers[0], tree, shell)

        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertFalse(h.process_alive(servers[0]), "the server still runs after the shell ended")
        self.assertTrue(os.path.isdir(os.path.join(tree.data_home, "KORVANE", "cuserdata")))

    def test_adopts_a_server_that_already_runs_and_stops_it_at_the_end(self):
        tree = self.make_tree(server="stub")
        running = subprocess.Popen([os.path.join(tree.http, h.SERVER_NAME)], cwd=tree.http)
        self.addCleanup(lambda: running.poll() is None and running.kill())
        h.wait_until(lambda: h.accepts_connections(h.SERVER_PORT), 10, what="the server to listen")
        shell = self.start_shell(tree, "--use-views")
        window = self.display.wait_for_window("^Stub UI$", 30)
        self.assertEqual(h.processes_named(h.SERVER_NAME), [running.pid], "a second server was started")
        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertIsNotNone(running.wait(timeout=15))

    def test_a_termination_signal_ends_the_program_and_stops_the_server(self):
        tree = self.make_tree(server="stub")
        shell = self.start_shell(tree)
        window = shell.first_window()
        h.wait_until(lambda: self.display.window_name(window) == "Stub UI", 30, what="the server's page")
        server = h.processes_named(h.SERVER_NAME)[0]
        shell.process.send_signal(signal.SIGTERM)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertFalse(h.process_alive(server))


if __name__ == "__main__":
    h.isolate()
    unittest.main()
