"""The score and catalogue tests again, with the storage in a PostgreSQL server started here."""
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import test_catalogue
import test_scores

PG_ADDR, WEB_ADDR = harness.free_address((5432,)), harness.free_address()
_pg = {}


def _skip_reason():
    if not glob.glob("/usr/lib/postgresql/*/bin/initdb"):
        return "PostgreSQL is not installed (Debian package postgresql)"
    mods = subprocess.run(["php", "-m"], capture_output=True, text=True).stdout.split()
    if "pdo_pgsql" not in mods:
        return "PHP has no PostgreSQL driver (Debian package php-pgsql)"
    return None


def as_postgres(*cmd):
    # PostgreSQL refuses to run as root.
    prefix = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
    subprocess.run(prefix + list(cmd), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)


def setUpModule():
    reason = _skip_reason()
    if reason:
        print("\nskipping the PostgreSQL tests: " + reason)
        raise unittest.SkipTest(reason)
    bindir = os.path.dirname(sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))[-1])
    root = tempfile.mkdtemp(prefix="skv-pg-")
    if os.geteuid() == 0:
        shutil.chown(root, "postgres", "postgres")
    cluster = os.path.join(root, "cluster")
    as_postgres(os.path.join(bindir, "initdb"), "-D", cluster, "-U", "skv", "-A", "trust", "-E", "UTF8")
    as_postgres(os.path.join(bindir, "pg_ctl"), "-D", cluster, "-w", "-l", os.path.join(root, "pg.log"), "start",
                "-o", "-c listen_addresses=%s -c port=5432 -k %s -c fsync=off" % (PG_ADDR, root))
    _pg.update(bindir=bindir, root=root, cluster=cluster)
    as_postgres(os.path.join(bindir, "createdb"), "-h", PG_ADDR, "-U", "skv", "skv")


def tearDownModule():
    if _pg:
        as_postgres(os.path.join(_pg["bindir"], "pg_ctl"), "-D", _pg["cluster"], "-m", "fast", "stop")
        shutil.rmtree(_pg["root"], ignore_errors=True)


def postgres_server():
    ini = "dsn = \"pgsql:host=%s;port=5432;dbname=skv\"\nuser = skv\n" % PG_ADDR
    return harness.server("postgres", WEB_ADDR, ini=ini)


class PostgresScoreTests(test_scores.ScoreTests):
    make_server = classmethod(lambda cls: postgres_server())

    def test_storage_is_postgres(self):
        self.rank("Pat", 4242)
        rows = subprocess.run([os.path.join(_pg["bindir"], "psql"), "-h", PG_ADDR, "-U", "skv", "-d", "skv", "-tAc",
                               "SELECT name FROM scores WHERE score = 4242"], capture_output=True, text=True, check=True)
        self.assertEqual(rows.stdout.split(), ["Pat"])
        self.assertFalse(os.path.exists(self.server.path("skv.sqlite")))


class PostgresCatalogueTests(test_catalogue.CatalogueTests):
    make_server = classmethod(lambda cls: postgres_server())


if __name__ == "__main__":
    unittest.main()
