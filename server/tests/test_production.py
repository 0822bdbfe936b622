"""What only the production stack does: nginx's per-address limits, its slots, the unprivileged
workers, the hardened units and the shipped logrotate file. Servers in production mode whatever
SKV_TEST_PRODUCTION says."""
import os
import pwd
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import harness
from harness import SERVER_DIR, ServerCase, has_title, wait_until


def setUpModule():
    harness.in_one_suite(True, "these servers run in production mode")
    for tool in ("nginx", "logrotate"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            raise unittest.SkipTest("%s is not installed (scripts/packages.txt)" % tool)


class RateLimitTests(ServerCase):
    make_server = classmethod(lambda cls: limited_server())

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
        # Another address has its own allowance; pages have an allowance of their own.
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1", source=another)[0], 200)
        self.assertEqual(self.server.get("/", source=one)[0], 200)
        # Every refused score stayed out of the storage.
        self.assertEqual(self.server.counts()[0], statuses.count(200))

    def test_every_php_page_is_limited(self):
        one = harness.client_addresses(1)[0]
        for page in ("/", "/download.php?file=abcd.plane"):
            with self.subTest(page):
                statuses = [self.server.get(page, source=one)[0] for _ in range(12)]
                self.assertGreaterEqual(statuses.count(429), 5, statuses)

    def test_connections_per_address(self):
        one, another = harness.client_addresses(2)
        held = [threading.Thread(target=self.server.get, args=("/php/test/hold.php",),
                                 kwargs={"source": one, "timeout": 30}) for _ in range(2)]
        release = self.server.path("release")
        self.addCleanup(lambda: [t.join() for t in held])
        self.addCleanup(lambda: open(release, "w").close())
        for t in held:
            t.start()
        # A picture: no rate limit, only the count of connections.
        wait_until(lambda: self.server.get("/site/style.css", source=one)[0] == 429, "both held requests to count")
        status, _, body = self.server.get("/site/style.css", source=one)
        self.assertEqual((status, body), (429, b"too many requests; try again in a minute\n"))
        self.assertEqual(self.server.get("/site/style.css", source=another)[0], 200)

    def test_half_sent_requests_from_one_address_leave_room_for_others(self):
        one, another = harness.client_addresses(2)
        sockets = []
        self.addCleanup(lambda: [s.close() for s in sockets])
        for _ in range(1100):
            s = socket.create_connection((self.server.addr, 80), timeout=10, source_address=(one, 0))
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")  # and never the end of the header
            sockets.append(s)
        # nginx holds them all (with 1,024 worker connections it stopped taking them near 960).
        wait_until(lambda: established(self.server.addr, 80, one) == 1100, "nginx to take every connection")
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1", source=another)[0], 200)


def established(local, port, remote):
    """Connections the server side at local:port holds from the remote address (/proc/net/tcp)."""
    hexed = lambda ip: "%08X" % struct.unpack("<I", socket.inet_aton(ip))[0]
    with open("/proc/net/tcp") as f:
        rows = [line.split() for line in f.readlines()[1:]]
    return sum(1 for r in rows if r[1] == "%s:%04X" % (hexed(local), port) and r[2].startswith(hexed(remote) + ":")
               and r[3] == "01")


def limited_server():
    return harness.server("limited", doubles=True, extra=[
        "--production", "--rate", "1", "--burst", "5", "--page-rate", "1", "--page-burst", "5", "--conns", "2"])


class LeastPrivilegeTests(ServerCase):
    make_server = classmethod(lambda cls: limited_server())

    def test_workers_and_the_ftp_server_run_as_skv(self):
        if os.geteuid() != 0:
            self.skipTest("as another user, the servers run as that user")
        def owner(pid):
            return pwd.getpwuid(os.stat("/proc/%s" % pid).st_uid).pw_name

        def children_owners(pidfile):
            with open(self.server.path(*pidfile)) as f:
                parent = f.read().split()[0]
            found = subprocess.run(["pgrep", "-P", parent], capture_output=True, text=True).stdout.split()
            self.assertTrue(found, "the workers of " + "/".join(pidfile))
            return {owner(pid) for pid in found}

        self.assertEqual(children_owners(("run", "nginx.pid")), {"skv"})
        self.assertEqual(children_owners(("run", "php-fpm.pid")), {"skv"})
        with open(self.server.path("ftp.pid")) as f:
            self.assertEqual(owner(f.read().split()[0]), "skv")
        self.assertEqual(pwd.getpwuid(os.stat(self.server.data).st_uid).pw_name, "skv")

    def test_units_are_valid_and_hardened(self):
        tool = shutil.which("systemd-analyze")
        if not tool:
            self.skipTest("systemd-analyze is not installed (Debian package systemd)")
        with tempfile.TemporaryDirectory() as folder:
            for unit in ("skv-web.service", "skv-ftp.service"):
                with self.subTest(unit):
                    with open(os.path.join(SERVER_DIR, "deploy", unit)) as f:
                        text = f.read()
                    for line in ("User=skv", "NoNewPrivileges=yes", "ProtectSystem=strict",
                                 "ReadWritePaths=/var/lib/skv", "PrivateTmp=yes"):
                        self.assertIn("\n%s\n" % line, text)
                    shutil.copy(os.path.join(SERVER_DIR, "deploy", unit), folder)
                    out = subprocess.run([tool, "verify", "--man=no", os.path.join(folder, unit)],
                                         capture_output=True, text=True)
                    self.assertEqual((out.returncode, out.stdout + out.stderr), (0, ""))


    def test_backup_timers_and_their_unit_are_valid(self):
        tool = shutil.which("systemd-analyze") or self.skipTest("systemd-analyze is not installed")
        with tempfile.TemporaryDirectory() as folder:
            for unit in ("skv-backup@.service", "skv-backup-full.timer", "skv-backup-diff.timer"):
                shutil.copy(os.path.join(SERVER_DIR, "deploy", unit), folder)
            out = subprocess.run([tool, "verify", "--man=no", *(os.path.join(folder, u) for u in (
                "skv-backup@full.service", "skv-backup-full.timer", "skv-backup-diff.timer"))], capture_output=True, text=True)
            self.assertEqual((out.returncode, out.stdout + out.stderr), (0, ""))


class LogRotateTests(ServerCase):
    make_server = classmethod(lambda cls: harness.server("rotated", extra=["--production"]))

    def test_shipped_logrotate_file_rotates_and_nginx_reopens(self):
        self.server.get("/php/_getplanes.php?style=1&from=0&num=1")
        # deploy/logrotate as start.sh filled it for this data folder.
        subprocess.run(["/usr/sbin/logrotate", "-f", "-s", self.server.path("logrotate.state"),
                        self.server.path("run", "logrotate.conf")], check=True)
        for log in ("requests.log", "fpm.log"):
            self.assertTrue(os.path.exists(self.server.path(log + ".1")), log)
        self.server.get("/php/_getplanes.php?style=1&from=7&num=1")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and not any("from=7" in line for line in self.server.log_lines()):
            time.sleep(0.05)
        self.assertEqual(len(self.server.log_lines()), 1, "nginx writes into the new file")
        self.assertEqual(os.stat(self.server.path("requests.log")).st_mode & 0o077, 0)


if __name__ == "__main__":
    unittest.main()
