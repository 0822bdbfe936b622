"""The website tests again, with the storage in a PostgreSQL database of their own."""
import os
import unittest

import harness
import test_site
from test_postgres import _skip_reason

_pg = {}


def setUpModule():
    reason = _skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    _pg["pg"] = harness.postgres_database("site", durable=False)


def tearDownModule():
    if "site-postgres" in harness._started:
        harness._started.pop("site-postgres").stop()


def site_postgres_server():
    return harness.server("site-postgres", ini=_pg["pg"].ini(dbname="site"))


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
