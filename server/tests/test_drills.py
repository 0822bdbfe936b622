"""Fault drills on the production stack: PostgreSQL killed under uploads, a PHP-FPM worker killed
in the middle of a write, and the database's disk full, on SQLite and on PostgreSQL (durable, as
an operator runs it); the website's pages on a hot standby that is paused and stopped; backups
taken under uploads and restored after the data is destroyed, to a point in time on PostgreSQL,
and the restores refused. Only processes these tests started are killed, by pid."""
import ctypes
import fcntl
import ftplib
import http.client
import os
import pathlib
import re
import secrets
import shutil
import signal
import subprocess
import threading
import time
import unittest

import harness
from harness import design_bytes, free_address, has_title

_d = {}
PR_SET_CHILD_SUBREAPER = 36


def setUpModule():
    harness.in_one_suite(True, "the drills start production servers")
    reason = harness.postgres_missing()
    if reason:
        raise unittest.SkipTest(reason)
    # The killed postmaster is reaped here, so that the restarted one does not take it for alive.
    _d["libc"] = ctypes.CDLL(None)
    _d["libc"].prctl(PR_SET_CHILD_SUBREAPER, 1)
    _d["pg"] = harness.postgres_database("skv", durable=True)


def tearDownModule():
    for name in [n for n in harness._started if n.startswith("drill-")]:
        harness._started.pop(name).stop()
    if "standby" in _d:
        _d["standby"].stop(mode="immediate")
    if "libc" in _d:
        _d["libc"].prctl(PR_SET_CHILD_SUBREAPER, 0)


def drill_server(name, ini=None, data=None):
    s = harness.server("drill-" + name, ini=ini, extra=["--production", "--rate", "100000", "--burst", "100000"])
    return s


def wait_for(what, check, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        got = check()
        if got:
            return got
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.02)


def upload(server, name, score, timeout=10):
    """(status or None when the connection closed without an answer, body)."""
    try:
        status, _, body = server.get("/php/_addscore.php?data=%s;%d;" % (name, score), timeout=timeout)
        return status, body
    except (http.client.HTTPException, ConnectionError):
        return None, b""


def stored_names(server, prefix):
    out = server.admin("stats")  # the schema must still answer
    assert out.startswith("scores")
    return set(server.php("foreach (query_all(db(), 'SELECT name FROM scores WHERE name LIKE ?', ['%s%%']) as $r)"
                          " echo $r['name'], \"\\n\";" % prefix).split())


def refused_in_plain_text(case, status, body):
    case.assertGreaterEqual(status, 500, body)
    case.assertEqual(body.count(b"\n"), 1, body)
    case.assertFalse(has_title(body))


class PostgresKillTests(unittest.TestCase):
    def test_killed_under_uploads_loses_no_acknowledged_score(self):
        pg = _d["pg"]
        web = drill_server("kill", ini=pg.ini())
        acked, answers = [], []
        stop = threading.Event()
        lock = threading.Lock()

        def uploader(k):
            i = 0
            while not stop.is_set():
                i += 1
                name = "Kill%d-%d" % (k, i)
                started = time.monotonic()
                status, body = upload(web, name, i)
                with lock:
                    answers.append((started, time.monotonic() - started, status, body))
                    if status == 200:
                        acked.append((time.monotonic(), name))

        threads = [threading.Thread(target=uploader, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        try:
            wait_for("uploads", lambda: len(acked) >= 40)
            master = pg.postmaster()
            backends = subprocess.run(["pgrep", "-P", str(master)], capture_output=True, text=True).stdout.split()
            killed = time.monotonic()
            for pid in [master, *map(int, backends)]:
                os.kill(pid, signal.SIGKILL)
            for pid in [master, *map(int, backends)]:
                try:
                    os.waitpid(pid, 0)
                except ChildProcessError:
                    pass  # reaped by its own parent
            wait_for("a refused upload", lambda: any(a[0] > killed and a[2] != 200 for a in answers))
            pg.start()  # crash recovery, then ready
            up = time.monotonic()
            first = wait_for("a rank after the restart", lambda: next((t for t, _ in acked if t > up), None))
            self.assertLess(first - up, 10)
            wait_for("more ranks", lambda: sum(t > up for t, _ in acked) >= 40)
        finally:
            stop.set()
            for t in threads:
                t.join()
        # The web tier was not restarted: sessions that died were replaced, none was waited on.
        down = [a for a in answers if a[0] > killed and a[0] < up]
        self.assertTrue(down)
        self.assertLess(max(a[1] for a in down), 5, "a request waited on a dead session")
        for _, _, status, body in answers:
            if status not in (200, None):
                refused_in_plain_text(self, status, body)
        missing = {name for _, name in acked} - stored_names(web, "Kill")
        self.assertEqual(missing, set(), "acknowledged but not stored")


class WorkerKillTests(unittest.TestCase):
    """A worker killed while its write waits for a lock the test holds: the client gets no answer
    (nginx closes the connection), nothing is stored, and the next request works."""

    def fpm_children(self, server):
        with open(server.records("fpm.pid")) as f:
            master = f.read().split()[0]
        return [int(p) for p in subprocess.run(["pgrep", "-P", master], capture_output=True, text=True).stdout.split()]

    def idle_call(self, server):
        """The system call every worker waits in while none has work, once all do."""
        calls = {syscall(pid) for pid in self.fpm_children(server)}
        return calls.pop() if len(calls) == 1 and None not in calls else None

    def kill_mid_request(self, server, target, holding, waiting):
        """Sends target while holding() holds the store; once waiting(), kills the worker that
        left the idle call."""
        answer = {}

        def send():
            try:
                answer["status"] = server.get(target, timeout=30)[0]
            except (http.client.HTTPException, ConnectionError) as e:
                answer["error"] = e

        idle = wait_for("idle workers", lambda: self.idle_call(server))
        with holding() as release:
            sender = threading.Thread(target=send)
            sender.start()
            busy = wait_for("the write to wait", lambda: waiting() and [
                pid for pid in self.fpm_children(server) if syscall(pid) not in (None, idle)])
            for pid in busy:
                os.kill(pid, signal.SIGKILL)
            sender.join()
            release()
        self.assertNotIn("status", answer, "no answer, so the Starter reports an error")

    def both_writes(self, server, holding, waiting, stored):
        self.kill_mid_request(server, "/php/_addscore.php?data=Killed;5;", holding, waiting)
        self.assertNotIn("Killed", stored("SELECT name FROM scores"))
        self.assertTrue(server.upload("dead01.plane", design_bytes()).startswith("226"))
        register = "/php/_addplane.php?data=1;2;3;4;5;6;7;Half;dead01.plane;"
        self.kill_mid_request(server, register, holding, waiting)
        self.assertNotIn("dead01.plane", stored("SELECT file FROM planes"))
        # New workers take the next requests. The killed registration keeps its claim on the upload
        # (the sweeper removes both later); the Starter uploads under a new name each time.
        self.assertEqual(server.get("/php/_addscore.php?data=After;5;")[0], 200)
        self.assertEqual(server.get(register)[0], 409)
        self.assertTrue(server.upload("dead02.plane", design_bytes()).startswith("226"))
        self.assertEqual(server.get(register.replace("dead01", "dead02"))[0], 200)

    def test_sqlite(self):
        import contextlib
        import sqlite3
        server = drill_server("worker-sqlite")
        path = server.path("skv.sqlite")

        @contextlib.contextmanager
        def holding():
            db = sqlite3.connect(path, isolation_level=None)
            db.execute("BEGIN IMMEDIATE")
            try:
                yield lambda: db.execute("ROLLBACK")
            finally:
                db.close()

        def stored(sql):
            with sqlite3.connect(path) as db:
                return [r[0] for r in db.execute(sql)]

        # The worker waits in SQLite's busy handler, which sleeps between tries; killed any
        # sooner, a registration would not have claimed its upload yet.
        def sleeping():
            return any(syscall(pid) in BUSY_HANDLER_SLEEPS for pid in self.fpm_children(server))
        self.both_writes(server, holding, sleeping, stored)

    def test_postgres(self):
        import contextlib
        pg = _d["pg"]
        harness.postgres_database("worker", durable=True)
        server = drill_server("worker-pg", ini=pg.ini(dbname="worker"))
        waiters = "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'"

        @contextlib.contextmanager
        def holding():
            locker = subprocess.Popen([os.path.join(pg.bindir, "psql"), "-h", pg.addr, "-U", "skv", "-d", "worker",
                                       "-qtA"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            locker.stdin.write("BEGIN; LOCK TABLE scores, planes IN EXCLUSIVE MODE; SELECT 'locked';\n")
            locker.stdin.flush()
            self.assertEqual(locker.stdout.readline().strip(), "locked")

            def release():
                # The dead worker's session notices its client is gone and ends its statement.
                wait_for("the orphaned statement to end", lambda: pg.psql(waiters, "worker").strip() == "0")
                locker.stdin.write("COMMIT;\n")
                locker.stdin.close()
                locker.wait()
            try:
                yield release
            finally:
                if locker.poll() is None:
                    locker.kill()
                    locker.wait()
                locker.stdout.close()

        self.both_writes(server, holding, lambda: pg.psql(waiters, "worker").strip() != "0",
                         lambda sql: pg.psql(sql, "worker").split())


# nanosleep and clock_nanosleep on x86_64, as /proc/PID/syscall names them.
BUSY_HANDLER_SLEEPS = {"35", "230"}


def syscall(pid):
    """The system call a process waits in (its number), or None when it is gone."""
    try:
        with open("/proc/%d/syscall" % pid) as f:
            return f.read().split()[0]
    except OSError:
        return None


class DiskFullTests(unittest.TestCase):
    """The database's disk full: writes refused in plain text, reads served, nothing lost."""

    def fill(self, mount):
        path = os.path.join(mount, "filler")
        # Unbuffered: a buffered file's close would write what the full disk refused once more.
        with open(path, "wb", buffering=0) as f:
            try:
                while True:
                    f.write(bytes(1 << 16))
            except OSError:
                pass
        return path

    def drill(self, server, mount):
        acked = [name for name in ("Full%d" % i for i in range(5)) if upload(server, name, 7)[0] == 200]
        self.assertEqual(len(acked), 5)
        filler = self.fill(mount)
        refused = None
        for i in range(3000):  # until the store needs space it no longer has
            status, body = upload(server, "Full-%d" % i, i)
            if status != 200:
                refused = (status, body)
                break
            acked.append("Full-%d" % i)
        self.assertIsNotNone(refused, "writes never failed")
        refused_in_plain_text(self, *refused)
        self.assertEqual(refused[0], 507)
        for target in ("/php/_getplanes.php?style=1&from=0&num=17", "/hiscores.php?name=Full0", "/"):
            with self.subTest(target):
                self.assertEqual(server.get(target)[0], 200)
        os.unlink(filler)
        self.assertEqual(upload(server, "Full-after", 3)[0], 200)
        acked.append("Full-after")
        self.assertEqual(set(acked) - stored_names(server, "Full"), set())

    def test_sqlite(self):
        mount = harness.small_disk(self, 8 << 20)
        # Without the floor that keeps a store's disk from filling: the disk itself fills here.
        server = harness.Server(harness.free_address(), os.path.join(mount, "data"), ini="db_min_free_bytes = 0\n",
                                extra=["--production", "--rate", "100000", "--burst", "100000"])
        self.addCleanup(server.stop)
        self.drill(server, mount)

    def test_postgres(self):
        pg = _d["pg"]
        mount = harness.small_disk(self, 16 << 20, owner="postgres:postgres")
        pg.psql("CREATE TABLESPACE small LOCATION '%s'" % mount)
        self.addCleanup(pg.psql, "DROP TABLESPACE small")
        pg.psql("CREATE DATABASE fulldisk TABLESPACE small")
        self.addCleanup(pg.psql, "DROP DATABASE fulldisk")
        server = drill_server("full-pg", ini=pg.ini(dbname="fulldisk"))
        self.addCleanup(lambda: harness._started.pop("drill-full-pg").stop())
        self.drill(server, mount)


class ReplicaTests(unittest.TestCase):
    """Writes and the Starter's scripts on the primary, the pages on a hot standby (replica_dsn)."""

    @classmethod
    def setUpClass(cls):
        # The run's durable cluster is the primary; the standby copies it whole, once the other
        # drills are done with it.
        harness.postgres_database("replica", durable=True)
        _d["standby"] = harness.Postgres(harness.free_address((5432,)), primary=_d["pg"])

    def web(self):
        ini = _d["pg"].ini('replica_dsn = "pgsql:host=%s;port=5432;dbname=replica"\n' % _d["standby"].addr,
                           dbname="replica")
        return harness.server("drill-replicated", ini=ini)

    def shown(self, name):
        status, _, body = self.web().get("/hiscores.php?name=" + name)
        self.assertEqual(status, 200)
        return b"No hiscore of a player named" not in body

    def seconds_until_shown(self, name):
        started = time.monotonic()
        while not self.shown(name):
            self.assertLess(time.monotonic() - started, 2, "%s not on the pages within 2 s" % name)
        return time.monotonic() - started

    def test_pages_read_the_standby_and_the_primary_while_it_is_down(self):
        standby, web = _d["standby"], self.web()
        # Writes and the Starter's scripts go to the primary, with the standby paused: the rank
        # counts the paused score, the pages do not show it until the standby replays it.
        self.assertEqual(web.get("/php/_addscore.php?data=Early;500;")[2], b"1")
        self.seconds_until_shown("Early")
        standby.psql("SELECT pg_wal_replay_pause()")
        self.assertEqual(web.get("/php/_addscore.php?data=Paused;600;")[2], b"1")
        self.assertEqual(web.get("/php/_addscore.php?data=Later;550;")[2], b"2")
        self.assertFalse(self.shown("Paused"), "the page came from the standby")
        standby.psql("SELECT pg_wal_replay_resume()")
        self.seconds_until_shown("Paused")
        # The standby down: the pages read from the primary.
        standby.stop(mode="immediate", remove=False)
        self.assertEqual(web.get("/php/_addscore.php?data=Alone;700;")[2], b"1")
        self.assertTrue(self.shown("Alone"))
        self.assertEqual(web.get("/")[0], 200)


if __name__ == "__main__":
    unittest.main()


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


def production(name, archive=None):
    """A production server of its own, on SQLite or on the archived cluster."""
    return harness.Server(free_address(), name, ini=archive.pg.ini() if archive else None,
                          extra=["--production", *harness.LIFTED], postgres=archive and archive.pg)


class BackupCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not shutil.which("pgbackrest"):
            raise unittest.SkipTest("needs root and pgbackrest (Debian package pgbackrest)")


class BackupDrillTests(BackupCase):
    def test_backup_under_uploads_restores_what_was_acknowledged_before(self):
        for storage in ("sqlite", "postgres"):
            with self.subTest(storage):
                self.drill(storage)

    def drill(self, storage):
        archive = Archive() if storage == "postgres" else None
        if archive:
            self.addCleanup(archive.pg.stop)
        server = production("backup-" + storage, archive)
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

        restored = dict(server.sql("SELECT name, score FROM scores"))
        self.assertLessEqual({name for t, name in scores if t < began} | {"Seed 1", "Seed 3000"}, set(restored))
        listed = [f for (f,) in server.sql("SELECT file FROM planes")]
        self.assertLessEqual({file for t, file in designs if t < began}, set(listed))
        for file in listed:
            self.assertEqual(server.get("/download.php?file=" + file)[2], files[file], file)
        values = [int(s) for s in restored.values()]
        for name in list(restored)[::150]:
            rank = server.get("/php/_addscore.php?data=%s;%s;" % (name.replace(" ", "%20"), restored[name]))[2]
            self.assertEqual(int(rank), 1 + sum(v > int(restored[name]) for v in values), name)


class PointInTimeTests(BackupCase):
    def test_restore_to_a_noted_time_keeps_exactly_the_scores_before_it(self):
        archive = Archive()
        self.addCleanup(archive.pg.stop)
        server = production("pitr", archive)
        self.addCleanup(server.stop)

        def store(prefix):
            for i in range(30):
                self.assertEqual(server.get("/php/_addscore.php?data=%s%d;%d;" % (prefix, i, 500 + i))[0], 200)
            return {"%s%d" % (prefix, i) for i in range(30)}

        kept = store("Early")
        archive.run("--type=full", "backup")
        # pgBackRest keeps the backup's stop time in whole seconds, and restores to a time only from
        # a backup that stopped before it.
        time.sleep(1.1)
        kept |= store("Middle")
        noted = archive.pg.psql("SELECT now()").strip()
        time.sleep(1.1)  # the noted time lies strictly between the two sets
        store("Late")
        archive.archived()
        server.stop()
        archive.destroy()
        archive.restore("--type=time", "--target=" + noted, "--target-action=promote")
        server.start()
        self.assertEqual({name for name, in server.sql("SELECT name FROM scores")}, kept)


class RestoreRefusalTests(unittest.TestCase):
    def test_restore_refuses_a_folder_in_use_and_another_schema_and_changes_nothing(self):
        for storage in harness.STORAGES:
            with self.subTest(storage):
                if storage == "postgres" and harness.postgres_missing():
                    self.skipTest(harness.postgres_missing())
                self.refusals(storage)

    def refusals(self, storage):
        if storage == "postgres":
            cluster = harness.postgres_database("restore_refusals", durable=False)
            server = harness.server("restore-refusals-pg", ini=cluster.ini(dbname="restore_refusals"), postgres=cluster,
                                    dbname="restore_refusals")
        else:
            server = harness.server("restore-refusals")
        server.admin("seed-scores", 50)
        backup = server.admin("backup", backup_root(server, "refusals-" + storage)).strip()
        server.admin("add-score", "After Backup", 1)

        def refused(reason):
            store = lambda: server.sql("SELECT * FROM scores ORDER BY id") if server.postgres else [
                pathlib.Path(server.path(n)).read_bytes() for n in os.listdir(server.data) if n.startswith("skv.")]
            before = store()
            out = subprocess.run(["php", os.path.join(harness.SERVER_DIR, "admin.php"), "--data", server.data,
                                  "restore", backup], capture_output=True, text=True)
            self.assertEqual(store(), before)
            self.assertEqual((out.returncode, out.stdout, out.stderr.count("\n")), (2, "", 1), out.stderr)
            self.assertIn(reason, out.stderr)

        refused("is in use")
        server.stop()
        self.addCleanup(server.start)
        with open(server.records("servers.lock")) as lock:  # as a restore holds it
            fcntl.flock(lock, fcntl.LOCK_EX)
            started = subprocess.run(server.start_args(), capture_output=True, text=True)
        self.assertEqual(started.returncode, 1, started.stdout)
        self.assertIn("the admin tool is restoring or migrating", started.stderr)
        manifest = os.path.join(backup, "backup.ini")
        text = pathlib.Path(manifest).read_text()
        with open(manifest, "w") as f:
            f.write(re.sub(r"schema = \d+", "schema = 2", text))
        refused("of schema version 2")
        with open(manifest, "w") as f:
            f.write(text)
        # The database on PostgreSQL is pgBackRest's to restore: the score after the backup stays.
        self.assertIn("restored %d scores" % (51 if server.postgres else 50), server.admin("restore", backup))
