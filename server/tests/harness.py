"""Servers for the tests, started on demand through start.sh on addresses picked at run time
(127.1.0.0/16, see tests/support/loopback.py) or given by the test, and stopped at exit."""
import atexit
import ftplib
import glob
import http.client
import os
import re
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from loopback import free_address  # noqa: E402

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TMP = tempfile.mkdtemp(prefix="skv-server-tests-")
os.chmod(TMP, 0o711)  # production servers run as skv and must reach their data folders
AGENT = "SKV Starter"
FTP_USER, FTP_PASSWORD = "skv_starter", "qpl47"
# Test servers run in production mode (nginx, PHP-FPM) when this is set; see docs/SERVER.md.
PRODUCTION = os.environ.get("SKV_TEST_PRODUCTION") == "1"
_started = {}
_clusters = {}  # durable -> the run's PostgreSQL cluster of that kind
# The production limits per address, lifted: the suite sends bursts from one address.
LIFTED = ["--rate", "10000", "--burst", "10000", "--page-rate", "10000", "--page-burst", "10000", "--conns", "10000"]
QUOTA = 3, 3000  # designs and bytes per address on the server "limits"
# The suite's shared servers by name: their server.ini and whether they serve the doubles.
SERVERS = {
    "main": ("", False),
    "doubles": ("", True),
    # Sweeps every second; requests.log rotates at 4 kB.
    "guard": ("sweep_interval = 1\nlog_max_bytes = 4000\n", False),
    # Small quotas, short idle limits, logs rotated every second past 4 kB.
    "limits": ("quota_designs_per_address = %d\nquota_bytes_per_address = %d\nquota_total_bytes = 100000\n"
               "sweep_interval = 1\nftp_idle_before_login = 1\nftp_idle_after_login = 4\n"
               "log_check_interval = 1\nlog_max_bytes = 4000\n" % QUOTA, False),
    # Uploads refused for want of free space.
    "full": ("ftp_min_free_bytes = 1000000000000000000\n", False),
    "site": ("", False),
}
STORAGES = ("sqlite", "postgres")


class Server:
    def __init__(self, addr, name, doubles=False, ini=None, extra=(), postgres=None, dbname="skv"):
        self.addr = addr
        self.extra = list(extra)
        self.postgres, self.dbname = postgres, dbname  # the cluster when the storage is PostgreSQL
        self.data = os.path.join(TMP, name)
        os.makedirs(self.data, exist_ok=True)
        if ini:
            with open(os.path.join(self.data, "server.ini"), "w") as f:
                f.write(ini)
        self.doubles = doubles
        self.start()

    def start_args(self):
        # The suite sends bursts from one address: production's rate limit has its own test.
        return [os.path.join(SERVER_DIR, "start.sh"), "--addr", self.addr, "--data", self.data] + (
            ["--doubles"] if self.doubles else []) + (
            ["--production"] + LIFTED if PRODUCTION and not self.extra else []) + self.extra

    def start(self):
        try:
            subprocess.run(self.start_args(), check=True, stdout=subprocess.DEVNULL)
        except subprocess.CalledProcessError:
            self.stop()  # what did come up
            raise

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

    def get(self, target, method="GET", timeout=10, source=None):
        return get(self.addr, target, method, timeout, source)

    def ftp(self, source=None):
        """A logged-in FTP session in active mode, like the Starter's, from the source address."""
        ftp = ftplib.FTP(timeout=10, source_address=(source, 0) if source else None)
        try:
            ftp.connect(self.addr, 21)
            ftp.login(FTP_USER, FTP_PASSWORD)
        except BaseException:
            ftp.close()
            raise
        ftp.set_pasv(False)
        ftp.voidcmd("TYPE I")  # binary, as the Starter transfers
        return ftp

    def upload(self, name, data, source=None):
        """Stores a file through FTP; returns the server's reply, or raises it when it refuses, also
        when the server stops reading before the whole file is sent (a cap, a full disk)."""
        ftp = self.ftp(source)
        try:
            with ftp.transfercmd("STOR " + name) as conn:
                try:
                    conn.sendall(data)
                except OSError:
                    pass  # its reply says why
            return ftp.voidresp()
        finally:
            ftp.close()

    def path(self, *parts):
        return os.path.join(self.data, *parts)

    def log_lines(self):
        """The request log; none before the first request."""
        try:
            with open(self.path("requests.log"), encoding="latin-1") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def sql(self, statement):
        """Runs one statement on the server's storage as a client of its own: rows of texts."""
        if self.postgres:
            out = self.postgres.psql(statement, self.dbname)
            return [tuple(line.split("|")) for line in out.splitlines()]
        db = sqlite3.connect(self.path("skv.sqlite"), timeout=10)
        try:
            with db:
                return [tuple(str(v) for v in row) for row in db.execute(statement)]
        finally:
            db.close()

    def php(self, code, stdin=None):
        """Runs PHP code with the server's rooms against its data folder; returns what it printed."""
        src = "foreach (['counters', 'quotas', 'site_data'] as $r) require_once '%s/lib/' . $r . '.php';\n%s" % (
            SERVER_DIR, code)
        return subprocess.run(["php", "-r", src], input=stdin, env=dict(os.environ, SKV_DATA=self.data),
                              check=True, capture_output=True, text=True).stdout


def get(addr, target, method="GET", timeout=10, source=None):
    """Sends the target as it is, like the Starter; returns (status, headers, body bytes)."""
    conn = http.client.HTTPConnection(addr, 80, timeout=timeout, source_address=(source, 0) if source else None)
    try:
        conn.request(method, target, headers={"User-Agent": AGENT})
        resp = conn.getresponse()
        return resp.status, resp.headers, resp.read()
    finally:
        conn.close()


def server(name, addr=None, doubles=False, ini=None, extra=(), **storage):
    """One server per name for the whole run, on a free address unless one is given;
    extra: more start.sh options."""
    for attempt in range(3):
        if name in _started:
            break
        try:
            _started[name] = Server(addr or free_address(), name, doubles, ini, extra, **storage)
        except subprocess.CalledProcessError:
            # Another checkout may have taken the picked address since it was probed.
            if addr or attempt == 2:
                raise
    return _started[name]


def client_addresses(count):
    """Distinct source addresses for requests that must come from different clients: any
    loopback address is one, bound or not."""
    picked = set()
    while len(picked) < count:
        picked.add(free_address(ports=()))
    return list(picked)


def storage_server(name, storage):
    """The shared server of that name (SERVERS) on the storage: SQLite in its data folder, or a
    database of its own on the run's fast PostgreSQL cluster."""
    ini, doubles = SERVERS[name]
    if storage == "sqlite":
        return server(name, ini=ini, doubles=doubles)
    dbname = name.replace("-", "_")
    if name + "-pg" not in _started:
        cluster = postgres_database(dbname, durable=False)
        return server(name + "-pg", ini=cluster.ini(ini, dbname=dbname), doubles=doubles, postgres=cluster,
                      dbname=dbname)
    return _started[name + "-pg"]


def postgres_missing():
    """Why the PostgreSQL tests cannot run here, or None."""
    if not glob.glob("/usr/lib/postgresql/*/bin/initdb"):
        return "PostgreSQL is not installed (Debian package postgresql)"
    if "pdo_pgsql" not in subprocess.run(["php", "-m"], capture_output=True, text=True).stdout.split():
        return "PHP has no PostgreSQL driver (Debian package php-pgsql)"
    return None


def on_both_storages(cls):
    """The test class as it stands, on SQLite, and beside it in its module the same class on
    PostgreSQL (skipped, with the reason, where PostgreSQL cannot run)."""
    twin = type(cls.__name__ + "OnPostgres", (cls,), {"storage": "postgres", "__module__": cls.__module__})
    reason = postgres_missing()
    setattr(sys.modules[cls.__module__], twin.__name__, unittest.skip(reason)(twin) if reason else twin)
    return cls


def encode_field(text):
    """The Starter's escaping: letters stay, quotes vanish, every other byte becomes %xx."""
    data = text.encode("cp1252") if isinstance(text, str) else text
    out = []
    for b in data:
        if b in (34, 39):
            continue
        out.append(chr(b) if chr(b).isascii() and chr(b).isalpha() else "%%%02x" % b)
    return "".join(out)


def design_bytes(numbers=(1000, 2000, 30, 40, 50, 800, 5000), name=b"Sky Jet", body=b"body" * 10):
    """A design file: length N, seven numbers, the name and its zero, then the game's part."""
    block = struct.pack("<7i", *numbers) + name + b"\0"
    return struct.pack("<I", len(block)) + block + body


def small_disk(case, size, owner=None):
    """A small file system of the test's own (tmpfs of size bytes), unmounted at its end; the test
    is skipped where mounting needs root."""
    mount = tempfile.mkdtemp(prefix="skv-full-")  # PostgreSQL must reach it: not below the suite's folder
    case.addCleanup(os.rmdir, mount)
    # 0711: the servers' user skv passes through it to its data folder.
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0711" % size, "tmpfs", mount],
                      capture_output=True).returncode != 0:
        case.skipTest("cannot mount a small file system here (needs root)")
    case.addCleanup(subprocess.run, ["umount", "-l", mount])
    if owner:
        subprocess.run(["chown", owner, mount], check=True)
    return mount


def wait_until(condition, what, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("waited %d s for %s" % (seconds, what))
        time.sleep(0.05)


def set_back(path, seconds):
    """As if the file had last been written that many seconds ago."""
    when = time.time() - seconds
    os.utime(path, (when, when))


def age_record(server, file, seconds):
    """Moves an upload's record back in time, content and last write."""
    record = server.path("uploads", file)
    with open(record) as f:
        addr, when, size = f.read().split()
    with open(record, "w") as f:
        f.write("%s %d %s\n" % (addr, int(when) - seconds, size))
    set_back(record, seconds)


def age_upload(server, file, seconds):
    """Moves an upload back in time, record and file, as if the client had waited that long."""
    age_record(server, file, seconds)
    set_back(server.path("planes", file), seconds)


def has_title(body):
    """True for anything like a title tag, a wider net than the Starter's own check."""
    return re.search(rb"(?i)<\s*title", body) is not None


@atexit.register
def _stop_all():
    for s in _started.values():
        s.stop()
    for cluster in _clusters.values():
        cluster.stop()
    shutil.rmtree(TMP, ignore_errors=True)


def in_one_suite(production, why):
    """For a module whose outcome does not depend on the web server the suite runs (or that
    starts its own): it runs in one of the two suites only, which both run in the test command."""
    if PRODUCTION != production:
        raise unittest.SkipTest("%s; it runs in the %s suite" % (why, "production" if production else "built-in"))


def postgres_database(name, durable):
    """A new database on the run's one durable cluster (the drills, the replica's primary) or its
    one fast cluster (fsync off, for tests that only check answers), started on first use: every
    cluster costs seconds to make. Returns the cluster."""
    if durable not in _clusters:
        _clusters[durable] = Postgres(free_address((5432,)), durable=durable)
    cluster = _clusters[durable]
    if name != "skv":
        cluster.psql("CREATE DATABASE %s" % name)
    return cluster


class ServerCase(unittest.TestCase):
    """A test against one of the shared servers (SERVERS) on one storage (on_both_storages)."""
    server_name = "main"
    storage = "sqlite"

    @classmethod
    def setUpClass(cls):
        cls.server = storage_server(cls.server_name, cls.storage)

    def lines(self, target):
        status, _, body = self.server.get(target)
        self.assertEqual(status, 200, body)
        return body.decode("cp1252").split("\n")


class Postgres:
    """A PostgreSQL cluster of its own in a temporary folder, database skv for user skv; or, with
    primary, a hot standby of that cluster (pg_basebackup, standby.signal)."""

    def __init__(self, addr, settings="", durable=True, primary=None):
        """settings: more server settings for pg_ctl -o, as "name=value" words. PostgreSQL's
        defaults are durable; durable=False turns fsync off for tests that only check answers."""
        if not durable:
            settings += " fsync=off synchronous_commit=off full_page_writes=off"
        import glob
        self.addr, self.settings = addr, settings
        self.bindir = os.path.dirname(sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))[-1])
        self.root = tempfile.mkdtemp(prefix="skv-pg-")
        if os.geteuid() == 0:
            shutil.chown(self.root, "postgres", "postgres")
        self.cluster = os.path.join(self.root, "cluster")
        if primary:
            # -R writes standby.signal and the primary's address into the copy.
            self.as_postgres("pg_basebackup", "-h", primary.addr, "-U", "skv", "-D", self.cluster, "-R",
                             "-X", "stream", "-c", "fast")
        else:
            self.as_postgres("initdb", "-D", self.cluster, "-U", "skv", "-A", "trust", "-E", "UTF8")
        self.start()
        if not primary:
            self.as_postgres("createdb", "-h", addr, "-U", "skv", "skv")

    def start(self):
        self.as_postgres("pg_ctl", "-D", self.cluster, "-w", "-l", os.path.join(self.root, "pg.log"), "start",
                         "-o", "-c listen_addresses=%s -c port=5432 -k %s %s"
                         % (self.addr, self.root, " ".join("-c " + word for word in self.settings.split())))

    def postmaster(self):
        """The postmaster's pid: the first line of postmaster.pid."""
        with open(os.path.join(self.cluster, "postmaster.pid")) as f:
            return int(f.readline())

    def as_postgres(self, tool, *args):
        # PostgreSQL refuses to run as root.
        prefix = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
        subprocess.run(prefix + [os.path.join(self.bindir, tool), *args], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)

    def ini(self, extra="", dbname="skv"):
        """A server.ini that names this cluster's database, and more settings."""
        return "dsn = \"pgsql:host=%s;port=5432;dbname=%s\"\nuser = skv\n%s" % (self.addr, dbname, extra)

    def psql(self, sql, dbname="skv"):
        return subprocess.run([os.path.join(self.bindir, "psql"), "-h", self.addr, "-U", "skv", "-d", dbname,
                               "-v", "ON_ERROR_STOP=1", "-qtAc", sql], capture_output=True, text=True,
                              check=True).stdout

    def stop(self, mode="fast", remove=True):
        if os.path.exists(os.path.join(self.cluster, "postmaster.pid")):
            self.as_postgres("pg_ctl", "-D", self.cluster, "-m", mode, "stop")
        if remove:
            shutil.rmtree(self.root, ignore_errors=True)
