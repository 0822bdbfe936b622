"""Servers for the tests, started on demand through start.sh on addresses picked at run time
(127.1.0.0/16, see tests/support/loopback.py) and stopped at exit."""
import atexit
import http.client
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from loopback import free_address  # noqa: E402

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TMP = tempfile.mkdtemp(prefix="skv-server-tests-")
AGENT = "SKV Starter"
_started = {}


class Server:
    def __init__(self, addr, name, doubles=False, ini=None):
        self.addr = addr
        self.data = os.path.join(TMP, name)
        os.makedirs(self.data, exist_ok=True)
        if ini:
            with open(os.path.join(self.data, "server.ini"), "w") as f:
                f.write(ini)
        self.doubles = doubles
        self.start()

    def start_args(self):
        return [os.path.join(SERVER_DIR, "start.sh"), "--addr", self.addr, "--data", self.data] + (
            ["--doubles"] if self.doubles else [])

    def start(self):
        subprocess.run(self.start_args(), check=True, stdout=subprocess.DEVNULL)

    def stop(self):
        subprocess.run([os.path.join(SERVER_DIR, "stop.sh"), "--data", self.data], check=True)

    def admin(self, *args):
        out = subprocess.run(["php", os.path.join(SERVER_DIR, "admin.php"), "--data", self.data, *map(str, args)],
                             check=True, capture_output=True, text=True)
        return out.stdout

    def counts(self):
        """(scores, designs) as the admin tool counts them."""
        lines = dict(line.split() for line in self.admin("stats").splitlines())
        return int(lines["scores"]), int(lines["designs"])

    def get(self, target, method="GET", timeout=10):
        """Sends the target as it is, like the Starter; returns (status, headers, body bytes)."""
        conn = http.client.HTTPConnection(self.addr, 80, timeout=timeout)
        try:
            conn.request(method, target, headers={"User-Agent": AGENT})
            resp = conn.getresponse()
            return resp.status, resp.headers, resp.read()
        finally:
            conn.close()

    def path(self, *parts):
        return os.path.join(self.data, *parts)

    def log_lines(self):
        """The request log; none before the first request."""
        try:
            with open(self.path("requests.log"), encoding="latin-1") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []


def server(name, addr=None, doubles=False, ini=None):
    """One server per name for the whole run, on a free address unless one is given."""
    if name not in _started:
        _started[name] = Server(addr or free_address(), name, doubles, ini)
    return _started[name]


def main_server():
    return server("main")


def doubles_server():
    return server("doubles", doubles=True)


def encode_field(text):
    """The Starter's escaping: letters stay, quotes vanish, every other byte becomes %xx."""
    data = text.encode("cp1252") if isinstance(text, str) else text
    out = []
    for b in data:
        if b in (34, 39):
            continue
        out.append(chr(b) if chr(b).isascii() and chr(b).isalpha() else "%%%02x" % b)
    return "".join(out)


def has_title(body):
    """True for anything like a title tag, a wider net than the Starter's own check."""
    return re.search(rb"(?i)<\s*title", body) is not None


@atexit.register
def _stop_all():
    for s in _started.values():
        s.stop()
    shutil.rmtree(TMP, ignore_errors=True)


class ServerCase(unittest.TestCase):
    """A test against one running server; subclasses may pick another (see test_postgres)."""

    @classmethod
    def make_server(cls):
        return main_server()

    @classmethod
    def setUpClass(cls):
        cls.server = cls.make_server()

    def lines(self, target):
        status, _, body = self.server.get(target)
        self.assertEqual(status, 200, body)
        return body.decode("cp1252").split("\n")
