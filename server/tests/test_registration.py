"""_addplane.php: refused fields, and what binds a registration to its upload: the uploading
address, the window, the file as it arrived, a whole design, the quotas."""
import ftplib
import time
import unittest

import harness
from harness import ServerCase, design_bytes, has_title

OWNER, THIEF = harness.client_addresses(2)
NUMBERS = "1000;2000;30;40;50;800;5000"


def register(server, file, source, mail="", numbers=NUMBERS):
    return server.get("/php/_addplane.php?data=%s;Sky%%20Jet;%s;%s" % (numbers, file, mail), source=source)


@harness.on_both_storages
class RegistrationFieldTests(ServerCase):
    def setUp(self):
        self.server.admin("clear-planes")

    def register(self, fields):
        return self.server.get("/php/_addplane.php?data=" + fields)

    def test_bad_registrations_are_refused(self):
        self.server.upload("abcd.plane", design_bytes())
        cases = {
            "number with a point": ("1.5;" + NUMBERS[5:] + ";N;abcd.plane;", 400),
            "number with letters": ("12a;" + NUMBERS[5:] + ";N;abcd.plane;", 400),
            "empty number": (";" + NUMBERS[5:] + ";N;abcd.plane;", 400),
            "number beyond 32 bits": ("2147483648;" + NUMBERS[5:] + ";N;abcd.plane;", 400),
            "path in the file name": (NUMBERS + ";N;../abcd.plane;", 400),
            "escaped path": (NUMBERS + ";N;..%2fabcd.plane;", 400),
            "longer extension": (NUMBERS + ";N;abcd.plane.txt;", 400),
            "capital hex digits": (NUMBERS + ";N;ABCD.plane;", 400),
            "three digits": (NUMBERS + ";N;abc.plane;", 400),
            "25 digits": (NUMBERS + ";N;%s.plane;" % ("a" * 25), 400),
            "not hexadecimal": (NUMBERS + ";N;wxyz.plane;", 400),
            "not in the storage": (NUMBERS + ";N;abcdef.plane;", 400),
            "nine fields": (NUMBERS + ";N;abcd.plane", 400),
            "eleven fields": (NUMBERS + ";N;abcd.plane;m;x", 400),
            "name too long": (NUMBERS + ";%s;abcd.plane;" % ("n" * 1024), 400),
        }
        for what, (fields, want) in cases.items():
            with self.subTest(what):
                status, headers, body = self.register(fields)
                self.assertEqual(status, want, body)
                self.assertTrue(headers["Content-Type"].startswith("text/plain"))
                self.assertFalse(has_title(body))
        self.assertEqual(self.server.counts()[1], 0)

        # An escaped ";" stays inside the name, so these are still ten fields; a mail of 255 bytes
        # (what the Options dialog stores) passes.
        status, _, body = self.register(NUMBERS + ";Semi%%3bcolon;abcd.plane;%s" % ("m" * 251 + "%40x%2ey"))
        self.assertEqual(status, 200, body)
        status, _, body = self.register(NUMBERS + ";Again;abcd.plane;")
        self.assertEqual(status, 409, body)
        self.assertEqual(self.server.counts()[1], 1)


class BindingTests(ServerCase):
    server_name = "guard"

    def setUp(self):
        self.server.admin("clear-planes")

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
        harness.age_upload(self.server, "0a0b0c02.plane", 121)
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


class QuotaTests(ServerCase):
    server_name = "limits"

    def setUp(self):
        self.server.admin("clear-planes")
        self.addCleanup(self.server.admin, "clear-planes")  # the other tests' addresses start afresh

    def test_registration_checks_the_quotas_itself(self):
        # Uploads that reached the storage through another node: the registration is the last word.
        for i in range(harness.QUOTA[0] + 1):
            data = design_bytes()
            with open(self.server.path("planes", "c0c%d.plane" % i), "wb") as f:
                f.write(data)
            with open(self.server.path("uploads", "c0c%d.plane" % i), "w") as f:
                f.write("%s %d %d\n" % (OWNER, time.time(), len(data)))
        statuses = [register(self.server, "c0c%d.plane" % i, OWNER)[0] for i in range(harness.QUOTA[0] + 1)]
        self.assertEqual(statuses, [200] * harness.QUOTA[0] + [403])


if __name__ == "__main__":
    unittest.main()
