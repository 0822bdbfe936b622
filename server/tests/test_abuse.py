"""Abuse, part two: quotas, hiscore mails, FTP slots and idle sessions, the sweeper and registered
names, full disks, a killed FTP server, what is served, and what the logs take in."""
import ftplib
import io
import os
import pwd
import signal
import socket
import subprocess
import time
import unittest

import harness
from harness import ServerCase, age_record, design_bytes, set_back, wait_until

OWNER, THIEF, OTHER = harness.client_addresses(3)
NUMBERS = "1000;2000;30;40;50;800;5000"
QUOTA = 3, 3000  # designs and bytes per address


def abuse_server():
    return harness.server("abuse", ini=(
        "quota_designs_per_address = %d\nquota_bytes_per_address = %d\nquota_total_bytes = 100000\n"
        "sweep_interval = 1\nftp_idle_before_login = 1\nftp_idle_after_login = 4\n"
        "log_check_interval = 1\nlog_max_bytes = 4000\n" % QUOTA))


def register(server, file, source, mail="", numbers=NUMBERS):
    return server.get("/php/_addplane.php?data=%s;Sky%%20Jet;%s;%s" % (numbers, file, mail), source=source)


class QuotaTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def setUp(self):
        self.server.admin("clear-planes")
        self.addCleanup(self.server.admin, "clear-planes")  # the other tests' addresses start afresh

    def store(self, file, source, size=100):
        return self.server.upload(file, design_bytes(body=b"x" * size), source)

    def test_an_address_stops_at_its_quota_and_the_operator_sees_and_removes_it(self):
        for i in range(QUOTA[0]):
            self.assertTrue(self.store("a0a%d.plane" % i, OWNER).startswith("226"))
            self.assertEqual(register(self.server, "a0a%d.plane" % i, OWNER)[0], 200)
        # The refusal comes with the upload, which the client shows in its error box.
        with self.assertRaises(ftplib.error_temp) as err:
            self.store("a0a9.plane", OWNER)
        self.assertIn("keeps 3 designs", str(err.exception))
        self.assertFalse(os.path.exists(self.server.path("planes", "a0a9.plane")))
        # Bytes: a file past the address's room is cut off and removed.
        with self.assertRaises(ftplib.error_perm) as err:
            self.store("b0b1.plane", THIEF, size=QUOTA[1])
        self.assertTrue(str(err.exception).startswith("552"), err.exception)
        self.assertTrue(self.store("b0b2.plane", THIEF).startswith("226"), "another address is not held up")

        heaviest = self.server.admin("addresses").split("\n")[0].split()
        self.assertEqual(heaviest[:2], [OWNER, "3"])
        self.assertEqual(int(heaviest[2]), 3 * len(design_bytes(body=b"x" * 100)))
        self.assertIn("removed 3 designs and 0", self.server.admin("remove-planes", "--address", OWNER))
        self.assertEqual(self.server.counts()[1], 0)
        self.assertFalse(any(n.startswith("a0a") for n in os.listdir(self.server.path("planes"))))
        self.assertTrue(self.store("a0a9.plane", OWNER).startswith("226"), "room again")
        register(self.server, "a0a9.plane", OWNER)
        self.server.admin("remove-plane", "a0a9.plane")
        self.assertEqual(self.server.get("/download.php?file=a0a9.plane")[0], 404)

    def test_registration_checks_the_quotas_itself(self):
        # Uploads that reached the storage through another node: the registration is the last word.
        for i in range(QUOTA[0] + 1):
            data = design_bytes()
            with open(self.server.path("planes", "c0c%d.plane" % i), "wb") as f:
                f.write(data)
            with open(self.server.path("uploads", "c0c%d.plane" % i), "w") as f:
                f.write("%s %d %d\n" % (OWNER, time.time(), len(data)))
        statuses = [register(self.server, "c0c%d.plane" % i, OWNER)[0] for i in range(QUOTA[0] + 1)]
        self.assertEqual(statuses, [200] * QUOTA[0] + [403])


class HiscoreMailTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def test_only_the_first_address_changes_an_entrys_mail(self):
        self.server.admin("clear-scores")
        send = lambda mail, source: self.server.get("/php/_addscore.php?data=Ann;777;" + mail, source=source)
        self.assertEqual(send("ann%40example.org", OWNER)[2], b"1")
        self.assertEqual(send("thief%40example.org", THIEF)[:3:2], (200, b"1"), "the rank still comes back")
        page = self.server.get("/")[2]
        self.assertIn(b"ann@example.org", page)
        self.assertNotIn(b"thief@example.org", page)
        send("new%40example.org", OWNER)
        self.assertIn(b"new@example.org", self.server.get("/")[2])


class ServedAndSweptTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def setUp(self):
        self.server.admin("clear-planes")

    def retr(self, file):
        got = io.BytesIO()
        ftp = self.server.ftp(OTHER)
        self.addCleanup(ftp.close)
        ftp.retrbinary("RETR " + file, got.write)
        return got.getvalue()

    def test_only_registered_designs_are_served(self):
        self.server.upload("d0d1.plane", design_bytes(), OWNER)
        self.assertEqual(self.server.get("/download.php?file=d0d1.plane", source=OTHER)[0], 404)
        with self.assertRaises(ftplib.error_perm):
            self.retr("d0d1.plane")
        register(self.server, "d0d1.plane", OWNER)
        self.assertEqual(self.server.get("/download.php?file=d0d1.plane", source=OTHER)[2], design_bytes())
        self.assertEqual(self.retr("d0d1.plane"), design_bytes())

    def test_the_file_not_the_query_decides_the_catalogue_entry(self):
        self.server.upload("e0e1.plane", design_bytes(numbers=(0,) * 7, name=b"Zero \xe4"), OWNER)
        self.assertEqual(register(self.server, "e0e1.plane", OWNER, numbers="999999;1;1;1;1;1;1")[0], 200)
        line = self.server.get("/php/_getplanes.php?style=1")[2].split(b"\n")[1]
        self.assertEqual(line, b"Zero \xe4;e0e1.plane;;0;0;0;0;0;0;0")
        # A file that changed after its upload is not the one whose record vouches for it.
        self.server.upload("e0e2.plane", design_bytes(), OWNER)
        with open(self.server.path("planes", "e0e2.plane"), "ab") as f:
            f.write(b"more")
        self.assertEqual(register(self.server, "e0e2.plane", OWNER)[0], 409)

    def test_the_sweeper_and_stor_leave_registered_names_alone(self):
        self.server.upload("f0f1.plane", design_bytes(), OWNER)
        self.assertEqual(register(self.server, "f0f1.plane", OWNER)[0], 200)
        # A registration that died before its clean-up left an old record behind.
        with open(self.server.path("uploads", "f0f1.plane"), "w") as f:
            f.write("%s %d 77\n" % (OWNER, time.time() - 600))
        set_back(self.server.path("uploads", "f0f1.plane"), 600)
        set_back(self.server.path("planes", "f0f1.plane"), 600)
        wait_until(lambda: not os.path.exists(self.server.path("uploads", "f0f1.plane")), "the sweeper")
        self.assertTrue(os.path.exists(self.server.path("planes", "f0f1.plane")))
        os.remove(self.server.path("planes", "f0f1.plane"))  # lost, say: its name stays taken
        with self.assertRaises(ftplib.error_perm) as err:
            self.server.upload("f0f1.plane", b"another file", THIEF)
        self.assertTrue(str(err.exception).startswith("553"), err.exception)

    def test_a_slow_upload_is_aged_by_its_last_write(self):
        ftp = self.server.ftp(OWNER)
        self.addCleanup(ftp.close)
        data = design_bytes()
        conn = ftp.transfercmd("STOR 5105.plane")
        conn.sendall(data[:20])
        wait_until(lambda: os.path.exists(self.server.path("uploads", "5105.plane")), "the upload's record")
        age_record(self.server, "5105.plane", 600)  # it started long ago, and is still arriving
        # One whole sweep later (an old finished upload is gone), the slow one is still there.
        self.server.upload("5106.plane", data, OWNER)
        age_record(self.server, "5106.plane", 600)
        set_back(self.server.path("planes", "5106.plane"), 600)
        wait_until(lambda: not os.path.exists(self.server.path("planes", "5106.plane")), "the sweeper")
        conn.sendall(data[20:])
        conn.close()
        self.assertTrue(ftp.voidresp().startswith("226"))
        self.assertEqual(register(self.server, "5105.plane", OWNER)[0], 200)


class FtpSlotTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def test_idle_sessions_are_closed_sooner_before_login(self):
        waiting = socket.create_connection((self.server.addr, 21), timeout=10, source_address=(THIEF, 0))
        self.addCleanup(waiting.close)
        player = self.server.ftp(OWNER)
        self.addCleanup(player.close)
        reader = waiting.makefile("rb")
        self.assertTrue(reader.readline().startswith(b"220"))
        self.assertTrue(reader.readline().startswith(b"421"), "closed after 1 s without a login")
        self.assertTrue(player.voidcmd("NOOP").startswith("200"), "a logged-in player has longer")
        player.sock.settimeout(10)
        self.assertTrue(player.getline().startswith("421"), "closed after 4 s without a command")

    def test_sixteen_addresses_cannot_lock_a_player_out(self):
        slots = harness.server("slots")  # the default caps: 8 per address, 256 in all
        held = []
        self.addCleanup(lambda: [s.close() for s in held])
        for address in harness.client_addresses(16):
            for _ in range(8):
                ftp = slots.ftp(address)
                held.append(ftp)
                ftp.sendcmd("PASV")  # a data listener per session as well
        self.assertTrue(slots.upload("1a1a.plane", design_bytes(), OWNER).startswith("226"))


class NameSearchTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def plan(self, text):
        """The storage's plan of the condition the designs page searches with."""
        program = ("require '%s/lib/site_data.php'; $p = db(); if (!is_sqlite($p)) $p->exec('ANALYZE planes');"
                   " [$w, $a] = name_search($p, $argv[1]);"
                   " $q = $p->prepare((is_sqlite($p) ? 'EXPLAIN QUERY PLAN' : 'EXPLAIN')"
                   " . \" SELECT id FROM planes WHERE $w\"); $q->execute($a);"
                   " foreach ($q as $r) echo end($r), \"\\n\";" % harness.SERVER_DIR)
        owner = pwd.getpwuid(os.stat(self.server.data).st_uid).pw_name  # as the servers run
        as_owner = ["runuser", "-u", owner, "--"] if os.geteuid() == 0 and owner != "root" else []
        return subprocess.run(as_owner + ["php", "-r", program, text], env=dict(os.environ, SKV_DATA=self.server.data),
                              capture_output=True, text=True, check=True).stdout

    def test_a_name_search_reads_an_index_not_every_design(self):
        self.server.admin("clear-planes")
        self.addCleanup(self.server.admin, "clear-planes")
        self.server.admin("seed-planes", 20000, "--no-files")
        plan = self.plan("esign 1234")
        self.assertRegex(plan, r"planes_names|planes_by_name_trgm")
        self.assertNotRegex(plan, r"SCAN planes\b(?!_)|Seq Scan on planes")
        self.assertIn(b"Design 12345", self.server.get("/designs.php?q=esign+1234")[2])


class LogTests(ServerCase):
    make_server = classmethod(lambda cls: abuse_server())

    def test_logged_fields_cannot_carry_tabs_or_control_characters(self):
        conn = socket.create_connection((self.server.addr, 80), timeout=10)
        self.addCleanup(conn.close)
        conn.sendall(b"GET /howto.php?x=1 HTTP/1.1\r\nUser-Agent: ua\x1b[31m\"q\r\nHost: a\tb\r\n"
                     b"Connection: close\r\n\r\n")
        conn.recv(1000)
        conn.close()  # nginx logs once the connection is over
        wait_until(lambda: any("x=1" in line for line in self.server.log_lines()), "the log line")
        line = next(line for line in self.server.log_lines() if "x=1" in line)
        self.assertEqual(line.split("\t")[1:3], ["a\\x09b", "ua\\x1B[31m\\x22q"])

    def test_server_logs_are_rotated(self):
        log = "requests.log" if harness.PRODUCTION else "web.log"  # nginx's; the built-in server's output
        while os.path.getsize(self.server.path(log)) < 4000:
            self.server.get("/howto.php")
        wait_until(lambda: os.path.getsize(self.server.path(log)) < 4000 and os.path.exists(self.server.path(log + ".1")),
                   "the rotation")


class StorageFaultTests(unittest.TestCase):
    def test_a_full_disk_is_answered_and_leaves_no_temporary_file(self):
        disk = harness.small_disk(self, 512 << 10)
        server = harness.server("small-disk", ini="storage = %s\nftp_min_free_bytes = 0\nsweep_interval = 1\n"
                                "ftp_max_file_bytes = 4194304\n" % disk)
        self.addCleanup(lambda: harness._started.pop("small-disk").stop())
        planes = os.path.join(disk, "planes")
        with self.assertRaises(ftplib.error_temp) as err:
            server.upload("f011.plane", design_bytes(body=bytes(1 << 20)), OWNER)
        self.assertTrue(str(err.exception).startswith("452"), err.exception)
        self.assertEqual(os.listdir(planes), [])
        self.assertEqual(os.listdir(os.path.join(disk, "uploads")), [])
        self.assertTrue(server.upload("f012.plane", design_bytes(), OWNER).startswith("226"))
        with open(os.path.join(planes, "dead01.plane.tmp"), "wb") as f:  # a crash left it
            f.write(b"partial")
        wait_until(lambda: not os.path.exists(os.path.join(planes, "dead01.plane.tmp")), "the sweeper")

    def test_an_upload_cut_by_a_killed_server_leaves_nothing_behind(self):
        server = abuse_server()
        uploader = harness.client_addresses(1)[0]
        ftp = server.ftp(uploader)
        self.addCleanup(ftp.close)
        conn = ftp.transfercmd("STOR 0c0c.plane")
        self.addCleanup(conn.close)
        conn.sendall(design_bytes()[:30])
        tmp = server.path("planes", "0c0c.plane.tmp")
        wait_until(lambda: os.path.exists(tmp), "the partial file")
        with open(server.path("ftp.pid")) as f:
            os.kill(int(f.read().split()[0]), signal.SIGKILL)  # the FTP server we started
        server.start()
        wait_until(lambda: not os.path.exists(tmp), "the restarted server's sweep")
        self.assertFalse(os.path.exists(server.path("planes", "0c0c.plane")))
        self.assertEqual(register(server, "0c0c.plane", uploader)[0], 400)


if __name__ == "__main__":
    unittest.main()
