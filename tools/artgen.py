#!/usr/bin/python3
"""Renders every bitmap of starter.dll, at 100 %, 150 % and 200 %, and the program icon.

Run from anywhere:  /usr/bin/python3 tools/artgen.py [--preview DIR]

Writes res/dll/bmp/*.bmp (the 150 % and 200 % sets in bmp/150/ and bmp/200/),
res/dll/starter_dll.rc and res/icons/starter.ico, and the website's pictures
and palette into server/www/site/.
Reads the bitmap ids from res/resource.h, where the Starter places its
windows from res/layout.h and the sentences of the description pictures from
res/strings.rc, the files the program is built from.  Every set is drawn by
the same code at its own size: a larger set is never a resampled smaller one.
Needs Pillow (Debian python3-pil) and the DejaVu fonts (fonts-dejavu-core).
The output is deterministic (for one Pillow and FreeType), so the committed
files only change when the drawing code does.  Every BMP is read back and
checked: the key colour is one palette entry and marks exactly the intended
outline, hover and description pictures share their owner's outline, no
edge pixel is pinkish, and everything placed on the main window lies inside
its outline, at the places the Starter scales them to.  A problem is printed and the exit code is 1.

--preview DIR also composes the main window as it will look on screen
(idle and hovered, per language, and with the design browser open), for
eyeballing only: never commit those PNGs.
"""

import math
import os
import random
import re
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DLL_DIR = os.path.join(ROOT, "res", "dll")
BMP_DIR = os.path.join(DLL_DIR, "bmp")
ICON_PATH = os.path.join(ROOT, "res", "icons", "starter.ico")
FONT_DIR = "/usr/share/fonts/truetype/dejavu"

KEY = (255, 0, 255)  # the colour the region builder cuts away


def read_header(name):
    """The numbers of a header of the Starter's: "#define NAME n" and "constexpr T Name = {a, b};"."""
    facts = {}
    with open(os.path.join(ROOT, "res", name), encoding="utf-8") as f:
        for line in f:
            m = (re.match(r"#define (\w+)\s+(-?\d+)\b", line)
                 or re.match(r"constexpr \w+ (\w+) = \{?([-\d, ]+)\}?;", line))
            if m:
                numbers = tuple(int(n) for n in m.group(2).split(","))
                facts[m.group(1)] = numbers if len(numbers) > 1 else numbers[0]
    return facts


IDS = read_header("resource.h")      # bitmap ids
LAYOUT = read_header("layout.h")     # where the Starter places things on the main window

# The sets of starter.dll: scale, id offset, folder under bmp/.
SETS = [(1, 0, ""), (1.5, IDS["IDB_SET_150_OFFSET"], "150"), (2, IDS["IDB_SET_200_OFFSET"], "200")]
K = 1  # the scale being drawn: pixels per layout unit


def px(v):
    """A layout position or size in pixels at the scale drawn, rounded as the Starter rounds."""
    return int(math.floor(v * K + 0.5))


def read_strings():
    """The rows of res/strings.rc: {(language, base id): text}, languages "de", "en", "fr"."""
    texts = {}
    row = re.compile(r'^\s*(?:(ENGLISH|FRENCH)\()?(IDS_\w+)(?: \+ (\d+))?\)? "(.*)"$')
    with open(os.path.join(ROOT, "res", "strings.rc"), encoding="utf-8") as f:
        for line in f:
            m = row.match(line)
            if m and m.group(2) in IDS:
                lang = {"ENGLISH": "en", "FRENCH": "fr", None: "de"}[m.group(1)]
                texts[(lang, IDS[m.group(2)] + int(m.group(3) or 0))] = m.group(4).replace('""', '"')
    return texts


STRINGS = read_strings()

MAIN_ID = IDS["IDB_MAIN"]            # its client area is this bitmap
MAIN_SIZE = (640, 470)
DESC_POS = LAYOUT["DescriptionPos"]
DESC_SIZE = (272, 168)
LINK_RECT = LAYOUT["WebsiteLinkRect"]      # right/bottom exclusive
LIST_RECT = LAYOUT["BrowserListRect"]
BIG_SIZE = (128, 64)
UPLOAD_SIZE = (150, 56)
SMALL_SIZE = (80, 40)
ROUND_SIZE = (44, 44)
BUTTONS = [  # name, normal id, x, y
    (name, IDS[bitmap], *LAYOUT[place]) for name, bitmap, place in [
        ("play", "IDB_BIG_BUTTON", "PlayButtonPos"), ("hiscore", "IDB_BIG_BUTTON", "HiscoreButtonPos"),
        ("download", "IDB_BIG_BUTTON", "DownloadButtonPos"), ("upload", "IDB_UPLOAD", "UploadButtonPos"),
        ("options", "IDB_SMALL_BUTTON", "OptionsButtonPos"), ("exit", "IDB_SMALL_BUTTON", "ExitButtonPos"),
        ("ok", "IDB_OK", "OkButtonPos"), ("cancel", "IDB_CANCEL", "CancelButtonPos"),
        ("back", "IDB_PAGE_BACK", "PageBackButtonPos"), ("forward", "IDB_PAGE_FORWARD", "PageForwardButtonPos"),
    ]
]


# ---------------------------------------------------------------- helpers

_fonts = {}


def font(name, size):
    key = (name, size)
    if key not in _fonts:
        _fonts[key] = ImageFont.truetype(os.path.join(FONT_DIR, name), size)
    return _fonts[key]


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(int(round(lerp(a, b, t))) for a, b in zip(c1, c2))


def ramp(stops, t):
    """Colour at t on a list of (position, colour) stops."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0) if p1 > p0 else 1.0)
    return stops[-1][1]


def vgrad(w, h, stops):
    col = Image.new("RGB", (1, h))
    col.putdata([ramp(stops, (y + 0.5) / h) for y in range(h)])
    return col.resize((w, h), Image.NEAREST)


def hgrad(w, h, stops):
    row = Image.new("RGB", (w, 1))
    row.putdata([ramp(stops, (x + 0.5) / w) for x in range(w)])
    return row.resize((w, h), Image.NEAREST)


def radial(w, h, stops, mode="RGB", n=96):
    """Elliptic radial gradient filling a w×h box; t = 1 at the box edge."""
    small = Image.new(mode, (n, n))
    data = []
    for y in range(n):
        for x in range(n):
            t = math.hypot((x + 0.5) / n * 2 - 1, (y + 0.5) / n * 2 - 1)
            data.append(ramp(stops, t) if mode == "RGB" else ramp(stops, t)[0])
    small.putdata(data)
    return small.resize((max(1, w), max(1, h)), Image.BILINEAR)


def noise(w, h, seed, streak=1, amount=10):
    """Grey noise around 128; streak > 1 stretches it into brushed lines."""
    rnd = random.Random(seed)
    sw = max(1, int(w // streak))
    im = Image.new("L", (sw, h))
    im.putdata([128 + rnd.randint(-amount, amount) for _ in range(sw * h)])
    return im.resize((w, h), Image.BILINEAR) if streak > 1 else im


def shift(mask, dx, dy):
    out = Image.new("L", mask.size, 0)
    out.paste(mask, (dx, dy))
    return out


def scale_alpha(mask, k):
    return mask.point(lambda v: int(v * k))


def hard(mask_hi, size):
    """Supersampled shape -> 1-bit mask (0/255) at final size."""
    return mask_hi.resize(size, Image.BOX).point(lambda v: 255 if v >= 128 else 0)


def rot(pts, ang, cx=0.0, cy=0.0):
    ca, sa = math.cos(ang), math.sin(ang)
    return [(cx + x * ca - y * sa, cy + x * sa + y * ca) for x, y in pts]


def ellipse_pts(cx, cy, rx, ry, a0=0.0, a1=2 * math.pi, n=48):
    return [(cx + rx * math.cos(lerp(a0, a1, i / n)),
             cy + ry * math.sin(lerp(a0, a1, i / n))) for i in range(n + 1)]


class Canvas:
    """An RGB picture drawn at S times its final size."""

    def __init__(self, size, S, fill=(0, 0, 0)):
        self.w, self.h = size          # layout units
        self.S = S * K
        self.size = (px(self.w), px(self.h))
        self.im = Image.new("RGB", (round(self.w * self.S), round(self.h * self.S)), fill)

    @property
    def hi(self):
        return self.im.size

    def s(self, v):
        return int(round(v * self.S))

    def box(self, x0, y0, x1, y1):
        S = self.S
        return [round(x0 * S), round(y0 * S), round(x1 * S) - 1, round(y1 * S) - 1]

    def mask(self):
        return Image.new("L", self.hi, 0)

    def shape(self, fn):
        m = self.mask()
        fn(ImageDraw.Draw(m), self)
        return m

    def rrect(self, d, x0, y0, x1, y1, r, fill=255):
        d.rounded_rectangle(self.box(x0, y0, x1, y1), radius=self.s(r), fill=fill)

    def ellipse(self, d, cx, cy, rx, ry, fill=255, outline=None, width=0):
        d.ellipse(self.box(cx - rx, cy - ry, cx + rx, cy + ry), fill=fill,
                  outline=outline, width=self.s(width) if width else 0)

    def poly(self, d, pts, fill=255):
        d.polygon([(x * self.S, y * self.S) for x, y in pts], fill=fill)

    def line(self, d, pts, width, fill=255, joint="curve"):
        d.line([(x * self.S, y * self.S) for x, y in pts], fill=fill,
               width=max(1, self.s(width)), joint=joint)

    def paint(self, fill, mask, alpha=1.0):
        if alpha != 1.0:
            mask = scale_alpha(mask, alpha)
        if isinstance(fill, tuple):
            fill = Image.new("RGB", self.hi, fill)
        self.im.paste(fill, (0, 0), mask)

    def blur(self, mask, r):
        return mask.filter(ImageFilter.GaussianBlur(r * self.S))

    def bevel(self, m, depth=1.5, light=(255, 255, 255), dark=(0, 0, 0),
              la=0.55, da=0.6, inset=False):
        """Raised (or sunken) edge light along the inside of shape m."""
        d = self.s(depth)
        top = ImageChops.subtract(m, shift(m, d, d))
        bottom = ImageChops.subtract(m, shift(m, -d, -d))
        if inset:
            top, bottom = bottom, top
        self.paint(light, self.blur(top, depth * 0.35), la)
        self.paint(dark, self.blur(bottom, depth * 0.35), da)

    def inner_shadow(self, m, r=4, a=0.7, dx=1.5, dy=2.0, colour=(0, 0, 0)):
        outside = ImageChops.invert(m)
        sh = self.blur(shift(outside, self.s(dx), self.s(dy)), r)
        self.paint(colour, ImageChops.multiply(sh, m), a)

    def final(self):
        return self.im.resize(self.size, Image.LANCZOS)


# ---------------------------------------------------------------- glyphs
# Each glyph draws white (255) on a mask at centre cx, cy with size sz
# (the side of its square); knock-outs draw 0.


def plane_pts(cx, cy, length, ang):
    """Top view of an airliner, nose along +x before rotation."""
    L = length / 2.0
    parts = []
    body = []
    for i in range(13):
        a = -math.pi / 2 + math.pi * i / 12
        body.append((0.70 + 0.28 * math.cos(a), 0.085 * math.sin(a)))
    body += [(-0.98, 0.05), (-1.0, 0.0), (-0.98, -0.05)]
    parts.append(body)
    for sgn in (1, -1):
        parts.append([(0.28, 0.0), (-0.12, sgn * 0.98), (-0.30, sgn * 0.98),
                      (-0.22, sgn * 0.05)])
        parts.append([(-0.66, 0.0), (-0.88, sgn * 0.40), (-0.99, sgn * 0.40),
                      (-0.93, 0.0)])
        parts.append(ellipse_pts(0.04, sgn * 0.36, 0.13, 0.055, n=16))
    out = []
    for p in parts:
        out.append(rot([(x * L, y * L) for x, y in p], ang, cx, cy))
    return out


def g_plane_takeoff(c, d, cx, cy, sz, fill=255):
    for p in plane_pts(cx + sz * 0.04, cy - sz * 0.08, sz * 0.88, -0.55):
        c.poly(d, p, fill)
    c.line(d, [(cx - sz * 0.46, cy + sz * 0.40), (cx + sz * 0.46, cy + sz * 0.40)],
           sz * 0.09, fill)


def g_trophy(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    c.poly(d, ellipse_pts(cx, cy - 0.78 * u, 0.50 * u, 0.80 * u, 0, math.pi, 24), fill)
    c.poly(d, [(cx - 0.5 * u, cy - 0.80 * u), (cx + 0.5 * u, cy - 0.80 * u),
               (cx + 0.5 * u, cy - 0.70 * u), (cx - 0.5 * u, cy - 0.70 * u)], fill)
    for sgn in (-1, 1):
        c.ellipse(d, cx + sgn * 0.52 * u, cy - 0.46 * u, 0.26 * u, 0.24 * u,
                  fill=None, outline=fill, width=0.12 * u)
    c.poly(d, [(cx - 0.09 * u, cy), (cx + 0.09 * u, cy), (cx + 0.12 * u, cy + 0.50 * u),
               (cx - 0.12 * u, cy + 0.50 * u)], fill)
    c.poly(d, [(cx - 0.32 * u, cy + 0.50 * u), (cx + 0.32 * u, cy + 0.50 * u),
               (cx + 0.44 * u, cy + 0.80 * u), (cx - 0.44 * u, cy + 0.80 * u)], fill)


def _cloud(c, d, cx, cy, u, fill):
    c.ellipse(d, cx - 0.46 * u, cy + 0.10 * u, 0.40 * u, 0.38 * u, fill)
    c.ellipse(d, cx + 0.02 * u, cy - 0.16 * u, 0.52 * u, 0.50 * u, fill)
    c.ellipse(d, cx + 0.50 * u, cy + 0.10 * u, 0.38 * u, 0.36 * u, fill)
    c.rrect(d, cx - 0.86 * u, cy + 0.02 * u, cx + 0.88 * u, cy + 0.48 * u, 0.24 * u, fill)


def _cloud_arrow(c, d, cx, cy, u, up):
    """Arrow knocked out of the cloud body."""
    sg = -1 if up else 1
    tip, base = cy + sg * 0.36 * u, cy + sg * 0.02 * u
    c.poly(d, [(cx - 0.11 * u, cy - sg * 0.44 * u), (cx + 0.11 * u, cy - sg * 0.44 * u),
               (cx + 0.11 * u, base), (cx - 0.11 * u, base)], 0)
    c.poly(d, [(cx - 0.34 * u, base), (cx + 0.34 * u, base), (cx, tip)], 0)


def g_cloud_down(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    _cloud(c, d, cx, cy - 0.02 * u, u, fill)
    _cloud_arrow(c, d, cx + 0.02 * u, cy + 0.06 * u, u, False)


def g_cloud_up(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    _cloud(c, d, cx, cy - 0.02 * u, u, fill)
    _cloud_arrow(c, d, cx + 0.02 * u, cy + 0.06 * u, u, True)


def g_gear(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    for i in range(8):
        a = i * math.pi / 4
        c.poly(d, rot([(0.45 * u, -0.15 * u), (0.90 * u, -0.11 * u),
                       (0.90 * u, 0.11 * u), (0.45 * u, 0.15 * u)], a, cx, cy), fill)
    c.ellipse(d, cx, cy, 0.66 * u, 0.66 * u, fill)
    c.ellipse(d, cx, cy, 0.28 * u, 0.28 * u, 0)


def g_exit(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    w = 0.15 * u
    c.line(d, [(cx + 0.05 * u, cy - 0.80 * u), (cx - 0.78 * u, cy - 0.80 * u),
               (cx - 0.78 * u, cy + 0.80 * u), (cx + 0.05 * u, cy + 0.80 * u)], w, fill,
           joint=None)
    c.poly(d, [(cx - 0.38 * u, cy - 0.08 * u), (cx + 0.45 * u, cy - 0.08 * u),
               (cx + 0.45 * u, cy + 0.08 * u), (cx - 0.38 * u, cy + 0.08 * u)], fill)
    c.poly(d, [(cx + 0.30 * u, cy - 0.36 * u), (cx + 0.92 * u, cy),
               (cx + 0.30 * u, cy + 0.36 * u)], fill)


def g_globe(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    w = 0.08 * u
    c.ellipse(d, cx, cy, 0.92 * u, 0.92 * u, fill=None, outline=fill, width=w * 1.3)
    c.ellipse(d, cx, cy, 0.40 * u, 0.92 * u, fill=None, outline=fill, width=w)
    c.line(d, [(cx, cy - 0.92 * u), (cx, cy + 0.92 * u)], w, fill)
    c.line(d, [(cx - 0.92 * u, cy), (cx + 0.92 * u, cy)], w, fill)
    for sgn in (-1, 1):
        y = cy + sgn * 0.48 * u
        hw = math.sqrt(0.92 ** 2 - 0.48 ** 2) * u
        c.line(d, [(cx - hw, y), (cx + hw, y)], w, fill)


def g_check(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    c.line(d, [(cx - 0.62 * u, cy + 0.02 * u), (cx - 0.18 * u, cy + 0.48 * u),
               (cx + 0.66 * u, cy - 0.50 * u)], 0.30 * u, fill)


def g_cross(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    k = 0.50 * u
    c.line(d, [(cx - k, cy - k), (cx + k, cy + k)], 0.28 * u, fill)
    c.line(d, [(cx - k, cy + k), (cx + k, cy - k)], 0.28 * u, fill)


def g_arrow(c, d, cx, cy, sz, fill=255, left=True):
    u = sz / 2.0
    sg = -1 if left else 1
    c.poly(d, [(cx - sg * 0.62 * u, cy - 0.13 * u), (cx + sg * 0.05 * u, cy - 0.13 * u),
               (cx + sg * 0.05 * u, cy + 0.13 * u), (cx - sg * 0.62 * u, cy + 0.13 * u)],
           fill)
    c.poly(d, [(cx + sg * 0.70 * u, cy), (cx - sg * 0.05 * u, cy - 0.56 * u),
               (cx - sg * 0.05 * u, cy + 0.56 * u)], fill)


def g_wings(c, d, cx, cy, sz, fill=255):
    """Pilot's wings with a roundel, as on the big buttons."""
    u = sz / 2.0
    for sg in (1, -1):
        c.poly(d, [(cx + (x - 64) / 62.0 * u, cy + (y - 26) / 62.0 * u)
                   for x, y in wing_pts(sg)], fill)
    c.ellipse(d, cx, cy, 0.30 * u, 0.30 * u, fill)


def g_star(c, d, cx, cy, sz, fill=255):
    u = sz / 2.0
    c.poly(d, [(cx + r * u * math.cos(a), cy + r * u * math.sin(a))
               for k in range(10)
               for a, r in [(-math.pi / 2 + k * math.pi / 5, 1.0 if k % 2 == 0 else 0.4)]],
           fill)


GLYPHS = {
    "play": g_plane_takeoff, "hiscore": g_trophy, "download": g_cloud_down,
    "upload": g_cloud_up, "options": g_gear, "exit": g_exit,
}


def glyph_mask(c, fn, cx, cy, sz, **kw):
    m = c.mask()
    fn(c, ImageDraw.Draw(m), cx, cy, sz, **kw)
    return m


# ---------------------------------------------------------------- palette

STEEL = [(0.0, (112, 122, 138)), (0.5, (74, 82, 96)), (1.0, (46, 52, 64))]
AMBER = (255, 190, 92)
CYAN = (120, 220, 255)
RIM = (16, 18, 24)


def metal(c, seed, stops=STEEL, streak=24, amount=9):
    """Brushed gunmetal covering the whole canvas."""
    base = vgrad(c.hi[0], c.hi[1], stops)
    n = noise(c.hi[0], c.hi[1], seed, streak * c.S, amount)
    return ImageChops.overlay(base, Image.merge("RGB", (n, n, n)))


def rivet(c, x, y, r=2.2):
    """A domed screw head, lit from the top left."""
    S = c.S
    n = c.s(2 * r + 2)
    m = Image.new("L", (n, n), 0)
    ImageDraw.Draw(m).ellipse([c.s(1), c.s(1), c.s(1 + 2 * r) - 1, c.s(1 + 2 * r) - 1], fill=255)
    ox, oy = c.s(x - r - 1), c.s(y - r - 1)
    sh = m.filter(ImageFilter.GaussianBlur(0.7 * S))
    c.im.paste((12, 14, 20), (ox + c.s(0.7), oy + c.s(0.9)), scale_alpha(sh, 0.85))
    face = radial(n, n, [(0, (236, 240, 246)), (0.45, (150, 158, 172)),
                         (0.9, (70, 76, 90)), (1, (60, 66, 78))])
    face = ImageChops.offset(face, -c.s(r * 0.35), -c.s(r * 0.35))
    c.im.paste(face, (ox, oy), m)


# ---------------------------------------------------------------- main window

WS_RECT = (10, 10, 418, 314)        # the windshield opening
HOUSING = (-20, -20, 296, 193)      # metal around the description screen
LAMP_X = 623
LAMPS = {"play": (LAMP_X, 66), "hiscore": (LAMP_X, 167), "download": (LAMP_X, 269)}
BAY_ICONS = {"exit": (60, 426), "options": (366, 426)}
SOCKETS = [(447, 52), (447, 102), (447, 172), (447, 222)]


def main_outline(c, d, i=0.0, fill=255):
    """The main window's silhouette, shrunk by i pixels."""
    c.rrect(d, 0 + i, 0 + i, 432 - i, 470 - i, 30 - i, fill)
    c.rrect(d, 400 + i, 0 + i, 626 - i, 416 - i, 26 - i, fill)
    f = 26
    d.rectangle(c.box(432 - i - 1, 416 - i - 1, 432 + f, 416 + f), fill=fill)
    c.ellipse(d, 432 + f, 416 + f, f + i, f + i, fill=0)
    for x, y in LAMPS.values():
        c.rrect(d, 604 + i, y - 17 + i, 640 - i, y + 17 - i, 17 - i, fill)


def windshield(c, d, grow=0.0, fill=255):
    x0, y0, x1, y1 = WS_RECT
    c.rrect(d, x0 - grow, y0 - grow, x1 + grow, y1 + grow, 16 + grow, fill)
    hx0, hy0, hx1, hy1 = HOUSING
    c.rrect(d, hx0, hy0, hx1 - grow, hy1 - grow, 24 - grow, 0)


def sky(c, ws):
    W, H = c.hi
    y0, y1 = WS_RECT[1], WS_RECT[3]
    col = Image.new("RGB", (1, H))
    col.putdata([ramp(SKY_STOPS, (yy / c.S - y0) / (y1 - y0)) for yy in range(H)])
    c.paint(col.resize((W, H), Image.NEAREST), ws)
    # stars in the high, dark part
    rnd = random.Random(7)
    st = c.mask()
    sd = ImageDraw.Draw(st)
    for _ in range(90):
        x, y = rnd.uniform(12, 416), rnd.uniform(12, 190)
        r = rnd.choice([0.45, 0.5, 0.6, 0.8])
        c.ellipse(sd, x, y, r, r, fill=rnd.randint(90, 255))
    c.paint((255, 250, 235), ImageChops.multiply(st, ws))
    # the sun sinking behind the haze, and its glow
    sx, sy = 318, 300
    glow = radial(c.s(520), c.s(260), [(0, (255,)), (0.35, (120,)), (1, (0,))], "L")
    g = c.mask()
    g.paste(glow, (c.s(sx - 260), c.s(sy - 130)))
    c.paint((255, 196, 120), ImageChops.multiply(g, ws), 0.55)
    sun = c.shape(lambda dd, cc: cc.ellipse(dd, sx, sy, 20, 20))
    c.paint((255, 240, 200), c.blur(sun, 6), 0.7)
    c.paint((255, 236, 190), ImageChops.multiply(sun, ws))
    # two ridges of hills against the glow
    for k, (base, amp, colr, seed) in enumerate(HILLS):
        rr = random.Random(seed)
        pts = [(WS_RECT[0] - 2, 330)]
        ph = rr.uniform(0, 6)
        for x in range(WS_RECT[0] - 2, WS_RECT[2] + 4, 4):
            y = base - amp * (0.6 * math.sin(x / 37.0 + ph) + 0.4 * math.sin(x / 13.0 + ph * 2))
            pts.append((x, y))
        pts.append((WS_RECT[2] + 4, 330))
        hill = c.shape(lambda dd, cc: cc.poly(dd, pts))
        c.paint(colr, ImageChops.multiply(hill, ws))


def aircraft(c, ws):
    cx, cy, length, ang = 358, 104, 112, -0.62
    parts = plane_pts(cx, cy, length, ang)
    m = c.mask()
    d = ImageDraw.Draw(m)
    for p in parts:
        c.poly(d, p)
    # contrails from the two engines, thinning away behind the aircraft
    trail = c.mask()
    td = ImageDraw.Draw(trail)
    back = (math.cos(ang + math.pi), math.sin(ang + math.pi))
    for sgn in (1, -1):
        ex, ey = rot([(0.04 * length / 2 - 0.1 * length / 2, sgn * 0.36 * length / 2)], ang, cx, cy)[0]
        steps = 40
        for k in range(steps):
            t0, t1 = k / steps, (k + 1) / steps
            L0, L1 = 8 + 300 * t0, 8 + 300 * t1
            p0 = (ex + back[0] * L0, ey + back[1] * L0 + 40 * t0 * t0)
            p1 = (ex + back[0] * L1, ey + back[1] * L1 + 40 * t1 * t1)
            c.line(td, [p0, p1], 1.2 + 3.5 * t0, fill=int(200 * (1 - t0) ** 1.5))
    c.paint((255, 236, 226), ImageChops.multiply(c.blur(trail, 1.2), ws), 0.75)
    # silhouette with a warm rim light from the sun below
    m = ImageChops.multiply(m, ws)
    c.paint((20, 16, 36), m)
    rim = ImageChops.subtract(m, shift(m, -c.s(1.2), -c.s(1.6)))
    c.paint((255, 170, 110), c.blur(rim, 0.4), 0.8)
    for sgn, colr in ((1, (255, 70, 60)), (-1, (90, 255, 120))):
        tx, ty = rot([(-0.21 * length / 2, sgn * 0.97 * length / 2)], ang, cx, cy)[0]
        dot = ImageChops.multiply(c.shape(lambda dd, cc: cc.ellipse(dd, tx, ty, 1.3, 1.3)), ws)
        c.paint(colr, c.blur(dot, 2.0), 0.9)
        c.paint(colr, dot)


def title(c, ws):
    f = font("DejaVuSans-Bold.ttf", int(round(52 * c.S)))
    text, track = "SKYVORA", 5 * c.S
    widths = [f.getlength(ch) for ch in text]
    total = sum(widths) + track * (len(text) - 1)
    x = c.s(200) - total / 2
    y = c.s(258)
    m = c.mask()
    d = ImageDraw.Draw(m)
    for ch, w in zip(text, widths):
        d.text((x, y), ch, font=f, fill=255, anchor="ls")
        x += w + track
    box = m.getbbox()
    c.paint((255, 140, 80), c.blur(m, 7), 0.35)
    c.paint((10, 8, 24), c.blur(shift(m, c.s(1.5), c.s(2.5)), 1.5), 0.8)
    fill = Image.new("RGB", c.hi, 0)
    g = vgrad(box[2] - box[0], box[3] - box[1],
              [(0, (255, 255, 255)), (0.48, (222, 228, 240)), (0.52, (176, 186, 206)),
               (1, (250, 226, 190))])
    fill.paste(g, box[:2])
    c.paint(fill, m)
    edge = ImageChops.subtract(m, shift(m, c.s(1), c.s(1)))
    c.paint((255, 255, 255), edge, 0.6)
    # a thin rule with the swept wing mark under the name
    rule = c.shape(lambda dd, cc: [cc.rrect(dd, 70, 270, 180, 271.4, 0.7),
                                   cc.rrect(dd, 220, 270, 330, 271.4, 0.7)])
    c.paint((255, 226, 190), rule, 0.9)
    wm = glyph_mask(c, g_wings, 200, 270.5, 30)
    c.paint((255, 214, 170), wm)


def recess(c, m, depth=2.0, colour=(18, 21, 28), a=0.85):
    """A pocket pressed into the metal, for a button or a lamp to sit in."""
    c.paint(colour, m, a)
    c.inner_shadow(m, r=2.5, a=0.8, dx=1.2, dy=1.8)
    c.bevel(m, depth, inset=True, la=0.25, da=0.3)


def lamp(c, x, y, glyph, r=13.0, gs=19):
    lens = c.shape(lambda d, cc: cc.ellipse(d, x, y, r, r))
    ring = c.shape(lambda d, cc: cc.ellipse(d, x, y, r + 2.5, r + 2.5))
    c.paint((14, 16, 22), c.blur(shift(ring, c.s(1), c.s(1.5)), 1.5), 0.7)
    rg = Image.new("RGB", c.hi, 0)
    rg.paste(vgrad(c.s(2 * r + 6), c.s(2 * r + 6), [(0, (210, 216, 228)), (0.5, (120, 128, 142)),
                                                   (1, (60, 66, 78))]),
             (c.s(x - r - 3), c.s(y - r - 3)))
    c.paint(rg, ring)
    gl = Image.new("RGB", c.hi, 0)
    gl.paste(radial(c.s(2 * r), c.s(2 * r), [(0, (58, 40, 24)), (0.8, (26, 20, 18)),
                                            (1, (10, 10, 12))]),
             (c.s(x - r), c.s(y - r)))
    c.paint(gl, lens)
    gm = glyph_mask(c, glyph, x, y, gs)
    c.paint(AMBER, c.blur(gm, 2.2), 0.55)
    c.paint((255, 214, 140), gm)
    hl = c.shape(lambda d, cc: cc.ellipse(d, x - r * 0.3, y - r * 0.55, r * 0.62, r * 0.32))
    c.paint((255, 255, 255), c.blur(ImageChops.multiply(hl, lens), 1.0), 0.16)


def link(c):
    x0, y0, x1, y1 = LINK_RECT
    plate = c.shape(lambda d, cc: cc.rrect(d, x0 + 6, y0 + 6, x1 - 6, y1 - 6, 14))
    recess(c, plate, colour=(14, 22, 36), a=0.9)
    g = Image.new("RGB", c.hi, 0)
    g.paste(radial(c.s(200), c.s(110), [(0, (40, 84, 120)), (1, (14, 22, 36))]),
            (c.s(110), c.s(313)))
    c.paint(g, ImageChops.multiply(plate, c.blur(plate, 3)), 0.9)
    gm = glyph_mask(c, g_globe, 210, 365, 50)
    c.paint(CYAN, c.blur(gm, 3), 0.55)
    c.paint((200, 240, 255), gm)


def link_text(im):
    """Drawn at final size, so the small type stays crisp."""
    d = ImageDraw.Draw(im)
    f = font("DejaVuSans-Bold.ttf", px(14))
    text = "www.skyvora.example"
    w = d.textlength(text, font=f)
    x = 210 * K - w / 2
    d.text((x + K, 417 * K), text, font=f, fill=(6, 10, 18), anchor="ls")
    d.text((x, 416 * K), text, font=f, fill=(170, 226, 255), anchor="ls")
    d.line([(int(x), px(419)), (int(x + w), px(419))], fill=(90, 170, 220), width=px(1))


def render_main():
    c = Canvas(MAIN_SIZE, 3, RIM)
    sil = c.shape(lambda d, cc: main_outline(cc, d))
    body = c.shape(lambda d, cc: main_outline(cc, d, 1.5))
    c.paint(metal(c, 11), body)
    c.bevel(body, 2.5, la=0.7, da=0.7)
    groove = ImageChops.subtract(c.shape(lambda d, cc: main_outline(cc, d, 6.5)),
                                 c.shape(lambda d, cc: main_outline(cc, d, 7.5)))
    c.paint((20, 24, 32), groove, 0.7)
    c.paint((190, 200, 216), shift(groove, c.s(0.8), c.s(0.8)), 0.25)

    # the windshield: a dark gasket, the sky, then the glass
    gasket = c.shape(lambda d, cc: windshield(cc, d, 3))
    c.paint((12, 14, 20), gasket)
    c.bevel(gasket, 1.5, inset=True, la=0.35, da=0.5)
    ws = c.shape(lambda d, cc: windshield(cc, d))
    sky(c, ws)
    aircraft(c, ws)
    title(c, ws)
    band = c.shape(lambda d, cc: cc.poly(d, [(150, 0), (230, 0), (80, 330), (0, 330)]))
    c.paint((255, 255, 255), ImageChops.multiply(c.blur(band, 12), ws), 0.05)
    c.inner_shadow(ws, r=5, a=0.75, dx=2, dy=3)

    # the seat of the description screen (seen while the browser hides it)
    seat = c.shape(lambda d, cc: cc.rrect(d, DESC_POS[0] - 3, DESC_POS[1] - 3,
                                          DESC_POS[0] + DESC_SIZE[0] + 3,
                                          DESC_POS[1] + DESC_SIZE[1] + 3, 19))
    recess(c, seat, colour=(10, 12, 18), a=0.95)

    # the console: a track for the browser buttons, bays and lamps
    track = c.shape(lambda d, cc: cc.rrect(d, 423, 26, 471, 248, 24))
    recess(c, track, colour=(22, 26, 34), a=0.8)
    for x, y in SOCKETS:
        s = c.shape(lambda d, cc: cc.ellipse(d, x, y, 23.5, 23.5))
        recess(c, s, colour=(8, 10, 14), a=0.9)
    for name, _, bx, by in BUTTONS[:3]:
        lx, ly = LAMPS[name]
        bay = c.shape(lambda d, cc: cc.rrect(d, bx + 2, by + 5, lx + 13, by + 59, 27))
        recess(c, bay, colour=(26, 30, 40), a=0.6)
        lamp(c, lx, ly, GLYPHS[name])
    up = c.shape(lambda d, cc: cc.rrect(d, 410, 315, 564, 375, 30))
    recess(c, up, colour=(26, 30, 40), a=0.6)
    for name in ("exit", "options"):
        bx, by = [(b[2], b[3]) for b in BUTTONS if b[0] == name][0]
        bay = c.shape(lambda d, cc: cc.rrect(d, bx - 2, by - 2, bx + 82, by + 42, 21))
        recess(c, bay, colour=(26, 30, 40), a=0.6)
        ix, iy = BAY_ICONS[name]
        lamp(c, ix, iy, GLYPHS[name], r=13, gs=17)
    link(c)

    for x, y in [(20, 322), (412, 322), (20, 452), (412, 452), (600, 24), (600, 392),
                 (440, 392), (490, 392), (545, 392), (440, 292), (440, 268), (470, 16)]:
        rivet(c, x, y)

    im = c.final()
    link_text(im)
    return im, hard(sil, c.size)


# ---------------------------------------------------------------- buttons

BS = 4  # buttons are small: draw them finer


def glass(c, m, box, lit, cold=((30, 46, 74), (8, 12, 22)),
          warm=((255, 206, 120), (190, 90, 22))):
    """A domed glass inset; lit glass glows amber from the middle."""
    x0, y0, x1, y1 = box
    inner, outer = warm if lit else cold
    g = Image.new("RGB", c.hi, outer)
    g.paste(radial(c.s(x1 - x0), c.s(y1 - y0), [(0, inner), (1, outer)]), (c.s(x0), c.s(y0)))
    c.paint(g, m)
    c.inner_shadow(m, r=1.5, a=0.8, dx=0.6, dy=1.2)
    hl = c.shape(lambda d, cc: cc.ellipse(d, (x0 + x1) / 2, y0 + (y1 - y0) * 0.26,
                                          (x1 - x0) * 0.40, (y1 - y0) * 0.20))
    c.paint((255, 255, 255), c.blur(ImageChops.multiply(hl, m), 0.8), 0.22 if lit else 0.13)


def bezel(c, outer_m, lit, seed):
    stops = ([(0, (255, 248, 226)), (0.5, (222, 196, 150)), (1, (130, 100, 64))] if lit else
             [(0, (214, 220, 232)), (0.5, (136, 144, 160)), (1, (64, 70, 84))])
    c.paint(metal(c, seed, stops, streak=12, amount=7), outer_m)
    c.bevel(outer_m, 1.2, la=0.7, da=0.6)


def glyph_on(c, m, lit, colour, dim):
    if lit:
        c.paint((90, 30, 0), c.blur(shift(m, c.s(0.6), c.s(1.0)), 1.2), 0.55)
        c.paint((255, 255, 255), c.blur(m, 1.2), 0.6)
        c.paint((255, 252, 240), m)
    else:
        c.paint(dim, c.blur(m, 1.5), 0.35)
        c.paint(dim, m)


def finish(c, outline_m):
    return c.final(), hard(outline_m, c.size)


def wing_pts(sg):
    """Right (sg=1) or left (sg=-1) wing of the big badge, feathers trailing."""
    pts = [(86, 12), (100, 7.5), (116, 4.5), (124, 5), (126.5, 8), (124, 12.5), (112, 17),
           (115, 20.5), (112, 24), (100, 28), (102, 32), (98, 35.5), (88, 39.5), (88, 46),
           (80, 48)]
    return [(64 + sg * (x - 64), y) for x, y in pts]


def render_badge(lit, web=False):
    c = Canvas(BIG_SIZE, BS, RIM)
    out = c.shape(lambda d, cc: [cc.poly(d, wing_pts(1)), cc.poly(d, wing_pts(-1)),
                                 cc.ellipse(d, 64, 32, 28.5, 28.5)])
    wings = c.shape(lambda d, cc: [cc.poly(d, wing_pts(1)), cc.poly(d, wing_pts(-1))])
    # wings: polished metal with engraved feathers
    stops = ([(0, (255, 246, 220)), (0.45, (236, 204, 150)), (1, (150, 104, 52))] if lit else
             [(0, (232, 236, 244)), (0.45, (170, 178, 194)), (1, (86, 92, 108))])
    c.paint(metal(c, 21, stops, streak=10, amount=6), wings)
    c.bevel(wings, 1.0, la=0.8, da=0.6)
    fd = c.mask()
    d = ImageDraw.Draw(fd)
    for sg in (1, -1):
        for (xa, ya), (xb, yb) in [((88, 16), (116, 12)), ((88, 24), (110, 21)),
                                   ((88, 32), (100, 30))]:
            c.line(d, [(64 + sg * (xa - 64), ya), (64 + sg * (xb - 64), yb)], 0.9)
    c.paint((40, 30, 20) if lit else (40, 44, 56), ImageChops.multiply(fd, wings), 0.75)
    c.paint((255, 255, 255), ImageChops.multiply(shift(fd, 0, c.s(0.9)), wings), 0.35)
    if lit:
        c.paint((255, 200, 120), c.blur(wings, 3), 0.25)
    # the centre: ring and glass dome with a star
    ring = c.shape(lambda d, cc: cc.ellipse(d, 64, 32, 28.5, 28.5))
    c.paint((10, 12, 16), c.blur(shift(ring, 0, c.s(1)), 1.0), 0.7)
    ring = c.shape(lambda d, cc: cc.ellipse(d, 64, 32, 27.5, 27.5))
    bezel(c, ring, lit, 22)
    dome = c.shape(lambda d, cc: cc.ellipse(d, 64, 32, 21, 21))
    glass(c, dome, (43, 11, 85, 53), lit)
    star = glyph_mask(c, g_star, 64, 33, 23)
    glyph_on(c, star, lit, AMBER, (120, 170, 220))
    if web:  # twice the size, with a soft edge instead of the key colour
        size = (BIG_SIZE[0] * 2, BIG_SIZE[1] * 2)
        return c.im.resize(size, Image.LANCZOS), out.resize(size, Image.BOX)
    return finish(c, out)


def render_pill(size, lit, glyph=None, gsz=0, seed=31):
    w, h = size
    c = Canvas(size, BS, RIM)
    r = h / 2.0
    out = c.shape(lambda d, cc: cc.rrect(d, 0, 0, w, h, r))
    body = c.shape(lambda d, cc: cc.rrect(d, 0.8, 0.8, w - 0.8, h - 0.8, r - 0.8))
    bezel(c, body, lit, seed)
    k = 5.0 if h > 48 else 4.0
    inner = c.shape(lambda d, cc: cc.rrect(d, k, k, w - k, h - k, r - k))
    c.paint((8, 10, 14), c.shape(lambda d, cc: cc.rrect(d, k - 1, k - 1, w - k + 1, h - k + 1,
                                                       r - k + 1)), 0.8)
    glass(c, inner, (k, k, w - k, h - k), lit)
    if glyph:
        gm = glyph_mask(c, glyph, w / 2, h / 2, gsz)
        glyph_on(c, gm, lit, AMBER, (150, 196, 236))
    return finish(c, out)


ROUND_COLOURS = {"ok": (110, 230, 120), "cancel": (255, 110, 96),
                 "back": (120, 210, 255), "forward": (120, 210, 255)}


def render_round(kind, lit):
    c = Canvas(ROUND_SIZE, BS, RIM)
    out = c.shape(lambda d, cc: cc.ellipse(d, 22, 22, 21.5, 21.5))
    body = c.shape(lambda d, cc: cc.ellipse(d, 22, 22, 20.8, 20.8))
    bezel(c, body, lit, 41)
    c.paint((8, 10, 14), c.shape(lambda d, cc: cc.ellipse(d, 22, 22, 17, 17)), 0.8)
    inner = c.shape(lambda d, cc: cc.ellipse(d, 22, 22, 16, 16))
    colour = ROUND_COLOURS[kind]
    warm = (mix(colour, (255, 255, 255), 0.55), mix(colour, (0, 0, 0), 0.35))
    glass(c, inner, (6, 6, 38, 38), lit, warm=warm)
    fn = {"ok": g_check, "cancel": g_cross,
          "back": lambda cc, d, x, y, sz, fill=255: g_arrow(cc, d, x, y, sz, fill, True),
          "forward": lambda cc, d, x, y, sz, fill=255: g_arrow(cc, d, x, y, sz, fill, False)}[kind]
    gm = glyph_mask(c, fn, 22, 22, 22)
    glyph_on(c, gm, lit, colour, mix(colour, (40, 40, 40), 0.15))
    return finish(c, out)


# ---------------------------------------------------------------- descriptions

# The title of each description picture; its sentence is the button's row in res/strings.rc,
# which screen readers read too.
HEADS = {
    "en": {"welcome": "Welcome aboard!", "play": "Play", "hiscore": "Hiscore",
           "download": "Download a design", "upload": "Upload a design", "options": "Options",
           "exit": "Exit"},
    "de": {"welcome": "Willkommen an Bord!", "play": "Spielen", "hiscore": "Highscore",
           "download": "Entwurf herunterladen", "upload": "Entwurf hochladen", "options": "Optionen",
           "exit": "Beenden"},
    "fr": {"welcome": "Bienvenue à bord\u00a0!", "play": "Jouer", "hiscore": "Meilleur score",
           "download": "Télécharger un modèle", "upload": "Partager un modèle", "options": "Options",
           "exit": "Quitter"},
}
LANGUAGES = ["de", "en", "fr"]
DESC_ORDER = ["options", "hiscore", "upload", "download", "exit", "play", "welcome"]


def desc_id(lang, key):
    return IDS["IDB_DESC_%s_%s" % (lang.upper(), key.upper())]


def desc_text(lang, key):
    """The sentence of a description picture: the string table's note of its button."""
    if key == "welcome":
        return STRINGS[(lang, IDS["IDS_WELCOME_NOTE"])]
    row = [b[0] for b in BUTTONS].index(key)
    return STRINGS[(lang, IDS["IDS_BUTTON_NOTE_FIRST"] + row)]
DS = 3


def desc_outline(c, d, i=0.0):
    w, h = DESC_SIZE
    c.rrect(d, i, i, w - i, h - i, 16 - i)


def wrap(text, f, width):
    lines, cur = [], ""
    for word in text.split(" "):
        t = (cur + " " + word).strip()
        if f.getlength(t) <= width or not cur:
            cur = t
        else:
            lines.append(cur)
            cur = word
    return lines + [cur]


def render_desc(lang, key):
    w, h = DESC_SIZE
    c = Canvas(DESC_SIZE, DS, RIM)
    out = c.shape(lambda d, cc: desc_outline(cc, d))
    body = c.shape(lambda d, cc: desc_outline(cc, d, 1.0))
    bezel(c, body, False, 51)
    screen = c.shape(lambda d, cc: desc_outline(cc, d, 6.0))
    c.paint((6, 8, 12), c.shape(lambda d, cc: desc_outline(cc, d, 5.0)))
    g = vgrad(c.hi[0], c.hi[1], [(0, (22, 34, 58)), (0.6, (12, 20, 36)), (1, (8, 12, 24))])
    c.paint(g, screen)
    glow = Image.new("RGB", c.hi, 0)
    glow.paste(radial(c.s(300), c.s(140), [(0, (50, 80, 120)), (1, (0, 0, 0))]),
               (c.s(-40), c.s(-50)))
    c.paint(glow, ImageChops.multiply(screen, c.blur(screen, 6)), 0.35)
    grid = c.mask()
    gd = ImageDraw.Draw(grid)
    for x in range(14, w - 8, 16):
        c.line(gd, [(x, 6), (x, h - 6)], 0.35)
    for y in range(14, h - 8, 16):
        c.line(gd, [(6, y), (w - 6, y)], 0.35)
    c.paint((90, 140, 200), ImageChops.multiply(grid, screen), 0.10)
    # the button's symbol, large and faint, behind the text
    glyph = GLYPHS.get(key, g_wings)
    big = glyph_mask(c, glyph, 222, 116, 72 if key != "welcome" else 96)
    c.paint((110, 160, 220), ImageChops.multiply(big, screen), 0.09)
    # header: lamp with the button's symbol, a rule under the title
    ring = c.shape(lambda d, cc: cc.ellipse(d, 30, 31, 16, 16))
    c.paint((40, 56, 84), ring, 0.6)
    c.paint((12, 18, 30), c.shape(lambda d, cc: cc.ellipse(d, 30, 31, 14.5, 14.5)))
    gm = glyph_mask(c, glyph, 30, 31, 20 if key != "welcome" else 26)
    c.paint(AMBER, c.blur(gm, 2.5), 0.6)
    c.paint((255, 220, 150), gm)
    rule = c.shape(lambda d, cc: cc.rrect(d, 14, 53, w - 14, 54.2, 0.6))
    rg = Image.new("RGB", c.hi, 0)
    rg.paste(hgrad(c.s(w - 28), c.s(2), [(0, (255, 190, 92)), (0.6, (160, 120, 70)),
                                         (1, (30, 40, 60))]), (c.s(14), c.s(53)))
    c.paint(rg, rule)
    c.inner_shadow(screen, r=3, a=0.8, dx=1, dy=2)
    glare = c.shape(lambda d, cc: cc.poly(d, [(160, 0), (272, 0), (272, 40), (120, 100)]))
    c.paint((255, 255, 255), ImageChops.multiply(c.blur(glare, 10), screen), 0.05)
    im = c.final()

    head, text = HEADS[lang][key], desc_text(lang, key)
    d = ImageDraw.Draw(im)
    # Sizes and line breaks are chosen at 100 %, so every set breaks its lines alike.
    size = 18
    while font("DejaVuSans-Bold.ttf", size).getlength(head) > w - 66 and size > 12:
        size -= 1
    hf = font("DejaVuSans-Bold.ttf", px(size))
    d.text((53 * K, 38 * K), head, font=hf, fill=(2, 4, 8), anchor="ls")
    d.text((52 * K, 37 * K), head, font=hf, fill=(255, 222, 160), anchor="ls")
    for size in (15, 14, 13, 12, 11):
        lines = wrap(text, font("DejaVuSans.ttf", size), w - 40)
        step = size + 6
        if len(lines) * step <= h - 74:
            break
    bf = font("DejaVuSans.ttf", px(size))
    y = 74 + size
    for line in lines:
        d.text((21 * K, (y + 1) * K), line, font=bf, fill=(0, 0, 0), anchor="ls")
        d.text((20 * K, y * K), line, font=bf, fill=(218, 230, 244), anchor="ls")
        y += step
    return im, hard(out, c.size)


# ---------------------------------------------------------------- output

BAYER = [[0, 32, 8, 40, 2, 34, 10, 42], [48, 16, 56, 24, 50, 18, 58, 26],
         [12, 44, 4, 36, 14, 46, 6, 38], [60, 28, 52, 20, 62, 30, 54, 22],
         [3, 35, 11, 43, 1, 33, 9, 41], [51, 19, 59, 27, 49, 17, 57, 25],
         [15, 47, 7, 39, 13, 45, 5, 37], [63, 31, 55, 23, 61, 29, 53, 21]]
ORDERED_AMPLITUDE = 4


def ordered_noise(size):
    """The 8x8 threshold pattern over a picture, 0 .. 2 * ORDERED_AMPLITUDE in every channel."""
    tile = Image.new("L", (8, 8))
    tile.putdata([int(round((v + 0.5) / 64 * 2 * ORDERED_AMPLITUDE)) for row in BAYER for v in row])
    grey = Image.new("L", size)
    for y in range(0, size[1], 8):
        for x in range(0, size[0], 8):
            grey.paste(tile, (x, y))
    return Image.merge("RGB", (grey, grey, grey))


def palettize(rgb, mask, ordered=False):
    """8-bit picture: 255 colours for the art, index 255 the exact key colour.

    mask is 255 where the pixel belongs to the shape; None keeps every pixel.
    ordered: dither with a fixed pattern instead of Floyd-Steinberg. The larger sets use it:
    as smooth to the eye, and its repeats pack a third smaller in the players' zip.
    Returns (palette as 256 RGB tuples, index bytes top-down).
    """
    w, h = rgb.size
    # rebuilt from bytes: the quantizer reads the hidden fourth byte of RGB
    # pixels as alpha, and some operations leave it at 0
    work = Image.frombytes("RGB", rgb.size, rgb.tobytes())
    if mask is not None:
        # pixels that will be cut away take an art colour, so they don't
        # spend palette entries or bend the dithering
        work.paste(rgb.getpixel((w // 2, h // 2)), (0, 0), ImageChops.invert(mask))
    # palette from libimagequant, pixels mapped by plain Floyd-Steinberg:
    # libimagequant's own dithering strews lone saturated specks on dark areas
    palimg = work.quantize(255, method=Image.Quantize.LIBIMAGEQUANT,
                           dither=Image.Dither.NONE)
    flat = palimg.getpalette()[:255 * 3]
    flat += flat[:3] * (255 - len(flat) // 3)
    palimg.putpalette(flat + flat[:3])  # slot 255 repeats slot 0
    if ordered:
        work = ImageChops.add(work, ordered_noise(work.size), 1.0, -ORDERED_AMPLITUDE)
        q = work.quantize(palette=palimg, dither=Image.Dither.NONE)
    else:
        q = work.quantize(palette=palimg, dither=Image.Dither.FLOYDSTEINBERG)
    pal = [tuple(flat[i:i + 3]) for i in range(0, 255 * 3, 3)]
    pal = [(254, 0, 254) if p == KEY else p for p in pal]  # never alias the key
    pal.append(KEY)
    idx = bytearray(q.tobytes().replace(b"\xff", b"\x00"))
    if mask is not None:
        mb = mask.tobytes()
        for i, v in enumerate(mb):
            if not v:
                idx[i] = 255
    return pal, bytes(idx)


def bmp8(path, size, pal, idx):
    """Bottom-up, BI_RGB, 256-entry palette."""
    w, h = size
    stride = (w + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        pixels += idx[y * w:(y + 1) * w] + bytes(stride - w)
    off = 14 + 40 + 256 * 4
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", off + len(pixels), 0, 0, off))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835,
                            256, 0))
        for r, g, b in pal:
            f.write(bytes((b, g, r, 0)))
        f.write(pixels)


def read_bmp(path):
    """Our own BMPs back as an RGB image (checks the header we rely on)."""
    data = open(path, "rb").read()
    off = struct.unpack_from("<I", data, 10)[0]
    hsz, w, h, planes, bpp, comp, _, _, _, used = struct.unpack_from("<IiiHHIIiiI", data, 14)
    assert data[:2] == b"BM" and hsz == 40 and planes == 1 and comp == 0, path
    assert bpp == 8 and h > 0, path
    ncol = used or 256
    pal = [(data[54 + 4 * i + 2], data[54 + 4 * i + 1], data[54 + 4 * i]) for i in range(ncol)]
    stride = (w + 3) & ~3
    px = []
    for y in range(h):
        row = data[off + (h - 1 - y) * stride: off + (h - 1 - y) * stride + w]
        px.extend(pal[i] for i in row)
    im = Image.new("RGB", (w, h))
    im.putdata(px)
    return im, pal


def key_mask(im):
    """255 where the pixel is not exactly the key colour."""
    r, g, b = im.split()
    k = ImageChops.multiply(ImageChops.multiply(r.point(lambda v: 255 if v == 255 else 0),
                                                g.point(lambda v: 255 if v == 0 else 0)),
                            b.point(lambda v: 255 if v == 255 else 0))
    return ImageChops.invert(k)


# ---------------------------------------------------------------- icon

def render_icon_size(n):
    c = Canvas((n, n), 8, (0, 0, 0))
    r = n / 2.0 - 0.5
    disc = c.shape(lambda d, cc: cc.ellipse(d, n / 2, n / 2, r, r))
    rim = n >= 32
    inner_r = r - (max(1.5, n / 16) if rim else 0)
    sky_m = c.shape(lambda d, cc: cc.ellipse(d, n / 2, n / 2, inner_r, inner_r))
    if rim:
        c.paint(vgrad(c.hi[0], c.hi[1], [(0, (226, 232, 242)), (0.5, (140, 148, 164)),
                                         (1, (60, 66, 80))]), disc)
    c.paint(vgrad(c.hi[0], c.hi[1], [(0, (24, 28, 78)), (0.45, (92, 56, 132)),
                                     (0.75, (226, 112, 100)), (1, (255, 196, 120))]), sky_m)
    m = c.mask()
    d = ImageDraw.Draw(m)
    for p in plane_pts(n * 0.5, n * 0.5, n * (0.66 if n > 16 else 0.80), -0.62):
        c.poly(d, p)
    if n > 16:
        c.paint((10, 8, 30), c.blur(shift(m, c.s(n / 48), c.s(n / 32)), n / 40), 0.6)
    c.paint((255, 255, 255), m)
    rgb = c.final()
    alpha = disc.resize((n, n), Image.BOX)
    return rgb, alpha


def write_ico(path, sizes=(16, 32, 48)):
    """Classic ICO: 32-bit BGRA images with their AND masks."""
    blobs = []
    for n in sizes:
        rgb, alpha = render_icon_size(n)
        px, al = rgb.load(), alpha.load()
        xor = bytearray()
        for y in range(n - 1, -1, -1):
            for x in range(n):
                r, g, b = px[x, y]
                xor += bytes((b, g, r, al[x, y]))
        mstride = ((n + 31) // 32) * 4
        andm = bytearray()
        for y in range(n - 1, -1, -1):
            row = bytearray(mstride)
            for x in range(n):
                if al[x, y] < 128:
                    row[x // 8] |= 0x80 >> (x % 8)
            andm += row
        hdr = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(andm),
                          0, 0, 0, 0)
        blobs.append((n, hdr + bytes(xor) + bytes(andm)))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    off = 6 + 16 * len(blobs)
    for n, blob in blobs:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), off)
        off += len(blob)
    for _, blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


# ---------------------------------------------------------------- catalogue

def catalogue():
    """Every bitmap: (id, file name, RGB picture, mask or None, shape owner id).

    The shape owner is the bitmap whose outline this one must share.
    """
    items = []
    im, m = render_main()
    items.append((MAIN_ID, "main.bmp", im, m, MAIN_ID))
    for rid, name, fn in BUTTON_PICTURES:
        im, m = fn(False)
        items.append((IDS[rid], "btn_%s.bmp" % name, im, m, IDS[rid]))
        im, _ = fn(True)
        items.append((IDS[rid + "_HOVER"], "btn_%s_hover.bmp" % name, im, m, IDS[rid]))
    for lang in LANGUAGES:
        for key in DESC_ORDER:
            im, m = render_desc(lang, key)
            items.append((desc_id(lang, key), "desc_%s_%s.bmp" % (lang, key), im, m, desc_id(lang, "welcome")))
    return items


BUTTON_PICTURES = [("IDB_BIG_BUTTON", "badge", lambda lit: render_badge(lit)),
                   ("IDB_UPLOAD", "upload", lambda lit: render_pill(UPLOAD_SIZE, lit, g_cloud_up, 40)),
                   ("IDB_SMALL_BUTTON", "small", lambda lit: render_pill(SMALL_SIZE, lit, g_star, 20, seed=33)),
                   ("IDB_OK", "ok", lambda lit: render_round("ok", lit)),
                   ("IDB_CANCEL", "cancel", lambda lit: render_round("cancel", lit)),
                   ("IDB_PAGE_BACK", "back", lambda lit: render_round("back", lit)),
                   ("IDB_PAGE_FORWARD", "forward", lambda lit: render_round("forward", lit))]
SHAPING = ({MAIN_ID} | {IDS[rid] for rid, *_ in BUTTON_PICTURES}
           | {desc_id(lang, "welcome") for lang in LANGUAGES})


def write_rc(sets):
    """sets: (offset, folder, items) of each set, items as catalogue() gives them."""
    names = {number: name for name, number in IDS.items() if name.startswith("IDB_")
             and not name.endswith("_OFFSET")}
    offsets = {offset: name for name, offset in IDS.items() if name.endswith("_OFFSET")}
    lines = ["#pragma code_page(65001)",
             "// Bitmaps of starter.dll; generated by tools/artgen.py, do not edit.",
             "// Pixels of red 255, green 0, blue 255 lie outside a window's outline.",
             "// The same pictures drawn at 150 % and 200 % follow at their sets' offsets.",
             '#include "../resource.h"']
    for offset, folder, items in sets:
        lines.append("")
        for rid, name, *_ in sorted(items, key=lambda t: t[0]):
            ident = names[rid] + (" + " + offsets[offset] if offset else "")
            lines.append('%s BITMAP "bmp/%s"' % (ident, os.path.join(folder, name)))
    with open(os.path.join(DLL_DIR, "starter_dll.rc"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def fringe(im, m):
    """Worst 'pinkness' (min(R,B) - G) of a shape pixel that touches the key."""
    edge = ImageChops.subtract(m, ImageChops.invert(
        ImageChops.invert(m).filter(ImageFilter.MaxFilter(3))))
    # edge: inside pixels with a key neighbour (3x3)
    worst = -255
    pixels, ep = im.load(), edge.load()
    for y in range(im.size[1]):
        for x in range(im.size[0]):
            if ep[x, y]:
                r, g, b = pixels[x, y]
                worst = max(worst, min(r, b) - g)
    return worst


def verify(items, folder):
    """Read every written BMP of a set back and check what the Starter relies on, with
    everything placed where the Starter puts it at the set's scale."""
    got, pals = {}, {}
    problems = []
    if {owner for *_, owner in items} != SHAPING:
        problems.append("the bitmaps that give outlines are not the expected set")
    for rid, name, *_ in items:
        got[rid], pals[rid] = read_bmp(os.path.join(BMP_DIR, folder, name))
    for rid, name, _, m, owner in items:
        im, pal = got[rid], pals[rid]
        if pal.count(KEY) != 1:
            problems.append("%s: key colour is %d palette entries" % (name, pal.count(KEY)))
        km = key_mask(im)
        if ImageChops.difference(km, m).getbbox():
            problems.append("%s: key pixels differ from the intended outline" % name)
        if owner != rid and ImageChops.difference(km, key_mask(got[owner])).getbbox():
            problems.append("%s: outline differs from bitmap %d" % (name, owner))
        f = fringe(im, km)
        if f > 40:
            problems.append("%s: pinkish edge pixel (%d)" % (name, f))
    main = key_mask(got[MAIN_ID])
    spots = [(b[2], b[3], b[1]) for b in BUTTONS] + [(DESC_POS[0], DESC_POS[1], desc_id("en", "welcome"))]
    for x, y, rid in spots:
        x, y = px(x), px(y)
        bm = key_mask(got[rid])
        under = main.crop((x, y, x + bm.size[0], y + bm.size[1]))
        if ImageChops.subtract(bm, under).getbbox():
            problems.append("bitmap %d at %d,%d pokes out of the main outline" % (rid, x, y))
    if main.crop(tuple(px(v) for v in LINK_RECT)).getextrema() != (255, 255):
        problems.append("link rectangle leaves the main outline")
    return problems


# ---------------------------------------------------------------- website

WEB_DIR = os.path.join(ROOT, "server", "www", "site")
SKY_STOPS = [(0.0, (12, 16, 44)), (0.30, (34, 32, 86)), (0.55, (92, 54, 124)),
             (0.74, (190, 92, 112)), (0.88, (244, 150, 92)), (1.0, (255, 204, 132))]
HILLS = [(290, 9, (96, 48, 86), 3), (300, 7, (44, 28, 58), 5)]


def rgba(rgb, alpha):
    out = rgb.convert("RGBA")
    out.putalpha(alpha)
    return out


def web_plane():
    """The windshield's aircraft with its contrails, on a clear background."""
    w, h = 300, 160
    c = Canvas((w, h), 3, (255, 236, 226))
    cx, cy, length, ang = 214, 50, 96, -0.62
    trail = c.mask()
    td = ImageDraw.Draw(trail)
    back = (math.cos(ang + math.pi), math.sin(ang + math.pi))
    for sgn in (1, -1):
        ex, ey = rot([(-0.03 * length, sgn * 0.18 * length)], ang, cx, cy)[0]
        for k in range(40):
            t0, t1 = k / 40, (k + 1) / 40
            p0 = (ex + back[0] * (8 + 260 * t0), ey + back[1] * (8 + 260 * t0) + 30 * t0 * t0)
            p1 = (ex + back[0] * (8 + 260 * t1), ey + back[1] * (8 + 260 * t1) + 30 * t1 * t1)
            c.line(td, [p0, p1], 1.0 + 3.0 * t0, fill=int(200 * (1 - t0) ** 1.5))
    trail = scale_alpha(c.blur(trail, 1.0), 0.75)
    m = c.mask()
    d = ImageDraw.Draw(m)
    for part in plane_pts(cx, cy, length, ang):
        c.poly(d, part)
    c.paint((20, 16, 36), m)
    rim = ImageChops.subtract(m, shift(m, -c.s(1.2), -c.s(1.6)))
    c.paint((255, 170, 110), c.blur(rim, 0.4), 0.8)
    alpha = ImageChops.lighter(trail, m)
    return rgba(c.im.resize((w * 2, h * 2), Image.LANCZOS), alpha.resize((w * 2, h * 2), Image.BOX))


def web_stars():
    """A tile of the windshield's stars."""
    w, h = 320, 200
    c = Canvas((w, h), 3, (255, 250, 235))
    st = c.mask()
    sd = ImageDraw.Draw(st)
    rnd = random.Random(7)
    for _ in range(70):
        r = rnd.choice([0.45, 0.5, 0.6, 0.8])
        c.ellipse(sd, rnd.uniform(2, w - 2), rnd.uniform(2, h - 2), r, r, fill=rnd.randint(90, 255))
    return rgba(c.final(), st.resize((w, h), Image.BOX))


def web_hills():
    """The two ridges under the sunset, as an SVG stretched to any width."""
    x0, x1 = WS_RECT[0] - 2, WS_RECT[2] + 4
    shapes = []
    for base, amp, colour, seed in HILLS:
        ph = random.Random(seed).uniform(0, 6)
        pts = ["%d,%.1f" % (x - x0, base - amp * (0.6 * math.sin(x / 37.0 + ph) + 0.4 * math.sin(x / 13.0 + ph * 2)) - 270)
               for x in list(range(x0, x1, 4)) + [x1]]
        shapes.append('<polygon fill="#%02x%02x%02x" points="0,40 %s %d,40"/>' % (colour + (" ".join(pts), x1 - x0)))
    return ('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 %d 40" preserveAspectRatio="none">%s</svg>\n'
            % (x1 - x0, "".join(shapes)))


def web_icon():
    rgb, alpha = render_icon_size(64)
    return rgba(rgb, alpha)


def web_palette():
    """The art's colours as CSS custom properties, for the site's style sheet."""
    hexc = lambda c: "#%02x%02x%02x" % c
    sky = ", ".join("%s %d%%" % (hexc(col), round(t * 100)) for t, col in SKY_STOPS)
    lines = ["/* Generated by tools/artgen.py from the colours of starter.dll; do not edit. */", ":root {"]
    lines += ["  --steel-%d: %s;" % (i, hexc(col)) for i, (_, col) in enumerate(STEEL)]
    lines += ["  --amber: %s;" % hexc(AMBER), "  --cyan: %s;" % hexc(CYAN), "  --rim: %s;" % hexc(RIM),
              "  --sun: %s;" % hexc((255, 196, 120)), "  --hill-far: %s;" % hexc(HILLS[0][2]),
              "  --hill-near: %s;" % hexc(HILLS[1][2]),
              "  --sky: linear-gradient(180deg, %s);" % sky, "}"]
    return "\n".join(lines) + "\n"


def write_web():
    os.makedirs(WEB_DIR, exist_ok=True)
    badge, alpha = render_badge(False, web=True)
    pictures = {"badge.png": rgba(badge, alpha), "plane.png": web_plane(), "stars.png": web_stars(),
                "icon.png": web_icon()}
    for name, im in pictures.items():
        im.save(os.path.join(WEB_DIR, name), optimize=True)
    with open(os.path.join(WEB_DIR, "hills.svg"), "w") as f:
        f.write(web_hills())
    with open(os.path.join(WEB_DIR, "palette.css"), "w") as f:
        f.write(web_palette())


# ---------------------------------------------------------------- preview



def checker(size):
    im = Image.new("RGB", size, (200, 200, 200))
    d = ImageDraw.Draw(im)
    for y in range(0, size[1], 8):
        for x in range(0, size[0], 8):
            if (x // 8 + y // 8) % 2:
                d.rectangle([x, y, x + 7, y + 7], fill=(150, 150, 150))
    return im


def compose(bmps, lang, hover=None, browser=False):
    main = bmps[MAIN_ID].copy()
    for name, rid, x, y in BUTTONS:  # the browser disables the main buttons, not hides
        img = bmps[rid + 1] if name == hover else bmps[rid]
        main.paste(img, (x, y), key_mask(bmps[rid]))
    if browser:
        d = ImageDraw.Draw(main)
        x0, y0, x1, y1 = LIST_RECT
        d.rectangle([x0, y0, x1 - 1, y1 - 1], fill=(255, 255, 255), outline=(100, 100, 100))
        d.rectangle([x0 + 1, y0 + 1, x1 - 2, y0 + 18], fill=(236, 236, 236))
        for i in range(14):
            d.text((x0 + 6, y0 + 24 + 17 * i), "Design %d    1998   Jet   quiet" % (i + 1),
                   fill=(0, 0, 0), font=font("DejaVuSans.ttf", 11))
    else:
        pic = bmps[desc_id(lang, hover if hover in DESC_ORDER else "welcome")]
        main.paste(pic, DESC_POS, key_mask(bmps[desc_id(lang, "welcome")]))
    out = checker(main.size)
    out.paste(main, (0, 0), key_mask(bmps[MAIN_ID]))
    return out


def preview(outdir, items):
    os.makedirs(outdir, exist_ok=True)
    bmps = {rid: read_bmp(os.path.join(BMP_DIR, name))[0] for rid, name, *_ in items}
    for lang in LANGUAGES:
        compose(bmps, lang).save(os.path.join(outdir, "main_%s.png" % lang))
        compose(bmps, lang, "play").save(os.path.join(outdir, "main_%s_play.png" % lang))
        sheet = Image.new("RGB", (3 * 280, 3 * 176), (60, 60, 60))
        for k, key in enumerate(DESC_ORDER):
            pic = bmps[desc_id(lang, key)]
            sheet.paste(pic, ((k % 3) * 280 + 4, (k // 3) * 176 + 4))
        sheet.save(os.path.join(outdir, "desc_%s.png" % lang))
    compose(bmps, "en", "download", browser=True).save(os.path.join(outdir, "browser.png"))
    sheet = Image.new("RGB", (2 * 160, 7 * 70), (60, 60, 60))
    for k, (rid, *_) in enumerate(BUTTON_PICTURES):
        for j, suffix in enumerate(["", "_HOVER"]):
            sheet.paste(bmps[IDS[rid + suffix]], (j * 160 + 4, k * 70 + 3))
    sheet.resize((sheet.size[0] * 2, sheet.size[1] * 2), Image.NEAREST).save(
        os.path.join(outdir, "buttons.png"))


def main(argv):
    global K
    os.makedirs(os.path.dirname(ICON_PATH), exist_ok=True)
    sets, problems = [], []
    for scale, offset, folder in SETS:
        K = scale
        os.makedirs(os.path.join(BMP_DIR, folder), exist_ok=True)
        items = catalogue()
        for rid, name, im, m, _ in items:
            pal, idx = palettize(im, m, ordered=scale != 1)
            bmp8(os.path.join(BMP_DIR, folder, name), im.size, pal, idx)
        problems += ["%d %%: %s" % (scale * 100, p) for p in verify(items, folder)]
        total = sum(os.path.getsize(os.path.join(BMP_DIR, folder, n)) for _, n, *_ in items)
        print("%d %%: %d bitmaps, %d bytes" % (scale * 100, len(items), total))
        sets.append((offset, folder, items))
    K = 1
    write_rc(sets)
    write_ico(ICON_PATH)
    write_web()
    if "--preview" in argv:
        preview(argv[argv.index("--preview") + 1], sets[0][2])
    for p in problems:
        print("PROBLEM:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
