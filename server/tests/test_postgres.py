"""The score and catalogue tests again, with the storage in a PostgreSQL server started here."""
import glob
import os
import subprocess
import unittest

import harness
import test_abuse
import test_catalogue
import test_scores

WEB_ADDR = harness.free_address()
_pg = {}


def _skip_reason():
    if not glob.glob("/usr/lib/postgresql/*/bin/initdb"):
        return "PostgreSQL is not installed (Debian package postgresql)"
    mods = subprocess.run(["php", "-m"], capture_output=True, text=True).stdout.split()
    if "pdo_pgsql" not in mods:
        return "PHP has no PostgreSQL driver (Debian package php-pgsql)"
    return None


def setUpModule():
    reason = _skip_reason()
    if reason:
        print("\nskipping the PostgreSQL tests: " + reason)
        raise unittest.SkipTest(reason)
    _pg["cluster"] = harness.postgres_database("skv", durable=False)


def postgres_server():
    return harness.server("postgres", WEB_ADDR, ini=_pg["cluster"].ini())


class PostgresScoreTests(test_scores.ScoreTests):
    make_server = classmethod(lambda cls: postgres_server())

    def test_storage_is_postgres(self):
        self.rank("Pat", 4242)
        rows = _pg["cluster"].psql("SELECT name FROM scores WHERE score = 4242")
        self.assertEqual(rows.split(), ["Pat"])
        self.assertFalse(os.path.exists(self.server.path("skv.sqlite")))


class RankAtScaleTests(harness.ServerCase):
    """The rank from the prefix counts and the log equals the plain count of higher scores."""
    make_server = classmethod(lambda cls: postgres_server())

    def psql(self, sql):
        return _pg["cluster"].psql(sql)

    def ranks(self, scores):
        """score_rank of each score, as _addscore.php computes it."""
        program = ("require '%s/lib/common.php'; while (($l = fgets(STDIN)) !== false) "
                   "echo score_rank(db(), (int)$l), \"\\n\";" % harness.SERVER_DIR)
        out = subprocess.run(["php", "-r", program], input="\n".join(map(str, scores)) + "\n",
                             env=dict(os.environ, SKV_DATA=self.server.data), capture_output=True, text=True, check=True)
        return [int(r) for r in out.stdout.split()]

    def plain_ranks(self, scores):
        values = ",".join("(%d, %d)" % (i, s) for i, s in enumerate(scores))
        out = self.psql("SELECT 1 + (SELECT COUNT(*) FROM scores WHERE score > x) FROM (VALUES %s) v(i, x) ORDER BY i"
                        % values)
        return [int(r) for r in out.split()]

    def test_counted_rank_equals_the_plain_count_on_random_data(self):
        import random
        rng = random.Random(15)
        self.server.admin("clear-scores")
        top, bottom = 2**63 - 1, -2**63
        # Clustered, spread, negative, tied and extreme scores; stored by the trigger row by row.
        scores = ([rng.randint(0, 1000) for _ in range(1500)] + [rng.randint(-2**40, 2**40) for _ in range(1500)]
                  + [rng.randint(bottom, top) for _ in range(1000)] + [top, bottom, 0, -1, 255, 256, -256, -257])
        self.psql("INSERT INTO scores (name, score, mail, uploaded) SELECT 'R' || i, s, '', 0 "
                  "FROM unnest(ARRAY[%s]::bigint[]) WITH ORDINALITY u(s, i)" % ",".join(map(str, scores)))
        # A bulk load counted at once, a few single uploads left in the log, and removals.
        self.server.admin("seed-scores", 3000)
        for i, s in enumerate(rng.sample(scores, 20)):
            self.psql("INSERT INTO scores (name, score, mail, uploaded) VALUES ('L%d', %d, '', 0)" % (i, s))
        self.psql("DELETE FROM scores WHERE name LIKE 'R1%'")
        self.psql("DELETE FROM scores WHERE name = 'R2'")
        stored = [int(v) for v in self.psql("SELECT score FROM scores").split()]
        probes = ([top, bottom, 0, -1, 1] + rng.sample(stored, 300) + [s + 1 for s in rng.sample(stored, 100)]
                  + [s - 1 for s in rng.sample(stored, 100)] + [rng.randint(bottom, top) for _ in range(200)]
                  + [rng.randint(-2**40, 2**40) for _ in range(200)] + [rng.randint(0, 10**7) for _ in range(200)])
        probes = [p for p in probes if bottom <= p <= top]
        self.assertEqual(self.ranks(probes), self.plain_ranks(probes))
        # The same over HTTP, with ties.
        status, _, body = self.server.get("/php/_addscore.php?data=Probe;%d;" % stored[0])
        self.assertEqual((status, int(body)), (200, self.plain_ranks([stored[0]])[0]))


class PostgresCatalogueTests(test_catalogue.CatalogueTests):
    make_server = classmethod(lambda cls: postgres_server())


class PostgresNameSearchTests(test_abuse.NameSearchTests):
    make_server = classmethod(lambda cls: postgres_server())


if __name__ == "__main__":
    unittest.main()
