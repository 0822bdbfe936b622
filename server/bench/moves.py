"""wrk.py's part "moves": how long an operator waits for a backup, a restore and the move to
PostgreSQL of a store of 1,000,000 scores and 2,000 designs with files. Each time is printed beside
its goal (met or MISSED) and as a ratio to the baseline measured in the same run: a plain copy
(cp -a) of the same files, the data folder's on SQLite, the cluster's on PostgreSQL.

SQLite: admin.php backup, then restore into a new data folder. The migration: admin.php migrate
of that store into an empty database of a durable PostgreSQL cluster whose WAL pgBackRest
archives. PostgreSQL: pgBackRest's full backup and admin.php backup (the design files), then the
cluster and the data folder destroyed, pgBackRest's restore until the cluster answers writes, and
admin.php restore."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import harness  # noqa: E402
from test_drills import Archive  # noqa: E402

GOALS = {"backup": 60, "restore": 60, "migrate": 120}


def admin(data, *args):
    return subprocess.run(["php", os.path.join(SERVER_DIR, "admin.php"), "--data", data, *map(str, args)],
                          check=True, capture_output=True, text=True).stdout.strip()


def timed(fn):
    start = time.monotonic()
    fn()
    return time.monotonic() - start


def copy_baseline(folder):
    target = folder + ".copy"
    seconds = timed(lambda: subprocess.run(["cp", "-a", folder, target], check=True))
    shutil.rmtree(target)
    return seconds


def report(what, seconds, baseline):
    """Prints one time; returns 1 for a missed goal."""
    goal = GOALS[what.split()[0]]
    print("%-28s %7.1f s  %5.2f x the copy  goal %d s: %s" % (what, seconds, seconds / baseline, goal,
                                                              "met" if seconds <= goal else "MISSED"), flush=True)
    return int(seconds > goal)


def measure_moves(scores=1_000_000, designs=2000):
    """Returns the number of goals missed."""
    print("\nbackups, restores and the move to PostgreSQL", flush=True)
    root = tempfile.mkdtemp(prefix="skv-bench-backup-")
    archive = None
    try:
        data = os.path.join(root, "sqlite")
        admin(data, "init")
        admin(data, "seed-scores", scores)
        admin(data, "seed-planes", designs)
        print("store: %s, load average %s" % (admin(data, "stats").replace("\n", ", "),
                                              " ".join(open("/proc/loadavg").read().split()[:3])), flush=True)
        copy = copy_baseline(data)
        print("%-28s %7.1f s" % ("copy of the data folder", copy))
        backups = os.path.join(root, "backups-sqlite")
        missed = report("backup (SQLite)", timed(lambda: admin(data, "backup", backups)), copy)
        missed += report("restore (SQLite)", timed(lambda: admin(os.path.join(root, "sqlite-restored"), "restore",
                                                                  backups)), copy)

        archive = Archive()
        dsn = "pgsql:host=%s;port=5432;dbname=skv" % archive.pg.addr
        missed += report("migrate (to PostgreSQL)", timed(lambda: admin(data, "migrate", dsn, "--user", "skv")), copy)
        archive.archived()
        copy = copy_baseline(archive.pg.cluster)
        print("%-28s %7.1f s" % ("copy of the cluster", copy))
        backups = os.path.join(root, "backups-postgres")

        def backup():
            archive.run("--type=full", "backup")
            admin(data, "backup", backups)

        def restore():
            archive.restore()
            admin(data, "restore", backups)

        missed += report("backup (PostgreSQL)", timed(backup), copy)
        archive.destroy()
        shutil.rmtree(data)
        os.makedirs(data)
        missed += report("restore (PostgreSQL)", timed(restore), copy)
        print("restored store: %s" % admin(data, "stats").replace("\n", ", "))
        return missed
    finally:
        if archive:
            archive.pg.stop()
        shutil.rmtree(root, ignore_errors=True)
