"""The website tests again, with the storage in a PostgreSQL cluster of their own (127.0.3.12)."""
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import test_site
from test_postgres import _skip_reason, as_postgres

PG_ADDR, WEB_ADDR = "127.0.3.12", "127.0.3.11"
_pg = {}


def setUpModule():
    reason = _skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    bindir = os.path.dirname(sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))[-1])
    root = tempfile.mkdtemp(prefix="skv-site-pg-")
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
        harness.server("site-postgres", WEB_ADDR).stop()
        as_postgres(os.path.join(_pg["bindir"], "pg_ctl"), "-D", _pg["cluster"], "-m", "fast", "stop")
        shutil.rmtree(_pg["root"], ignore_errors=True)


def site_postgres_server():
    ini = "dsn = \"pgsql:host=%s;port=5432;dbname=skv\"\nuser = skv\n" % PG_ADDR
    return harness.server("site-postgres", WEB_ADDR, ini=ini)


class PostgresHiscoreTests(test_site.HiscoreTests):
    make_server = staticmethod(site_postgres_server)


class PostgresCatalogueTests(test_site.CatalogueTests):
    make_server = staticmethod(site_postgres_server)


class PostgresDesignPageTests(test_site.DesignPageTests):
    make_server = staticmethod(site_postgres_server)

    def test_storage_is_postgres(self):
        self.assertTrue(os.path.exists(self.server.path("server.ini")))
        self.assertFalse(os.path.exists(self.server.path("skv.sqlite")))


class PostgresEscapingTests(test_site.EscapingTests):
    make_server = staticmethod(site_postgres_server)


if __name__ == "__main__":
    unittest.main()
