"""Benchmark (not a test): one production node (nginx, PHP-FPM) on a durable PostgreSQL (its
defaults: fsync and synchronous_commit on), loaded with wrk. Every endpoint is a ratio to the
floor, a PHP file that only prints a number, served by the same nginx and PHP-FPM in the same run
at the same concurrency. Each goal is printed as met or MISSED; every upload answered with a rank
is looked up in the database afterwards.

  wrk.py [--sizes 1000000,10000000] [--tree DIR] [--seconds 8] [--connections 8,32]

--tree measures another copy of server/ (e.g. an older commit's, extracted with git archive), so
before and after run the same way."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import harness  # noqa: E402

DESIGNS = 10_000
GOALS = {"_addscore.php": 0.15, "_getplanes.php": 0.25, "hiscores.php": 0.25, "design.php": 0.25}
P99_GOAL_MS = 50

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
  table.insert(sent, name)
  return wrk.format(nil, "/php/_addscore.php?data=" .. name .. ";" .. math.random(0, 10000000) .. ";")
end
function response(status, headers, body)
  local name = table.remove(sent, 1)
  -- wrk calls the first thread's request() once more before it sends anything, which shifts
  -- that thread's names by one: it loads the server but its answers are not matched.
  if id > 1 and status == 200 and body:match("^%d+$") then acked:write(name, "\n"); acked:flush() end
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
    out = subprocess.run(["wrk", "-t%d" % connections, "-c%d" % connections, "-d%ds" % seconds, "--latency",
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
    ap.add_argument("--sizes", default="1000000,10000000")
    ap.add_argument("--tree", default=SERVER_DIR, help="the server/ folder to measure")
    ap.add_argument("--seconds", type=int, default=8)
    ap.add_argument("--connections", default="8,32")
    ap.add_argument("--label", default="this tree")
    opts = ap.parse_args()
    root = tempfile.mkdtemp(prefix="skv-wrk-")
    tree = os.path.join(root, "server")
    shutil.copytree(opts.tree, tree)
    with open(os.path.join(tree, "www", "floor.php"), "w") as f:
        f.write("<?php\necho 7;\n")
    data = os.path.join(root, "data")
    os.makedirs(data)
    pg = harness.Postgres(harness.free_address((5432,)), "shared_buffers=256MB")
    addr = harness.free_address()
    uploads, reads = os.path.join(root, "uploads.lua"), os.path.join(root, "reads.lua")
    with open(uploads, "w") as f:
        f.write(UPLOADS)
    with open(reads, "w") as f:
        f.write(READS)
    missed = 0
    try:
        with open(os.path.join(data, "server.ini"), "w") as f:
            f.write(pg.ini())
        # 32 workers: as many uploads in flight as connections, so that commits share their flushes.
        start = [os.path.join(tree, "start.sh"), "--addr", addr, "--data", data, "--production",
                 "--rate", "1000000", "--burst", "1000000", "--workers", "32"]
        subprocess.run(start, check=True, stdout=subprocess.DEVNULL)
        admin = ["php", os.path.join(tree, "admin.php"), "--data", data]
        subprocess.run(admin + ["seed-planes", str(DESIGNS), "--no-files"], check=True, stdout=subprocess.DEVNULL)
        have = 0
        print("%s; load average %s" % (opts.label, loadavg()))
        for size in map(int, opts.sizes.split(",")):
            started = os.times().elapsed
            if pg.psql("SELECT COUNT(*) FROM pg_proc WHERE proname = 'skv_bulk_load'").strip() == "1":
                pg.psql("SELECT skv_bulk_load(%d, %d)" % (have + 1, size))  # the older tree's loader
            else:
                subprocess.run(admin + ["seed-scores", str(size - have)], check=True, stdout=subprocess.DEVNULL)
            have = size
            loaded = os.times().elapsed - started
            pg.psql("VACUUM ANALYZE")
            print("\n%s scores loaded in %.1f s (PostgreSQL durable); load average %s" % (f"{size:,}", loaded, loadavg()))
            print("%-16s %5s %10s %8s %9s %7s  %s" % ("endpoint", "conns", "req/s", "ratio", "p99 ms", "errors", "goal"))
            pages = " ".join("/php/_getplanes.php?style=1&from=%d&num=17" % (17 * i) for i in range(60))
            designs = " ".join("/design.php?file=5eed%04x.plane" % i for i in range(1, 101))
            for conns in map(int, opts.connections.split(",")):
                floor = run_wrk(addr, conns, opts.seconds, reads, "/floor.php")[0]
                print("%-16s %5d %10.0f %8s %9s %7s" % ("floor", conns, floor, "1", "", ""))
                for name, script, arg in (("_addscore.php", uploads, root), ("_getplanes.php", reads, pages),
                                          ("hiscores.php", reads, "/hiscores.php"), ("design.php", reads, designs)):
                    for old in os.listdir(root):
                        if old.startswith("acked-"):
                            os.unlink(os.path.join(root, old))
                    rate, p99, bad, _ = run_wrk(addr, conns, opts.seconds, script, arg)
                    verdicts = []
                    if conns == 32:
                        ok = rate / floor >= GOALS[name]
                        verdicts.append("ratio >= %.2f %s" % (GOALS[name], "met" if ok else "MISSED"))
                        missed += not ok
                    ok = p99 <= P99_GOAL_MS and bad == 0
                    missed += not ok
                    verdicts.append("p99 <= %d ms, no error: %s" % (P99_GOAL_MS, "met" if ok else "MISSED"))
                    if script == uploads:
                        acked = set()
                        for old in os.listdir(root):
                            if old.startswith("acked-"):
                                with open(os.path.join(root, old)) as f:
                                    acked |= set(f.read().split())
                        stored = set(pg.psql("SELECT name FROM scores WHERE name LIKE 'W%'").split())
                        lost = len(acked - stored)
                        missed += lost > 0
                        verdicts.append("%d acknowledged, %d of them not stored: %s %s" % (
                            len(acked), lost, "met" if lost == 0 else "MISSED", " ".join(sorted(acked - stored)[:3])))
                        pg.psql("DELETE FROM scores WHERE name LIKE 'W%'")
                    print("%-16s %5d %10.0f %8.3f %9.1f %7d  %s" % (name, conns, rate, rate / floor, p99, bad,
                                                                    "; ".join(verdicts)))
        print("\nload average after: %s; %d goal(s) missed" % (loadavg(), missed))
    finally:
        subprocess.run([os.path.join(tree, "stop.sh"), "--data", data])
        pg.stop()
        shutil.rmtree(root, ignore_errors=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


if __name__ == "__main__":
    main()
