"""HTTPS for the website with real parts on loopback: pebble issues a certificate to certbot by
webroot, nginx serves it, curl verifies it against pebble's root; the Starter's scripts stay on
plain port 80; a forced renewal swaps the certificate while requests run."""
import hashlib
import http.client
import os
import re
import socket
import ssl
import subprocess
import threading
import unittest

import harness
from harness import free_address

import acme

# What the Starter sends, and the status each answers with on port 80: never a redirect.
SCRIPTS = [("/php/_addscore.php?data=Tls%20Pilot;4711;", 200), ("/php/_getplanes.php?style=1&from=0&num=17", 200),
           ("/php/_addplane.php?data=1", 400)]


def setUpModule():
    harness.in_one_suite(True, "it starts nginx with a certificate of its own")
    if os.geteuid() != 0 or not acme.have_tools():
        raise unittest.SkipTest("needs root, pebble, certbot, openssl and curl")


class TlsTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        addr = free_address((80, 21, 443))
        cls.acme = acme.Acme(addr)
        cls.addClassCleanup(cls.acme.stop)
        cls.server = harness.Server(addr, "tls", extra=["--production", *harness.LIFTED, "--acme", cls.acme.webroot])
        cls.addClassCleanup(cls.server.stop)
        reload = "/usr/sbin/nginx -c %s -s reload" % cls.server.path("run", "nginx.conf")
        cls.cert, key = cls.acme.issue(reload)
        cls.server.extra += ["--tls", cls.cert, key]
        cls.server.start()
        cls.root = cls.acme.root_pem()
        cls.server.admin("seed-planes", 3)

    def curl(self, url, *options):
        out = subprocess.run(["curl", "-sS", "--resolve", "%s:443:%s" % (acme.HOST, self.server.addr),
                              "--cacert", self.root, "-o", "/dev/null", "-w", "%{http_version} %{ssl_verify_result}",
                              *options, url], capture_output=True, text=True)
        return out.returncode, out.stdout

    def https(self, target, headers=None):
        """(status, headers, body, the served certificate's serial) over a new TLS connection."""
        context = ssl.create_default_context(cafile=self.root)
        conn = http.client.HTTPSConnection(acme.HOST, 443, timeout=10, context=context)
        conn.sock = context.wrap_socket(socket.create_connection((self.server.addr, 443), timeout=10),
                                        server_hostname=acme.HOST)
        serial = conn.sock.getpeercert()["serialNumber"]
        try:
            conn.request("GET", target, headers=headers or {})
            resp = conn.getresponse()
            return resp.status, resp.headers, resp.read(), serial
        finally:
            conn.close()

    def test_the_site_over_https_with_http2_and_both_tls_versions(self):
        url = "https://%s/" % acme.HOST
        self.assertEqual(self.curl(url, "--http2"), (0, "2 0"))
        self.assertEqual(self.curl(url, "--http1.1", "--tlsv1.2", "--tls-max", "1.2"), (0, "1.1 0"))
        self.assertEqual(self.curl(url, "--http1.1", "--tlsv1.3"), (0, "1.1 0"))
        # Only pebble's root vouches for it: without it curl refuses.
        self.assertNotEqual(subprocess.run(["curl", "-sS", "--resolve", "%s:443:%s" % (acme.HOST, self.server.addr),
                                            "-o", "/dev/null", url], capture_output=True).returncode, 0)

        status, headers, body, _ = self.https("/", {"Accept-Encoding": "gzip"})
        self.assertEqual((status, headers["Content-Encoding"]), (200, "gzip"))
        self.assertIsNone(headers["Strict-Transport-Security"])  # see docs/SERVER.md: WinINet
        _, _, page, _ = self.https("/")
        assets = re.findall(rb'(?:href|src)="(/site/([a-z]+\.[a-z]+)\?v=([0-9a-f]+))"', page)
        self.assertEqual(len(assets), 5, page)
        for url, name, version in assets:
            with open(os.path.join(harness.SERVER_DIR, "www", "site", name.decode()), "rb") as f:
                self.assertEqual(version.decode(), hashlib.sha256(f.read()).hexdigest()[:10])
            _, headers, _, _ = self.https(url.decode())
            self.assertEqual(headers["Cache-Control"], "max-age=315360000", url)
        _, headers, _, _ = self.https("/site/style.css")  # an unversioned name is checked every time
        self.assertEqual(headers["Cache-Control"], "no-cache")

    def test_port_80_keeps_the_scripts_and_redirects_the_site(self):
        answers = {}
        for target, expected in SCRIPTS:
            status, headers, answers[target] = self.server.get(target)
            self.assertEqual((status, headers["Location"]), (expected, None), target)
        self.assertRegex(answers[SCRIPTS[0][0]], rb"^\d+$")
        self.assertEqual(answers[SCRIPTS[1][0]].split(b"\n")[0], b"3")
        for target in ["/", "/hiscores.php?page=2", "/download.php?file=5eed0001.plane", "/robots.txt"]:
            conn = http.client.HTTPConnection(self.server.addr, 80, timeout=10)
            conn.request("GET", target, headers={"Host": acme.HOST})
            resp = conn.getresponse()
            self.assertEqual((resp.status, resp.headers["Location"]), (301, "https://%s%s" % (acme.HOST, target)))
            conn.close()
        self.assertEqual(self.server.get("/.well-known/acme-challenge/none")[0], 404)

    def test_forced_renewal_swaps_the_certificate_with_no_failed_request(self):
        before = self.https("/howto.php")[3]
        failures, served, stop = [], [], threading.Event()

        def browse():
            while not stop.is_set():
                try:
                    status, _, _, serial = self.https("/howto.php")
                    served.append(serial)
                    if status != 200:
                        failures.append(status)
                except OSError as e:
                    failures.append(repr(e))

        threads = [threading.Thread(target=browse) for _ in range(3)]
        for t in threads:
            t.start()
        try:
            self.acme.certbot("renew", "--force-renewal", "--no-random-sleep-on-renew")
            new = subprocess.run(["openssl", "x509", "-in", self.cert, "-noout", "-serial"], capture_output=True,
                                 text=True, check=True).stdout.strip().split("=")[1]
            self.assertNotEqual(new.upper(), before.upper())
            harness.wait_until(lambda: served and served[-1].upper() == new.upper(), "the renewed certificate")
        finally:
            stop.set()
            for t in threads:
                t.join()
        self.assertEqual(failures, [])
        self.assertIn(before, served)
        self.assertGreater(len(served), 10)
