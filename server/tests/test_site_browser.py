"""The website in headless Chromium at 360 px (a phone) and 1440 px (a desktop): nothing wider
than the window, the expected rows, links and forms that lead where they say, hostile texts shown
as text, readable contrast."""
import json
import unittest
import urllib.parse

import harness
import sitedata
from browser import CHROMIUM, Browser
from sitedata import HOSTILE_MAIL, HOSTILE_NAME, LONG

WIDTHS = {"phone": (360, 740, True), "desktop": (1440, 900, False)}

# Every element of the page must end inside the window, and the page must not scroll sideways.
FITS = """(() => {
  const w = document.documentElement.clientWidth;
  const wide = [...document.querySelectorAll('main *, nav *, header *')].filter(e => {
    const r = e.getBoundingClientRect();
    return r.width > 1 && r.right > w + 0.5 && !e.classList.contains('plane');
  }).map(e => e.tagName + '.' + e.className);
  return {scroll: document.documentElement.scrollWidth - w, wide: wide.slice(0, 5)};
})()"""

# WCAG contrast of every text against the solid background colour behind it.
CONTRAST = """(() => {
  const lum = c => { const v = c.match(/[\\d.]+/g).slice(0, 3).map(x => { x /= 255;
      return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4); });
    return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2]; };
  const opaque = c => !/rgba\\(.*, 0\\)$/.test(c) && c !== 'transparent';
  const bad = [];
  for (const e of document.querySelectorAll('body *')) {
    if (![...e.childNodes].some(n => n.nodeType === 3 && n.textContent.trim())) continue;
    const r = e.getBoundingClientRect();
    if (r.width < 2 || r.height < 2) continue;
    const s = getComputedStyle(e);
    let b = e;
    while (b && !opaque(getComputedStyle(b).backgroundColor)) b = b.parentElement;
    const bg = b ? getComputedStyle(b).backgroundColor : 'rgb(255, 255, 255)';
    const [l1, l2] = [lum(s.color), lum(bg)].sort((x, y) => y - x);
    const ratio = (l1 + 0.05) / (l2 + 0.05);
    const size = parseFloat(s.fontSize), bold = parseInt(s.fontWeight) >= 700;
    const need = size >= 24 || (bold && size >= 18.66) ? 3 : 4.5;
    if (ratio < need) bad.push(e.tagName + '.' + e.className + ' ' + ratio.toFixed(2) + ' ' + s.color + ' on ' + bg);
  }
  return bad.slice(0, 5);
})()"""


@unittest.skipUnless(CHROMIUM, "chromium is not installed")
def setUpModule():
    harness.in_one_suite(False, "the pages are the PHP code's, whichever server hands them out")


class SiteInBrowserTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = harness.storage_server("site", "sqlite")
        sitedata.fill(cls.server)
        cls.ranked = sitedata.ranked(sitedata.expected_scores())
        cls.browsers = {name: Browser(w, h, mobile=m) for name, (w, h, m) in WIDTHS.items()}

    @classmethod
    def tearDownClass(cls):
        for b in cls.browsers.values():
            b.close()

    def url(self, target):
        return "http://%s%s" % (self.server.addr, target)

    def rows(self, b, selector):
        return b.js("[...document.querySelectorAll(%s)].map(r => r.textContent.replace(/\\s+/g, ' ').trim())"
                    % json.dumps(selector))

    def first_rank(self, b):
        return int(b.js("document.querySelector('table.scores tbody td.rank').textContent").replace(",", ""))

    def test_every_page_fits_the_width_and_reads_clearly(self):
        pages = ["/", "/hiscores.php", "/hiscores.php?page=3", "/hiscores.php?rank=132", "/designs.php",
                 "/designs.php?q=w", "/design.php?file=e0000.plane", "/design.php?file=e0010.plane",
                 "/design.php?file=5eed0001.plane", "/howto.php", "/design.php?file=abcd.plane"]
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                for target in pages:
                    with self.subTest(target):
                        b.goto(self.url(target))
                        self.assertEqual(b.js(FITS), {"scroll": 0, "wide": []})
                        self.assertEqual(b.js(CONTRAST), [])
                        self.assertEqual(b.js("document.querySelectorAll('script').length"), 0)

    def test_pages_show_their_rows(self):
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                b.goto(self.url("/"))
                self.assertEqual(len(self.rows(b, "table.scores tbody tr")), 10)
                self.assertEqual(len(self.rows(b, "ul.cards li")), 8)
                b.goto(self.url("/hiscores.php?page=2"))
                self.assertEqual(len(self.rows(b, "table.scores tbody tr")), 50)
                self.assertEqual(self.first_rank(b), self.ranked[50][0])
                b.goto(self.url("/designs.php"))
                self.assertEqual(len(self.rows(b, "table.designs tbody tr")), 25)
                b.goto(self.url("/design.php?file=5eed0002.plane"))
                self.assertEqual(self.rows(b, "table.numbers tbody th"),
                                 ["Costs", "Weight", "Consumption", "Noise", "Reliability", "Velocity", "Range"])
                self.assertEqual(b.js("document.querySelectorAll('table.numbers svg.bar').length"), 7)

    def test_hostile_name_and_mail_are_text(self):
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                b.goto(self.url("/design.php?file=e0000.plane"))
                self.assertEqual(b.js("document.querySelector('h1').textContent"), HOSTILE_NAME)
                self.assertEqual(b.js("document.querySelector('.facts .mail').textContent"), HOSTILE_MAIL)
                self.assertEqual(b.js("document.querySelectorAll('main img, main script, h1 *').length"), 0)
                self.assertEqual(b.js("document.title"), HOSTILE_NAME + " – Skyvora")
                b.goto(self.url("/design.php?file=e0010.plane"))
                self.assertEqual(b.js("document.querySelector('h1').textContent"), LONG)
                # The long name wraps inside the panel instead of running off it.
                width = b.js("document.documentElement.clientWidth")
                self.assertLessEqual(b.js("document.querySelector('h1').getBoundingClientRect().right"), width)
                self.assertGreater(b.js("document.querySelector('h1').getBoundingClientRect().height"), 200)

    def test_page_links_lead_to_their_pages(self):
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                b.goto(self.url("/hiscores.php"))
                b.click(".pager a[rel=next]")
                self.assertTrue(b.url().endswith("/hiscores.php?page=2"), b.url())
                self.assertEqual(self.first_rank(b), self.ranked[50][0])
                b.click(".pager li:nth-last-child(2) a")  # the last page's number
                self.assertTrue(b.url().endswith("/hiscores.php?page=3"), b.url())
                self.assertEqual(self.first_rank(b), self.ranked[100][0])
                b.click(".pager a[rel=prev]")
                self.assertTrue(b.url().endswith("/hiscores.php?page=2"), b.url())
                b.goto(self.url("/designs.php"))
                b.click(".pager a[rel=next]")
                self.assertTrue(b.url().endswith("/designs.php?page=2"), b.url())
                self.assertEqual(self.rows(b, "table.designs td.who a")[0], "Design 038")

    def test_name_search_jumps_to_the_marked_row(self):
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                b.goto(self.url("/"))
                b.type_and_enter("#home-name", "P100")
                self.assertTrue(b.url().endswith("/hiscores.php?name=P100#marked"), b.url())
                self.assertEqual(self.rows(b, "tr.marked .name"), ["P100"])
                top, bottom = b.js("(() => { const r = document.getElementById('marked').getBoundingClientRect();"
                                   " return [r.top, r.bottom]; })()")
                self.assertGreaterEqual(top, -1)
                self.assertLessEqual(bottom, b.js("innerHeight"))
                rank = self.ranked[100][0]
                b.goto(self.url("/hiscores.php"))
                b.type_and_enter("#find-rank", str(rank))
                self.assertTrue(b.url().endswith("/hiscores.php?rank=%d#marked" % rank), b.url())
                self.assertEqual({int(r) for r in self.rows(b, "tr.marked td.rank")}, {rank})

    def test_design_search_and_sort(self):
        for name, b in self.browsers.items():
            with self.subTest(width=name):
                b.goto(self.url("/designs.php"))
                b.type_and_enter("#q", "design 05")
                self.assertEqual(urllib.parse.urlsplit(b.url()).query, "q=design+05&sort=new&dir=desc")
                self.assertEqual(self.rows(b, "table.designs td.who a"), ["Design %03d" % i for i in range(59, 49, -1)])
                if name == "desktop":  # the column heads are links
                    b.click("a.sort-costs")
                else:  # on a phone the heads give way to cards: the form sorts
                    b.js("document.getElementById('sort').value = 'costs'; document.getElementById('dir').value = 'asc'")
                    b.click(".finder button")
                costs = [int(c.split()[-1].replace(",", "")) for c in self.rows(b, "table.designs td[data-label=Costs]")]
                self.assertEqual(costs, sorted(costs))
                self.assertEqual(len(costs), 10)
                b.click("table.designs td.who a")
                self.assertIn("/design.php?file=5eed0032.plane", b.url())


if __name__ == "__main__":
    unittest.main()
