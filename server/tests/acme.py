"""An ACME test CA on loopback (Debian's pebble, with pebble-challtestsrv answering every name
with the web server's address) and certbot asking it for certificates, as an operator would ask
Let's Encrypt: HTTP-01 challenges through the site's webroot on port 80."""
import json
import os
import shutil
import ssl
import subprocess
import tempfile
import time
import urllib.request

from harness import free_address

HOST = "www.skv.test"  # a reserved name: nothing outside this machine answers for it


def have_tools():
    return all(shutil.which(tool) for tool in ("pebble", "pebble-challtestsrv", "certbot", "openssl", "curl"))


class Acme:
    """pebble and its name server on an address of their own; web_addr is where every name points
    (pebble's validation fetches http://NAME/.well-known/acme-challenge/ there)."""

    def __init__(self, web_addr):
        self.root = tempfile.mkdtemp(prefix="skv-acme-")
        self.addr = free_address((14000, 15000, 8053))
        self.webroot = os.path.join(self.root, "webroot")
        os.makedirs(self.webroot)
        os.chmod(self.root, 0o755)  # nginx's workers read the challenges
        self.procs = []
        # pebble's own listener needs a certificate that certbot trusts.
        self.listener_ca = self.path("listener.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", "2", "-subj", "/CN=pebble listener", "-addext", "subjectAltName=IP:" + self.addr,
                        "-keyout", self.path("listener.key"), "-out", self.listener_ca],
                       check=True, capture_output=True)
        with open(self.path("pebble.json"), "w") as f:
            json.dump({"pebble": {"listenAddress": self.addr + ":14000",
                                  "managementListenAddress": self.addr + ":15000",
                                  "certificate": self.listener_ca, "privateKey": self.path("listener.key"),
                                  "httpPort": 80, "tlsPort": 443, "ocspResponderURL": "",
                                  "externalAccountBindingRequired": False}}, f)
        env = dict(os.environ, PEBBLE_VA_NOSLEEP="1", PEBBLE_WFE_NONCEREJECT="0")
        self.spawn(["pebble-challtestsrv", "-defaultIPv4", web_addr, "-defaultIPv6", "", "-dns01",
                    self.addr + ":8053", "-http01", "", "-https01", "", "-tlsalpn01", "", "-management",
                    self.addr + ":8055"], env)
        self.spawn(["pebble", "-config", self.path("pebble.json"), "-dnsserver", self.addr + ":8053"], env)
        self.directory = "https://%s:14000/dir" % self.addr
        self._wait(self.directory)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def spawn(self, args, env):
        log = open(self.path(os.path.basename(args[0]) + ".log"), "w")
        self.procs.append(subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT,
                                           start_new_session=True))

    def _wait(self, url):
        context = ssl.create_default_context(cafile=self.listener_ca)
        deadline = time.monotonic() + 15
        while True:
            try:
                with urllib.request.urlopen(url, context=context, timeout=2):
                    return
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)

    def root_pem(self):
        """The CA root pebble made at its start: what a browser would trust."""
        context = ssl.create_default_context(cafile=self.listener_ca)
        with urllib.request.urlopen("https://%s:15000/roots/0" % self.addr, context=context, timeout=5) as r:
            path = self.path("root.pem")
            with open(path, "wb") as f:
                f.write(r.read())
        return path

    def certbot(self, *args):
        """certbot with its state in this folder, trusting pebble's listener."""
        env = dict(os.environ, REQUESTS_CA_BUNDLE=self.listener_ca)
        return subprocess.run(["certbot", *args, "--non-interactive", "--config-dir", self.path("le", "config"),
                               "--work-dir", self.path("le", "work"), "--logs-dir", self.path("le", "logs")],
                              env=env, capture_output=True, text=True, check=True)

    def issue(self, deploy_hook):
        """certonly by webroot, as docs/SERVER.md has the operator do; returns (fullchain, key)."""
        self.certbot("certonly", "--agree-tos", "--register-unsafely-without-email", "--server", self.directory,
                     "--webroot", "-w", self.webroot, "-d", HOST, "--deploy-hook", deploy_hook)
        live = self.path("le", "config", "live", HOST)
        return os.path.join(live, "fullchain.pem"), os.path.join(live, "privkey.pem")

    def stop(self):
        for proc in self.procs:
            proc.terminate()
            proc.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)
