"""The FTP storage: the fixed account, active mode, binary transfers, names it stores and serves,
sizes, connections and idle sessions, quotas while files arrive, the sweeper, full disks and a
killed server."""
import ftplib
import io
import os
import signal
import socket
import threading
import time
import unittest

import harness
from harness import ServerCase, age_record, age_upload, design_bytes, set_back, wait_until

USER, PASSWORD = "skv_starter", "qpl47"
OWNER, THIEF, OTHER = harness.client_addresses(3)
QUOTA = harness.QUOTA


def register(server, file, source):
    return server.get("/php/_addplane.php?data=1000;2000;30;40;50;800;5000;Sky%%20Jet;%s;" % file, source=source)


class FtpTests(ServerCase):
    def connect(self, user=USER, password=PASSWORD):
        ftp = ftplib.FTP()
        ftp.connect(self.server.addr, 21, timeout=10)
        self.addCleanup(ftp.close)
        ftp.login(user, password)
        ftp.set_pasv(False)  # active mode: the server connects back after PORT
        return ftp

    def test_store_and_retrieve_byte_for_byte_in_active_mode(self):
        data = design_bytes(body=bytes(range(256)) * 64 + b"\r\n\n\r\x00end")  # line ends must survive: binary
        ftp = self.connect()
        self.assertTrue(ftp.storbinary("STOR 0123abcd.plane", io.BytesIO(data)).startswith("226"))
        with open(self.server.path("planes", "0123abcd.plane"), "rb") as f:
            self.assertEqual(f.read(), data, "the upload lands in the storage the scripts read")
        # The scripts accept the uploaded name for registration; then it is served.
        status, _, body = self.server.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Up;0123abcd.plane;")
        self.assertEqual(status, 200, body)
        got = io.BytesIO()
        ftp.retrbinary("RETR 0123abcd.plane", got.write)
        self.assertEqual(got.getvalue(), data)
        with open(self.server.path("ftp.log")) as f:
            log = f.read()
        self.assertIn("<- PORT ", log)
        self.assertNotIn("<- PASV", log)

    def test_wrong_logins_are_refused(self):
        for user, password in ((USER, "wrong"), ("anonymous", "a@b.c"), ("root", PASSWORD)):
            with self.subTest(user=user, password=password):
                with self.assertRaises(ftplib.error_perm) as err:
                    self.connect(user, password)
                self.assertTrue(str(err.exception).startswith("530"))

    def test_stored_designs_are_not_replaced_or_misplaced(self):
        ftp = self.connect()
        ftp.storbinary("STOR feedface.plane", io.BytesIO(b"first"))
        for name in ("feedface.plane", "../x.plane", "sub/abcd.plane", "notes.txt", "ABCD.plane"):
            with self.subTest(name=name):
                with self.assertRaises(ftplib.error_perm):
                    ftp.storbinary("STOR " + name, io.BytesIO(b"second"))
        with open(self.server.path("planes", "feedface.plane"), "rb") as f:
            self.assertEqual(f.read(), b"first")


class ConcurrentUploadTests(ServerCase):
    def test_many_sessions_in_active_mode_all_complete(self):
        # Sessions ending while others open data connections once left one of those waiting 30 s.
        failures = []

        def uploads(worker):
            for i in range(12):
                try:
                    self.server.upload("c0c%02x%02x.plane" % (worker, i), design_bytes())
                except Exception as e:
                    failures.append(repr(e))

        threads = [threading.Thread(target=uploads, args=(w,)) for w in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(failures, [])


class LimitTests(ServerCase):
    server_name = "guard"

    def test_size_cap_and_connections_per_address(self):
        with self.assertRaises((ftplib.Error, OSError)):
            self.server.upload("b1b1.plane", design_bytes(body=bytes(1 << 20)), OWNER)
        self.assertFalse(os.path.exists(self.server.path("planes", "b1b1.plane")))
        self.assertFalse(os.path.exists(self.server.path("uploads", "b1b1.plane")))

        held = []
        self.addCleanup(lambda: [s.close() for s in held])
        for _ in range(8):
            held.append(self.server.ftp(THIEF))
        with self.assertRaises(ftplib.Error) as err:
            self.server.ftp(THIEF)
        self.assertTrue(str(err.exception).startswith("421"), err.exception)
        self.server.ftp(OWNER).close()  # another address is still served

    def test_uploads_stop_at_the_free_space_floor(self):
        full = harness.storage_server("full", "sqlite")
        with self.assertRaises(ftplib.Error) as err:
            full.upload("f011.plane", design_bytes(), OWNER)
        self.assertTrue(str(err.exception).startswith("452"), err.exception)
        self.assertFalse(os.path.exists(full.path("planes", "f011.plane")))

    def test_sixteen_addresses_cannot_lock_a_player_out(self):
        slots = harness.storage_server("main", "sqlite")  # the default caps: 8 per address, 256 in all
        held = []
        self.addCleanup(lambda: [s.close() for s in held])
        for address in harness.client_addresses(16):
            for _ in range(8):
                ftp = slots.ftp(address)
                held.append(ftp)
                ftp.sendcmd("PASV")  # a data listener per session as well
        self.assertTrue(slots.upload("1a1a.plane", design_bytes(), OWNER).startswith("226"))


class QuotaAndIdleTests(ServerCase):
    server_name = "limits"

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


class ServedAndSweptTests(ServerCase):
    server_name = "guard"

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

    def test_the_sweeper_removes_only_unregistered_uploads_past_their_window(self):
        self.server.upload("5eeb01.plane", design_bytes(), OWNER)
        self.server.upload("5eeb02.plane", design_bytes(), OWNER)
        self.assertEqual(register(self.server, "5eeb02.plane", OWNER)[0], 200)
        self.server.upload("5eeb03.plane", design_bytes(), OWNER)
        age_upload(self.server, "5eeb01.plane", 181)  # past the window and the grace
        # A registration that died before its clean-up left an old record behind.
        with open(self.server.path("uploads", "5eeb02.plane"), "w") as f:
            f.write("%s %d 77\n" % (OWNER, time.time() - 600))
        set_back(self.server.path("uploads", "5eeb02.plane"), 600)
        set_back(self.server.path("planes", "5eeb02.plane"), 600)
        wait_until(lambda: not os.path.exists(self.server.path("planes", "5eeb01.plane"))
                   and not os.path.exists(self.server.path("uploads", "5eeb02.plane")), "the sweeper")
        self.assertFalse(os.path.exists(self.server.path("uploads", "5eeb01.plane")))
        # The registered one and the one still in its window stay.
        self.assertTrue(os.path.exists(self.server.path("planes", "5eeb02.plane")))
        self.assertTrue(os.path.exists(self.server.path("planes", "5eeb03.plane")))
        os.remove(self.server.path("planes", "5eeb02.plane"))  # lost, say: its name stays taken
        with self.assertRaises(ftplib.error_perm) as err:
            self.server.upload("5eeb02.plane", b"another file", THIEF)
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
        server = harness.storage_server("guard", "sqlite")
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
