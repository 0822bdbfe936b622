"""What only the production stack does: nginx's per-address rate limit and the shipped logrotate
file. Servers in production mode whatever SKV_TEST_PRODUCTION says."""
import os
import shutil
import subprocess
import time
import unittest

import harness
from harness import SERVER_DIR, ServerCase, has_title


def setUpModule():
    for tool in ("nginx", "logrotate"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            raise unittest.SkipTest("%s is not installed (scripts/packages.txt)" % tool)


class RateLimitTests(ServerCase):
    make_server = classmethod(lambda cls: harness.server(
        "limited", extra=["--production", "--rate", "1", "--burst", "5"]))

    def test_a_burst_from_one_address_is_refused_in_plain_text(self):
        one, another = harness.client_addresses(2)
        answers = [self.server.get("/php/_addscore.php?data=Ann;%d;" % i, source=one) for i in range(12)]
        statuses = [status for status, _, _ in answers]
        # The burst and maybe one more within the second, then refusals the client can show.
        self.assertEqual(statuses[:6], [200] * 6, statuses)
        self.assertGreaterEqual(statuses.count(429), 5, statuses)
        refused = next(a for a in answers if a[0] == 429)
        self.assertEqual(refused[2], b"too many requests; try again in a minute\n")
        self.assertFalse(has_title(refused[2]))
        # Another address has its own allowance; pages outside the scripts are not limited.
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1", source=another)[0], 200)
        self.assertEqual(self.server.get("/", source=one)[0], 200)
        # Every refused score stayed out of the storage.
        self.assertEqual(self.server.counts()[0], statuses.count(200))


class LogRotateTests(ServerCase):
    make_server = classmethod(lambda cls: harness.server("rotated", extra=["--production"]))

    def test_shipped_logrotate_file_rotates_and_nginx_reopens(self):
        self.server.get("/php/_getplanes.php?style=1&from=0&num=1")
        with open(os.path.join(SERVER_DIR, "deploy", "logrotate")) as f:
            conf = f.read().replace("/var/lib/skv", self.server.data).replace("skv skv", "root root")
        conf = conf.replace("/run/nginx.pid", self.server.path("run", "nginx.pid"))
        with open(self.server.path("logrotate.conf"), "w") as f:
            f.write(conf)
        subprocess.run(["/usr/sbin/logrotate", "-f", "-s", self.server.path("logrotate.state"),
                        self.server.path("logrotate.conf")], check=True)
        self.assertTrue(os.path.exists(self.server.path("requests.log.1")))
        self.server.get("/php/_getplanes.php?style=1&from=7&num=1")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not any("from=7" in line for line in self.server.log_lines()):
            time.sleep(0.05)
        self.assertEqual(len(self.server.log_lines()), 1, "nginx writes into the new file")
        self.assertEqual(os.stat(self.server.path("requests.log")).st_mode & 0o077, 0)


if __name__ == "__main__":
    unittest.main()
