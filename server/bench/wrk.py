"""Benchmark (not a test): one production node (nginx, PHP-FPM) on each storage, a durable
PostgreSQL (its defaults: fsync and synchronous_commit on) and SQLite (synchronous = FULL), loaded
with wrk. Every endpoint is a ratio to the floor, a PHP file that only prints a number, served by
the same nginx and PHP-FPM in the same run at the same concurrency. Each goal is printed as met or
MISSED; every upload answered with a rank is looked up in the store afterwards.

  wrk.py [--storage postgres,sqlite] [--sizes 1000000,10000000] [--tree LABEL=DIR ...] [--seconds 8]
         [--connections 8,32] [--spread 500000] [--parts load,moves,lighthouse]

--tree measures a copy of server/ (e.g. an older commit's, extracted with git archive); given
more than once, each tree runs in turn on a store of its own, so before and after come from one
command. Without it, this tree. After the largest size, scores each in a count bucket of their
own are added (--spread), and the home page and hiscore pages are timed without the cache (a stored score
before each request). Last, on PostgreSQL, the uploads of a node with the metrics against one without
them, on the same store, loaded at the same time (--metrics-rounds). The part "moves" (moves.py)
times backups, restores and the migration; the part "lighthouse" (lighthouse.py) scores the website
over HTTP and HTTPS."""
import argparse
import concurrent.futures
import datetime
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import harness  # noqa: E402
import lighthouse  # noqa: E402
import moves  # noqa: E402

DESIGNS = 10_000
SPREAD_GOAL_MS = 100
GOALS = {"_addscore.php": 0.15, "_getplanes.php": 0.25, "hiscores.php": 0.25, "designs.php": 0.25, "design.php": 0.25}
P99_GOAL_MS = 50
SORTS = ["costs", "weight", "consumption", "noise", "reliability", "velocity", "range"]

# Each thread has one connection, so its answers come in the order of its requests: an upload's
# answer is matched to its name, and each name answered with a rank is written to a file (all
# threads but the first, see response()).
UPLOADS = r"""
counter = 0
function setup(thread) counter = counter + 1; thread:set("id", counter) end
function init(args)
  n, sent = 0, {}
  math.randomseed(id * 7919)
  acked = io.open(args[1] .. "/acked-" .. id, "w")
end
function request()
  n = n + 1
  local name = "W" .. id .. "-" .. n
  -- wrk calls the first thread's request() once before it sends anything, to check the script:
  -- that name is never sent (the request log shows it), so it is not waited for.
  if not (id == 1 and n == 1) then table.insert(sent, name) end
  return wrk.format(nil, "/php/_addscore.php?data=" .. name .. ";" .. math.random(0, 10000000) .. ";")
end
function response(status, headers, body)
  local name = table.remove(sent, 1)
  if status == 200 and body:match("^%d+$") then acked:write(name, "\n"); acked:flush() end
end
"""

READS = r"""
counter = 0
function setup(thread) counter = counter + 1; thread:set("id", counter) end
function init(args)
  math.randomseed(id * 104729)
  paths = {}
  for p in string.gmatch(args[1], "[^ ]+") do table.insert(paths, p) end
end
function request() return wrk.format(nil, paths[math.random(#paths)]) end
"""


def run_wrk(addr, connections, seconds, script, arg):
    # The Starter waits 30 s for an answer: wrk's own 2 s would count a slow answer as an error.
    out = subprocess.run(["wrk", "-t%d" % connections, "-c%d" % connections, "-d%ds" % seconds, "--latency", "--timeout", "30s",
                          "-s", script, "http://%s" % addr, "--", arg], capture_output=True, text=True, check=True).stdout
    rate = float(next(line.split()[1] for line in out.splitlines() if line.startswith("Requests/sec")))
    p99 = next(line.split()[1] for line in out.splitlines() if line.strip().startswith("99%"))
    p99_ms = float(p99[:-2]) / (1000 if p99.endswith("us") else 1) if p99.endswith(("us", "ms")) else float(p99[:-1]) * 1000
    bad = sum(int(w) for line in out.splitlines() if line.strip().startswith(("Non-2xx", "Socket errors"))
              for w in line.replace(",", " ").split() if w.isdigit())
    requests = int(next(line.split()[0] for line in out.splitlines() if "requests in" in line))
    return rate, p99_ms, bad, requests


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--storage", default="postgres,sqlite")
    ap.add_argument("--sizes", default="1000000,10000000")
    ap.add_argument("--tree", action="append", help="LABEL=DIR: a server/ folder to measure")
    ap.add_argument("--seconds", type=int, default=8)
    ap.add_argument("--connections", default="8,32")
    ap.add_argument("--spread", type=int, default=500_000)
    ap.add_argument("--parts", default="load,moves", help="load, moves (backups, restores, the migration), "
                    "lighthouse (the website's scores; installs Lighthouse from npm)")
    ap.add_argument("--metrics-rounds", type=int, default=10, help="runs of the nodes with and without metrics")
    opts = ap.parse_args()
    trees = [t.split("=", 1) for t in opts.tree] if opts.tree else [["this tree", SERVER_DIR]]
    commit = subprocess.run(["git", "-C", SERVER_DIR, "describe", "--always", "--dirty"], capture_output=True,
                            text=True).stdout.strip()
    print("wrk.py, %s, this checkout at %s" % (datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), commit))
    parts = opts.parts.split(",")
    missed = sum(measure(label, tree, storage, opts) for label, tree in trees for storage in opts.storage.split(",")
                 if "load" in parts)
    if "moves" in parts:
        missed += moves.measure_moves()
    if "lighthouse" in parts:
        missed += lighthouse.measure_lighthouse(runs=2)
    print("\n%d goal(s) missed in all" % missed)


class Store:
    """The node's store, for the benchmark's own statements: a cluster of its own or SQLite."""

    def __init__(self, storage, data, tree):
        self.pg = harness.Postgres(harness.free_address((5432,)), "shared_buffers=256MB") if storage == "postgres" else None
        self.path = os.path.join(data, "skv.sqlite")
        with open(os.path.join(tree, "lib", "settings.php")) as f:
            bounded = "quota_scores_per_address_day" in f.read()  # every upload comes from one address
        with open(os.path.join(data, "server.ini"), "w") as f:
            f.write((self.pg.ini() if self.pg else "") + (harness.LIFTED_INI if bounded else ""))

    def sql(self, statement):
        if self.pg:
            return self.pg.psql(statement).split()
        db = sqlite3.connect(self.path, timeout=30)
        try:
            with db:
                return [str(row[0]) for row in db.execute(statement)]
        finally:
            db.close()

    def analyze(self):
        self.sql("VACUUM ANALYZE" if self.pg else "ANALYZE")

    def stop(self):
        if self.pg:
            self.pg.stop()


def measure(label, source, storage, opts):
    """Runs every endpoint of one server tree at each size; returns the number of missed goals."""
    root = tempfile.mkdtemp(prefix="skv-wrk-")
    os.chmod(root, 0o711)  # run as root, the servers run as skv and must reach the tree and the data
    tree = os.path.join(root, "server")
    shutil.copytree(source, tree)
    with open(os.path.join(tree, "www", "floor.php"), "w") as f:
        f.write("<?php\necho 7;\n")
    data = os.path.join(root, "data")
    os.makedirs(data)
    store = Store(storage, data, tree)
    addr = harness.free_address()
    uploads, reads = os.path.join(root, "uploads.lua"), os.path.join(root, "reads.lua")
    with open(uploads, "w") as f:
        f.write(UPLOADS)
    with open(reads, "w") as f:
        f.write(READS)
    missed = 0
    try:
        # 32 workers: as many uploads in flight as connections, so that commits share their flushes.
        start = [os.path.join(tree, "start.sh"), "--addr", addr, "--data", data, "--production",
                 "--rate", "1000000", "--burst", "1000000", "--workers", "32"]
        lifted = ["--page-rate", "1000000", "--page-burst", "1000000", "--conns", "10000"]
        help_text = subprocess.run([start[0], "--help"], capture_output=True, text=True).stderr
        subprocess.run(start + (lifted if "--conns" in help_text else []), check=True, stdout=subprocess.DEVNULL)
        admin = ["php", os.path.join(tree, "admin.php"), "--data", data]
        subprocess.run(admin + ["seed-planes", str(DESIGNS), "--no-files"], check=True, stdout=subprocess.DEVNULL)
        have = 0
        print("\n== %s (%s) on %s; load average %s" % (label, source, storage, loadavg()))
        for size in map(int, opts.sizes.split(",")):
            started = time.monotonic()
            if old_loader(store):
                store.sql("SELECT skv_bulk_load(%d, %d)" % (have + 1, size))
            else:
                subprocess.run(admin + ["seed-scores", str(size - have)], check=True, stdout=subprocess.DEVNULL)
            have = size
            loaded = time.monotonic() - started
            store.analyze()
            print("\n%s scores loaded in %.1f s (%s, durable); load average %s" % (f"{size:,}", loaded, storage,
                                                                                  loadavg()))
            print("%-16s %5s %10s %8s %9s %7s  %s" % ("endpoint", "conns", "req/s", "ratio", "p99 ms", "errors", "goal"))
            for conns in map(int, opts.connections.split(",")):
                floor = run_wrk(addr, conns, opts.seconds, reads, "/floor.php")[0]
                print("%-16s %5d %10.0f %8s %9s %7s" % ("floor", conns, floor, "1", "", ""))
                for name, script, arg in [("_addscore.php", uploads, root)] + [
                        (name, reads, " ".join(targets)) for name, targets in read_targets(have).items()]:
                    for old in os.listdir(root):
                        if old.startswith("acked-"):
                            os.unlink(os.path.join(root, old))
                    rate, p99, bad, _ = run_wrk(addr, conns, opts.seconds, script, arg)
                    verdicts = ["no error: %s" % ("met" if bad == 0 else "MISSED")]
                    missed += bad > 0
                    if conns == 32:
                        ok = rate / floor >= GOALS[name]
                        verdicts.append("ratio >= %.2f %s" % (GOALS[name], "met" if ok else "MISSED"))
                        ok_p99 = p99 <= P99_GOAL_MS
                        verdicts.append("p99 <= %d ms %s" % (P99_GOAL_MS, "met" if ok_p99 else "MISSED"))
                        missed += (not ok) + (not ok_p99)
                    if script == uploads:
                        verdict, lost = check_acked(root, data, store)
                        missed += lost
                        verdicts.append(verdict)
                    print("%-16s %5d %10.0f %8.3f %9.1f %7d  %s" % (name, conns, rate, rate / floor, p99, bad,
                                                                    "; ".join(verdicts)))
        missed += spread_pages(addr, store, admin, have, opts.spread)
        if storage == "postgres":  # two nodes on one SQLite file would mostly measure its write lock
            missed += metrics_cost(root, tree, data, opts)
        print("\n%s on %s: load average after %s; %d goal(s) missed" % (label, storage, loadavg(), missed))
    finally:
        subprocess.run([os.path.join(tree, "stop.sh"), "--data", data])
        store.stop()
        shutil.rmtree(root, ignore_errors=True)
    return missed


# The metrics may cost this share of the upload rate at most.
METRICS_COST_GOAL = 0.02
# What the metrics add to a node: nginx's second log line per request and the scripts' outcome header.
METRICS_PARTS = {"deploy/nginx-site.conf": "    access_log @LOGS@/metrics.log skv_metrics buffer=64k flush=1s;\n",
                 "lib/wire.php": "if (PHP_SAPI === 'fpm-fcgi' && !headers_sent()) {"}


def metrics_cost(root, tree, data, opts):
    """Uploads with and without the metrics: two nodes on the same store, loaded at the same time
    (16 connections each), so that the machine's other work weighs on both alike. Every round the
    two swap trees (this one and a copy without the metrics), so neither address, data folder nor
    start order favours one side; the node with them has its /metrics read meanwhile (Scraper).
    Returns 1 if the goal was missed."""
    with open(os.path.join(tree, "lib", "wire.php")) as f:
        if "function outcome(" not in f.read():
            return 0  # a tree from before the metrics: nothing to compare
    trees = {"with": tree, "without": os.path.join(root, "without", "server")}
    shutil.copytree(tree, trees["without"])
    for name, part in METRICS_PARTS.items():
        with open(os.path.join(trees["without"], name)) as f:
            text = f.read()
        if part not in text:
            print("metrics cost: %s no longer holds %r; not measured" % (name, part))
            return 1
        with open(os.path.join(trees["without"], name), "w") as f:
            f.write(text.replace(part, "" if name.endswith(".conf") else "if (false) {"))
    slots = []
    for i in range(2):
        slot_data = os.path.join(root, "slot%d" % i)
        os.makedirs(slot_data)
        # The main node's settings: the same store, and the daily bound lifted (one address sends all).
        shutil.copy(os.path.join(data, "server.ini"), slot_data)
        slots.append((harness.free_address(), slot_data))
    pairs, cpu = [], {"with": [0, 0], "without": [0, 0]}  # kind -> [CPU seconds, requests]
    kinds = ("with", "without")
    try:
        for i in range(opts.metrics_rounds):
            placed = dict(zip(kinds if i % 2 == 0 else kinds[::-1], slots))
            for kind, (addr, slot_data) in placed.items():
                subprocess.run([os.path.join(tree, "stop.sh"), "--data", slot_data], check=True)
                subprocess.run([os.path.join(trees[kind], "start.sh"), "--addr", addr, "--data", slot_data,
                                "--production", "--workers", "16", "--rate", "1000000", "--burst", "1000000",
                                "--page-rate", "1000000", "--page-burst", "1000000", "--conns", "10000"],
                               check=True, stdout=subprocess.DEVNULL)
            scraper = Scraper(placed["with"][0])
            before = {kind: node_cpu(placed[kind][1]) for kind in kinds}
            with concurrent.futures.ThreadPoolExecutor(2) as pool:
                runs = {kind: pool.submit(run_wrk, placed[kind][0], 16, opts.seconds, os.path.join(root, "uploads.lua"),
                                          root) for kind in kinds}
                results = {kind: runs[kind].result() for kind in kinds}
            scraper.stop()
            for kind in kinds:
                cpu[kind][0] += node_cpu(placed[kind][1]) - before[kind]
                cpu[kind][1] += results[kind][3]
            pairs.append([results[kind][0] for kind in kinds])
    finally:
        for _, slot_data in slots:
            subprocess.run([os.path.join(tree, "stop.sh"), "--data", slot_data])
    ratios = sorted(w / b for w, b in pairs)
    per_upload = {kind: c / n * 1000 for kind, (c, n) in cpu.items()}
    # On cores of its own a node's upload rate is what its CPU allows: the steadier figure here.
    ratio = per_upload["without"] / per_upload["with"]
    ok = ratio >= 1 - METRICS_COST_GOAL
    print("\nuploads with metrics (read every %d s) and without, two nodes loaded together, 16 connections each"
          % SCRAPE_EVERY)
    print("  uploads/s, with / without: " + "; ".join("%.0f / %.0f" % tuple(p) for p in pairs))
    print("  rate ratio with/without: median %.3f (rounds %s), all rounds together %.3f" % (
        ratios[len(ratios) // 2], " ".join("%.3f" % r for r in ratios),
        sum(p[0] for p in pairs) / sum(p[1] for p in pairs)))
    print("  nginx and PHP-FPM CPU per upload: with %.3f ms, without %.3f ms; ratio without/with %.3f: cost <= %d %% %s"
          % (per_upload["with"], per_upload["without"], ratio, METRICS_COST_GOAL * 100, "met" if ok else "MISSED"))
    return int(not ok)


def records(data, name):
    """A file of root's records for the data folder: beside it when root hands that folder to the
    servers' user (lib/records.sh)."""
    return os.path.join(data + ".root" if os.path.isdir(data + ".root") else data, name)


def node_cpu(data):
    """CPU seconds used so far by a node's nginx and PHP-FPM: every process of their groups."""
    groups = set()
    for name in ("web", "fpm"):
        with open(records(data, name + ".pid")) as f:
            groups.add(f.read().split()[0])
    ticks = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # gone meanwhile
        if fields[2] in groups:  # the process group, after state and parent
            ticks += int(fields[11]) + int(fields[12])  # utime, stime
    return ticks / os.sysconf("SC_CLK_TCK")


# Three times as often as deploy/prometheus.yml has Prometheus read them.
SCRAPE_EVERY = 5


class Scraper:
    """Reads a node's /metrics every SCRAPE_EVERY seconds in a thread of its own until stopped."""

    def __init__(self, addr):
        import threading
        self.addr, self.done = addr, threading.Event()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        import http.client
        while not self.done.wait(SCRAPE_EVERY):
            conn = http.client.HTTPConnection(self.addr, 9180, timeout=10)
            conn.request("GET", "/metrics")
            assert conn.getresponse().read().startswith(b"# HELP"), "the metrics did not answer"
            conn.close()

    def stop(self):
        self.done.set()
        self.thread.join()


def read_targets(scores):
    """Each read endpoint's targets, picked at random by every wrk thread: the Starter's catalogue
    pages, and the website's pages of every kind."""
    pages = scores // 50
    step = lambda n, count: [1 + i * (n - 1) // (count - 1) for i in range(count)]
    return {
        "_getplanes.php": ["/php/_getplanes.php?style=1&from=%d&num=17" % (17 * i) for i in range(60)],
        "hiscores.php": (["/hiscores.php?page=%d" % p for p in step(pages, 40)]
                         + ["/hiscores.php?rank=%d" % r for r in step(scores, 30)]
                         + ["/hiscores.php?name=Seed%%20%d" % n for n in step(scores, 30)]),
        "designs.php": (["/designs.php?page=%d" % p for p in step(DESIGNS // 25, 20)]
                        + ["/designs.php?sort=%s&dir=%s&page=%d" % (SORTS[i % 7], ("asc", "desc")[i % 2], p)
                           for i, p in enumerate(step(DESIGNS // 25, 40))]
                        + ["/designs.php?q=Design+%d&page=%d" % (i % 10, 1 + i % 4) for i in range(40)]),
        "design.php": ["/design.php?file=5eed%04x.plane" % i for i in range(1, 101)],
    }


def old_loader(store):
    """Main's code before the rank was rewritten loads through a function of its own."""
    return bool(store.pg) and store.sql("SELECT COUNT(*) FROM pg_proc WHERE proname = 'skv_bulk_load'") == ["1"]


def check_acked(root, data, store):
    """Every upload answered with a rank must be stored, and must have been sent: a name that
    nginx never logged would mean the script matched answers to the wrong names."""
    acked = set()
    for old in os.listdir(root):
        if old.startswith("acked-"):
            with open(os.path.join(root, old)) as f:
                acked |= set(f.read().split())
    log = records(data, "requests.log")
    with open(log, errors="replace") as f:
        sent = set(re.findall(r"_addscore\.php\?data=(W\d+-\d+);", f.read()))
    stored = set(store.sql("SELECT name FROM scores WHERE name LIKE 'W%'"))
    lost, unsent = sorted(acked - stored), sorted(acked - sent)
    store.sql("DELETE FROM scores WHERE name LIKE 'W%'")
    open(log, "w").close()
    return ("%d acknowledged, %d never sent, %d not stored: %s %s" % (
        len(acked), len(unsent), len(lost), "met" if not lost and not unsent else "MISSED",
        " ".join((lost + unsent)[:3]))), int(bool(lost or unsent))


def spread_pages(addr, store, admin, have, spread):
    """spread more scores 2^20 apart, each in a count bucket of its own; then the home page and
    hiscore pages, each after a stored score, so that no answer comes from the cache."""
    started = time.monotonic()
    if old_loader(store):
        rows = "SELECT 'Seed ' || (%d + i), (%d + i)::BIGINT << 20, '', 0 FROM generate_series(1, %d) i" % (
            have, have, spread)
        store.sql("ALTER TABLE scores DISABLE TRIGGER scores_count; INSERT INTO scores (name, score, mail, uploaded) %s;"
                  " ALTER TABLE scores ENABLE TRIGGER scores_count; SELECT skv_rebuild_score_counts()" % rows)
    else:
        subprocess.run(admin + ["seed-scores", str(spread), "--apart", str(1 << 20)], check=True,
                       stdout=subprocess.DEVNULL)
    store.analyze()
    print("\n%s scores 2^20 apart added in %.1f s (%s in all)" % (f"{spread:,}", time.monotonic() - started,
                                                                   f"{have + spread:,}"))
    missed = 0
    middle_page = (have + spread) // 100  # of 50 entries each
    for target in ("/", "/hiscores.php", "/hiscores.php?page=%d" % middle_page,
                   "/hiscores.php?name=Seed%%20%d" % (have + spread // 2)):
        times, statuses = [], set()
        for i in range(20):
            stored = harness.get(addr, "/php/_addscore.php?data=Spreader%d;%d;" % (i, i))[0]
            assert stored == 200, "the score before a page was refused: %d" % stored
            began = time.monotonic()
            status = harness.get(addr, target, timeout=30)[0]
            times.append((time.monotonic() - began) * 1000)
            statuses.add(status)
        times.sort()
        ok = statuses == {200} and times[-1] < SPREAD_GOAL_MS
        missed += not ok
        print("%-40s median %6.1f ms, slowest %6.1f ms of 20, status %s: under %d ms, 200: %s" % (
            target, times[10], times[-1], "/".join(map(str, sorted(statuses))), SPREAD_GOAL_MS,
            "met" if ok else "MISSED"))
    return missed


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


if __name__ == "__main__":
    main()
