"""The fault doubles: served under /php/test/ only by a server started with --doubles, each with its
fixed answer; a hanging one holds up no other request."""
import os
import threading
import time
import unittest

from harness import ServerCase, has_title

DOUBLES = {  # name: (status, a part of the body, or the whole body when it is bytes in a tuple)
    "title404": (404, b"<title>404 Not Found</title>"),
    "notitle404": (404, b"Not Found"),
    "empty": (200, (b"",)),
    "capstitle": (200, b"<TITLE>x</TITLE>"),
    "attrtitle": (200, b'<title lang="en">x</title>'),
    "rank17lf": (200, (b"17\n",)),
    "zero": (200, (b"0\n",)),
}


class WithoutTheOptionTests(ServerCase):
    def test_doubles_are_not_served_without_the_option(self):
        for name in list(DOUBLES) + ["hang", "rank", "short40", "hostile"]:
            with self.subTest(name=name):
                status, _, body = self.server.get("/php/test/%s.php" % name)
                self.assertEqual((status, body), (404, b"not found\n"))


class DoubleTests(ServerCase):
    server_name = "doubles"

    def test_fixed_answers(self):
        for name, (status, body) in DOUBLES.items():
            with self.subTest(name=name):
                got_status, _, got = self.server.get("/php/test/%s.php?data=a;1;" % name)
                self.assertEqual(got_status, status)
                if isinstance(body, tuple):
                    self.assertEqual(got, body[0])
                else:
                    self.assertIn(body, got)
        self.assertFalse(has_title(self.server.get("/php/test/notitle404.php")[2]))

    def test_rank_comes_from_the_data_folder(self):
        for rank in ("21", "20", "1", "0"):
            with self.subTest(rank=rank):
                with open(self.server.path("fixed-rank"), "w") as f:
                    f.write(rank + "\n")
                self.assertEqual(self.server.get("/php/test/rank.php?data=Ann;5;")[2], rank.encode())

    def test_catalogue_doubles(self):
        _, _, short = self.server.get("/php/test/short40.php?style=1&from=0&num=17")
        lines = short.split(b"\n")
        self.assertEqual((lines[0], len(lines)), (b"40", 7))
        _, _, hostile = self.server.get("/php/test/hostile.php?style=1&from=0&num=17")
        files = [line.split(b";")[1] for line in hostile.split(b"\n")[1:-1]]
        self.assertEqual(files, [b"..\\x.plane", b"C:x.plane", b"a/b.plane"])

    def test_a_hanging_answer_blocks_nothing_else(self):
        outcome = {}

        def hang():
            started = time.monotonic()
            try:
                self.server.get("/php/test/hang.php", timeout=3)
                outcome["hang"] = "answered"
            except OSError:
                outcome["hang"] = time.monotonic() - started

        marker = self.server.path("hanging")
        if os.path.exists(marker):
            os.remove(marker)
        t = threading.Thread(target=hang)
        t.start()
        # hang.php leaves the marker before it sleeps: then the hang holds a worker.
        deadline = time.monotonic() + 10
        while not os.path.exists(marker):
            self.assertLess(time.monotonic(), deadline, "the hanging request never arrived")
            time.sleep(0.02)
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1", timeout=2.5)[0], 200)
        self.assertNotIn("hang", outcome, "answered only after the hanging request gave up")
        t.join()
        self.assertGreaterEqual(outcome["hang"], 2.9, "hang.php must send nothing")


if __name__ == "__main__":
    unittest.main()
