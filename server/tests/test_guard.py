"""Abuse of the public FTP account and the scripts: stolen registrations, garbage and cut files,
a filled disk, and the small faults around them."""
import ftplib
import os
import stat
import subprocess
import time
import unittest

import harness
from harness import SERVER_DIR, ServerCase, design_bytes

OWNER, THIEF = harness.client_addresses(2)
NUMBERS = "1000;2000;30;40;50;800;5000"


def guard_server():
    # Sweeps every second; requests.log rotates at 4 kB.
    return harness.server("guard", ini="sweep_interval = 1\nlog_max_bytes = 4000\n")


def register(server, file, source, mail=""):
    return server.get("/php/_addplane.php?data=%s;Sky%%20Jet;%s;%s" % (NUMBERS, file, mail), source=source)


class RegistrationTests(ServerCase):
    make_server = classmethod(lambda cls: guard_server())

    def setUp(self):
        self.server.admin("clear-planes")

    def age_upload(self, file, seconds):
        """Moves the upload back in time, as if the client had waited that long."""
        harness.age_record(self.server, file, seconds)
        harness.set_back(self.server.path("planes", file), seconds)

    def test_only_the_uploading_address_registers_within_the_window(self):
        self.assertTrue(self.server.upload("0a0b0c01.plane", design_bytes(), OWNER).startswith("226"))
        # The account cannot list, so nobody learns the new name from the storage.
        ftp = self.server.ftp(THIEF)
        self.addCleanup(ftp.close)
        for listing in (ftp.nlst, ftp.dir):
            with self.assertRaises(ftplib.error_perm):
                listing()

        status, _, body = register(self.server, "0a0b0c01.plane", THIEF)
        self.assertEqual((status, body), (403, b"file was uploaded from another address\n"))
        status, _, body = register(self.server, "0a0b0c01.plane", OWNER, "o%40example%2eorg")
        self.assertEqual(status, 200, body)
        self.assertEqual(self.lines("/php/_getplanes.php?style=1&from=0&num=5")[1].split(";")[:3],
                         ["Sky Jet", "0a0b0c01.plane", "o@example.org"])

        # Too late: the window has passed, even for the owner.
        self.server.upload("0a0b0c02.plane", design_bytes(), OWNER)
        self.age_upload("0a0b0c02.plane", 121)
        status, _, body = register(self.server, "0a0b0c02.plane", OWNER)
        self.assertEqual(status, 410, body)
        # A file put into the storage without an upload has nobody to register it.
        with open(self.server.path("planes", "0a0b0c03.plane"), "wb") as f:
            f.write(design_bytes())
        self.assertEqual(register(self.server, "0a0b0c03.plane", OWNER)[0], 409)
        self.assertEqual(self.server.counts()[1], 1)

    def test_only_whole_design_files_are_registered(self):
        whole = design_bytes()
        cases = {
            "garbage": b"GIF89a" + bytes(100),
            "cut inside the header": whole[:20],
            "header longer than a client reads": b"\x1c\x04\x00\x00" + bytes(1100),
            "header shorter than the numbers": b"\x10\x00\x00\x00" + bytes(40),
            "empty": b"",
        }
        for i, (what, data) in enumerate(cases.items()):
            with self.subTest(what):
                file = "badf%02d.plane" % i
                self.server.upload(file, data, OWNER)
                status, _, body = register(self.server, file, OWNER)
                self.assertEqual(status, 422, body)
                self.assertEqual(body.count(b"\n"), 1, "one line says why")
        self.assertEqual(self.server.counts()[1], 0)
        # The smallest whole design: a header and no body.
        self.server.upload("600d.plane", design_bytes(body=b""), OWNER)
        self.assertEqual(register(self.server, "600d.plane", OWNER)[0], 200)

    def test_unregistered_uploads_are_swept(self):
        self.server.upload("5eeb01.plane", design_bytes(), OWNER)
        self.server.upload("5eeb02.plane", design_bytes(), OWNER)
        self.assertEqual(register(self.server, "5eeb02.plane", OWNER)[0], 200)
        self.server.upload("5eeb03.plane", design_bytes(), OWNER)
        self.age_upload("5eeb01.plane", 181)  # past the window and the grace
        deadline = time.monotonic() + 10
        while os.path.exists(self.server.path("planes", "5eeb01.plane")) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertFalse(os.path.exists(self.server.path("planes", "5eeb01.plane")))
        self.assertFalse(os.path.exists(self.server.path("uploads", "5eeb01.plane")))
        # The registered one and the one still in its window stay.
        self.assertTrue(os.path.exists(self.server.path("planes", "5eeb02.plane")))
        self.assertTrue(os.path.exists(self.server.path("planes", "5eeb03.plane")))

    def test_long_mail_is_accepted(self):
        mail = "m" * 251 + "%40x%2ey"  # 255 characters after decoding
        self.server.upload("1a11.plane", design_bytes(), OWNER)
        self.assertEqual(register(self.server, "1a11.plane", OWNER, mail)[0], 200)
        status, _, body = self.server.get("/php/_addscore.php?data=Ann;5;" + mail)
        self.assertEqual((status, body), (200, b"1"))
        self.assertEqual(self.server.get("/php/_addscore.php?data=Ann;5;m" + mail)[0], 400)


class StorageLimitTests(ServerCase):
    make_server = classmethod(lambda cls: guard_server())

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

    def test_writes_stop_at_the_free_space_floors(self):
        full = harness.server("full", ini="ftp_min_free_bytes = 1000000000000000000\n"
                                          "db_min_free_bytes = 1000000000000000000\n")
        with self.assertRaises(ftplib.Error) as err:
            full.upload("f011.plane", design_bytes(), OWNER)
        self.assertTrue(str(err.exception).startswith("452"), err.exception)
        self.assertFalse(os.path.exists(full.path("planes", "f011.plane")))
        # The database's disk: a score is refused before a write fails on it; pages are served.
        self.assertEqual(full.get("/php/_addscore.php?data=Ann;5;")[::2],
                         (507, b"the server's storage is full; nothing was stored, try again later\n"))
        self.assertEqual(full.counts()[0], 0)
        self.assertEqual(full.get("/hiscores.php")[0], 200)

    def test_request_log_is_rotated(self):
        for i in range(80):
            self.server.get("/php/_getplanes.php?style=1&from=%d&num=1" % i)
        if harness.PRODUCTION:
            self.skipTest("nginx's log is rotated by logrotate (deploy/logrotate)")
        self.assertLess(os.path.getsize(self.server.path("requests.log")), 4200)
        self.assertTrue(os.path.exists(self.server.path("requests.log.1")))


class SmallFaultTests(ServerCase):
    make_server = classmethod(lambda cls: guard_server())

    def test_trailing_line_feeds_are_refused(self):
        for target in ("/download.php?file=abcd.plane%0a", "/php/_getplanes.php?style=1&from=5%0a&num=1"):
            with self.subTest(target):
                self.assertEqual(self.server.get(target)[0], 400)

    def test_data_is_for_the_owner_only(self):
        self.server.upload("0dd1.plane", design_bytes(), OWNER)
        self.server.get("/php/_addscore.php?data=Ann;5;a%40b")
        for path in ("", "skv.sqlite", "planes", "planes/0dd1.plane", "uploads", "uploads/0dd1.plane", "ftp.log",
                     self.server.records("requests.log")):
            with self.subTest(path):
                mode = stat.S_IMODE(os.stat(self.server.path(path)).st_mode)
                self.assertEqual(mode & 0o077, 0, oct(mode))

    def test_a_missing_data_folder_is_created(self):
        # ... and a request does not make the schema: it says what to run.
        data = os.path.join(harness.TMP, "missing", "data")
        env = dict(os.environ, SKV_DATA=data, QUERY_STRING="data=Ann;5;", REQUEST_METHOD="GET")
        out = subprocess.run(["php", os.path.join(SERVER_DIR, "www", "php", "_addscore.php")],
                             env=env, capture_output=True, text=True)
        self.assertEqual(out.stdout, "the database has no schema yet: run php admin.php --data DIR init\n")
        self.assertEqual(stat.S_IMODE(os.stat(data).st_mode), 0o700)

    def test_start_refuses_a_port_that_answers(self):
        # Another program on the guard's address: a second data folder must not claim it.
        other = os.path.join(harness.TMP, "other")
        out = subprocess.run([os.path.join(SERVER_DIR, "start.sh"), "--addr", self.server.addr, "--data", other],
                             capture_output=True, text=True)
        self.assertEqual(out.returncode, 1)
        self.assertIn("%s:80 already answers" % self.server.addr, out.stderr)
        self.assertEqual(self.server.get("/php/_getplanes.php?style=1&from=0&num=1")[0], 200)

    def test_stop_leaves_a_process_that_reused_the_pid(self):
        data = os.path.join(harness.TMP, "stale")
        os.makedirs(data)
        bystander = subprocess.Popen(["sleep", "60"], start_new_session=True)
        self.addCleanup(bystander.wait)
        self.addCleanup(bystander.kill)
        for content in ("%d\n" % bystander.pid, "%d 1\n" % bystander.pid):
            with self.subTest(content=content):
                with open(os.path.join(data, "web.pid"), "w") as f:
                    f.write(content)
                subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", data], check=True,
                               capture_output=True)
                self.assertIsNone(bystander.poll())
                self.assertFalse(os.path.exists(os.path.join(data, "web.pid")))


if __name__ == "__main__":
    unittest.main()
