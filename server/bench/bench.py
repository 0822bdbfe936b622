"""Times _addscore with 1,000,000 stored scores and the last _getplanes page of 100,000 designs."""
import http.client
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ADDR = "127.0.0.38"
SCORES, DESIGNS, REQUESTS = 1_000_000, 100_000, 1000


def timed_get(target):
    started = time.perf_counter()
    conn = http.client.HTTPConnection(ADDR, 80, timeout=30)
    conn.request("GET", target, headers={"User-Agent": "SKV Starter"})
    resp = conn.getresponse()
    body = resp.read()
    conn.close()
    elapsed = time.perf_counter() - started
    if resp.status != 200:
        sys.exit("bench: %s answered %d %r" % (target, resp.status, body))
    return elapsed, body


def report(what, times):
    times = sorted(times)
    p99 = times[int(len(times) * 0.99) - 1]
    print("%-44s median %6.2f ms   p99 %6.2f ms   (%d requests)" % (
        what, statistics.median(times) * 1000, p99 * 1000, len(times)))


def main():
    data = tempfile.mkdtemp(prefix="skv-bench-")
    admin = ["php", os.path.join(SERVER_DIR, "admin.php"), "--data", data]
    try:
        for args in (["init"], ["seed-scores", SCORES], ["seed-planes", DESIGNS, "--no-files"]):
            started = time.perf_counter()
            subprocess.run(admin + [str(a) for a in args], check=True, stdout=subprocess.DEVNULL)
            print("%-44s %.1f s" % ("fill: " + " ".join(map(str, args)), time.perf_counter() - started))
        subprocess.run([os.path.join(SERVER_DIR, "start.sh"), "--addr", ADDR, "--data", data],
                       check=True, stdout=subprocess.DEVNULL)
        rng = random.Random(7)
        adds = [timed_get("/php/_addscore.php?data=Bench%%20%d;%d;" % (i, rng.randint(0, 10_000_000)))[0]
                for i in range(REQUESTS)]
        report("_addscore with %d scores" % SCORES, adds)
        last = "/php/_getplanes.php?style=1&from=%d&num=17" % (DESIGNS - 17)
        pages = []
        for _ in range(REQUESTS):
            elapsed, body = timed_get(last)
            pages.append(elapsed)
        assert body.count(b"\n") == 18, body
        report("_getplanes last page of %d designs" % DESIGNS, pages)
    finally:
        subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", data])
        shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main()
