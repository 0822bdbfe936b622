"""Load benchmark (not a test): the same mix of hiscore uploads, catalogue pages and design
registrations (FTP upload, then _addplane) against three set-ups, each on its own database of one
PostgreSQL cluster (127.0.1.60):
  builtin  PHP's built-in server, 127.0.1.61
  single   one production node (nginx, PHP-FPM), 127.0.1.62
  double   two production nodes, 127.0.1.63 and .64, one design storage; clients alternate
Bounded: OPS operations per set-up or SECONDS, whichever ends first. Prints one line per set-up:
HTTP requests per second, p50, p99, errors, and lost writes (accepted scores or registrations
missing from the database afterwards)."""
import argparse
import ftplib
import http.client
import io
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import harness  # noqa: E402

PG_ADDR = "127.0.1.60"
SETUPS = {"builtin": ["127.0.1.61"], "single": ["127.0.1.62"], "double": ["127.0.1.63", "127.0.1.64"]}
SEED_SCORES, SEED_DESIGNS = 100_000, 2_000


def design(i):
    block = struct.pack("<7i", 1000 + i, 500, 20, 7, 5, 800, 3000) + b"Load %d\0" % i
    return struct.pack("<I", len(block)) + block + bytes(2000)


class Load:
    def __init__(self, name, addrs, ops, seconds):
        self.name, self.addrs, self.ops, self.seconds = name, addrs, ops, seconds
        self.lock = threading.Lock()
        self.next_op = 0
        self.times, self.errors = [], []
        self.scores, self.files = [], []

    def take(self):
        with self.lock:
            self.next_op += 1
            return self.next_op if self.next_op <= self.ops and time.monotonic() < self.deadline else None

    def get(self, addr, target):
        started = time.perf_counter()
        conn = http.client.HTTPConnection(addr, 80, timeout=30)
        try:
            conn.request("GET", target, headers={"User-Agent": "SKV Starter"})
            resp = conn.getresponse()
            body = resp.read()
        finally:
            conn.close()
        with self.lock:
            self.times.append(time.perf_counter() - started)
        return resp.status, body

    def one(self, addr, op, rng):
        kind = rng.random()
        label = "score" if kind < 0.5 else "page" if kind < 0.9 else "registration"
        try:
            self.op(addr, op, rng, kind)
        except Exception as e:
            raise RuntimeError("%s: %r" % (label, e)) from e

    def op(self, addr, op, rng, kind):
        if kind < 0.5:
            name, score = "%s %d" % (self.name, op), rng.randint(0, 10_000_000)
            status, body = self.get(addr, "/php/_addscore.php?data=%s;%d;" % (name.replace(" ", "%20"), score))
            if status == 200:
                self.scores.append(name)
        elif kind < 0.9:
            status, body = self.get(addr, "/php/_getplanes.php?style=1&from=%d&num=17" % rng.randint(0, SEED_DESIGNS))
        else:
            file = "%08x%04x.plane" % (op, hash(self.name) & 0xffff)
            ftp = ftplib.FTP(timeout=30)
            try:
                ftp.connect(addr, 21)
                ftp.login(harness.FTP_USER, harness.FTP_PASSWORD)
                ftp.set_pasv(False)
                ftp.storbinary("STOR " + file, io.BytesIO(design(op)))
            finally:
                ftp.close()
            status, body = self.get(addr, "/php/_addplane.php?data=1;2;3;4;5;6;7;Load%%20%d;%s;" % (op, file))
            if status == 200:
                self.files.append(file)
        if status != 200:
            raise RuntimeError("%d %r" % (status, body[:80]))

    def worker(self, index):
        rng = random.Random(index)
        addr = self.addrs[index % len(self.addrs)]
        while (op := self.take()) is not None:
            try:
                self.one(addr, op, rng)
            except Exception as e:  # every failure counts; the run goes on
                with self.lock:
                    self.errors.append("%s op %d: %r" % (addr, op, e))

    def run(self, workers):
        self.deadline = time.monotonic() + self.seconds
        started = time.perf_counter()
        threads = [threading.Thread(target=self.worker, args=(i,)) for i in range(workers)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return time.perf_counter() - started


def main():
    args = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    args.add_argument("--ops", type=int, default=3000, help="operations per set-up (default 3000)")
    args.add_argument("--seconds", type=int, default=60, help="time cap per set-up (default 60)")
    args.add_argument("--workers", type=int, default=8, help="concurrent clients (default 8)")
    opts = args.parse_args()
    pg = harness.Postgres(PG_ADDR)
    servers = []
    try:
        print("%-8s %8s %9s %8s %8s %7s %6s %12s" % ("set-up", "requests", "req/s", "p50 ms", "p99 ms", "errors", "lost",
                                                    "req/s ratio"))
        baseline = None
        for name, addrs in SETUPS.items():
            pg.as_postgres("createdb", "-h", PG_ADDR, "-U", "skv", name)
            storage = tempfile.mkdtemp(prefix="skv-load-storage-", dir=harness.TMP)
            ini = ('dsn = "pgsql:host=%s;port=5432;dbname=%s"\nuser = skv\nstorage = %s\n'
                   "ftp_max_cons_per_ip = 64\n" % (PG_ADDR, name, storage))
            # One client address sends everything, so the production nodes' limits are lifted.
            extra = [] if name == "builtin" else ["--production"] + harness.LIFTED
            nodes = [harness.server("%s-%d" % (name, i), addr, ini=ini, extra=extra) for i, addr in enumerate(addrs)]
            servers += nodes
            nodes[0].admin("seed-planes", SEED_DESIGNS, "--no-files")
            psql = lambda sql: subprocess.run(  # noqa: E731
                [os.path.join(pg.bindir, "psql"), "-h", PG_ADDR, "-U", "skv", "-d", name, "-qtAc", sql],
                capture_output=True, text=True, check=True).stdout
            nodes[0].admin("seed-scores", SEED_SCORES)
            psql("ANALYZE")

            load = Load(name, addrs, opts.ops, opts.seconds)
            wall = load.run(opts.workers)
            stored = set(psql("SELECT name FROM scores WHERE name LIKE '%s %%'" % name).split("\n"))
            registered = set(psql("SELECT file FROM planes WHERE name LIKE 'Load %'").split("\n"))
            lost = sum(n not in stored for n in load.scores) + sum(f not in registered for f in load.files)
            times = sorted(load.times)
            rate = len(times) / wall
            baseline = baseline or rate  # the built-in server, run first in this same command
            print("%-8s %8d %9.1f %8.1f %8.1f %7d %6d %12.2f" % (
                name, len(times), rate, statistics.median(times) * 1000,
                times[max(0, int(len(times) * 0.99) - 1)] * 1000, len(load.errors), lost, rate / baseline))
            for e in load.errors[:3]:
                print("  error:", e)
            if load.errors and os.environ.get("SKV_LOAD_DEBUG"):
                for node in nodes:
                    subprocess.run(["tail", "-n", "60", node.path("ftp.log")])
            for node in nodes:
                node.stop()
    finally:
        for s in servers:
            s.stop()
        pg.stop()
        shutil.rmtree(harness.TMP, ignore_errors=True)


if __name__ == "__main__":
    main()
