"""An ACME test CA on loopback (Debian's pebble; pebble-challtestsrv answers every name with the
web server's address) and certbot asking it for a certificate by webroot, as an operator asks
Let's Encrypt."""
import json
import os
import shutil
import ssl
import subprocess
import tempfile
import urllib.request

import harness

HOST = "www.skv.test"  # a reserved name: nothing outside this machine answers for it


class Acme:
    def __init__(self, web_addr):
        self.root = tempfile.mkdtemp(prefix="skv-acme-")
        os.chmod(self.root, 0o755)  # nginx's workers read the challenges
        self.addr = harness.free_address((14000, 15000, 8053))
        self.webroot, self.listener = self.path("webroot"), self.path("listener.pem")
        os.makedirs(self.webroot)
        # pebble's own listener needs a certificate that certbot trusts.
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", "2", "-subj", "/CN=pebble", "-addext", "subjectAltName=IP:" + self.addr,
                        "-keyout", self.path("listener.key"), "-out", self.listener], check=True, capture_output=True)
        with open(self.path("pebble.json"), "w") as f:
            json.dump({"pebble": {"listenAddress": self.addr + ":14000", "managementListenAddress": self.addr + ":15000",
                                  "certificate": self.listener, "privateKey": self.path("listener.key"),
                                  "httpPort": 80, "tlsPort": 443}}, f)
        env = dict(os.environ, PEBBLE_VA_NOSLEEP="1", PEBBLE_WFE_NONCEREJECT="0")
        dns = self.addr + ":8053"
        self.procs = [subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                      for args in (["pebble-challtestsrv", "-defaultIPv4", web_addr, "-defaultIPv6", "", "-dns01", dns,
                                    "-http01", "", "-https01", "", "-tlsalpn01", "", "-management", self.addr + ":8055"],
                                   ["pebble", "-config", self.path("pebble.json"), "-dnsserver", dns])]
        harness.wait_until(lambda: self.fetch("https://%s:14000/dir" % self.addr) is not None, "pebble", 15)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def fetch(self, url):
        try:
            with urllib.request.urlopen(url, context=ssl.create_default_context(cafile=self.listener), timeout=2) as r:
                return r.read()
        except OSError:
            return None

    def root_pem(self):
        """The root pebble made at its start: what a browser would trust."""
        with open(self.path("root.pem"), "wb") as f:
            f.write(self.fetch("https://%s:15000/roots/0" % self.addr))
        return self.path("root.pem")

    def certbot(self, *args):
        state = [a for d in ("config", "work", "logs") for a in ("--%s-dir" % d, self.path("le", d))]
        return subprocess.run(["certbot", *args, "--non-interactive", *state], capture_output=True, text=True,
                              check=True, env=dict(os.environ, REQUESTS_CA_BUNDLE=self.listener))

    def issue(self, deploy_hook):
        """certonly by webroot, as docs/SERVER.md has the operator do; returns (fullchain, key)."""
        self.certbot("certonly", "--agree-tos", "--register-unsafely-without-email", "--webroot", "-w", self.webroot,
                     "--server", "https://%s:14000/dir" % self.addr, "-d", HOST, "--deploy-hook", deploy_hook)
        live = self.path("le", "config", "live", HOST)
        return os.path.join(live, "fullchain.pem"), os.path.join(live, "privkey.pem")

    def stop(self):
        for proc in self.procs:
            proc.terminate()
            proc.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)
