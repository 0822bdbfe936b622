"""Two production nodes on one PostgreSQL and one design storage behind HAProxy (deploy/haproxy.cfg):
every protection holds per player, a forged address gains nothing, what one node takes in the other
serves, and a node whose PHP stops is taken out while players go on."""
import ftplib
import io
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

import harness
import test_postgres
from harness import design_bytes, wait_until

NUMBERS = "1000;2000;30;40;50;800;5000"
_set = {}


def setUpModule():
    harness.in_one_suite(True, "the nodes run in production mode")
    reason = test_postgres._skip_reason()
    if reason or not shutil.which("haproxy") and not os.path.exists("/usr/sbin/haproxy"):
        raise unittest.SkipTest(reason or "haproxy is not installed (scripts/packages.txt)")
    pg = harness.postgres_database("balanced", durable=False)
    shared = tempfile.mkdtemp(prefix="skv-shared-", dir=harness.TMP)
    ini = pg.ini("storage = %s\nquota_designs_per_address = 2\n" % shared, dbname="balanced")
    _set["balancer"] = Balancer(harness.free_address())
    # Tight limits: one player's burst must meet them, another player must not.
    limits = ["--production", "--balancers", _set["balancer"].addr, "--rate", "1", "--burst", "5"]
    _set["nodes"] = [harness.server("balanced-%d" % i, ini=ini, extra=limits) for i in (1, 2)]
    _set["balancer"].start(_set["nodes"])


def tearDownModule():
    if "balancer" in _set:
        _set["balancer"].stop()
    for name in ("balanced-1", "balanced-2"):
        if name in harness._started:
            harness._started.pop(name).stop()


class Balancer:
    """HAProxy from deploy/haproxy.cfg, in the foreground in a process group of its own."""

    def __init__(self, addr):
        self.addr, self.process = addr, None
        self.folder = tempfile.mkdtemp(prefix="skv-haproxy-", dir=harness.TMP)
        self.socket = os.path.join(self.folder, "admin.sock")

    def start(self, nodes):
        with open(os.path.join(harness.SERVER_DIR, "deploy", "haproxy.cfg")) as f:
            config = f.read()
        for key, value in {"@BALANCER@": self.addr, "@SOURCE@": self.addr, "@STATS@": self.socket,
                           "@HOST@": "www.skyvora.example", "@NODE1@": nodes[0].addr, "@NODE2@": nodes[1].addr}.items():
            config = config.replace(key, value)
        path = os.path.join(self.folder, "haproxy.cfg")
        with open(path, "w") as f:
            f.write(config)
        self.log = open(os.path.join(self.folder, "haproxy.log"), "w")
        self.process = subprocess.Popen(["/usr/sbin/haproxy", "-db", "-f", path], stdout=self.log, stderr=self.log,
                                        start_new_session=True)
        wait_until(lambda: self.states() == {"node1": "UP", "node2": "UP"}, "both nodes to be in")

    def states(self):
        """Node name -> UP or DOWN (a check in progress shows its way, e.g. "DOWN 1/2")."""
        try:
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(self.socket)
                s.sendall(b"show stat\n")
                text = b"".join(iter(lambda: s.recv(65536), b"")).decode()
        except OSError:
            return {}
        rows = [line.split(",") for line in text.splitlines() if line.startswith("nodes,node")]
        return {r[1]: r[17] for r in rows}

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(10)
            self.log.close()


def through(target, player, headers=()):
    """A request through the balancer from the player's address, with any extra header lines."""
    s = socket.create_connection((_set["balancer"].addr, 80), timeout=10, source_address=(player, 0))
    return exchange(s, b"", target, headers)


def exchange(s, first, target, headers=()):
    with s:
        s.sendall(first + ("GET %s HTTP/1.0\r\nHost: www.skyvora.example\r\nUser-Agent: SKV Starter\r\n%s\r\n"
                           % (target, "".join(h + "\r\n" for h in headers))).encode())
        answer = b"".join(iter(lambda: s.recv(65536), b""))
    head, _, body = answer.partition(b"\r\n\r\n")
    return int(head.split()[1]), body


def register(file, player, headers=()):
    return through("/php/_addplane.php?data=%s;Sky%%20Jet;%s;" % (NUMBERS, file), player, headers)


def node_of(player):
    """The node the balancer sends the player to, and the other: found in their request logs."""
    through("/howto.php?who=%s" % player, player)
    nodes = _set["nodes"]
    wait_until(lambda: any(player in line for n in nodes for line in n.log_lines()), "the request in a node's log")
    first = any(line.endswith("\t" + player) for line in nodes[0].log_lines())
    return (nodes[0], nodes[1]) if first else (nodes[1], nodes[0])


class BalancedPlayerTests(unittest.TestCase):
    def test_each_player_keeps_their_own_quota_and_rate_limit(self):
        one = harness.client_addresses(1)[0]
        node = node_of(one)[0]
        # Another player on the same node: the node's limits would be shared if it saw one address.
        another = next(a for a in iter(lambda: harness.client_addresses(1)[0], None) if node_of(a)[0] is node)
        for i in range(2):
            self.assertTrue(node.upload("a11%d.plane" % i, design_bytes(), one).startswith("226"))
            self.assertEqual(register("a11%d.plane" % i, one)[0], 200)
        with self.assertRaises(ftplib.error_temp) as err:  # the registrations counted against the player
            node.upload("a119.plane", design_bytes(), one)
        self.assertIn("keeps 2 designs", str(err.exception))
        self.assertTrue(node.upload("b110.plane", design_bytes(), another).startswith("226"))
        self.assertEqual(register("b110.plane", another)[0], 200)

        statuses = [through("/php/_addscore.php?data=Burst;%d;" % i, one)[0] for i in range(10)]
        self.assertGreaterEqual(statuses.count(429), 3, statuses)
        self.assertEqual(through("/php/_addscore.php?data=Calm;1;", another)[0], 200)

    def test_a_forged_address_gains_nothing(self):
        owner, thief = harness.client_addresses(2)
        node = _set["nodes"][0]
        self.assertTrue(node.upload("f0f9e.plane", design_bytes(), owner).startswith("226"))
        forged = {
            "through the balancer": lambda: register("f0f9e.plane", thief),
            "with X-Forwarded-For": lambda: register("f0f9e.plane", thief, ["X-Forwarded-For: " + owner]),
            "with a PROXY header straight to a node": lambda: exchange(
                socket.create_connection((node.addr, 80), timeout=10, source_address=(thief, 0)),
                ("PROXY TCP4 %s %s 40000 80\r\n" % (owner, node.addr)).encode(),
                "/php/_addplane.php?data=%s;Sky%%20Jet;f0f9e.plane;" % NUMBERS),
        }
        for what, attempt in forged.items():
            with self.subTest(what):
                self.assertEqual(attempt(), (403, b"file was uploaded from another address\n"))
        # The nodes saw and logged the thief's own address each time.
        lines = lambda: [line for n in _set["nodes"] for line in n.log_lines() if "f0f9e.plane" in line]
        wait_until(lambda: len(lines()) == 3, "the three lines in the request logs")
        self.assertEqual([line.rsplit("\t", 1)[1] for line in lines()], [thief] * 3)
        self.assertEqual(register("f0f9e.plane", owner)[0], 200)

    def test_a_design_taken_in_by_one_node_is_registered_and_fetched_through_the_other(self):
        player = harness.client_addresses(1)[0]
        serving, other = node_of(player)
        data = design_bytes(name=b"Twin Jet", body=b"across nodes" * 20)
        # FTP goes straight to a node (DNS round robin): here the one the balancer does not pick.
        self.assertTrue(other.upload("7e1de01.plane", data, player).startswith("226"))
        self.assertEqual(register("7e1de01.plane", player), (200, b"registered\n"))
        self.assertTrue(any("7e1de01" in line for line in serving.log_lines()))
        self.assertEqual(through("/download.php?file=7e1de01.plane", player), (200, data))
        ftp = serving.ftp(player)
        self.addCleanup(ftp.close)
        got = io.BytesIO()
        ftp.retrbinary("RETR 7e1de01.plane", got.write)
        self.assertEqual(got.getvalue(), data)
        # FTP is no business of the balancer's: sessions from its address are refused.
        from_balancer = ftplib.FTP(timeout=10, source_address=(_set["balancer"].addr, 0))
        self.addCleanup(from_balancer.close)
        with self.assertRaises(ftplib.error_temp) as err:
            from_balancer.connect(serving.addr, 21)
        self.assertTrue(str(err.exception).startswith("421"), err.exception)
        # Active mode connects back to the player only: not to the balancer, not to anyone else.
        for port in ("%s,200,10" % _set["balancer"].addr.replace(".", ","), "%s,0,80" % player.replace(".", ",")):
            with self.subTest(port):
                self.assertTrue(ftp.sendcmd("TYPE I").startswith("200"))
                with self.assertRaises(ftplib.error_perm) as err:
                    ftp.sendcmd("PORT " + port)
                self.assertTrue(str(err.exception).startswith("501"), err.exception)

    def test_zz_a_node_whose_php_stops_is_taken_out_and_players_go_on(self):
        # Last in the module (zz): the node comes back at its end.
        player = harness.client_addresses(1)[0]
        down, up = node_of(player)
        name = "node%d" % (_set["nodes"].index(down) + 1)
        subprocess.run([os.path.join(harness.SERVER_DIR, "stop.sh"), "--data", down.data, "--only", "fpm"], check=True)
        self.addCleanup(lambda: wait_until(lambda: "DOWN" not in _set["balancer"].states()[name], "the node back"))
        self.addCleanup(down.start)
        wait_until(lambda: _set["balancer"].states()[name] == "DOWN", "the balancer to take the node out")
        for i in range(3):
            status, body = through("/php/_addscore.php?data=Steady;%d;" % i, player)
            self.assertEqual(status, 200, body)
            self.assertTrue(body.isdigit(), body)
        self.assertEqual(through("/php/_getplanes.php?style=1&from=0&num=1", player)[0], 200)
        wait_until(lambda: sum("Steady" in line for line in up.log_lines()) == 3, "the other node's log")


if __name__ == "__main__":
    unittest.main()
