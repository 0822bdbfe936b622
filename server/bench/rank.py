"""Times _addscore with 1,000,000 and 10,000,000 stored scores on PostgreSQL (a cluster of its own
on 127.0.1.40, the built-in web server on 127.0.1.41). Rows come from one generate_series insert."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

from bench import report, timed_get  # noqa: E402  (same folder)
import bench

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SERVER_DIR, "tests"))
import harness  # noqa: E402
PG_ADDR, WEB_ADDR = "127.0.1.40", "127.0.1.41"


def main():
    args = argparse.ArgumentParser(description=__doc__)
    args.add_argument("--sizes", default="1000000,10000000")
    args.add_argument("--requests", type=int, default=500)
    opts = args.parse_args()
    root = tempfile.mkdtemp(prefix="skv-rank-")
    data = os.path.join(root, "data")
    os.makedirs(data)
    pg = harness.Postgres(PG_ADDR, "shared_buffers=256MB")
    psql = [os.path.join(pg.bindir, "psql"), "-h", PG_ADDR, "-U", "skv", "-d", "skv", "-v", "ON_ERROR_STOP=1", "-qtA"]
    bench.ADDR = WEB_ADDR
    try:
        with open(os.path.join(data, "server.ini"), "w") as f:
            f.write(pg.ini())
        subprocess.run([os.path.join(SERVER_DIR, "start.sh"), "--addr", WEB_ADDR, "--data", data],
                       check=True, stdout=subprocess.DEVNULL)
        have = 0
        rng = random.Random(7)
        for size in map(int, opts.sizes.split(",")):
            started = time.perf_counter()
            # One statement; the per-row trigger (if any) is off for it and the counts rebuilt after.
            sql = ("SELECT skv_bulk_load(%d, %d)" if fill_function(psql) else
                   "INSERT INTO scores (name, score, mail, uploaded) SELECT 'Seed ' || i, "
                   "(random() * 10000000)::bigint, '', 0 FROM generate_series(%d, %d) i") % (have + 1, size)
            subprocess.run(psql + ["-c", sql, "-c", "ANALYZE scores"], check=True, stdout=subprocess.DEVNULL)
            have = size
            print("%-44s %.1f s" % ("fill to %d scores" % size, time.perf_counter() - started))
            for i in range(50):  # warm the caches
                timed_get("/php/_addscore.php?data=Warm%%20%d;%d;" % (i, rng.randint(0, 10_000_000)))
            adds = [timed_get("/php/_addscore.php?data=Bench%%20%d%%20%d;%d;" % (size, i, rng.randint(0, 10_000_000)))[0]
                    for i in range(opts.requests)]
            report("_addscore with %d scores (PostgreSQL)" % size, adds)
            compare_ranks(data, rng, opts.requests)
    finally:
        subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", data])
        pg.stop()
        shutil.rmtree(root, ignore_errors=True)


# The rank alone, both ways on the same random scores: the plain count of higher scores (the
# baseline) and the prefix counts that score_rank uses on PostgreSQL. Prints p50, p99 and ratios.
COMPARE = r"""
require '%s/lib/common.php';
$plain = db()->prepare('SELECT 1 + COUNT(*) FROM scores WHERE score > ?');
$t = ['count' => [], 'counted' => []];
foreach (explode(',', $argv[1]) as $x) {
    $x = (int)$x;
    $s = hrtime(true); $plain->execute([$x]); $a = (int)$plain->fetchColumn(); $t['count'][] = hrtime(true) - $s;
    $s = hrtime(true); $b = score_rank(db(), $x); $t['counted'][] = hrtime(true) - $s;
    if ($a !== $b) { fwrite(STDERR, "rank differs for $x: $a != $b\n"); exit(1); }
}
foreach ($t as $k => $v) { sort($v); $n = count($v);
    printf("%%s %%.3f %%.3f\n", $k, $v[intdiv($n, 2)] / 1e6, $v[max(0, (int)($n * 0.99) - 1)] / 1e6); }
"""


def compare_ranks(data, rng, count):
    xs = ",".join(str(rng.randint(0, 10_000_000)) for _ in range(count))
    out = subprocess.run(["php", "-r", COMPARE % SERVER_DIR, "--", xs], env=dict(os.environ, SKV_DATA=data),
                         capture_output=True, text=True, check=True).stdout.split("\n")
    got = {line.split()[0]: tuple(map(float, line.split()[1:])) for line in out if line}
    (c50, c99), (f50, f99) = got["count"], got["counted"]
    print("%-44s median %6.2f ms   p99 %6.2f ms" % ("  rank by plain count (baseline)", c50, c99))
    print("%-44s median %6.2f ms   p99 %6.2f ms   (%.0fx, %.0fx faster)" % (
        "  rank by prefix counts", f50, f99, c50 / f50, c99 / f99))


def fill_function(psql):
    out = subprocess.run(psql + ["-c", "SELECT count(*) FROM pg_proc WHERE proname = 'skv_bulk_load'"],
                         capture_output=True, text=True, check=True).stdout.strip()
    return out == "1"


if __name__ == "__main__":
    main()
