"""What only the production stack does: nginx's per-address limits, its slots, the unprivileged
workers, what skv can plant in its data folder, the hardened units, the shipped logrotate file, two
nodes over one store, and HTTPS with a certificate from an ACME CA. Servers in production mode
whatever SKV_TEST_PRODUCTION says."""
import hashlib
import http.client
import io
import json
import os
import pwd
import re
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import unittest

import acme
import harness
from harness import SERVER_DIR, ServerCase, design_bytes, has_title, wait_until

_nodes = {}
# What the Starter sends, and the status each answers with on port 80: never a redirect.
SCRIPTS = [("/php/_addscore.php?data=Tls%20Pilot;4711;", 200), ("/php/_getplanes.php?style=1&from=0&num=17", 200),
           ("/php/_addplane.php?data=1", 400)]


def setUpModule():
    harness.in_one_suite(True, "these servers run in production mode")
    for tool in ("nginx", "logrotate"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            raise unittest.SkipTest("%s is not installed (scripts/packages.txt)" % tool)


class ProductionCase(ServerCase):
    """A test against a production server of its own (name, options of start.sh)."""
    production = "limited", ["--doubles", "--rate", "1", "--burst", "5", "--page-rate", "1", "--page-burst", "5",
                             "--conns", "2"]

    @classmethod
    def setUpClass(cls):
        name, options = cls.production
        cls.server = harness.server(name, extra=["--production"] + options)


class RateLimitTests(ProductionCase):
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


def children(pidfile):
    """The pids of the children of the process a pid file names."""
    with open(pidfile) as f:
        parent = f.read().split()[0]
    return subprocess.run(["pgrep", "-P", parent], capture_output=True, text=True).stdout.split()


class LeastPrivilegeTests(ProductionCase):
    def test_workers_and_the_ftp_server_run_as_skv(self):
        if os.geteuid() != 0:
            self.skipTest("as another user, the servers run as that user")
        def owner(pid):
            return pwd.getpwuid(os.stat("/proc/%s" % pid).st_uid).pw_name

        def children_owners(pidfile):
            found = children(self.server.records(*pidfile))
            self.assertTrue(found, "the workers of " + "/".join(pidfile))
            return {owner(pid) for pid in found}

        self.assertEqual(children_owners(("run", "nginx.pid")), {"skv"})
        self.assertEqual(children_owners(("run", "php-fpm.pid")), {"skv"})
        with open(self.server.records("ftp.pid")) as f:
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


class PlantedFilesTests(unittest.TestCase):
    """A bug in a script runs as skv, which may change anything in its data folder: nothing it puts
    there makes root hand over, follow, kill or overwrite anything, or stop the rotation."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("as another user, the servers run as that user")

    def as_skv(self, script):
        return subprocess.run(["runuser", "-u", "skv", "--", "sh", "-c", script], capture_output=True).returncode

    def test_what_skv_plants_moves_root_to_nothing(self):
        server = harness.server("planted", ini="log_check_interval = 1\nlog_max_bytes = 4000\n",
                                extra=["--production"] + harness.LIFTED)
        mine = tempfile.mkdtemp(dir=harness.TMP)  # root's own, and a file only root may read
        secret = os.path.join(mine, "secret")
        with open(secret, "w") as f:
            f.write("root's own\n")
        state = lambda: [(st.st_uid, st.st_gid, st.st_mode, st.st_mtime) for st in map(os.stat, (mine, secret))]
        before = state()
        bystander = subprocess.Popen(["sleep", "600"], start_new_session=True)
        self.addCleanup(bystander.wait)
        self.addCleanup(bystander.kill)
        with open("/proc/%d/stat" % bystander.pid) as f:
            since = f.read().split()[21]
        data = server.data
        # The storage names root's folder; links where root's files were; another's pid as the logs'.
        self.assertEqual(self.as_skv("""cd %s && printf 'storage = "%s"\\n' >> server.ini &&
            for f in requests.log nginx-error.log php-errors.log logs.settings web.settings; do ln -sf %s $f; done &&
            echo '%d %s' > logs.pid""" % (data, mine, secret, bystander.pid, since)), 0)
        self.assertEqual(self.as_skv("for f in requests.log logs.pid run/logrotate.conf run/new; do ln -sf %s %s/$f &&"
                                     " exit 1; done; exit 0" % (secret, server.records())), 0, "root's records")

        subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", data, "--only", "logs"], check=True)
        self.assertIsNone(bystander.poll(), "killed")
        server.stop()
        started = subprocess.run(server.start_args(), capture_output=True, text=True)
        # The FTP server, as skv, cannot use a folder of root's for the designs.
        self.assertEqual(started.returncode, 1, started.stdout)
        self.assertIn("Permission denied: '%s/planes'" % mine, started.stderr)
        self.assertEqual(state(), before)

        self.assertEqual(self.as_skv("sed -i /^storage/d %s/server.ini" % data), 0)
        server.start()
        log = server.records("requests.log")
        while os.path.getsize(log) <= 4000:
            server.get("/howto.php")
        # Past log_max_bytes: the loop rotates it and nginx's master reopens its logs.
        wait_until(lambda: os.path.exists(log + ".1") and reopened(server, log), "a rotation after the restart")
        self.assertEqual(state(), before)
        self.assertIsNone(bystander.poll(), "killed")
        for name in ("run", "run/logrotate.conf", "run/nginx.conf", "logs.pid", "logs.settings", "web.settings"):
            self.assertEqual(os.lstat(server.records(name)).st_uid, 0, name)


class LogRotateTests(ProductionCase):
    production = "rotated", []

    def test_shipped_logrotate_file_rotates_and_nginx_reopens(self):
        log = self.server.records("requests.log")
        self.server.get("/php/_getplanes.php?style=1&from=0&num=1")
        # nginx writes a request's line after the answer, and an empty log is not rotated.
        wait_until(lambda: os.path.getsize(log) and os.path.getsize(self.server.records("fpm.log")), "the first lines")
        # deploy/logrotate as start.sh filled it for this data folder.
        subprocess.run(["/usr/sbin/logrotate", "-f", "-s", self.server.records("logrotate.state"),
                        self.server.records("run", "logrotate.conf")], check=True)
        for name in ("requests.log", "fpm.log"):
            self.assertTrue(os.path.exists(self.server.records(name + ".1")), name)
        # The signal only asks: a request served before the master and its worker reopened would
        # be logged into the old file.
        wait_until(lambda: reopened(self.server, log), "nginx to reopen its log")
        self.server.get("/php/_getplanes.php?style=1&from=7&num=1")
        wait_until(lambda: any("from=7" in line for line in self.server.log_lines()), "the line in the new file")
        self.assertEqual(len(self.server.log_lines()), 1)
        self.assertEqual(os.stat(log).st_mode & 0o077, 0)


def reopened(server, path):
    """True once nginx's master and its workers all have the file now at path open."""
    pidfile = server.records("run", "nginx.pid")
    with open(pidfile) as f:
        pids = [f.read().strip()] + children(pidfile)
    want = os.stat(path)[1:3]  # inode and device

    def this_file(fd):
        try:
            return os.stat(fd)[1:3] == want
        except OSError:
            return False
    return all(any(this_file("/proc/%s/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%s/fd" % pid)) for pid in pids)


class TwoNodeTests(unittest.TestCase):
    """Two web nodes (nginx, PHP-FPM, FTP) over one PostgreSQL and one design storage: what one node
    takes in, the other serves."""

    @classmethod
    def setUpClass(cls):
        reason = harness.postgres_missing()
        if reason:
            raise unittest.SkipTest(reason)
        pg = harness.postgres_database("nodes", durable=False)
        shared = harness.servers_folder(tempfile.mkdtemp(prefix="skv-shared-", dir=harness.TMP))
        ini = pg.ini("storage = %s\n" % shared, dbname="nodes")
        _nodes["a"] = harness.server("node-a", ini=ini, extra=["--production"])
        _nodes["b"] = harness.server("node-b", ini=ini, extra=["--production"])

    @classmethod
    def tearDownClass(cls):
        for name in ("node-a", "node-b"):
            if name in harness._started:
                harness._started.pop(name).stop()
    def test_a_design_taken_in_by_one_node_is_served_by_the_other(self):
        a, b = _nodes["a"], _nodes["b"]
        data = design_bytes(name=b"Twin Jet", body=b"across nodes" * 20)
        self.assertTrue(a.upload("70de01.plane", data).startswith("226"))
        status, _, body = a.get("/php/_addplane.php?data=1000;2000;30;40;50;800;5000;Twin%20Jet;70de01.plane;")
        self.assertEqual(status, 200, body)
        status, _, body = b.get("/php/_getplanes.php?style=1&from=0&num=17")
        self.assertEqual(body.decode().split("\n")[1].split(";")[:2], ["Twin Jet", "70de01.plane"])
        got = io.BytesIO()
        ftp = b.ftp()
        self.addCleanup(ftp.close)
        ftp.retrbinary("RETR 70de01.plane", got.write)
        self.assertEqual(got.getvalue(), data)
        self.assertEqual(b.get("/download.php?file=70de01.plane")[2], data)
        # The registration is done once, whichever node is asked again.
        self.assertEqual(b.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Again;70de01.plane;")[0], 409)

    def test_pages_kept_by_one_node_follow_writes_through_the_other(self):
        a, b = _nodes["a"], _nodes["b"]
        versions = "echo json_encode(store_versions(db()));"
        pages = ("/php/_getplanes.php?style=1&from=0&num=100", "/designs.php", "/hiscores.php", "/")
        before = {p: b.get(p)[2] for p in pages}
        self.assertEqual({p: b.get(p)[2] for p in pages if p != "/"}, {p: before[p] for p in pages if p != "/"})
        self.assertTrue(a.upload("cace01.plane", design_bytes(name=b"Fresh Jet")).startswith("226"))
        state = json.loads(a.php(versions))
        self.assertEqual(a.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Fresh%20Jet;cace01.plane;")[0], 200)
        after = json.loads(a.php(versions))
        self.assertEqual((after["scores"], after["planes"] != state["planes"]), (state["scores"], True))
        for page in pages[:2]:
            self.assertIn(b"Fresh Jet", b.get(page)[2])
        self.assertEqual(a.get("/php/_addscore.php?data=Fresh%20Pilot;123;")[0], 200)
        final = json.loads(a.php(versions))
        self.assertEqual((final["planes"], final["scores"] != after["scores"]), (after["planes"], True))
        for page in pages[2:]:
            self.assertIn(b"Fresh Pilot", b.get(page)[2])

    def test_a_rank_on_one_node_counts_scores_stored_through_the_other(self):
        a, b = _nodes["a"], _nodes["b"]
        for name, score in (("Ann", 700), ("Bob", 500)):
            self.assertEqual(a.get("/php/_addscore.php?data=%s;%d;" % (name, score))[0], 200)
        self.assertEqual(b.get("/php/_addscore.php?data=Cid;600;")[2], b"2")
        self.assertEqual(a.get("/php/_addscore.php?data=Dan;550;")[2], b"3")


if __name__ == "__main__":
    unittest.main()


class TlsTests(unittest.TestCase):
    """HTTPS with real parts on loopback: pebble issues a certificate to certbot by webroot, nginx
    serves it, curl verifies it against pebble's root; a forced renewal under requests."""

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not all(map(shutil.which, ("pebble", "pebble-challtestsrv", "certbot", "curl"))):
            raise unittest.SkipTest("needs root, pebble, certbot and curl (scripts/packages.txt)")
        addr = harness.free_address((80, 21, 443))
        cls.acme = acme.Acme(addr)
        cls.addClassCleanup(cls.acme.stop)
        cls.server = harness.Server(addr, "tls", extra=["--production", *harness.LIFTED, "--acme", cls.acme.webroot])
        cls.addClassCleanup(cls.server.stop)
        cls.cert, key = cls.acme.issue("/usr/sbin/nginx -c %s -s reload" % cls.server.records("run", "nginx.conf"))
        cls.server.extra += ["--tls", cls.cert, key]
        cls.server.start()
        cls.root = cls.acme.root_pem()
        cls.server.admin("seed-planes", 3)

    def curl(self, *options):
        return subprocess.run(["curl", "-sS", "--resolve", "%s:443:%s" % (acme.HOST, self.server.addr), "-o", "/dev/null",
                               "-w", "%{http_version}", *options, "https://%s/" % acme.HOST], capture_output=True, text=True)

    def https(self, target, headers=None):
        """(status, headers, body, the served certificate's serial) over a new TLS connection."""
        context = ssl.create_default_context(cafile=self.root)
        conn = http.client.HTTPSConnection(acme.HOST, context=context, timeout=10)
        conn.sock = context.wrap_socket(socket.create_connection((self.server.addr, 443), timeout=10),
                                        server_hostname=acme.HOST)
        serial = conn.sock.getpeercert()["serialNumber"].upper()
        try:
            conn.request("GET", target, headers=headers or {})
            resp = conn.getresponse()
            return resp.status, resp.headers, resp.read(), serial
        finally:
            conn.close()

    def test_https_with_http2_both_tls_versions_compression_and_versioned_files(self):
        for options, version in ((["--http2"], "2"), (["--http1.1", "--tlsv1.2", "--tls-max", "1.2"], "1.1"),
                                 (["--http1.1", "--tlsv1.3"], "1.1")):
            out = self.curl("--cacert", self.root, *options)
            self.assertEqual((out.returncode, out.stdout), (0, version), out.stderr)
        self.assertNotEqual(self.curl().returncode, 0)  # only pebble's root vouches for it
        status, headers, page, _ = self.https("/")
        self.assertIsNone(headers["Strict-Transport-Security"])  # docs/SERVER.md: WinINet
        self.assertEqual(self.https("/", {"Accept-Encoding": "gzip"})[1]["Content-Encoding"], "gzip")
        versioned = dict(re.findall(r'"/site/(style\.css|badge\.png)\?v=([0-9a-f]+)"', page.decode()))
        for name, version in versioned.items():
            with open(os.path.join(harness.SERVER_DIR, "www", "site", name), "rb") as f:
                self.assertEqual(version, hashlib.sha256(f.read()).hexdigest()[:10])
            self.assertEqual(self.https("/site/%s?v=%s" % (name, version))[1]["Cache-Control"], "max-age=315360000")
        self.assertEqual(len(versioned), 2)
        self.assertEqual(self.https("/site/style.css")[1]["Cache-Control"], "no-cache")

    def test_port_80_keeps_the_scripts_and_redirects_the_site(self):
        for target, expected in SCRIPTS:
            status, headers, body = self.server.get(target)
            self.assertEqual((status, headers["Location"]), (expected, None), target)
        self.assertEqual(self.server.get(SCRIPTS[1][0])[2].split(b"\n")[0], b"3")
        for target in ["/", "/hiscores.php?page=2", "/download.php?file=5eed0001.plane", "/robots.txt"]:
            conn = http.client.HTTPConnection(self.server.addr, 80, timeout=10)
            conn.request("GET", target, headers={"Host": acme.HOST})
            resp = conn.getresponse()
            self.assertEqual((resp.status, resp.headers["Location"]), (301, "https://%s%s" % (acme.HOST, target)))
            conn.close()
        self.assertEqual(self.server.get("/.well-known/acme-challenge/none")[0], 404)

    def test_forced_renewal_swaps_the_certificate_with_no_failed_request(self):
        before = self.https("/howto.php")[3]
        served, failures, stop = [], [], threading.Event()

        def browse():
            while not stop.is_set():
                try:
                    status, _, _, serial = self.https("/howto.php")
                    served.append(serial) if status == 200 else failures.append(status)
                except OSError as e:
                    failures.append(repr(e))

        threads = [threading.Thread(target=browse) for _ in range(3)]
        for t in threads:
            t.start()
        try:
            self.acme.certbot("renew", "--force-renewal", "--no-random-sleep-on-renew")
            new = subprocess.run(["openssl", "x509", "-in", self.cert, "-noout", "-serial"], capture_output=True,
                                 text=True, check=True).stdout.strip().split("=")[1].upper()
            self.assertNotEqual(new, before)
            harness.wait_until(lambda: served and served[-1] == new, "the renewed certificate")
        finally:
            stop.set()
            for t in threads:
                t.join()
        self.assertEqual(failures, [])
        self.assertIn(before, served)
