#!/usr/bin/env python3
"""The run command without a display: it must end with code 0 and leave a screenshot that
shows the Starter's main window, reuse what an earlier run made, and cope with a game server
that another checkout's demo left on its address.

The demos here use their own folders and an address picked at run time, so a demo you have
open stays alone, and two checkouts can run this test at once."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import images  # noqa: E402
from loopback import free_address  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ADDRESS = free_address()
KEY = (255, 0, 255)
BLACK = (0, 0, 0)


def run_demo(folder):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "STARTER_USE_DISPLAY", "WINEPREFIX")}
    env.update(STARTER_DEMO_DIR=folder, STARTER_DEMO_ADDRESS=ADDRESS)
    return subprocess.run([os.path.join(ROOT, "scripts", "run"), "--exit-after-screenshot"],
                          env=env, cwd="/", stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=1200)


def server_stats(folder):
    out = subprocess.run(["php", os.path.join(ROOT, "server", "admin.php"), "--data",
                          os.path.join(folder, "server"), "stats"],
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    return dict((k, int(v)) for k, v in (line.split() for line in out.splitlines()))


def accepting(port):
    try:
        with socket.create_connection((ADDRESS, port), timeout=2):
            return True
    except OSError:
        return False


def read_text(*parts):
    with open(os.path.join(*parts)) as f:
        return f.read()


def file_times(folder):
    return {name: os.stat(os.path.join(folder, name)).st_mtime_ns for name in sorted(os.listdir(folder))}


def find_picture(screen, picture, samples=64):
    """Top-left corner on screen where most of a grid of the picture's opaque pixels show,
    or None."""
    opaque = [(x, y) for y in range(0, picture.height, 7) for x in range(0, picture.width, 7)
              if picture.pixel(x, y) != KEY]
    grid = opaque[::max(1, len(opaque) // samples)]
    allowed = len(grid) // 2
    for top in range(screen.height - picture.height + 1):
        for left in range(screen.width - picture.width + 1):
            misses = 0
            for x, y in grid:
                if screen.rows[top + y][left + x] != picture.rows[y][x]:
                    misses += 1
                    if misses > allowed:
                        break
            else:
                return left, top
    return None


class DemoRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="starter-demo-test-")
        cls.first_dir = os.path.join(cls.temp, "first")
        cls.other_dir = os.path.join(cls.temp, "other")
        cls.picture = images.read_bmp(os.path.join(ROOT, "res", "dll", "bmp", "main.bmp"))
        cls.first = run_demo(cls.first_dir)
        cls.first_planes = file_times(os.path.join(cls.first_dir, "game", "myPlanes"))
        cls.first_stats = server_stats(cls.first_dir)
        cls.first_web_pid = read_text(cls.first_dir, "server", "web.pid")
        cls.first_server_up = accepting(80) and accepting(21)
        cls.second = run_demo(cls.first_dir)

    @classmethod
    def tearDownClass(cls):
        for folder in (cls.first_dir, cls.other_dir):
            subprocess.run([os.path.join(ROOT, "server", "stop.sh"), "--data",
                            os.path.join(folder, "server")], check=False)
        shutil.rmtree(cls.temp, ignore_errors=True)

    def assertShowsMainWindow(self, run):
        self.assertEqual(run.returncode, 0, run.stdout)
        said = re.search(r"^Screenshot of the Starter: (.+\.png)$", run.stdout, re.M)
        self.assertIsNotNone(said, run.stdout)
        screen = images.read_png(said.group(1))
        corner = find_picture(screen, self.picture)
        self.assertIsNotNone(corner, "the main window's picture is not on the screenshot")
        left, top = corner
        inside = outside = drawn = lit = 0
        for y in range(self.picture.height):
            for x in range(self.picture.width):
                shown = screen.rows[top + y][left + x]
                if self.picture.rows[y][x] == KEY:
                    outside += 1
                    self.assertNotEqual(shown, KEY, f"key colour on screen at {left + x},{top + y}")
                else:
                    inside += 1
                    drawn += shown == self.picture.rows[y][x]
                    lit += shown != BLACK
        self.assertGreater(inside, 0)
        self.assertGreater(outside, 0, "the picture has no outline to cut")
        self.assertGreater(lit, inside // 2, "the window is mostly black")
        # The buttons and the description picture cover the rest.
        self.assertGreater(drawn, inside // 2)

    def test_the_first_run_shows_the_main_window_and_leaves_its_server_up(self):
        self.assertShowsMainWindow(self.first)
        self.assertEqual(self.first_stats, {"scores": 40, "designs": 30})
        self.assertEqual(len(self.first_planes), 3, self.first_planes)
        self.assertTrue(self.first_server_up)

    def test_a_second_run_reuses_the_build_the_server_and_the_installation(self):
        self.assertShowsMainWindow(self.second)
        self.assertIn("ninja: no work to do", self.second.stdout)
        self.assertEqual(server_stats(self.first_dir), self.first_stats, "seeded twice")
        self.assertEqual(read_text(self.first_dir, "server", "web.pid"),
                         self.first_web_pid, "the running server was restarted")
        self.assertEqual(file_times(os.path.join(self.first_dir, "game", "myPlanes")),
                         self.first_planes, "the sample installation was laid out again")

    def test_a_server_left_by_another_checkout_on_the_address_is_used(self):
        self.assertTrue(accepting(80))
        other = run_demo(self.other_dir)
        self.assertIn(f"already answers on {ADDRESS}", other.stdout)
        self.assertShowsMainWindow(other)
        self.assertFalse(os.path.exists(os.path.join(self.other_dir, "server", "web.pid")))
        self.assertEqual(read_text(self.first_dir, "server", "web.pid"),
                         self.first_web_pid)


if __name__ == "__main__":
    unittest.main(verbosity=2)
