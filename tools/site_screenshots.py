#!/usr/bin/python3
"""Takes the README's pictures of the website: the start page, the hiscores with a player's row
marked, the catalogue and a design's page, at 1440 px and at 360 px, in headless Chromium against
a game server on 127.0.3.40 filled with a made-up community.

    /usr/bin/python3 tools/site_screenshots.py      (writes docs/screenshots/site_*.png)
"""
import os
import random
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "server", "tests"))
from browser import Browser  # noqa: E402

ADDR = "127.0.3.40"
OUT = os.path.join(ROOT, "docs", "screenshots")
FIRST = ["Ann", "Bjorn", "Chloe", "Dev", "Emil", "Fay", "Gus", "Hana", "Ivo", "Jana", "Kai", "Lena", "Milo", "Nora",
         "Otto", "Pia", "Quinn", "Rosa", "Sven", "Tara", "Uma", "Vik", "Wren", "Yara", "Zoe"]
LAST = ["Lee", "Falk", "Martin", "Rao", "Berg", "Okafor", "Novak", "Sato", "Costa", "Weber", "Moreau", "Ito"]
DESIGNS = [  # name, costs, weight, consumption, noise, reliability, velocity, range
    ("Albatross LR", 41000, 22100, 64, 35, 88, 910, 14200), ("Bee Commuter", 3900, 2100, 8, 22, 71, 420, 1300),
    ("Condor 400", 88000, 61000, 190, 71, 90, 880, 9800), ("Dragonfly", 1200, 650, 4, 9, 55, 290, 800),
    ("Eider Freighter", 52000, 47000, 160, 64, 82, 610, 6100), ("Falcon Express", 27500, 14800, 52, 48, 76, 830, 5200),
    ("Gull Hopper", 2600, 1400, 7, 18, 62, 380, 1100), ("Heron Twin", 9800, 5600, 21, 30, 79, 540, 2400),
    ("Ibis 220", 31000, 19500, 58, 44, 84, 790, 4700), ("Jaeger Sport", 6400, 2900, 15, 57, 49, 720, 1900),
    ("Kestrel Mk II", 14500, 8100, 29, 39, 91, 640, 3600), ("Lark Trainer", 1800, 900, 5, 12, 68, 310, 950),
    ("Merlin Jet", 46000, 24000, 80, 67, 87, 900, 8800), ("Nightjar", 21000, 11200, 41, 26, 73, 700, 4100),
    ("Osprey Amphibian", 17800, 12600, 37, 51, 66, 450, 2900), ("Puffin Shuttle", 4700, 2600, 11, 24, 77, 460, 1500),
    ("Quail Air Taxi", 2100, 1100, 6, 15, 58, 330, 700), ("Raven Heavy", 99000, 72000, 230, 80, 85, 820, 11500),
    ("Swift 7", 12800, 6100, 24, 62, 95, 860, 3100), ("Tern Seaplane", 8800, 4700, 17, 28, 64, 400, 2200),
]


def php(data, code):
    env = dict(os.environ, SKV_DATA=data)
    subprocess.run(["php", "-r", "require '%s/server/lib/common.php';\n%s" % (ROOT, code)], check=True, env=env)


def quote(s):
    return "'" + s.replace("\\", "\\\\").replace("'", "\\'") + "'"


def fill(data):
    rng = random.Random(1998)
    lines = []
    for i in range(420):
        name = "%s %s" % (rng.choice(FIRST), rng.choice(LAST)) if i % 5 else "%s%d" % (rng.choice(FIRST), i)
        mail = name.lower().replace(" ", ".") + "@example.org" if rng.random() < 0.6 else ""
        lines.append("add_score(%s, %d, %s);" % (quote(name), rng.randint(2, 400) * 250, quote(mail)))
    php(data, "\n".join(lines))
    for k, (name, *numbers) in enumerate(DESIGNS):
        file = "%08x.plane" % rng.getrandbits(32)
        mail = ("%s.%s@example.org" % (FIRST[k].lower(), LAST[k % len(LAST)].lower())) if k % 3 else ""
        php(data, "file_put_contents(planes_dir() . '/%s', plane_file_bytes(%s, %s, 'body'));"
                  "add_plane(%s, '%s', %s, %s);" % (file, numbers, quote(name), quote(name), file, quote(mail),
                                                     numbers))


def main():
    work = tempfile.mkdtemp(prefix="skv-site-shots-")
    data = os.path.join(work, "server")
    server = os.path.join(ROOT, "server")
    subprocess.run([os.path.join(server, "start.sh"), "--addr", ADDR, "--data", data], check=True,
                   stdout=subprocess.DEVNULL)
    try:
        fill(data)
        shots = {"home": "/", "hiscores": "/hiscores.php?name=Dev+Berg",
                 "designs": "/designs.php?sort=velocity&dir=desc", "design": "/design.php?file=%s"}
        shown = subprocess.run(["php", "-r", "require '%s/server/lib/common.php'; echo db()->query("
                                 "\"SELECT file FROM planes WHERE name = 'Kestrel Mk II'\")->fetchColumn();" % ROOT],
                                env=dict(os.environ, SKV_DATA=data), capture_output=True, text=True).stdout
        shots["design"] %= shown
        for width, height, tag in ((1440, 900, "1440"), (360, 760, "360")):
            with Browser(width, height, mobile=width < 600) as b:
                for name, target in shots.items():
                    b.goto("http://%s%s" % (ADDR, target))
                    path = os.path.join(OUT, "site_%s_%s.png" % (name, tag))
                    b.screenshot(path)
                    print(path)
    finally:
        subprocess.run([os.path.join(server, "stop.sh"), "--data", data])
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
