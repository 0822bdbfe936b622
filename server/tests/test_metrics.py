"""The operator's numbers: Debian's Prometheus scrapes a node with deploy/prometheus.yml and sees
uploads and refusals by reason, beside the exporters of deploy/; and the counting of the metrics
log itself, across rotations and restarts."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse
import urllib.request

import harness
import test_postgres
from harness import design_bytes, wait_until

DEPLOY = os.path.join(harness.SERVER_DIR, "deploy")


def fill(name, values):
    with open(os.path.join(DEPLOY, name)) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace(key, value)
    return text


class PrometheusTests(unittest.TestCase):
    def setUp(self):
        harness.in_one_suite(True, "the metrics are nginx's")
        reason = test_postgres._skip_reason()
        if reason or not shutil.which("prometheus"):
            self.skipTest(reason or "prometheus is not installed (scripts/packages.txt)")
        self.folder = tempfile.mkdtemp(prefix="skv-prometheus-", dir=harness.TMP)

    def run_in_background(self, command, env=None):
        log = open(os.path.join(self.folder, os.path.basename(command[0]) + ".log"), "w")
        self.addCleanup(log.close)
        process = subprocess.Popen(command, stdout=log, stderr=log, env=env, start_new_session=True)
        self.addCleanup(process.wait, 10)
        self.addCleanup(process.terminate)

    def exporter(self, name, values):
        """A Debian exporter with the ARGS (and environment) of its /etc/default file from deploy/."""
        path = os.path.join(self.folder, name)
        with open(path, "w") as f:
            f.write(fill(name, values))
        self.run_in_background(["bash", "-c", 'set -a; . "$1"; exec "$0" $ARGS', "/usr/bin/" + name, path])

    def query(self, expression):
        url = "http://%s:9090/api/v1/query?%s" % (self.prometheus, urllib.parse.urlencode({"query": expression}))
        try:
            with urllib.request.urlopen(url, timeout=5) as answer:
                result = json.load(answer)["data"]["result"]
        except OSError:
            return None  # not up yet
        return sum(float(r["value"][1]) for r in result) if result else None

    def test_prometheus_sees_uploads_and_refusals_by_reason(self):
        pg = harness.postgres_database("metrics", durable=False)
        node = harness.server("metrics", ini=pg.ini(dbname="metrics"), extra=["--production", "--rate", "1", "--burst", "2"])
        player, other = harness.client_addresses(2)
        for file in ("3e7c01.plane", "3e7c02.plane"):
            node.upload(file, design_bytes(), player)
        register = "/php/_addplane.php?data=1;2;3;4;5;6;7;Jet;%s;"
        self.assertEqual(node.get(register % "3e7c01.plane", source=player)[0], 200)
        self.assertEqual(node.get(register % "3e7c02.plane", source=other)[0], 403)
        statuses = [node.get("/php/_addscore.php?data=Ann;%d;" % i, source=player)[0] for i in range(8)]
        self.assertIn(429, statuses)

        self.prometheus = harness.free_address((9090, 9113, 9187))
        nginx_exporter, pg_exporter = self.prometheus + ":9113", self.prometheus + ":9187"
        self.exporter("prometheus-nginx-exporter", {"@METRICS@": node.addr + ":9180", "@LISTEN@": nginx_exporter})
        self.exporter("prometheus-postgres-exporter", {
            "@DSN@": "host=%s user=skv dbname=metrics sslmode=disable" % pg.addr, "@LISTEN@": pg_exporter})
        config = os.path.join(self.folder, "prometheus.yml")
        with open(config, "w") as f:
            f.write(fill("prometheus.yml", {"@INTERVAL@": "1s", "@NODES@": "'%s:9180'" % node.addr,
                                            "@NGINXEXPORTER@": nginx_exporter, "@PGEXPORTER@": pg_exporter}))
        self.run_in_background(["prometheus", "--config.file", config, "--storage.tsdb.path", self.folder + "/tsdb",
                                "--web.listen-address", self.prometheus + ":9090"])

        wanted = {
            'skv_uploads_total{result="stored"}': statuses.count(200),
            'skv_uploads_total{result="rate"}': statuses.count(429),
            'skv_requests_total{script="_addscore.php",status="429"}': statuses.count(429),
            'skv_store_seconds_count{script="_addscore.php"}': statuses.count(200),
            'skv_registrations_total{result="stored"}': 1,
            'skv_registrations_total{result="binding"}': 1,
            "skv_ftp_uploads_total": 2,  # written by the FTP server every 5 s
            'skv_healthy{part="storage"}': 1,
            "nginx_up": 1,
            "pg_up": 1,
        }
        wait_until(lambda: all(self.query(q) is not None for q in wanted), "every number in Prometheus", 30)
        wait_until(lambda: self.query("skv_ftp_uploads_total") == 2, "the FTP server's numbers", 15)
        self.assertEqual({q: self.query(q) for q in wanted}, wanted)


class MetricsLogTests(unittest.TestCase):
    def setUp(self):
        harness.in_one_suite(True, "nginx writes the metrics log")

    def read(self, folder):
        program = "require '%s/lib/metrics.php'; echo json_encode(read_metrics_log($argv[1], $argv[2]));" % (
            harness.SERVER_DIR)
        out = subprocess.run(["php", "-r", program, folder + "/metrics.log", folder + "/metrics.state"],
                             capture_output=True, text=True, check=True, env=dict(os.environ, SKV_DATA=folder))
        state = json.loads(out.stdout)
        return state["requests"], state["uploads"], state["store"].get("_addscore.php", {}).get("count", 0)

    def test_lines_are_counted_once_across_rotations_and_restarts(self):
        folder = tempfile.mkdtemp(dir=harness.TMP)
        log = os.path.join(folder, "metrics.log")

        def write(text, mode="a"):
            with open(log, mode) as f:
                f.write(text)
        write("200\t/php/_addscore.php\tstored 0.002\n429\t/php/_addscore.php\t-\n404\t/no/such\\x09page\t-\n")
        self.assertEqual(self.read(folder), ({"_addscore.php 200": 1, "_addscore.php 429": 1, "other 404": 1},
                                             {"_addscore.php stored": 1, "_addscore.php rate": 1}, 1))
        # Each read is a new process, as a scrape is a new request: the state file carries the totals.
        write("403\t/php/_addplane.php\tbinding\n200\t/php/_addscore.php\tstor")  # the last line is unfinished
        os.rename(log, log + ".1")  # rotated: the rest of the old file counts before the new one
        write("200\t/php/_addplane.php\tinvented\n", "w")
        requests, uploads, stored = self.read(folder)
        self.assertEqual((requests["_addplane.php 403"], requests["_addplane.php 200"], requests["_addscore.php 200"]),
                         (1, 1, 1))
        self.assertEqual((uploads["_addplane.php binding"], uploads["_addplane.php error"]), (1, 1))
        write("500\t/\t-\n", "w")  # emptied in place and written again
        self.assertEqual(self.read(folder)[0]["index.php 500"], 1)


if __name__ == "__main__":
    unittest.main()
