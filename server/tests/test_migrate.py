"""The move from SQLite to PostgreSQL in one command: 100,000 scores and 2,000 designs with files,
the ranks of 1,000 sampled scores and the catalogue's pages the same byte for byte; a failed
check leaves the target empty and server.ini alone, and the command runs again."""
import contextlib
import hashlib
import os
import pathlib
import random
import sqlite3
import subprocess
import unittest

import harness
import test_postgres


def setUpModule():
    harness.in_one_suite(False, "it runs the built-in server on both storages itself")
    reason = test_postgres._skip_reason()
    if reason:
        raise unittest.SkipTest(reason)


def ranks(server, scores):
    """The ranks the server's own code gives these scores."""
    php = "require '%s/lib/common.php'; foreach (explode(',', $argv[1]) as $s) echo score_rank(db(), (int)$s), ' ';"
    return subprocess.run(["php", "-r", php % harness.SERVER_DIR, ",".join(map(str, scores))], check=True,
                          env=dict(os.environ, SKV_DATA=server.data), capture_output=True, text=True).stdout.split()


def sql(server, statement):
    """One statement on the SQLite store, its connection closed and its journal checkpointed."""
    with contextlib.closing(sqlite3.connect(server.path("skv.sqlite"))) as db:
        rows = db.execute(statement).fetchall()
        db.commit()
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        return rows


def pages(server, total):
    """Every catalogue page the Starter asks for (17 a page), and website pages of each list."""
    return [server.get("/php/_getplanes.php?style=1&from=%d&num=17" % start)[2] for start in range(0, total, 17)] + [
        server.get(t)[2] for t in ("/designs.php", "/designs.php?page=80", "/designs.php?sort=velocity&dir=desc&page=3",
                                   "/hiscores.php?page=7", "/")]


class MigrateTests(unittest.TestCase):
    def test_migrate_keeps_ranks_and_pages_and_refuses_what_it_must(self):
        pg = harness.postgres_database("migrated", durable=False)
        server = harness.server("migrate")
        server.admin("seed-scores", 100000)
        server.admin("seed-planes", 1994)
        server.admin("seed-planes", 6, "--hostile")
        server.get("/php/_addscore.php?data=Mailer;777;pilot%40example%2eorg")  # a mail and an uploader
        scores = [s for (s,) in sql(server, "SELECT score FROM scores")]
        sample = random.Random(31).sample(scores, 1000)
        before = ranks(server, sample), pages(server, 2000)
        self.assertEqual(before[0][:40], [str(1 + sum(e > s for e in scores)) for s in sample[:40]])
        server.stop()
        migrate = ["php", os.path.join(harness.SERVER_DIR, "admin.php"), "--data", server.data, "migrate",
                   "pgsql:host=%s;port=5432;dbname=migrated" % pg.addr, "--user", "skv"]

        def refused(reason):
            out = subprocess.run(migrate, capture_output=True, text=True)
            self.assertEqual((out.returncode, out.stderr.count("\n")), (2, 1), out.stderr)
            self.assertIn(reason, out.stderr)

        # A count row off by one: the ranks below it disagree, and nothing is migrated.
        top = "level = 6 AND prefix = %d" % (max(scores) >> 16)  # counted in the rank of nearly every score
        sql(server, "UPDATE score_counts SET n = n + 1 WHERE " + top)
        refused("disagrees")
        self.assertFalse(os.path.exists(server.path("server.ini")))
        self.assertEqual(pg.psql("SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public'", "migrated"), "0\n")
        sql(server, "UPDATE score_counts SET n = n - 1 WHERE " + top)
        store = hashlib.sha256(pathlib.Path(server.path("skv.sqlite")).read_bytes()).digest()

        self.assertIn("migrated 100001 scores and 2000 designs", subprocess.run(migrate, capture_output=True,
                                                                               text=True, check=True).stdout)
        self.assertEqual(hashlib.sha256(pathlib.Path(server.path("skv.sqlite")).read_bytes()).digest(), store)
        server.start()
        after = ranks(server, sample), pages(server, 2000)
        self.assertEqual(after[0], before[0])
        for i, (was, now) in enumerate(zip(before[1], after[1])):
            self.assertEqual(now, was, "page %d" % i)

        refused("is on PostgreSQL already")
        server.stop()
        os.rename(server.path("server.ini"), server.path("server.ini.migrated"))
        try:
            refused("the target database is not empty")
        finally:
            os.rename(server.path("server.ini.migrated"), server.path("server.ini"))
