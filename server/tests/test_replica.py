"""The site's pages on a hot standby (replica_dsn): a primary and its standby on loopback."""
import os
import time
import unittest

import harness
import test_postgres

_r = {}


def setUpModule():
    harness.in_one_suite(True, "the replica test reads through kept PHP-FPM sessions")
    reason = test_postgres._skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    # The run's durable cluster is the primary; the standby copies it whole.
    _r["primary"] = harness.postgres_database("replica", durable=True)
    _r["standby"] = harness.Postgres(harness.free_address((5432,)), primary=_r["primary"])
    ini = _r["primary"].ini('replica_dsn = "pgsql:host=%s;port=5432;dbname=replica"\n' % _r["standby"].addr,
                            dbname="replica")
    _r["web"] = harness.server("replicated", ini=ini)


def tearDownModule():
    if "replicated" in harness._started:
        harness._started.pop("replicated").stop()
    if "standby" in _r:
        _r["standby"].stop(mode="immediate")


class ReplicaTests(unittest.TestCase):
    def shown(self, name):
        status, _, body = _r["web"].get("/hiscores.php?name=" + name)
        self.assertEqual(status, 200)
        return b"No hiscore of a player named" not in body

    def seconds_until_shown(self, name):
        started = time.monotonic()
        while not self.shown(name):
            self.assertLess(time.monotonic() - started, 2, "%s not on the pages within 2 s" % name)
        return time.monotonic() - started

    def test_pages_read_the_standby_and_the_primary_while_it_is_down(self):
        primary, standby, web = _r["primary"], _r["standby"], _r["web"]
        # Writes and the Starter's scripts go to the primary, with the standby paused: the rank
        # counts the paused score, the pages do not show it until the standby replays it.
        self.assertEqual(web.get("/php/_addscore.php?data=Early;500;")[2], b"1")
        self.seconds_until_shown("Early")
        standby.psql("SELECT pg_wal_replay_pause()")
        self.assertEqual(web.get("/php/_addscore.php?data=Paused;600;")[2], b"1")
        self.assertEqual(web.get("/php/_addscore.php?data=Later;550;")[2], b"2")
        self.assertFalse(self.shown("Paused"), "the page came from the standby")
        standby.psql("SELECT pg_wal_replay_resume()")
        self.seconds_until_shown("Paused")
        # The standby down: the pages read from the primary.
        standby.stop(mode="immediate", remove=False)
        self.assertEqual(web.get("/php/_addscore.php?data=Alone;700;")[2], b"1")
        self.assertTrue(self.shown("Alone"))
        self.assertEqual(web.get("/")[0], 200)


if __name__ == "__main__":
    unittest.main()
