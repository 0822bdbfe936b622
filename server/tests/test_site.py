"""The game's website at /: best hiscores, newest designs, downloadable design files."""
import os
import re
import shutil
import subprocess
import unittest

from harness import ServerCase

CHROMIUM = shutil.which("chromium")


class SiteTests(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server.admin("clear-scores")
        cls.server.admin("clear-planes")
        for name, score in (("Ann", 50), ("Bob", 70), ("Cid", 50), ("Dan", 10), ("<script>alert(1)</script>", 5)):
            cls.server.admin("add-score", name, score, name.lower() + "@example.org")
        cls.server.admin("seed-planes", 3)
        cls.server.admin("seed-planes", 1, "--hostile")

    def test_page_lists_ranks_and_newest_designs(self):
        status, headers, body = self.server.get("/")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("text/html"))
        page = body.decode()
        rows = re.findall(r'<tr><td class="n">(\d+)</td><td>([^<]*)</td><td class="n">(-?\d+)</td>', page)
        self.assertEqual(rows, [("1", "Bob", "70"), ("2", "Ann", "50"), ("2", "Cid", "50"), ("4", "Dan", "10"),
                                ("5", "&lt;script&gt;alert(1)&lt;/script&gt;", "5")])
        designs = re.findall(r"<tr><td>([^<]*)</td>", page)
        self.assertEqual(designs, ["Semi;colon 4", "Design 003", "Design 002", "Design 001"])

    def test_texts_are_escaped(self):
        _, _, body = self.server.get("/")
        self.assertNotIn(b"<script>", body)
        self.assertIn(b"&lt;script&gt;alert(1)&lt;/script&gt;", body)

    def test_design_files_download_byte_for_byte(self):
        _, _, body = self.server.get("/")
        links = re.findall(rb'href="(/download\.php\?file=[0-9a-f]+\.plane)"', body)
        self.assertEqual(len(links), 4)
        for link in links:
            with self.subTest(link=link):
                status, headers, got = self.server.get(link.decode())
                self.assertEqual(status, 200)
                self.assertEqual(headers["Content-Type"], "application/octet-stream")
                name = link.decode().split("=")[1]
                with open(self.server.path("planes", name), "rb") as f:
                    self.assertEqual(got, f.read())

    def test_bad_downloads_are_refused(self):
        for target, want in (("/download.php?file=../server.ini", 400), ("/download.php?file=abcd.plane.txt", 400),
                             ("/download.php", 400), ("/download.php?file=abcdef.plane", 404)):
            with self.subTest(target):
                self.assertEqual(self.server.get(target)[0], want)

    @unittest.skipUnless(CHROMIUM, "chromium is not installed")
    def test_page_renders_in_headless_chromium(self):
        profile = os.path.join(self.server.data, "chromium-profile")
        out = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile,
                              "--dump-dom", "http://%s/" % self.server.addr],
                             capture_output=True, text=True, timeout=60)
        dom = out.stdout
        self.assertIn("<title>Skyvora", dom)
        self.assertEqual(len(re.findall(r'<tr><td class="n">', dom)), 5, dom)
        self.assertNotIn("<script>", dom)
        self.assertEqual(re.findall(r'href="(/download\.php\?file=5eed0001\.plane)"', dom),
                         ["/download.php?file=5eed0001.plane"])


if __name__ == "__main__":
    unittest.main()
