"""End-to-end: varnkit on the kit's own web user interface, served by the built
varnkit-http-server that the shell starts itself. Takes a screenshot of the main
window (kept in the build tree as varnkit-main.png) and checks that it shows something."""

import os
import shutil
import unittest

import shellharness as h

SCREENSHOT = os.path.join(h.BUILD_DIR, "varnkit-main.png")


class WebUiTest(h.ShellTestCase):

    def setUp(self):
        super().setUp()
        self.assertTrue(os.path.exists(os.path.join(h.HTTP_DIR, h.SERVER_NAME)),
                        "the web server and its content are not built (%s)" % h.HTTP_DIR)
        if not h.isolated() and h.accepts_connections(h.SERVER_PORT):
            self.skipTest("something else serves port 7681 and no private network is available")

    def test_main_window_shows_the_web_ui(self):
        tree = self.make_tree(tool="real", server="built")
        shell = self.start_shell(tree)
        page = shell.page("127.0.0.1:%d" % h.SERVER_PORT)
        self.assertEqual(page.evaluate("native_appVersion"), "1.4.0")
        title = page.evaluate("document.title")
        window = shell.first_window()
        if title:
            h.wait_until(lambda: self.display.window_name(window) == title, 20, what="the web UI's title")
        self.assertEqual(self.display.window_size(window), (790, 700))
        # Fonts and images may arrive after the load event; give the page a moment to settle.
        page.evaluate("new Promise(done => setTimeout(done, 1500))")
        shot = self.display.screenshot(os.path.join(tree.root, "main.png"), window)
        colours = h.image_colours(shot)
        pixels = sum(colours.values())
        self.assertEqual(pixels, 790 * 700)
        self.assertGreater(len(colours), 16, "the window shows hardly anything")
        self.assertLess(max(colours.values()), 0.97 * pixels, "the window is nearly one colour")
        shutil.copyfile(shot, SCREENSHOT)

        self.display.close_window(window)
        self.assertEqual(shell.wait_exit(30), 0)
        self.assertEqual(h.processes_named(h.SERVER_NAME), [])


if __name__ == "__main__":
    h.isolate()
    unittest.main()
