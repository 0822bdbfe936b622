"""_addscore.php over HTTP: ranks, ties, repeats and refused fields."""
import unittest

import sitedata
from harness import ServerCase, encode_field, has_title


class ScoreTests(ServerCase):
    def setUp(self):
        self.server.admin("clear-scores")

    def upload(self, name, score, mail=""):
        return self.server.get("/php/_addscore.php?data=%s;%d;%s" % (encode_field(name), score, encode_field(mail)))

    def rank(self, name, score, mail=""):
        status, headers, body = self.upload(name, score, mail)
        self.assertEqual(status, 200, body)
        self.assertTrue(headers["Content-Type"].startswith("text/plain"))
        self.assertFalse(has_title(body))
        return body.decode()

    def test_ranks_with_ties_and_repeats(self):
        # (name, score, expected rank, entries stored afterwards)
        steps = [
            ("Ann Lee", 100, "1", 1),
            ("Bob", 200, "1", 2),
            ("Ann Lee", 100, "2", 2),   # the same upload again: same entry, same rank
            ("Cid", 100, "2", 3),       # a tie shares the rank
            ("Dan", 50, "4", 4),        # after a tie the next rank skips
            ("Ann Lee", 99, "4", 5),    # another score of the same player is its own entry
            ("Eve", -5, "6", 6),
            ("Fay", 300, "1", 7),
            ("Dan", 50, "6", 7),
            ("ann lee", 100, "3", 8),   # names are case-sensitive
        ]
        for name, score, want, entries in steps:
            with self.subTest(name=name, score=score):
                self.assertEqual(self.rank(name, score), want)
                self.assertEqual(self.server.counts()[0], entries)

    def test_extreme_scores(self):
        top, bottom = 2**63 - 1, -2**63
        self.assertEqual(self.rank("Low", bottom), "1")
        self.assertEqual(self.rank("High", top), "1")
        self.assertEqual(self.rank("Low", bottom), "2")

    def test_an_uploader_adds_a_bounded_number_of_new_entries_a_day(self):
        add = lambda name, score, uploader="10.0.0.1": sitedata.php(
            self.server, "echo add_score('%s', %d, '', '%s', 3) ?? 'refused';" % (name, score, uploader))
        self.assertEqual([add("Cap%d" % i, 100 - i) for i in range(3)] + [add("Cap3", 97)], ["1", "2", "3", "refused"])
        # A repeat adds nothing and is answered; another uploader has its own; ranks stay exact.
        self.assertEqual([add("Cap1", 99), add("Dan", 99, "10.0.0.2"), add("Cap2", 98)], ["2", "2", "4"])
        sitedata.php(self.server, "run(db(), 'UPDATE scores SET uploaded = uploaded - 86401');")  # a day later
        self.assertEqual((add("Cap3", 97), self.server.counts()[0]), ("5", 5))

    def test_repeat_updates_mail(self):
        self.rank("Ann", 10, "old@example.org")
        self.rank("Ann", 10, "new@example.org")
        _, _, page = self.server.get("/")
        self.assertIn(b"new@example.org", page)
        self.assertNotIn(b"old@example.org", page)

    def test_escaped_texts_are_stored_decoded(self):
        self.rank("Ann;Lee", 7, "ann@example.org")
        self.rank("J\xfcrgen 'Ace'", 6)
        _, _, page = self.server.get("/")
        self.assertIn("Ann;Lee".encode(), page)
        self.assertIn("Jürgen Ace".encode(), page)
        self.assertIn(b"ann@example.org", page)

    def test_bad_fields_are_refused(self):
        cases = {
            "no data": "/php/_addscore.php",
            "two fields": "/php/_addscore.php?data=Ann;5",
            "four fields": "/php/_addscore.php?data=Ann;5;m;x",
            "score not a number": "/php/_addscore.php?data=Ann;12x;",
            "score with a point": "/php/_addscore.php?data=Ann;1.5;",
            "empty score": "/php/_addscore.php?data=Ann;;",
            "score beyond 64 bits": "/php/_addscore.php?data=Ann;9223372036854775808;",
            "leading zero": "/php/_addscore.php?data=Ann;007;",
            "empty name": "/php/_addscore.php?data=;5;",
            "name too long": "/php/_addscore.php?data=%s;5;" % ("a" * 64),
            "mail too long": "/php/_addscore.php?data=Ann;5;%s" % ("m" * 256),
        }
        for what, target in cases.items():
            with self.subTest(what):
                status, headers, body = self.server.get(target)
                self.assertEqual(status, 400, body)
                self.assertTrue(headers["Content-Type"].startswith("text/plain"))
                self.assertFalse(has_title(body))
                self.assertTrue(body.strip(), "a refusal says why")
        self.assertEqual(self.server.counts()[0], 0)

    def test_only_get_is_served(self):
        status, _, body = self.server.get("/php/_addscore.php?data=Ann;5;", method="POST")
        self.assertEqual(status, 405)
        self.assertFalse(has_title(body))
        self.assertEqual(self.server.counts()[0], 0)


if __name__ == "__main__":
    unittest.main()
