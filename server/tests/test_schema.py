"""The schema's versions: a store made before versions were kept is named in one line and left
alone until `admin.php init --upgrade`, which keeps every entry, its rank and its uploader."""
import os
import sqlite3
import subprocess
import unittest

import harness
from harness import SERVER_DIR

# What the first server made: the two tables, no version.
LEGACY = """
CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, score BIGINT NOT NULL,
                     mail TEXT NOT NULL DEFAULT '', uploaded BIGINT NOT NULL);
CREATE UNIQUE INDEX scores_by_score ON scores (score, name);
CREATE TABLE planes (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, file TEXT NOT NULL UNIQUE,
                     mail TEXT NOT NULL DEFAULT '', costs INTEGER NOT NULL, weight INTEGER NOT NULL,
                     consumption INTEGER NOT NULL, noise INTEGER NOT NULL, reliability INTEGER NOT NULL,
                     velocity INTEGER NOT NULL, flight_range INTEGER NOT NULL, uploaded BIGINT NOT NULL);
CREATE TABLE score_buckets (bucket BIGINT PRIMARY KEY, n BIGINT NOT NULL);
INSERT INTO scores (name, score, uploaded) VALUES ('Ann', 300, 0), ('Bob', 200, 0), ('Cid', 200, 0), ('Dan', -5, 0);
INSERT INTO planes (name, file, costs, weight, consumption, noise, reliability, velocity, flight_range, uploaded)
    VALUES ('Old Jet', 'abcd.plane', 1, 2, 3, 4, 5, 6, 7, 0);
"""
# What a later server without versions made of it: the uploader columns and the name index.
UPLOADERS = """
ALTER TABLE scores ADD COLUMN uploader TEXT NOT NULL DEFAULT '';
ALTER TABLE planes ADD COLUMN uploader TEXT NOT NULL DEFAULT '';
ALTER TABLE planes ADD COLUMN size BIGINT NOT NULL DEFAULT 0;
CREATE INDEX planes_by_uploader ON planes (uploader, size);
CREATE VIRTUAL TABLE planes_names USING fts5(name, content='planes', content_rowid='id', tokenize='trigram');
INSERT INTO planes_names (planes_names) VALUES ('rebuild');
UPDATE scores SET uploader = '127.0.0.9' WHERE name = 'Ann';
"""


def admin(data, *args):
    return subprocess.run(["php", os.path.join(SERVER_DIR, "admin.php"), "--data", data, *args],
                          capture_output=True, text=True)


def setUpModule():
    harness.in_one_suite(False, "the admin tool and a script run here without a web server")


class SchemaVersionTests(unittest.TestCase):
    def test_an_older_store_is_named_and_upgraded_only_when_asked(self):
        for name, script in (("first", LEGACY), ("uploaders", LEGACY + UPLOADERS)):
            with self.subTest(store=name):
                self.upgrade(os.path.join(harness.TMP, "legacy-" + name), script)

    def upgrade(self, data, script):
        os.makedirs(data)
        with sqlite3.connect(os.path.join(data, "skv.sqlite")) as db:
            db.executescript(script)
        needs = "the database schema is version 1, this server needs 4: run php admin.php --data DIR init --upgrade\n"
        for args in (["init"], ["stats"]):
            out = admin(data, *args)
            self.assertEqual((out.returncode, out.stderr), (2, needs), args)
        env = dict(os.environ, SKV_DATA=data, QUERY_STRING="data=Eve;250;", REQUEST_METHOD="GET")
        out = subprocess.run(["php", os.path.join(SERVER_DIR, "www", "php", "_addscore.php")],
                             env=env, capture_output=True, text=True)
        self.assertEqual(out.stdout, needs)
        with sqlite3.connect(os.path.join(data, "skv.sqlite")) as db:
            self.assertEqual(db.execute("SELECT COUNT(*) FROM scores").fetchone(), (4,), "nothing applied")

        self.assertEqual(admin(data, "init", "--upgrade").stdout, "schema upgraded from version 1 to 4\n")
        self.assertEqual(admin(data, "stats").stdout, "scores 4\ndesigns 1\n")
        self.assertEqual(admin(data, "add-score", "Eve", "250").stdout, "2\n")
        self.assertEqual(admin(data, "add-score", "Fay", "200").stdout, "3\n")
        self.assertEqual(admin(data, "init").stdout, "schema version 4 is current\n")
        self.assertEqual(admin(data, "addresses").stdout, "- 1 0\n")
        with sqlite3.connect(os.path.join(data, "skv.sqlite")) as db:
            self.assertEqual(db.execute("SELECT rowid FROM planes_names WHERE planes_names MATCH 'Old'").fetchall(),
                             [(1,)])
            kept = "127.0.0.9" if script.endswith(UPLOADERS) else ""
            self.assertEqual(db.execute("SELECT uploader FROM scores WHERE name = 'Ann'").fetchone(), (kept,))


if __name__ == "__main__":
    unittest.main()
