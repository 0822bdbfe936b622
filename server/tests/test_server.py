"""The server as it runs: start and stop, its data folder, its settings and their one reader, the
schema's versions, and its logs."""
import hashlib
import json
import os
import pathlib
import random
import re
import socket
import sqlite3
import stat
import subprocess
import time
import unittest

import harness
from harness import AGENT, SERVER_DIR, ServerCase, design_bytes, wait_until

OWNER = harness.client_addresses(1)[0]

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


class RequestLogTests(ServerCase):
    def test_every_request_is_logged_as_sent(self):
        target = "/php/_addscore.php?data=Ann%20Lee;123456;"
        self.server.get(target, source=OWNER)
        self.server.get("/nothing/here.txt", source=OWNER)
        # nginx writes its line after the answer went out.
        deadline = time.monotonic() + 5
        while "/nothing/here.txt" not in self.server.log_lines()[-1] and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.server.log_lines()[-2:], [
            "GET %s HTTP/1.1\t%s\t%s\t%s" % (target, self.server.addr, AGENT, OWNER),
            "GET /nothing/here.txt HTTP/1.1\t%s\t%s\t%s" % (self.server.addr, AGENT, OWNER),
        ])

    def test_logged_fields_cannot_carry_tabs_or_control_characters(self):
        conn = socket.create_connection((self.server.addr, 80), timeout=10)
        self.addCleanup(conn.close)
        conn.sendall(b"GET /howto.php?x=1 HTTP/1.1\r\nUser-Agent: ua\x1b[31m\"q\r\nHost: a\tb\r\n"
                     b"Connection: close\r\n\r\n")
        conn.recv(1000)
        conn.close()  # nginx logs once the connection is over
        wait_until(lambda: any("x=1" in line for line in self.server.log_lines()), "the log line")
        line = next(line for line in self.server.log_lines() if "x=1" in line)
        self.assertEqual(line.split("\t")[1:3], ["a\\x09b", "ua\\x1B[31m\\x22q"])
        # The FTP log: a line feed or an escape inside a command stays inside that command's line.
        ftp = socket.create_connection((self.server.addr, 21), timeout=10)
        self.addCleanup(ftp.close)
        ftp.sendall(b"USER a\nforged line\r\nNOOP \x1b[31m\\\r\n")
        replies = ftp.makefile("rb")
        self.assertEqual([replies.readline()[:3] for _ in range(3)], [b"220", b"331", b"501"])
        with open(self.server.path("ftp.log"), encoding="utf-8") as f:
            logged = f.read()
        self.assertIn(" <- USER a\\x0Aforged line\n", logged)
        self.assertIn(" <- NOOP \\x1B[31m\\x5C\n", logged)


class LogRotationTests(ServerCase):
    server_name = "limits"

    def test_server_logs_are_rotated(self):
        # By logrotate, every second here: nginx's request log, the built-in server's output.
        log = self.server.records("requests.log" if harness.PRODUCTION else "web.log")
        while os.path.getsize(log) <= 4000:  # past the limit: a log of exactly 4000 bytes stays
            self.server.get("/howto.php")
        wait_until(lambda: os.path.getsize(log) < 4000 and os.path.exists(log + ".1"), "the rotation")


class RequestLogRotationTests(ServerCase):
    server_name = "guard"

    def test_the_built_in_servers_request_log_is_rotated_as_it_grows(self):
        if harness.PRODUCTION:
            self.skipTest("nginx's log is rotated by logrotate (deploy/logrotate)")
        for i in range(80):
            self.server.get("/php/_getplanes.php?style=1&from=%d&num=1" % i)
        self.assertLess(os.path.getsize(self.server.path("requests.log")), 4200)
        self.assertTrue(os.path.exists(self.server.path("requests.log.1")))


class StartStopTests(ServerCase):
    def test_start_again_keeps_the_running_servers(self):
        pids = [open(self.server.records(n + ".pid")).read() for n in ("web", "ftp")]
        self.server.start()
        self.assertEqual([open(self.server.records(n + ".pid")).read() for n in ("web", "ftp")], pids)
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1")[0], 200)

    def test_data_is_for_the_owner_only(self):
        self.server.upload("0dd1.plane", design_bytes(), OWNER)
        self.server.get("/php/_addscore.php?data=Ann;5;a%40b")
        for path in ("", "skv.sqlite", "planes", "planes/0dd1.plane", "uploads", "uploads/0dd1.plane", "ftp.log",
                     self.server.records("requests.log")):
            with self.subTest(path):
                mode = stat.S_IMODE(os.stat(self.server.path(path)).st_mode)
                self.assertEqual(mode & 0o077, 0, oct(mode))

    def test_a_missing_data_folder_is_created(self):
        # ... and a request does not make the schema: it says what to run.
        data = os.path.join(harness.TMP, "missing", "data")
        env = dict(os.environ, SKV_DATA=data, QUERY_STRING="data=Ann;5;", REQUEST_METHOD="GET")
        out = subprocess.run(["php", os.path.join(SERVER_DIR, "www", "php", "_addscore.php")],
                             env=env, capture_output=True, text=True)
        self.assertEqual(out.stdout, "the database has no schema yet: run php admin.php --data DIR init\n")
        self.assertEqual(stat.S_IMODE(os.stat(data).st_mode), 0o700)

    def test_start_refuses_a_port_that_answers(self):
        # Another program on this server's address: a second data folder must not claim it.
        other = os.path.join(harness.TMP, "other")
        out = subprocess.run([os.path.join(SERVER_DIR, "start.sh"), "--addr", self.server.addr, "--data", other],
                             capture_output=True, text=True)
        self.assertEqual(out.returncode, 1)
        self.assertIn("%s:80 already answers" % self.server.addr, out.stderr)
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1")[0], 200)

    def test_stop_leaves_a_process_that_reused_the_pid(self):
        data = os.path.join(harness.TMP, "stale")
        os.makedirs(data)
        bystander = subprocess.Popen(["sleep", "60"], start_new_session=True)
        self.addCleanup(bystander.wait)
        self.addCleanup(bystander.kill)
        for content in ("%d\n" % bystander.pid, "%d 1\n" % bystander.pid):
            with self.subTest(content=content):
                with open(os.path.join(data, "web.pid"), "w") as f:
                    f.write(content)
                subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", data], check=True,
                               capture_output=True)
                self.assertIsNone(bystander.poll())
                self.assertFalse(os.path.exists(os.path.join(data, "web.pid")))


class SettingsTests(unittest.TestCase):
    """Every setting in one declared list (lib/settings.php), read by PHP alone: the FTP server and
    start.sh ask it, and docs/SERVER.md's table is that list."""

    @classmethod
    def setUpClass(cls):
        harness.in_one_suite(False, "the settings are read without a web server")
        program = "require '%s/lib/settings.php'; echo json_encode(SETTINGS);" % SERVER_DIR
        cls.declared = json.loads(subprocess.run(["php", "-r", program], capture_output=True, text=True,
                                                 check=True).stdout)

    def test_the_documented_table_is_the_declared_list(self):
        with open(os.path.join(SERVER_DIR, "..", "docs", "SERVER.md"), encoding="utf-8") as f:
            section = f.read().split("### Settings: `server.ini`\n", 1)[-1].split("\n#", 1)[0]
        rows = re.findall(r"^\| `(\w+)` \| (.*?) \| (.*) \|$", section, re.M)
        declared = [(key, str(default) if default != "" else "none", meaning)
                    for key, (default, meaning) in self.declared.items()]
        self.assertEqual(rows, declared, "docs/SERVER.md's settings table, rows as declared:\n" + "\n".join(
            "| `%s` | %s | %s |" % row for row in declared))

    def test_every_reader_gets_the_settings_in_force(self):
        data = os.path.join(harness.TMP, "settings")
        os.makedirs(data)
        with open(os.path.join(data, "server.ini"), "w") as f:
            f.write('register_window = 30\nstorage = "%s/shared"\npassword = secret\n' % data)
        shown = dict(line.split("=", 1) for line in admin(data, "settings").stdout.splitlines())
        self.assertEqual(list(shown), list(self.declared))
        self.assertEqual((shown["register_window"], shown["storage"], shown["password"], shown["sweep_grace"]),
                         ("30", data + "/shared", "(set)", str(self.declared["sweep_grace"][0])))
        # The FTP server's helper: the same values, the storage's password left out.
        asked = subprocess.run(["php", os.path.join(SERVER_DIR, "ftp", "lookups.php")], input='["settings"]\n',
                               env=dict(os.environ, SKV_DATA=data), capture_output=True, text=True, check=True)
        ftp = json.loads(asked.stdout)["answer"]
        self.assertNotIn("password", ftp)
        self.assertEqual({k: str(v) for k, v in ftp.items() if k in shown},
                         {k: v for k, v in shown.items() if k != "password"})

    def test_a_server_ini_it_cannot_read_as_meant_stops_the_start(self):
        data = os.path.join(harness.TMP, "misread")
        os.makedirs(data)
        with open(os.path.join(data, "server.ini"), "w") as f:
            f.write("quota_bytes_per_adress = 5\nregister_window = soon\n")
        problems = ("%s/server.ini: unknown setting quota_bytes_per_adress; register_window must be a whole number, "
                    "not \"soon\"\n" % data)
        self.assertEqual((admin(data, "init").returncode, admin(data, "init").stderr), (2, problems))
        out = subprocess.run([os.path.join(SERVER_DIR, "start.sh"), "--addr", harness.free_address(), "--data", data],
                             capture_output=True, text=True)
        self.assertEqual((out.returncode, out.stderr), (2, problems))
        self.assertFalse(os.path.exists(os.path.join(data, "web.pid")), "nothing started")


class SchemaVersionTests(unittest.TestCase):
    """A store made before versions were kept is named in one line and left alone until
    `admin.php init --upgrade`, which keeps every entry, its rank and its uploader."""

    @classmethod
    def setUpClass(cls):
        harness.in_one_suite(False, "the admin tool and a script run here without a web server")

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


def ranks(server, scores):
    """The ranks the server's own code gives these scores."""
    return server.php("foreach (explode(',', stream_get_contents(STDIN)) as $s) echo score_rank(db(), (int)$s), ' ';",
                      ",".join(map(str, scores))).split()


def sql(server, statement):
    """One statement on the SQLite store; afterwards the store's file holds everything."""
    rows = server.sql(statement)
    server.sql("PRAGMA wal_checkpoint(TRUNCATE)")
    return [tuple(int(v) for v in row) for row in rows]


def pages(server, total):
    """Every catalogue page the Starter asks for (17 a page), and website pages of each list."""
    return [server.get("/php/_getplanes.php?style=1&from=%d&num=17" % start)[2] for start in range(0, total, 17)] + [
        server.get(t)[2] for t in ("/designs.php", "/designs.php?page=80", "/designs.php?sort=velocity&dir=desc&page=3",
                                   "/hiscores.php?page=7", "/")]


class MigrateTests(unittest.TestCase):
    """The move from SQLite to PostgreSQL in one command: 100,000 scores and 2,000 designs with
    files; a failed check leaves the target empty and server.ini alone, and it runs again."""

    @classmethod
    def setUpClass(cls):
        harness.in_one_suite(False, "it runs the built-in server on both storages itself")
        reason = harness.postgres_missing()
        if reason:
            raise unittest.SkipTest(reason)

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
        ini = pathlib.Path(server.path("server.ini")).read_text()
        refused("disagrees")
        self.assertEqual(pathlib.Path(server.path("server.ini")).read_text(), ini)
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
