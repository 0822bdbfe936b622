"""The FTP storage: the fixed account, active mode, binary transfers, files the scripts then see."""
import ftplib
import io
import threading
import unittest

from harness import ServerCase, design_bytes

USER, PASSWORD = "skv_starter", "qpl47"


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


if __name__ == "__main__":
    unittest.main()
