"""HTTPS with real parts on loopback: pebble issues a certificate to certbot by webroot, nginx
serves it, curl verifies it against pebble's root; the Starter's scripts stay on plain port 80;
a forced renewal swaps the certificate while requests run."""
import hashlib
import http.client
import os
import re
import shutil
import socket
import ssl
import subprocess
import threading
import unittest

import acme
import harness

# What the Starter sends, and the status each answers with on port 80: never a redirect.
SCRIPTS = [("/php/_addscore.php?data=Tls%20Pilot;4711;", 200), ("/php/_getplanes.php?style=1&from=0&num=17", 200),
           ("/php/_addplane.php?data=1", 400)]


def setUpModule():
    harness.in_one_suite(True, "it starts nginx with a certificate of its own")
    if os.geteuid() != 0 or not all(map(shutil.which, ("pebble", "pebble-challtestsrv", "certbot", "curl"))):
        raise unittest.SkipTest("needs root, pebble, certbot and curl")


class TlsTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        addr = harness.free_address((80, 21, 443))
        cls.acme = acme.Acme(addr)
        cls.addClassCleanup(cls.acme.stop)
        cls.server = harness.Server(addr, "tls", extra=["--production", *harness.LIFTED, "--acme", cls.acme.webroot])
        cls.addClassCleanup(cls.server.stop)
        cls.cert, key = cls.acme.issue("/usr/sbin/nginx -c %s -s reload" % cls.server.path("run", "nginx.conf"))
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
