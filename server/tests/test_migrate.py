"""The move from SQLite to PostgreSQL in one command: 100,000 scores and 2,000 designs with
files; the ranks of 1,000 sampled scores and the catalogue's pages the same, byte for byte; a
failed check leaves the target empty and server.ini alone, and the command runs again."""
import contextlib
import hashlib
import os
import random
import sqlite3
import subprocess
import unittest

import harness
import test_postgres

SAMPLE = 1000


def setUpModule():
    harness.in_one_suite(False, "it runs the built-in server on both storages itself")
    reason = test_postgres._skip_reason()
    if reason:
        raise unittest.SkipTest(reason)


def ranks(server, entries):
    """The ranks the server's own code gives these scores, in order."""
    php = ("require '%s/lib/common.php'; foreach (explode(',', $argv[1]) as $s) echo score_rank(db(), (int)$s), ' ';"
           % harness.SERVER_DIR)
    out = subprocess.run(["php", "-r", php, ",".join(str(score) for score in entries)], check=True,
                         env=dict(os.environ, SKV_DATA=server.data), capture_output=True, text=True).stdout
    return [int(r) for r in out.split()]


def sql(server, statement):
    """Runs one statement on the SQLite store and closes it again (a connection left open would
    hold the store in use); the store's file then holds everything (the journal checkpointed)."""
    with contextlib.closing(sqlite3.connect(server.path("skv.sqlite"))) as db:
        rows = db.execute(statement).fetchall()
        db.commit()
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        return rows


def pages(server, total):
    """Every catalogue page the Starter can ask for (17 a page), and the website's first and last."""
    got = [server.get("/php/_getplanes.php?style=1&from=%d&num=17" % start)[2] for start in range(0, total, 17)]
    return got + [server.get(t)[2] for t in ("/designs.php", "/designs.php?page=%d" % ((total + 24) // 25),
                                             "/designs.php?sort=velocity&dir=desc&page=3", "/hiscores.php?page=7")]


class MigrateTests(unittest.TestCase):
    def test_migrate_keeps_ranks_and_pages_and_refuses_what_it_must(self):
        pg = harness.postgres_database("migrated", durable=False)
        server = harness.server("migrate")
        server.admin("seed-scores", 100000)
        server.admin("seed-planes", 1994)
        server.admin("seed-planes", 6, "--hostile")
        for i in range(3):  # mails and uploaders as players leave them
            server.get("/php/_addscore.php?data=Mailer%d;%d;pilot%%40example%%2eorg" % (i, 777 + i))
        entries = [s for (s,) in sql(server, "SELECT score FROM scores")]
        total = sql(server, "SELECT COUNT(*) FROM planes")[0][0]
        sample = random.Random(31).sample(entries, SAMPLE)
        before_ranks, before_pages = ranks(server, sample), pages(server, total)
        self.assertEqual(before_ranks[:50], [1 + sum(e > s for e in entries) for s in sample[:50]])
        server.stop()
        dsn = "pgsql:host=%s;port=5432;dbname=migrated" % pg.addr

        def migrate():
            return subprocess.run(["php", os.path.join(harness.SERVER_DIR, "admin.php"), "--data", server.data,
                                   "migrate", dsn, "--user", "skv"], capture_output=True, text=True)

        def refused(out, reason):
            self.assertEqual((out.returncode, out.stderr.count("\n")), (2, 1), out.stderr)
            self.assertIn(reason, out.stderr)
            self.assertFalse(os.path.exists(server.path("server.ini")))
            self.assertEqual(pg.psql("SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public'", "migrated"), "0\n")

        # A count row off by one: the ranks below it disagree, and nothing is migrated.
        top = "level = 6 AND prefix = %d" % (max(entries) >> 16)  # counted in the rank of nearly every score
        sql(server, "UPDATE score_counts SET n = n + 1 WHERE " + top)
        refused(migrate(), "disagrees")
        sql(server, "UPDATE score_counts SET n = n - 1 WHERE " + top)
        store = hashlib.sha256(open(server.path("skv.sqlite"), "rb").read()).digest()

        out = migrate()
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("migrated 100003 scores and 2000 designs", out.stdout)
        self.assertEqual(hashlib.sha256(open(server.path("skv.sqlite"), "rb").read()).digest(), store)
        server.start()
        self.assertEqual(ranks(server, sample), before_ranks)
        after = pages(server, total)
        self.assertEqual(len(after), len(before_pages))
        for i, (was, now) in enumerate(zip(before_pages, after)):
            self.assertEqual(now, was, "page %d" % i)

        self.assertIn("is on PostgreSQL already", migrate().stderr)
        server.stop()
        os.rename(server.path("server.ini"), server.path("server.ini.migrated"))
        try:
            self.assertIn("the target database is not empty", migrate().stderr)
        finally:
            os.rename(server.path("server.ini.migrated"), server.path("server.ini"))
