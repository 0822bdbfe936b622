"""_getplanes.php: a registered design listed, paging at both ends, the cap, refused paging, a fixed
order while designs arrive, sanitised texts; on SQLite and on PostgreSQL."""
import unittest

import harness
from harness import ServerCase, design_bytes, encode_field, has_title

NUMBERS = "1000;2000;30;40;50;800;5000"


def seeded_line(i):
    """The catalogue line of design i of admin seed-planes (see admin.php)."""
    nums = [1000 * i, 500 + i, 10 + i % 50, i * 7 % 100, i * 13 % 100, 300 + i, 1000 + 10 * i]
    return ";".join(["Design %03d" % i, "5eed%04x.plane" % i, "pilot%d@example.org" % i] + [str(n) for n in nums])


@harness.on_both_storages
class CatalogueTests(ServerCase):
    def setUp(self):
        self.server.admin("clear-planes")

    def put_file(self, file, **design):
        self.server.upload(file, design_bytes(**design))

    def register(self, fields):
        return self.server.get("/php/_addplane.php?data=" + fields)

    def page(self, start, num):
        lines = self.lines("/php/_getplanes.php?style=1&from=%s&num=%s" % (start, num))
        self.assertEqual(lines[-1], "", "the answer ends with a line feed")
        return int(lines[0]), lines[1:-1]

    def test_registered_design_is_listed_with_mail_as_third_text(self):
        self.put_file("a1b2c3d4.plane", numbers=(-1, 2000, 30, 40, 50, 800, 5000))
        status, _, body = self.register("-1;2000;30;40;50;800;5000;Sky%20Jet;a1b2c3d4.plane;p%40example%2eorg")
        self.assertEqual(status, 200, body)
        self.assertFalse(has_title(body))
        self.assertEqual(self.page(0, 17), (1, ["Sky Jet;a1b2c3d4.plane;p@example.org;-1;2000;30;40;50;800;5000"]))

    def test_paging_at_the_ends(self):
        self.server.admin("seed-planes", 40)
        expected = [seeded_line(i) for i in range(1, 41)]
        cases = [  # from, num, entries expected
            (0, 17, expected[0:17]),
            (17, 17, expected[17:34]),
            (34, 17, expected[34:40]),   # the last page is short
            (39, 1, expected[39:40]),
            (40, 17, []),                # just past the end
            (100000, 17, []),
            ("99999999999999999999999", 17, []),
            (5, 0, []),
        ]
        for start, num, want in cases:
            with self.subTest(start=start, num=num):
                self.assertEqual(self.page(start, num), (40, want))

    def test_huge_num_is_capped(self):
        self.server.admin("seed-planes", 150, "--no-files")
        for num in ("1000", "99999999999999999999999"):
            with self.subTest(num=num):
                total, entries = self.page(0, num)
                self.assertEqual(total, 150)
                self.assertEqual(len(entries), 100)
                self.assertEqual(entries[99], seeded_line(100))

    def test_bad_paging_is_refused(self):
        for query in ("style=1&from=-1&num=17", "style=1&from=-99999999999999999999&num=17",
                      "style=1&from=0&num=-5", "style=1&from=x&num=17", "style=1&from=1.5&num=17",
                      "style=2&from=0&num=17", "style=1&from=5%0a&num=1"):
            with self.subTest(query):
                status, _, body = self.server.get("/php/_getplanes.php?" + query)
                self.assertEqual(status, 400, body)
                self.assertFalse(has_title(body))

    def test_empty_catalogue(self):
        self.assertEqual(self.page(0, 17), (0, []))

    def test_order_stays_fixed_while_designs_arrive(self):
        self.server.admin("seed-planes", 20)
        before = self.page(0, 17)[1]
        self.put_file("feed01.plane", name=b"Newcomer")
        self.assertEqual(self.register(NUMBERS + ";Newcomer;feed01.plane;")[0], 200)
        total, after = self.page(0, 17)
        self.assertEqual((total, after), (21, before))
        self.assertEqual(self.page(20, 17)[1][0].split(";")[0], "Newcomer")

    def test_texts_come_back_sanitised(self):
        self.server.admin("seed-planes", 6, "--hostile")
        name = "Evil;name\r\nwith <TITLE>x</TITLE>\x00cut"
        self.put_file("beef.plane", name=name.encode("cp1252"))
        name = encode_field(name)
        status, _, _ = self.register(NUMBERS + ";%s;beef.plane;%s" % (name, encode_field("a;b\nc")))
        self.assertEqual(status, 200)
        _, _, body = self.server.get("/php/_getplanes.php?style=1&from=0&num=17")
        self.assertFalse(has_title(body))
        self.assertNotIn(b"\r", body)
        self.assertNotIn(b"\x00", body)
        lines = body.split(b"\n")
        self.assertEqual(lines[0], b"7")
        self.assertEqual(lines[-1], b"")
        for line in lines[1:-1]:
            self.assertEqual(line.count(b";"), 9, line)
        names = [line.split(b";")[0] for line in lines[1:-1]]
        self.assertEqual(names, [
            b"Semi,colon 1", b"Line feed 2", b"Carriage  return 3", b"(title)Boom(/title) 4",
            b"Quotes \" and ' & (b)tags(/b) 5", "Umlauts äöüß € 6".encode("cp1252"),
            b"Evil,name  with (TITLE)x(/TITLE)"])
        self.assertEqual(lines[7].split(b";")[2], b"a,b c")


if __name__ == "__main__":
    unittest.main()
