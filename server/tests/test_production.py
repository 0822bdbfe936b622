"""What only the production stack does: nginx's per-address limits, its slots, the unprivileged
workers, what skv can plant in its data folder, the hardened units, the shipped logrotate file, two
nodes over one store, the same behind HAProxy with its health checks, the operator's numbers as
Prometheus sees them, and HTTPS with a certificate from an ACME CA. Servers in production mode
whatever SKV_TEST_PRODUCTION says."""
import ftplib
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
import urllib.parse
import urllib.request

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
        log, counts = self.server.records("requests.log"), self.server.records("metrics.log")
        self.server.get("/php/_getplanes.php?style=1&from=0&num=1")
        # nginx writes a request's line after the answer, and an empty log is not rotated.
        wait_until(lambda: all(map(os.path.getsize, (log, counts, self.server.records("fpm.log")))), "the first lines")
        # The numbers, read as the servers' user from root's folder, before and after the rotation.
        scrape = lambda: urllib.request.urlopen("http://%s:9180/metrics" % self.server.addr, timeout=10).read().decode()
        counted = 'skv_requests_total{script="_getplanes.php",status="200"} %d\n'
        self.assertIn(counted % 1, scrape())
        # deploy/logrotate as start.sh filled it for this data folder.
        subprocess.run(["/usr/sbin/logrotate", "-f", "-s", self.server.records("logrotate.state"),
                        self.server.records("run", "logrotate.conf")], check=True)
        for name in ("requests.log", "fpm.log", "metrics.log"):
            self.assertTrue(os.path.exists(self.server.records(name + ".1")), name)
        self.assertEqual((os.stat(counts).st_mode & 0o777, os.stat(counts).st_gid), (0o640, os.stat(self.server.data).st_gid))
        # The signal only asks: a request served before the master and its worker reopened would
        # be logged into the old file.
        wait_until(lambda: reopened(self.server, log), "nginx to reopen its log")
        self.server.get("/php/_getplanes.php?style=1&from=7&num=1")
        wait_until(lambda: any("from=7" in line for line in self.server.log_lines()), "the line in the new file")
        self.assertEqual(len(self.server.log_lines()), 1)
        self.assertEqual(os.stat(log).st_mode & 0o077, 0)
        wait_until(lambda: counted % 2 in scrape(), "the request counted from the new metrics log")


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



def filled(name, values):
    """A file of deploy/ with its @...@ values replaced."""
    with open(os.path.join(SERVER_DIR, "deploy", name)) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace(key, value)
    return text


def in_background(case, name, command, folder):
    """A program in a process group of its own until the test ends; its output in FOLDER/NAME.log."""
    log = open(os.path.join(folder, name + ".log"), "w")
    case.addCleanup(log.close)
    process = subprocess.Popen(command, stdout=log, stderr=log, start_new_session=True)
    case.addCleanup(process.wait, 10)
    case.addCleanup(process.terminate)


def exchange(addr, player, target, first=b"", headers=(), tls=None):
    """One request from the player's address, after the bytes first, over HTTPS with the context
    tls; returns (status, body), status 0 for a connection closed without an answer."""
    s = socket.create_connection((addr, 443 if tls else 80), timeout=10, source_address=(player, 0))
    with (tls.wrap_socket(s, server_hostname=acme.HOST) if tls else s) as s:
        s.sendall(first + ("GET %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: SKV Starter\r\n%s\r\n"
                           % (target, acme.HOST, "".join(h + "\r\n" for h in headers))).encode())
        head, _, body = b"".join(iter(lambda: s.recv(65536), b"")).partition(b"\r\n\r\n")
    return int(head.split()[1]) if head else 0, body


class BalancerTests(unittest.TestCase):
    """Two nodes on one PostgreSQL and one design storage behind HAProxy (deploy/haproxy.cfg): every
    protection holds per player, a forged address gains nothing, what one node takes in the other
    serves, and a node whose PHP stops is taken out while players go on."""
    REGISTER = "/php/_addplane.php?data=1000;2000;30;40;50;800;5000;Sky%%20Jet;%s;"

    @classmethod
    def setUpClass(cls):
        reason = harness.postgres_missing()
        if reason or not os.path.exists("/usr/sbin/haproxy"):
            raise unittest.SkipTest(reason or "haproxy is not installed (scripts/packages.txt)")
        cls.addr = harness.free_address((80, 443))
        shared = harness.servers_folder(tempfile.mkdtemp(prefix="skv-shared-", dir=harness.TMP))
        ini = harness.postgres_database("balanced", durable=False).ini(
            "storage = %s\nquota_designs_per_address = 2\nbalancers = %s\n" % (shared, cls.addr), dbname="balanced")
        # One certificate on both nodes, as an operator copies it; HTTPS passes the balancer too.
        cert, key = (os.path.join(tempfile.mkdtemp(dir=harness.TMP), name) for name in ("cert.pem", "key.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", "2", "-subj", "/CN=" + acme.HOST, "-addext", "subjectAltName=DNS:" + acme.HOST,
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        cls.tls = ssl.create_default_context(cafile=cert)
        # Tight limits: one player's burst must meet them, another player must not.
        cls.nodes = [harness.server("balanced-%d" % i, harness.free_address((80, 21, 443)), ini=ini,
                                    extra=["--production", "--rate", "1", "--burst", "5", "--tls", cert, key])
                     for i in (1, 2)]
        config = os.path.join(harness.TMP, "haproxy.cfg")
        with open(config, "w") as f:
            f.write(filled("haproxy.cfg", {"@BALANCER@": cls.addr, "@SOURCE@": cls.addr, "@STATS@": config + ".sock",
                                           "@HOST@": acme.HOST, "@NODE1@": cls.nodes[0].addr,
                                           "@NODE2@": cls.nodes[1].addr}))
        cls.haproxy = subprocess.Popen(["/usr/sbin/haproxy", "-db", "-f", config], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        wait_until(lambda: subprocess.run(["bash", "-c", "exec 3<>/dev/tcp/%s/80" % cls.addr],
                                          stderr=subprocess.DEVNULL).returncode == 0,
                   "HAProxy to listen")

    @classmethod
    def tearDownClass(cls):
        cls.haproxy.terminate()
        cls.haproxy.wait(10)
        for name in ("balanced-1", "balanced-2"):
            harness._started.pop(name).stop()

    def through(self, target, player, headers=(), tls=False):
        return exchange(self.addr, player, target, headers=headers, tls=tls and self.tls)

    def node_of(self, player):
        """The node the balancer sends the player to, and the other: found in their request logs."""
        self.through("/howto.php", player)
        seen = lambda node: any(line.endswith("\t" + player) for line in node.log_lines())
        wait_until(lambda: any(map(seen, self.nodes)), "the request in a node's log")
        return self.nodes if seen(self.nodes[0]) else self.nodes[::-1]

    def test_each_player_keeps_their_own_quota_and_rate_limit(self):
        one = harness.client_addresses(1)[0]
        node = self.node_of(one)[0]
        # Another player on the same node: the node's limits would be shared if it saw one address.
        another = next(a for a in iter(lambda: harness.client_addresses(1)[0], None) if self.node_of(a)[0] is node)
        for i in range(2):
            node.upload("a11%d.plane" % i, design_bytes(), one)
            self.assertEqual(self.through(self.REGISTER % ("a11%d.plane" % i), one)[0], 200)
        with self.assertRaises(ftplib.error_temp) as err:  # the registrations counted against the player
            node.upload("a119.plane", design_bytes(), one)
        self.assertIn("keeps 2 designs", str(err.exception))
        node.upload("b110.plane", design_bytes(), another)
        self.assertEqual(self.through(self.REGISTER % "b110.plane", another)[0], 200)
        statuses = [self.through("/php/_addscore.php?data=Burst;%d;" % i, one)[0] for i in range(10)]
        self.assertGreaterEqual(statuses.count(429), 3, statuses)
        self.assertEqual(self.through("/php/_addscore.php?data=Calm;1;", another)[0], 200)

    def test_a_forged_address_gains_nothing(self):
        owner, thief = harness.client_addresses(2)
        node = self.nodes[0]
        node.upload("f0f9e.plane", design_bytes(), owner)
        target = self.REGISTER % "f0f9e.plane"
        proxy = ("PROXY TCP4 %s %s 40000 80\r\n" % (owner, node.addr)).encode()
        for what, first, headers, addr in (("through the balancer", b"", (), self.addr),
                                           ("with X-Forwarded-For", b"", ["X-Forwarded-For: " + owner], self.addr),
                                           ("with a PROXY header straight to a node", proxy, (), node.addr)):
            with self.subTest(what):
                self.assertEqual(exchange(addr, thief, target, first, headers),
                                 (403, b"file was uploaded from another address\n"))
        # The nodes saw and logged the thief's own address each time.
        lines = lambda: [line.rsplit("\t", 1)[1] for n in self.nodes for line in n.log_lines() if "f0f9e" in line]
        wait_until(lambda: len(lines()) == 3, "the three lines in the request logs")
        self.assertEqual(lines(), [thief] * 3)
        self.assertEqual(self.through(target, owner)[0], 200)

    def test_a_design_taken_in_by_one_node_is_registered_and_fetched_through_the_other(self):
        player = harness.client_addresses(1)[0]
        serving, other = self.node_of(player)
        data = design_bytes(name=b"Twin Jet", body=b"across nodes" * 20)
        # FTP goes straight to a node (DNS round robin): here the one the balancer does not pick.
        other.upload("7e1de01.plane", data, player)
        self.assertEqual(self.through(self.REGISTER % "7e1de01.plane", player), (200, b"registered\n"))
        # The website over HTTPS, its player named to the node by the PROXY header there too; port 80
        # sends it there, and keeps the Starter's scripts and the balancer's checks.
        self.assertEqual(self.through("/download.php?file=7e1de01.plane", player, tls=True), (200, data))
        self.assertEqual(self.through("/download.php?file=7e1de01.plane", player)[0], 301)
        wait_until(lambda: sum(line.startswith("GET /download.php?file=7e1de01") and line.endswith("\t" + player)
                               for line in serving.log_lines()) == 2, "the downloads in the serving node's log")
        # FTP is no business of the balancer's: sessions from its address are refused.
        from_balancer = ftplib.FTP(timeout=10, source_address=(self.addr, 0))
        self.addCleanup(from_balancer.close)
        with self.assertRaisesRegex(ftplib.error_temp, "^421"):
            from_balancer.connect(serving.addr, 21)
        # Active mode connects back to the player only: not to the balancer, not to a privileged port.
        ftp = serving.ftp(player)
        self.addCleanup(ftp.close)
        for port in ("%s,200,10" % self.addr, "%s,0,80" % player):
            with self.subTest(port), self.assertRaisesRegex(ftplib.error_perm, "^501"):
                ftp.sendcmd("PORT " + port.replace(".", ","))

    def test_zz_a_node_whose_php_stops_is_taken_out_and_players_go_on(self):
        # Last in the class (zz): its nodes are not asked again.
        player = harness.client_addresses(1)[0]
        down, up = self.node_of(player)
        subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", down.data, "--only", "fpm"], check=True)
        # Until two checks fail the player meets the dead pool; then the other node answers.
        wait_until(lambda: self.through("/php/_addscore.php?data=Steady;0;", player)[0] == 200, "the other node")
        for i in range(1, 4):
            status, body = self.through("/php/_addscore.php?data=Steady;%d;" % i, player)
            self.assertTrue(status == 200 and body.isdigit(), (status, body))
        wait_until(lambda: sum("Steady" in line for line in up.log_lines()) == 4, "the other node's log")


class HealthTests(unittest.TestCase):
    def test_health_names_the_part_that_fails(self):
        if harness.postgres_missing():
            self.skipTest(harness.postgres_missing())
        pg = harness.postgres_database("health", durable=False)
        ini = pg.ini(dbname="health")
        node = harness.server("health", ini=ini, extra=["--production", "--page-rate", "1", "--page-burst", "2"])
        player = harness.client_addresses(1)[0]
        # Twenty at once from one address, where a page allows three.
        self.assertEqual([node.get("/health", source=player)[::2] for _ in range(20)], [(200, b"ok\n")] * 20)

        def write_ini(text):
            with open(node.path("server.ini"), "w") as f:
                f.write(text)
        self.addCleanup(write_ini, ini)
        write_ini(ini.replace(pg.addr, harness.free_address((5432,))))  # a database nobody answers on
        self.assertEqual(node.get("/health")[::2], (503, b"database: does not answer\n"))
        write_ini(ini)
        self.assertEqual(node.get("/health")[0], 200)
        uploads = node.path("uploads")
        os.chmod(uploads, 0o500)  # the servers' user can no longer write there
        self.addCleanup(os.chmod, uploads, 0o700)
        self.assertEqual(node.get("/health")[::2], (503, b"storage: cannot write into %s\n" % uploads.encode()))


class PrometheusTests(unittest.TestCase):
    def query(self, expression):
        url = "http://%s:9090/api/v1/query?%s" % (self.addr, urllib.parse.urlencode({"query": expression}))
        try:
            with urllib.request.urlopen(url, timeout=5) as answer:
                result = json.load(answer)["data"]["result"]
        except OSError:
            return None  # not up yet
        return sum(float(r["value"][1]) for r in result) if result else None

    def test_prometheus_sees_uploads_and_refusals_by_reason(self):
        if harness.postgres_missing() or not shutil.which("prometheus"):
            self.skipTest(harness.postgres_missing() or "prometheus is not installed (scripts/packages.txt)")
        pg = harness.postgres_database("metrics", durable=False)
        # One new hiscore a day from an address: the scripts' own 429 beside nginx's.
        node = harness.server("metrics", ini=pg.ini("quota_scores_per_address_day = 1\n", dbname="metrics"),
                              extra=["--production", "--rate", "1", "--burst", "2"])
        player, other = harness.client_addresses(2)
        for file in ("3e7c01.plane", "3e7c02.plane"):
            node.upload(file, design_bytes(), player)
        register = "/php/_addplane.php?data=1;2;3;4;5;6;7;Jet;%s;"
        self.assertEqual(node.get(register % "3e7c01.plane", source=player)[0], 200)
        self.assertEqual(node.get(register % "3e7c02.plane", source=other)[0], 403)
        answers = [node.get("/php/_addscore.php?data=Ann;%d;" % i, source=player) for i in range(8)]
        statuses = [status for status, _, _ in answers]
        quota = sum(status == 429 and body.startswith(b"your address has sent") for status, _, body in answers)
        self.assertTrue(0 < quota < statuses.count(429), answers)

        # Prometheus and the exporters Debian ships, each with its file from deploy/.
        folder = tempfile.mkdtemp(prefix="skv-prometheus-", dir=harness.TMP)
        self.addr = harness.free_address((9090, 9113, 9187))
        values = {"@INTERVAL@": "1s", "@NODES@": "'%s:9180'" % node.addr, "@METRICS@": node.addr + ":9180",
                  "@NGINXEXPORTER@": self.addr + ":9113", "@PGEXPORTER@": self.addr + ":9187",
                  "@DSN@": "host=%s user=skv dbname=metrics sslmode=disable" % pg.addr}
        for name, listen in (("prometheus-nginx-exporter", ":9113"), ("prometheus-postgres-exporter", ":9187")):
            with open(os.path.join(folder, name), "w") as f:
                f.write(filled(name, dict(values, **{"@LISTEN@": self.addr + listen})))
            in_background(self, name, ["bash", "-c", 'set -a; . "$0"; exec "$1" $ARGS', folder + "/" + name,
                                       "/usr/bin/" + name], folder)
        with open(os.path.join(folder, "prometheus.yml"), "w") as f:
            f.write(filled("prometheus.yml", values))
        in_background(self, "prometheus", ["/usr/bin/prometheus", "--config.file", folder + "/prometheus.yml",
                                           "--storage.tsdb.path", folder + "/tsdb",
                                           "--web.listen-address", self.addr + ":9090"], folder)
        wanted = {
            'skv_uploads_total{result="stored"}': statuses.count(200),
            'skv_uploads_total{result="rate"}': statuses.count(429) - quota,
            'skv_uploads_total{result="quota"}': quota,
            'skv_requests_total{script="_addscore.php",status="429"}': statuses.count(429),
            'skv_store_seconds_count{script="_addscore.php"}': statuses.count(200),
            'skv_registrations_total{result="stored"}': 1,
            'skv_registrations_total{result="binding"}': 1,
            "skv_ftp_uploads_total": 2,  # written by the FTP server every 5 s
            'skv_healthy{part="storage"}': 1,
            "nginx_up": 1,
            "pg_up": 1,
        }
        wait_until(lambda: {q: self.query(q) for q in wanted} == wanted, "every number in Prometheus", 30)


class MetricsLogTests(unittest.TestCase):
    def test_lines_are_counted_once_across_rotations_and_restarts(self):
        folder = tempfile.mkdtemp(dir=harness.TMP)
        log = os.path.join(folder, "metrics.log")

        def read(text, mode="a"):
            """Writes text into the log, then reads it in a new process, as each scrape is."""
            with open(log, mode) as f:
                f.write(text)
            program = "require '%s/lib/metrics.php'; echo json_encode(read_metrics_log($argv[1], $argv[1] . '.state'));"
            return json.loads(subprocess.run(["php", "-r", program % SERVER_DIR, log], capture_output=True, text=True,
                                             check=True, env=dict(os.environ, SKV_DATA=folder)).stdout)
        state = read("200\t/php/_addscore.php\tstored 0.002\n429\t/php/_addscore.php\t-\n404\t/no/such\\x09page\t-\n")
        self.assertEqual((state["requests"], state["uploads"], state["store"]["_addscore.php"]["count"]),
                         ({"_addscore.php 200": 1, "_addscore.php 429": 1, "other 404": 1},
                          {"_addscore.php stored": 1, "_addscore.php rate": 1}, 1))
        with open(log, "a") as f:  # written after that read, then rotated before the next
            f.write("403\t/php/_addplane.php\tbinding\n200\t/php/_addscore.php\tstor")  # the last line unfinished
        os.rename(log, log + ".1")  # the rest of the old file counts before the new one
        state = read("200\t/php/_addplane.php\tinvented\n", "w")
        self.assertEqual(state["requests"], {"_addscore.php 200": 1, "_addscore.php 429": 1, "other 404": 1,
                                             "_addplane.php 403": 1, "_addplane.php 200": 1})
        self.assertEqual(state["uploads"]["_addplane.php error"], 1, "an outcome it does not know")
        self.assertEqual(read("500\t/\t-\n", "w")["requests"]["index.php 500"], 1, "emptied in place")


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
