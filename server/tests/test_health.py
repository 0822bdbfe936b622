"""What a node answers its balancer on /health: 200 while the database answers and the design storage
takes a file, else 503 and one line naming the part; never rate-limited."""
import os
import unittest

import harness
import test_postgres


def setUpModule():
    harness.in_one_suite(True, "nginx serves /health")
    reason = test_postgres._skip_reason()
    if reason:
        raise unittest.SkipTest(reason)


class HealthTests(unittest.TestCase):
    def test_health_names_the_part_that_fails(self):
        pg = harness.postgres_database("health", durable=False)
        node = harness.server("health", ini=pg.ini(dbname="health"), extra=[
            "--production", "--page-rate", "1", "--page-burst", "2"])
        player = harness.client_addresses(1)[0]
        # Twenty at once from one address, where a page allows three.
        self.assertEqual([node.get("/health", source=player)[::2] for _ in range(20)], [(200, b"ok\n")] * 20)

        def write_ini(text):
            with open(node.path("server.ini"), "w") as f:
                f.write(text)
        ini = pg.ini(dbname="health")
        self.addCleanup(write_ini, ini)
        write_ini(ini.replace(pg.addr, harness.free_address((5432,))))  # a database nobody answers on
        self.assertEqual(node.get("/health")[::2], (503, b"database: does not answer\n"))
        write_ini(ini)
        self.assertEqual(node.get("/health")[0], 200)

        uploads = node.path("uploads")
        os.chmod(uploads, 0o500)  # the servers' user can no longer write there
        self.addCleanup(os.chmod, uploads, 0o700)
        self.assertEqual(node.get("/health")[::2], (503, ("storage: cannot write into %s\n" % uploads).encode()))


if __name__ == "__main__":
    unittest.main()
