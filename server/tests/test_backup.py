"""Backups that restore: taken while uploads and registrations run, the data destroyed (and the
PostgreSQL cluster with it), restored; a point-in-time restore on PostgreSQL; the refusals."""
import binascii
import ftplib
import os
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

STORAGES = ("sqlite", "postgres")


def setUpModule():
    harness.in_one_suite(True, "the drills start production servers and destroy their data")
    if os.geteuid() != 0 or not shutil.which("pgbackrest"):
        raise unittest.SkipTest("needs root and pgbackrest")
    reason = test_postgres._skip_reason()
    if reason:
        raise unittest.SkipTest(reason)


class Archive:
    """A PostgreSQL cluster of its own whose WAL pgBackRest archives, with deploy/pgbackrest.conf
    filled in for it; the repository lies outside the cluster, so it outlives it."""

    def __init__(self):
        self.pg = harness.Postgres(free_address((5432,)))
        self.repo = os.path.join(self.pg.root, "repo")
        os.makedirs(self.repo)
        shutil.chown(self.repo, "postgres", "postgres")
        with open(os.path.join(harness.SERVER_DIR, "deploy", "pgbackrest.conf")) as f:
            conf = f.read()
        for key, value in {"@REPO@": self.repo, "@PGDATA@": self.pg.cluster, "@SOCKET@": self.pg.root,
                           "@PGUSER@": "skv"}.items():
            conf = conf.replace(key, value)
        self.conf = os.path.join(self.pg.root, "pgbackrest.conf")
        with open(self.conf, "w") as f:
            f.write(conf + "lock-path=%s/lock\n" % self.repo)
        os.chmod(self.conf, 0o644)
        self.pg.psql("ALTER SYSTEM SET archive_mode = on")
        self.pg.psql("ALTER SYSTEM SET archive_command = 'pgbackrest --config=%s --stanza=skv archive-push %%p'"
                     % self.conf)
        self.pg.stop(remove=False)
        self.pg.start()
        self.run("stanza-create")

    def run(self, *args):
        out = subprocess.run(["runuser", "-u", "postgres", "--", "pgbackrest", "--config=" + self.conf, "--stanza=skv",
                              *args], capture_output=True, text=True)
        if out.returncode != 0:
            raise AssertionError("pgbackrest %s: %s%s" % (" ".join(args), out.stdout, out.stderr))

    def archived(self):
        """Everything written so far reaches the archive: the current WAL segment is closed and pushed."""
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
    """A folder for backups that the data folder's owner (as whom the admin tool runs) may write."""
    root = os.path.join(harness.TMP, name)
    os.makedirs(root, 0o700)
    os.chown(root, os.stat(server.data).st_uid, os.stat(server.data).st_gid)
    return root


def production(name, ini=None):
    return harness.Server(free_address(), name, ini=ini, extra=["--production", *harness.LIFTED])


def stored_scores(server):
    php = "foreach (query_all(db(), 'SELECT name, score FROM scores') as $r) echo $r['name'], \"\\t\", $r['score'], \"\\n\";"
    out = subprocess.run(["php", "-r", "require '%s/lib/common.php'; %s" % (harness.SERVER_DIR, php)],
                         env=dict(os.environ, SKV_DATA=server.data), capture_output=True, text=True, check=True).stdout
    return {name: int(score) for name, score in (line.split("\t") for line in out.splitlines())}


def catalogue(server):
    status, _, body = server.get("/php/_getplanes.php?style=1&from=0&num=100")
    lines = body.decode("cp1252").split("\n")
    total = int(lines[0])
    files = [line.split(";")[1] for line in lines[1:] if line]
    for start in range(100, total, 100):
        files += [line.split(";")[1] for line in server.get("/php/_getplanes.php?style=1&from=%d&num=100" % start)[2]
                  .decode("cp1252").split("\n")[1:] if line]
    return files


class Uploads:
    """Players storing scores and registering designs (FTP upload, then _addplane) until stopped;
    what was acknowledged, and when (time.monotonic())."""

    def __init__(self, server):
        self.server, self.scores, self.designs = server, [], []
        self.stop = threading.Event()
        self.threads = [threading.Thread(target=self.score_loop), threading.Thread(target=self.design_loop)]
        for t in self.threads:
            t.start()

    def score_loop(self):
        i = 0
        while not self.stop.is_set():
            i += 1
            name, score = "Drill%d" % i, 1000 + 37 * i
            status, _, _ = self.server.get("/php/_addscore.php?data=%s;%d;" % (name, score))
            if status == 200:
                self.scores.append((time.monotonic(), name, score))

    def design_loop(self):
        while not self.stop.is_set():
            file = secrets.token_hex(8) + ".plane"
            data = design_bytes(name=b"Drill " + file[:6].encode(), body=os.urandom(300))
            try:
                self.server.upload(file, data)
            except ftplib.all_errors:
                continue
            query = "1000;2000;30;40;50;800;5000;Drill%%20%s;%s;" % (file[:6], file)
            if self.server.get("/php/_addplane.php?data=" + query)[0] == 200:
                self.designs.append((time.monotonic(), file, data))

    def finish(self):
        self.stop.set()
        for t in self.threads:
            t.join()


class BackupDrillTests(unittest.TestCase):
    def test_backup_under_uploads_restores_what_was_acknowledged_before(self):
        for storage in STORAGES:
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
        root = backup_root(server, "backups-" + storage)
        uploads = Uploads(server)
        try:
            harness.wait_until(lambda: len(uploads.scores) > 20 and len(uploads.designs) > 3, "uploads")
            began = time.monotonic()
            if archive:
                archive.run("--type=full", "backup")
            backup = server.admin("backup", root).strip()
            harness.wait_until(lambda: uploads.designs[-1][0] > began and uploads.scores[-1][0] > began,
                               "uploads after the backup")
        finally:
            uploads.finish()
        designs = {}
        for file in os.listdir(server.path("planes")):
            with open(server.path("planes", file), "rb") as f:
                designs[file] = f.read()
        before = stored_scores(server)
        server.stop()
        shutil.rmtree(server.data)
        if archive:
            archive.destroy()
            archive.restore()
        os.makedirs(server.data)
        self.assertIn("restored", server.admin("restore", backup))
        server.start()

        restored = stored_scores(server)
        for _, name, score in [s for s in uploads.scores if s[0] < began]:
            self.assertEqual(restored.get(name), score, name)
        for name in [n for n in before if n.startswith("Seed ")]:
            self.assertEqual(restored.get(name), before[name])
        listed = catalogue(server)
        self.assertLessEqual({file for t, file, _ in uploads.designs if t < began}, set(listed))
        for file in listed:
            status, _, body = server.get("/download.php?file=" + file)
            self.assertEqual((status, binascii.crc32(body)), (200, binascii.crc32(designs[file])), file)
        for name in list(restored)[:: max(1, len(restored) // 25)]:
            status, _, body = server.get("/php/_addscore.php?data=%s;%d;" % (name.replace(" ", "%20"), restored[name]))
            self.assertEqual(int(body), 1 + sum(s > restored[name] for s in restored.values()), name)


class PointInTimeTests(unittest.TestCase):
    def test_restore_to_a_noted_time_keeps_exactly_the_scores_before_it(self):
        archive = Archive()
        self.addCleanup(archive.pg.stop)
        server = production("pitr", ini=archive.pg.ini())
        self.addCleanup(server.stop)

        def store(prefix, n):
            for i in range(n):
                self.assertEqual(server.get("/php/_addscore.php?data=%s%d;%d;" % (prefix, i, 500 + i))[0], 200)
            return {"%s%d" % (prefix, i) for i in range(n)}

        kept = store("Early", 30)
        archive.run("--type=full", "backup")
        kept |= store("Middle", 30)
        noted = archive.pg.psql("SELECT now()").strip()
        time.sleep(1.1)  # the noted time lies strictly between the two sets
        store("Late", 30)
        archive.archived()
        server.stop()
        archive.destroy()
        archive.restore("--type=time", "--target=" + noted, "--target-action=promote")
        server.start()
        self.assertEqual(set(stored_scores(server)), kept)


class RefusalTests(unittest.TestCase):
    def test_restore_refuses_a_folder_in_use_and_another_schema_and_changes_nothing(self):
        server = harness.server("restore-refusals")
        server.admin("seed-scores", 50)
        backup = server.admin("backup", backup_root(server, "refusals")).strip()
        server.admin("add-score", "After Backup", 1)

        def store():
            return [open(server.path(name), "rb").read() for name in ("skv.sqlite", "skv.sqlite-wal")
                    if os.path.exists(server.path(name))] + sorted(os.listdir(server.path("planes")))

        def attempt():
            before = store()
            out = subprocess.run(["php", os.path.join(harness.SERVER_DIR, "admin.php"), "--data", server.data,
                                  "restore", backup], capture_output=True, text=True)
            self.assertEqual(store(), before)
            self.assertEqual((out.returncode, out.stdout, out.stderr.count("\n")), (2, "", 1), out.stderr)
            return out.stderr

        self.assertIn("is in use", attempt())
        server.stop()
        self.addCleanup(server.start)
        manifest = os.path.join(backup, "backup.ini")
        with open(manifest) as f:
            text = f.read()
        with open(manifest, "w") as f:
            f.write(re.sub(r"schema = \d+", "schema = 2", text))
        self.assertIn("of schema version 2", attempt())
        with open(manifest, "w") as f:
            f.write(text)
        self.assertIn("restored 50 scores", server.admin("restore", backup))
