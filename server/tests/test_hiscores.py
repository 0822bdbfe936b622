"""_addscore.php: ranks, ties and repeats, the entry's mail, refused fields, and the counted rank
against the plain count; on SQLite and on PostgreSQL."""
import bisect
import os
import random
import unittest

import harness
from harness import ServerCase, encode_field, has_title

OWNER, THIEF = harness.client_addresses(2)


@harness.on_both_storages
class HiscoreTests(ServerCase):
    def setUp(self):
        self.server.admin("clear-scores")

    def upload(self, name, score, mail="", source=None):
        return self.server.get("/php/_addscore.php?data=%s;%d;%s" % (encode_field(name), score, encode_field(mail)),
                               source=source)

    def rank(self, name, score, mail="", source=None):
        status, headers, body = self.upload(name, score, mail, source)
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

    def test_a_repeat_changes_the_mail_only_from_the_first_address(self):
        self.rank("Ann", 10, "old@example.org", OWNER)
        self.rank("Ann", 10, "new@example.org", OWNER)
        page = self.server.get("/")[2]
        self.assertIn(b"new@example.org", page)
        self.assertNotIn(b"old@example.org", page)
        self.assertEqual(self.rank("Ann", 10, "thief@example.org", THIEF), "1", "the rank still comes back")
        page = self.server.get("/")[2]
        self.assertIn(b"new@example.org", page)
        self.assertNotIn(b"thief@example.org", page)

    def test_escaped_texts_are_stored_decoded(self):
        self.rank("Ann;Lee", 7, "ann@example.org")
        self.rank("J\xfcrgen 'Ace'", 6)
        _, _, page = self.server.get("/")
        self.assertIn("Ann;Lee".encode(), page)
        self.assertIn("Jürgen Ace".encode(), page)
        self.assertIn(b"ann@example.org", page)

    def test_entries_are_in_the_storage_server_ini_names(self):
        self.rank("Pat", 4242)
        self.assertEqual(self.server.sql("SELECT name FROM scores WHERE score = 4242"), [("Pat",)])
        self.assertEqual(os.path.exists(self.server.path("skv.sqlite")), self.storage == "sqlite")

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
            "mail too long": "/php/_addscore.php?data=Ann;5;m%s" % ("m" * 251 + "%40x%2ey"),
        }
        for what, target in cases.items():
            with self.subTest(what):
                status, headers, body = self.server.get(target)
                self.assertEqual(status, 400, body)
                self.assertTrue(headers["Content-Type"].startswith("text/plain"))
                self.assertFalse(has_title(body))
                self.assertTrue(body.strip(), "a refusal says why")
        status, _, body = self.server.get("/php/_addscore.php?data=Ann;5;%s" % ("m" * 251 + "%40x%2ey"))
        self.assertEqual((status, body), (200, b"1"), "a mail of 255 bytes, what the Options dialog stores")

    def test_only_get_is_served(self):
        status, _, body = self.server.get("/php/_addscore.php?data=Ann;5;", method="POST")
        self.assertEqual(status, 405)
        self.assertFalse(has_title(body))
        self.assertEqual(self.server.counts()[0], 0)

    def test_counted_rank_equals_the_plain_count(self):
        # The rank from the prefix counts and the log of changes not yet counted.
        rng = random.Random(15)
        top, bottom = 2**63 - 1, -2**63
        # Clustered, spread, negative, tied and extreme scores in one statement: on PostgreSQL a
        # bulk counted at once, on SQLite row by row into the log.
        scores = ([rng.randint(0, 1000) for _ in range(1500)] + [rng.randint(-2**40, 2**40) for _ in range(1500)]
                  + [rng.randint(bottom, top) for _ in range(1000)] + [top, bottom, 0, -1, 255, 256, -256, -257])
        self.insert_scores(("R%d" % i, s) for i, s in enumerate(scores))
        # A bulk load through the admin tool, single uploads left in the log, and removals.
        self.server.admin("seed-scores", 3000)
        for i, s in enumerate(rng.sample(scores, 20)):
            self.insert_scores([("L%d" % i, s)])
        self.server.sql("DELETE FROM scores WHERE name LIKE 'R1%'")
        self.server.sql("DELETE FROM scores WHERE name = 'R2'")
        stored = sorted(int(v) for v, in self.server.sql("SELECT score FROM scores"))
        probes = ([top, bottom, 0, -1, 1] + rng.sample(stored, 300) + [s + 1 for s in rng.sample(stored, 100)]
                  + [s - 1 for s in rng.sample(stored, 100)] + [rng.randint(bottom, top) for _ in range(200)]
                  + [rng.randint(-2**40, 2**40) for _ in range(200)] + [rng.randint(0, 10**7) for _ in range(200)])
        probes = [p for p in probes if bottom <= p <= top]
        plain = [1 + len(stored) - bisect.bisect_right(stored, p) for p in probes]
        counted = self.server.php("while (($l = fgets(STDIN)) !== false) echo score_rank(db(), (int)$l), \"\\n\";",
                                  stdin="\n".join(map(str, probes)) + "\n")
        self.assertEqual([int(r) for r in counted.split()], plain)
        # The same over HTTP, with ties.
        self.assertEqual(self.rank("Probe", stored[0]), str(1 + len(stored) - bisect.bisect_right(stored, stored[0])))

    def insert_scores(self, rows):
        self.server.sql("INSERT INTO scores (name, score, mail, uploaded) VALUES %s"
                        % ", ".join("('%s', %d, '', 0)" % row for row in rows))


if __name__ == "__main__":
    unittest.main()
