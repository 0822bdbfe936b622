"""Backups that restore: taken while uploads and registrations run, the data destroyed (and the
PostgreSQL cluster with it), restored; a point-in-time restore on PostgreSQL; the refusals."""
import ftplib
import os
import pathlib
import re
import secrets
import shutil
import subprocess
import threading
import time
import unittest

import harness
import test_postgres
from harness import design_bytes, free_address


def setUpModule():
    harness.in_one_suite(True, "the drills start production servers and destroy their data")
    reason = test_postgres._skip_reason() or (os.geteuid() != 0 or not shutil.which("pgbackrest")) and "needs root and pgbackrest"
    if reason:
        raise unittest.SkipTest(reason)


class Archive:
    """A PostgreSQL cluster of its own whose WAL pgBackRest archives, by deploy/pgbackrest.conf
    filled in for it; the repository lies outside the cluster and outlives it."""

    def __init__(self):
        self.pg = pg = harness.Postgres(free_address((5432,)))
        repo, self.conf = os.path.join(pg.root, "repo"), os.path.join(pg.root, "pgbackrest.conf")
        os.makedirs(repo)
        shutil.chown(repo, "postgres", "postgres")
        with open(os.path.join(harness.SERVER_DIR, "deploy", "pgbackrest.conf")) as f:
            conf = f.read().replace("@REPO@", repo).replace("@PGDATA@", pg.cluster).replace("@SOCKET@", pg.root)
        with open(self.conf, "w") as f:
            f.write(conf.replace("@PGUSER@", "skv") + "lock-path=%s/lock\n" % repo)
        os.chmod(self.conf, 0o644)
        pg.psql("ALTER SYSTEM SET archive_mode = on")
        pg.psql("ALTER SYSTEM SET archive_command = 'pgbackrest --config=%s --stanza=skv archive-push %%p'" % self.conf)
        pg.stop(remove=False)
        pg.start()
        self.run("stanza-create")

    def run(self, *args):
        out = subprocess.run(["runuser", "-u", "postgres", "--", "pgbackrest", "--config=" + self.conf, "--stanza=skv",
                              *args], capture_output=True, text=True)
        assert out.returncode == 0, "pgbackrest %s: %s%s" % (" ".join(args), out.stdout, out.stderr)

    def archived(self):
        """What was written so far is in the archive: the current WAL segment closed and pushed."""
        segment = self.pg.psql("SELECT pg_walfile_name(pg_switch_wal())").strip()
        harness.wait_until(lambda: self.pg.psql("SELECT last_archived_wal FROM pg_stat_archiver").strip() >= segment,
                           "WAL segment %s archived" % segment, 30)

    def destroy(self):
        self.pg.stop("immediate", remove=False)
        shutil.rmtree(self.pg.cluster)

    def restore(self, *args):
        os.makedirs(self.pg.cluster, 0o700)
        shutil.chown(self.pg.cluster, "postgres", "postgres")
        self.run(*args, "restore")
        self.pg.start()  # answers reads while it replays the archive
        harness.wait_until(lambda: self.pg.psql("SELECT pg_is_in_recovery()").strip() == "f", "the end of recovery", 60)


def backup_root(server, name):
    """A folder that the data folder's owner, as whom the admin tool runs, may write."""
    root = os.path.join(harness.TMP, name)
    os.makedirs(root, 0o700)
    os.chown(root, os.stat(server.data).st_uid, os.stat(server.data).st_gid)
    return root


def stored(server, sql):
    """The rows of one query on the server's store, as tab-separated texts."""
    php = "foreach (query_all(db(), $argv[1]) as $r) echo implode(\"\\t\", $r), \"\\n\";"
    out = subprocess.run(["php", "-r", "require '%s/lib/common.php'; %s" % (harness.SERVER_DIR, php), sql], check=True,
                         env=dict(os.environ, SKV_DATA=server.data), capture_output=True, text=True).stdout
    return [line.split("\t") for line in out.splitlines()]


def production(name, ini=None):
    return harness.Server(free_address(), name, ini=ini, extra=["--production", *harness.LIFTED])


class BackupDrillTests(unittest.TestCase):
    def test_backup_under_uploads_restores_what_was_acknowledged_before(self):
        for storage in ("sqlite", "postgres"):
            with self.subTest(storage):
                self.drill(storage)

    def drill(self, storage):
        archive = Archive() if storage == "postgres" else None
        if archive:
            self.addCleanup(archive.pg.stop)
        server = production("backup-" + storage, ini=archive.pg.ini() if archive else None)
        self.addCleanup(server.stop)
        server.admin("seed-scores", 3000)
        server.admin("seed-planes", 30)
        scores, designs, stop = [], [], threading.Event()

        def player():  # a score, then a design uploaded and registered, until stopped
            while not stop.is_set():
                name, file = "Drill%d" % len(scores), secrets.token_hex(8) + ".plane"
                if server.get("/php/_addscore.php?data=%s;%d;" % (name, 1000 + len(scores)))[0] == 200:
                    scores.append((time.monotonic(), name))
                try:
                    server.upload(file, design_bytes(body=os.urandom(300)))
                except ftplib.all_errors:
                    continue
                if server.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Drill;%s;" % file)[0] == 200:
                    designs.append((time.monotonic(), file))

        threads = [threading.Thread(target=player) for _ in range(2)]
        for t in threads:
            t.start()
        try:
            harness.wait_until(lambda: len(designs) > 4, "registrations")
            began = time.monotonic()
            if archive:
                archive.run("--type=full", "backup")
            backup = server.admin("backup", backup_root(server, "backups-" + storage)).strip()
            harness.wait_until(lambda: designs[-1][0] > began, "registrations after the backup")
        finally:
            stop.set()
            for t in threads:
                t.join()
        files = {f: pathlib.Path(server.path("planes", f)).read_bytes() for f in os.listdir(server.path("planes"))}
        server.stop()
        shutil.rmtree(server.data)
        if archive:
            archive.destroy()
            archive.restore()
        os.makedirs(server.data)
        self.assertIn("restored", server.admin("restore", backup))
        server.start()

        restored = dict(stored(server, "SELECT name, score FROM scores"))
        self.assertLessEqual({name for t, name in scores if t < began} | {"Seed 1", "Seed 3000"}, set(restored))
        listed = [f for (f,) in stored(server, "SELECT file FROM planes")]
        self.assertLessEqual({file for t, file in designs if t < began}, set(listed))
        for file in listed:
            self.assertEqual(server.get("/download.php?file=" + file)[2], files[file], file)
        values = [int(s) for s in restored.values()]
        for name in list(restored)[::150]:
            rank = server.get("/php/_addscore.php?data=%s;%s;" % (name.replace(" ", "%20"), restored[name]))[2]
            self.assertEqual(int(rank), 1 + sum(v > int(restored[name]) for v in values), name)


class PointInTimeTests(unittest.TestCase):
    def test_restore_to_a_noted_time_keeps_exactly_the_scores_before_it(self):
        archive = Archive()
        self.addCleanup(archive.pg.stop)
        server = production("pitr", ini=archive.pg.ini())
        self.addCleanup(server.stop)

        def store(prefix):
            for i in range(30):
                self.assertEqual(server.get("/php/_addscore.php?data=%s%d;%d;" % (prefix, i, 500 + i))[0], 200)
            return {"%s%d" % (prefix, i) for i in range(30)}

        kept = store("Early")
        archive.run("--type=full", "backup")
        kept |= store("Middle")
        noted = archive.pg.psql("SELECT now()").strip()
        time.sleep(1.1)  # the noted time lies strictly between the two sets
        store("Late")
        archive.archived()
        server.stop()
        archive.destroy()
        archive.restore("--type=time", "--target=" + noted, "--target-action=promote")
        server.start()
        self.assertEqual({name for name, in stored(server, "SELECT name FROM scores")}, kept)


class RefusalTests(unittest.TestCase):
    def test_restore_refuses_a_folder_in_use_and_another_schema_and_changes_nothing(self):
        server = harness.server("restore-refusals")
        server.admin("seed-scores", 50)
        backup = server.admin("backup", backup_root(server, "refusals")).strip()
        server.admin("add-score", "After Backup", 1)

        def refused(reason):
            store = lambda: [pathlib.Path(server.path(n)).read_bytes() for n in os.listdir(server.data) if n.startswith("skv.")]
            before = store()
            out = subprocess.run(["php", os.path.join(harness.SERVER_DIR, "admin.php"), "--data", server.data,
                                  "restore", backup], capture_output=True, text=True)
            self.assertEqual(store(), before)
            self.assertEqual((out.returncode, out.stdout, out.stderr.count("\n")), (2, "", 1), out.stderr)
            self.assertIn(reason, out.stderr)

        refused("is in use")
        server.stop()
        self.addCleanup(server.start)
        manifest = os.path.join(backup, "backup.ini")
        text = pathlib.Path(manifest).read_text()
        with open(manifest, "w") as f:
            f.write(re.sub(r"schema = \d+", "schema = 2", text))
        refused("of schema version 2")
        with open(manifest, "w") as f:
            f.write(text)
        self.assertIn("restored 50 scores", server.admin("restore", backup))
