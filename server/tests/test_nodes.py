"""Two web nodes (nginx, PHP-FPM, FTP) over one PostgreSQL and one design storage: what one node
takes in, the other serves."""
import io
import json
import os
import tempfile
import unittest

import harness
import sitedata
import test_postgres
from harness import design_bytes

_set = {}


def setUpModule():
    harness.in_one_suite(True, "the nodes run in production mode")
    reason = test_postgres._skip_reason()
    if reason or not os.path.exists("/usr/sbin/nginx"):
        raise unittest.SkipTest(reason or "nginx is not installed")
    _set["pg"] = harness.postgres_database("nodes", durable=False)
    shared = harness.servers_folder(tempfile.mkdtemp(prefix="skv-shared-", dir=harness.TMP))
    ini = _set["pg"].ini("storage = %s\n" % shared, dbname="nodes")
    _set["a"] = harness.server("node-a", ini=ini, extra=["--production"])
    _set["b"] = harness.server("node-b", ini=ini, extra=["--production"])


def tearDownModule():
    for name in ("node-a", "node-b"):
        if name in harness._started:
            harness._started.pop(name).stop()


class TwoNodeTests(unittest.TestCase):
    def test_a_design_taken_in_by_one_node_is_served_by_the_other(self):
        a, b = _set["a"], _set["b"]
        data = design_bytes(name=b"Twin Jet", body=b"across nodes" * 20)
        self.assertTrue(a.upload("70de01.plane", data).startswith("226"))
        status, _, body = a.get("/php/_addplane.php?data=1000;2000;30;40;50;800;5000;Twin%20Jet;70de01.plane;")
        self.assertEqual(status, 200, body)
        status, _, body = b.get("/php/_getplanes.php?style=1&from=0&num=17")
        self.assertEqual(body.decode().split("\n")[1].split(";")[:2], ["Twin Jet", "70de01.plane"])
        got = io.BytesIO()
        ftp = b.ftp()
        self.addCleanup(ftp.close)
        ftp.retrbinary("RETR 70de01.plane", got.write)
        self.assertEqual(got.getvalue(), data)
        self.assertEqual(b.get("/download.php?file=70de01.plane")[2], data)
        # The registration is done once, whichever node is asked again.
        self.assertEqual(b.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Again;70de01.plane;")[0], 409)

    def test_pages_kept_by_one_node_follow_writes_through_the_other(self):
        a, b = _set["a"], _set["b"]
        versions = "require_once '%s/lib/cache.php'; echo json_encode(store_versions(db()));" % harness.SERVER_DIR
        pages = ("/php/_getplanes.php?style=1&from=0&num=100", "/designs.php", "/hiscores.php", "/")
        before = {p: b.get(p)[2] for p in pages}
        self.assertEqual({p: b.get(p)[2] for p in pages if p != "/"}, {p: before[p] for p in pages if p != "/"})
        self.assertTrue(a.upload("cace01.plane", design_bytes(name=b"Fresh Jet")).startswith("226"))
        state = json.loads(sitedata.php(a, versions))
        self.assertEqual(a.get("/php/_addplane.php?data=1;2;3;4;5;6;7;Fresh%20Jet;cace01.plane;")[0], 200)
        after = json.loads(sitedata.php(a, versions))
        self.assertEqual((after["scores"], after["planes"] != state["planes"]), (state["scores"], True))
        for page in pages[:2]:
            self.assertIn(b"Fresh Jet", b.get(page)[2])
        self.assertEqual(a.get("/php/_addscore.php?data=Fresh%20Pilot;123;")[0], 200)
        final = json.loads(sitedata.php(a, versions))
        self.assertEqual((final["planes"], final["scores"] != after["scores"]), (after["planes"], True))
        for page in pages[2:]:
            self.assertIn(b"Fresh Pilot", b.get(page)[2])

    def test_a_rank_on_one_node_counts_scores_stored_through_the_other(self):
        a, b = _set["a"], _set["b"]
        for name, score in (("Ann", 700), ("Bob", 500)):
            self.assertEqual(a.get("/php/_addscore.php?data=%s;%d;" % (name, score))[0], 200)
        self.assertEqual(b.get("/php/_addscore.php?data=Cid;600;")[2], b"2")
        self.assertEqual(a.get("/php/_addscore.php?data=Dan;550;")[2], b"3")


if __name__ == "__main__":
    unittest.main()
