"""The website tests' data: a ranking with ties across page boundaries, a catalogue whose order
under every sort is known, hostile texts; and a reader for the pages' tables."""
import html.parser

LONG = "W" * 5000  # a name without a single break opportunity
HOSTILE_NAME = "<script>alert('x')</script> \"quoted\" & Co"
HOSTILE_MAIL = "\"><img src=x onerror=alert(1)>@example.org"


def expected_scores():
    """(name, score) of every entry: groups of three equal scores, so ties straddle positions 49/50."""
    rows = [("P%03d" % i, 100_000 - ((i + 1) // 3) * 7) for i in range(130)]
    rows += [("Ann", 99_993), ("Ann", 50), (HOSTILE_NAME, 77_777), (LONG, 66_666)]
    # Both ends of the 64-bit range and the edges of a 65,536-wide score bucket.
    rows += [("Top", 2**63 - 1), ("Bottom", -2**63), ("Minus", -1), ("Zero", 0), ("Edge", 65_535), ("Edge", 65_536)]
    return rows


def ranked(rows):
    """(rank, name, score) in list order: score descending, ties by name; rank = 1 + higher scores."""
    order = sorted(rows, key=lambda r: (-r[1], r[0]))
    return [(1 + sum(1 for _, s in rows if s > score), name, score) for name, score in order]


def plane(i):
    """The numbers of seed design i, as the admin tool makes them."""
    return dict(costs=1000 * i, weight=500 + i, consumption=10 + i % 50, noise=7 * i % 100,
                reliability=13 * i % 100, velocity=300 + i, range=1000 + 10 * i)


SEEDED = 60
EXTRA = [  # name, mail, numbers
    (HOSTILE_NAME, HOSTILE_MAIL, dict(costs=-5, weight=2**31 - 1, consumption=0, noise=101, reliability=-31,
                                      velocity=0, range=-1)),
    (LONG, LONG[:127], dict(costs=500, weight=500, consumption=500, noise=500, reliability=500, velocity=500,
                            range=500)),
    ("Jet_100% Special", "", dict(costs=1, weight=1, consumption=1, noise=21, reliability=111, velocity=1, range=1)),
]


def fill(server):
    """Stores the ranking and the catalogue in one PHP run against the server's storage."""
    lines = ["db()->exec('DELETE FROM scores');"]
    lines += ["add_score(%s, %d, %s);" % (php_str(n), s, php_str(n.lower()[:40] + "@example.org" if n != "Ann" else ""))
              for n, s in expected_scores()]
    lines += ["db()->exec('DELETE FROM planes');"]
    server.php("\n".join(lines))
    server.admin("clear-planes")
    server.admin("seed-planes", SEEDED)
    for k, (name, mail, nums) in enumerate(EXTRA):
        file = "e%03x0.plane" % k
        numbers = [nums[c] for c in ("costs", "weight", "consumption", "noise", "reliability", "velocity", "range")]
        server.php("file_put_contents(planes_dir() . '/%s', plane_file_bytes(%s, 'x', 'body'));"
                    "add_plane(%s, '%s', %s, %s);" % (file, numbers, php_str(name), file, php_str(mail), numbers))


def catalogue():
    """file -> numbers (and 'id') of every design in the order they were added."""
    out = {}
    for i in range(1, SEEDED + 1):
        out["5eed%04x.plane" % i] = dict(plane(i), id=i)
    for k, (_, _, nums) in enumerate(EXTRA):
        out["e%03x0.plane" % k] = dict(nums, id=SEEDED + 1 + k)
    return out


def php_str(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"


class Rows(html.parser.HTMLParser):
    """The body rows of the first table with class CLASS: cell texts, links, marks."""

    def __init__(self, table_class):
        super().__init__(convert_charrefs=True)
        self.table_class = table_class
        self.depth = 0  # >0 inside the wanted table
        self.in_body = False
        self.rows = []
        self.cell = None
        self.done = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "table" and not self.done and self.depth == 0 and self.table_class in (a.get("class") or "").split():
            self.depth = 1
        elif tag == "table" and self.depth:
            self.depth += 1
        if not self.depth:
            return
        if tag == "tbody":
            self.in_body = True
        elif tag == "tr" and self.in_body:
            self.rows.append({"cells": [], "links": [], "marked": "marked" in (a.get("class") or "").split(),
                              "id": a.get("id")})
        elif tag in ("td", "th") and self.in_body:
            self.cell = []
        elif tag == "a" and self.in_body and self.rows:
            self.rows[-1]["links"].append(a.get("href"))

    def handle_endtag(self, tag):
        if not self.depth:
            return
        if tag in ("td", "th") and self.cell is not None:
            self.rows[-1]["cells"].append(" ".join("".join(self.cell).split()))
            self.cell = None
        elif tag == "tbody":
            self.in_body = False
        elif tag == "table":
            self.depth -= 1
            self.done = self.depth == 0

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)


def table_rows(page, table_class):
    p = Rows(table_class)
    p.feed(page)
    return p.rows
