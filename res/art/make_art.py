#!/usr/bin/env python3
"""Draws the updater's skin bitmaps and icons from shapes.

Plain Python 3, no third-party modules: every picture is rendered here with
anti-aliased shapes and a small stroke font, then written as 24-bit bottom-up
BMP or as ICO bytes. The output is deterministic, so the generated files are
committed and only need regenerating after a change to this script:

    python3 res/art/make_art.py            # writes into res/ and tools/quillmarket/

Sizes and layouts the program depends on:
  background.bmp      512 x 133, the window face
  progress_fill.bmp    40 x 12, stretched over the filled part of a bar
  progress_track.bmp  100 x 14, column 0 left end, 1..98 middle, 99 right end
  cancel.bmp           80 x 17, five 16 x 17 images: normal, hot, pressed,
                       unused, disabled; RGB(255, 0, 255) is transparent
  updater.ico          16 x 16 and 32 x 32, 32-bit with alpha
  tools/quillmarket/quillmarket.ico, the same badge without the update mark,
                       for the stand-in client
"""

import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.dirname(HERE)
ROOT = os.path.dirname(RES)

MAGENTA = (255, 0, 255)

# Where the window places things (client pixels); the face keeps these calm.
CANCEL_POS = (480, 10)
BAR_RECTS = [(7, 50, 492, 15), (7, 70, 492, 15)]
HEADER_H = 40


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def smoothstep(t):
    t = clamp01(t)
    return t * t * (3.0 - 2.0 * t)


class Canvas:
    """Floating-point RGB picture, top row first."""

    def __init__(self, w, h, color=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(map(float, color)) for _ in range(w * h)]

    def get(self, x, y):
        return tuple(self.px[y * self.w + x])

    def set(self, x, y, color):
        self.px[y * self.w + x] = list(map(float, color))

    def blend(self, x, y, color, a):
        if a <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        a = min(a, 1.0)
        p = self.px[y * self.w + x]
        for i in range(3):
            p[i] += (color[i] - p[i]) * a

    def rgb(self, x, y):
        return tuple(int(round(min(255.0, max(0.0, c)))) for c in self.px[y * self.w + x])


def paint(canvas, cover, color, alpha=1.0):
    """Blends colour (a tuple or a function of x, y) by a {(x, y): coverage} map."""
    for (x, y), c in cover.items():
        col = color(x, y) if callable(color) else color
        canvas.blend(x, y, col, c * alpha)


def cover_shape(inside, x0, y0, x1, y1, ss=4):
    """Coverage of a region given by inside(fx, fy), by ss x ss supersampling."""
    cover = {}
    step = 1.0 / ss
    n = ss * ss
    for y in range(int(math.floor(y0)), int(math.ceil(y1))):
        for x in range(int(math.floor(x0)), int(math.ceil(x1))):
            hits = 0
            for j in range(ss):
                fy = y + (j + 0.5) * step
                for i in range(ss):
                    if inside(x + (i + 0.5) * step, fy):
                        hits += 1
            if hits:
                cover[(x, y)] = hits / n
    return cover


def rounded_rect(x0, y0, x1, y1, r):
    def inside(fx, fy):
        if fx < x0 or fx >= x1 or fy < y0 or fy >= y1:
            return False
        cx = min(max(fx, x0 + r), x1 - r)
        cy = min(max(fy, y0 + r), y1 - r)
        return (fx - cx) ** 2 + (fy - cy) ** 2 <= r * r

    return inside


def circle(cx, cy, r):
    return lambda fx, fy: (fx - cx) ** 2 + (fy - cy) ** 2 <= r * r


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy
    t = 0.0 if ll == 0 else clamp01(((px - ax) * dx + (py - ay) * dy) / ll)
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(qx * qx + qy * qy)


def cover_stroke(segs, width, cover=None):
    """Coverage of round-capped strokes along segments ((ax, ay), (bx, by))."""
    cover = {} if cover is None else cover
    r = width / 2.0
    xs = [p[0] for s in segs for p in s]
    ys = [p[1] for s in segs for p in s]
    for y in range(int(math.floor(min(ys) - r - 1)), int(math.ceil(max(ys) + r + 1))):
        for x in range(int(math.floor(min(xs) - r - 1)), int(math.ceil(max(xs) + r + 1))):
            fx, fy = x + 0.5, y + 0.5
            d = min(seg_dist(fx, fy, a[0], a[1], b[0], b[1]) for a, b in segs)
            c = clamp01(r + 0.5 - d)
            if c > cover.get((x, y), 0.0):
                cover[(x, y)] = c
    return cover


# ---------------------------------------------------------------------------
# A small geometric stroke font. Units: baseline at y = 0, x-height 5,
# cap height 7, ascender 7.5, descender -2.5; y grows upwards.


def arc(cx, cy, rx, ry, a0, a1, n=None):
    n = n or max(4, int(abs(a1 - a0) / 12))
    pts = []
    for k in range(n + 1):
        a = math.radians(a0 + (a1 - a0) * k / n)
        pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def line(*pts):
    return list(pts)


GLYPHS = {
    # name: (advance, [polylines])
    "Q": (6.4, [arc(3.1, 3.5, 3.1, 3.5, 0, 360, 40), line((3.9, 1.4), (6.2, -0.7))]),
    "U": (5.2, [line((0, 7), (0, 2.6)) + arc(2.6, 2.6, 2.6, 2.6, 180, 360) + [(5.2, 7)]]),
    "u": (4.2, [line((0, 5), (0, 2.1)) + arc(2.1, 2.1, 2.1, 2.1, 180, 360) + [(4.2, 5)],
                line((4.2, 5), (4.2, 0))]),
    "i": (0.3, [line((0, 0), (0, 5)), line((0, 6.9), (0, 6.9))]),
    "l": (0.3, [line((0, 0), (0, 7.6))]),
    "m": (6.6, [line((0, 0), (0, 5)),
                line((0, 3.3)) + arc(1.65, 3.3, 1.65, 1.7, 180, 0) + [(3.3, 0)],
                line((3.3, 3.3)) + arc(4.95, 3.3, 1.65, 1.7, 180, 0) + [(6.6, 0)]]),
    "a": (4.4, [arc(2.2, 2.5, 2.2, 2.5, 0, 360, 36), line((4.4, 5), (4.4, 0))]),
    "r": (2.8, [line((0, 0), (0, 5)), line((0, 2.9)) + arc(2.3, 2.9, 2.3, 2.1, 180, 75)]),
    "k": (3.9, [line((0, 0), (0, 7.6)), line((3.7, 5), (0.1, 1.7)), line((1.3, 2.8), (3.9, 0))]),
    "e": (4.5, [line((0.05, 2.55), (4.4, 2.55)) + arc(2.25, 2.5, 2.2, 2.5, 0, 315, 36)]),
    "t": (2.7, [line((1.0, 6.6), (1.0, 1.2)) + arc(2.3, 1.2, 1.3, 1.2, 180, 290),
                line((0, 5), (2.7, 5))]),
    "p": (4.4, [line((0, 5), (0, -2.5)), arc(2.2, 2.5, 2.2, 2.5, 0, 360, 36)]),
    "d": (4.4, [arc(2.2, 2.5, 2.2, 2.5, 0, 360, 36), line((4.4, 7.6), (4.4, 0))]),
    " ": (2.2, []),
}


def text_segments(text, x, baseline, unit, tracking=1.7):
    """Segments in pixels for text whose first glyph starts at x."""
    segs = []
    pen = 0.0
    for ch in text:
        adv, polys = GLYPHS[ch]
        for poly in polys:
            pts = [(x + (pen + u) * unit, baseline - v * unit) for u, v in poly]
            if len(pts) == 1:
                pts = pts * 2
            segs.extend(zip(pts, pts[1:]))
        pen += adv + tracking
    return segs, (pen - tracking) * unit


# ---------------------------------------------------------------------------
# Logo mark: a rounded teal badge with a white quill.

BADGE_TOP = (72, 214, 190)
BADGE_BOTTOM = (22, 128, 168)


def badge_color(y0, size):
    return lambda x, y: mix(BADGE_TOP, BADGE_BOTTOM, clamp01((y + 0.5 - y0) / size))


def quill_inside(ox, oy, s):
    """The feather: a leaf shape along the diagonal of an s-sized badge at (ox, oy)."""
    ax, ay = ox + 0.27 * s, oy + 0.80 * s  # lower end (near the nib)
    bx, by = ox + 0.80 * s, oy + 0.20 * s  # tip
    lx, ly = bx - ax, by - ay
    length = math.hypot(lx, ly)
    ux, uy = lx / length, ly / length
    width = 0.19 * s

    def inside(fx, fy):
        dx, dy = fx - ax, fy - ay
        u = (dx * ux + dy * uy) / length
        v = -dx * uy + dy * ux
        if u < 0.0 or u > 1.0:
            return False
        half = width * math.sin(math.pi * u ** 0.75) ** 0.9
        # the vane is fuller on one side, with a notch cut into it
        if v > 0:
            half *= 0.62
            if abs(u - 0.45) < 0.035:
                return False
        elif abs(u - 0.62) < 0.03:
            return False
        return abs(v) <= half

    nib = ((ox + 0.18 * s, oy + 0.90 * s), (ax + 0.12 * s * ux, ay + 0.12 * s * uy))
    spine = ((ax, ay), (ax + 0.86 * lx, ay + 0.86 * ly))
    return inside, nib, spine


def draw_badge(canvas, ox, oy, s, shadow=True):
    radius = 0.24 * s
    if shadow:
        sh = cover_shape(rounded_rect(ox + 0.5, oy + 1.2, ox + s + 0.5, oy + s + 1.2, radius),
                         ox - 1, oy, ox + s + 2, oy + s + 3)
        paint(canvas, sh, (4, 16, 30), 0.45)
    body = cover_shape(rounded_rect(ox, oy, ox + s, oy + s, radius), ox, oy, ox + s, oy + s)
    paint(canvas, body, badge_color(oy, s))
    # a soft sheen over the upper half
    sheen = cover_shape(
        lambda fx, fy: rounded_rect(ox, oy, ox + s, oy + s, radius)(fx, fy)
        and fy < oy + 0.48 * s, ox, oy, ox + s, oy + s)
    paint(canvas, sheen, (255, 255, 255), 0.10)
    draw_quill(canvas, ox, oy, s)


def draw_quill(canvas, ox, oy, s):
    inside, nib, spine = quill_inside(ox, oy, s)
    vane = cover_shape(inside, ox, oy, ox + s, oy + s)
    paint(canvas, vane, (250, 253, 255))
    paint(canvas, cover_stroke([spine], max(0.8, 0.05 * s)), (28, 128, 160), 0.75)
    paint(canvas, cover_stroke([nib], max(1.0, 0.075 * s)), (250, 253, 255))


# ---------------------------------------------------------------------------
# Window face

BG_TOP = (25, 66, 100)
BG_BOTTOM = (11, 32, 54)
HEADER_TOP = (32, 84, 122)
HEADER_BOTTOM = (24, 66, 100)


def make_background():
    w, h = 512, 133
    c = Canvas(w, h)
    for y in range(h):
        if y < HEADER_H:
            col = mix(HEADER_TOP, HEADER_BOTTOM, y / (HEADER_H - 1))
        else:
            col = mix(BG_TOP, BG_BOTTOM, smoothstep((y - HEADER_H) / (h - 1 - HEADER_H)))
        for x in range(w):
            c.set(x, y, col)
    # a wide, faint teal glow behind the logo gives the face some depth
    for y in range(h):
        for x in range(w):
            d = math.hypot((x - 40) / 330.0, (y - 8) / 150.0)
            c.blend(x, y, (60, 150, 160), 0.16 * (1.0 - smoothstep(d)))
    # etched separator under the header
    for x in range(w):
        c.blend(x, HEADER_H, (8, 24, 42), 0.85)
        c.blend(x, HEADER_H + 1, (70, 120, 155), 0.35)

    # inset panel that holds the bars and the two status lines
    px0, py0, px1, py1 = 3, 45, 509, 129
    rim = cover_shape(rounded_rect(px0, py0, px1, py1, 5), px0, py0, px1, py1)
    inner = cover_shape(rounded_rect(px0 + 1, py0 + 1, px1 - 1, py1 - 1, 4),
                        px0, py0, px1, py1)
    for (x, y), cv in rim.items():
        edge = cv - inner.get((x, y), 0.0)
        # darker at the top edge, lit at the bottom: the panel sits below the face
        lit = (y - py0) / (py1 - py0)
        c.blend(x, y, mix((6, 18, 32), (62, 108, 140), lit), edge * 0.8)
    paint(canvas=c, cover=inner, color=(6, 20, 36), alpha=0.32)

    # logo and name
    draw_badge(c, 11, 8, 24)
    segs, name_w = text_segments("Quillmarket", 44, 27.5, 2.0)
    name = cover_stroke(segs, 2.3)
    paint(c, {(x, y + 1): v for (x, y), v in name.items()}, (4, 16, 30), 0.35)
    paint(c, name, (242, 248, 252))
    segs, _ = text_segments("Updater", 44 + name_w + 11, 27.5, 1.35, tracking=1.6)
    paint(c, cover_stroke(segs, 1.45), (150, 200, 214))

    # one-pixel frame: the window has no border of its own
    for x in range(w):
        c.blend(x, 0, (90, 150, 180), 0.55)
        c.blend(x, h - 1, (4, 12, 22), 0.9)
    for y in range(h):
        c.blend(0, y, (6, 18, 32), 0.8)
        c.blend(w - 1, y, (6, 18, 32), 0.8)
    return c


# ---------------------------------------------------------------------------
# Progress bar track and fill


def make_track():
    w, h = 100, 14
    c = Canvas(w, h)
    # vertical profile of the groove: dark rim, inner shadow, light floor
    rows = [(30, 52, 74), (120, 138, 154)]
    for k in range(h - 4):
        rows.append(mix((188, 200, 210), (228, 234, 239), k / (h - 5)))
    rows += [(238, 242, 245), (44, 70, 94)]
    for y in range(h):
        for x in range(w):
            c.set(x, y, rows[y])
    # the end columns are the groove's dark sides
    for y in range(h):
        side = (30, 52, 74) if y in (0, h - 1) else mix((40, 64, 88), (56, 82, 106), y / h)
        c.set(0, y, side)
        c.set(w - 1, y, side)
    return c


def make_fill():
    w, h = 40, 12
    c = Canvas(w, h)
    top, mid, bottom = (158, 236, 116), (74, 196, 66), (40, 150, 52)
    for y in range(h):
        t = y / (h - 1)
        col = mix(top, mid, t / 0.45) if t < 0.45 else mix(mid, bottom, (t - 0.45) / 0.55)
        if y == 0:
            col = mix(col, (255, 255, 255), 0.35)  # glossy top edge
        for x in range(w):
            c.set(x, y, col)
    return c


# ---------------------------------------------------------------------------
# Cancel button strip


def make_cancel(face):
    iw, ih = 16, 17
    c = Canvas(iw * 5, ih, MAGENTA)
    cx, cy, r = 8.0, 8.5, 7.5
    styles = [
        # ring fill, ring alpha, glyph colour, glyph offset
        ((255, 255, 255), 0.16, (236, 244, 250), 0),  # normal
        ((226, 72, 60), 1.0, (255, 255, 255), 0),  # hot
        ((170, 44, 38), 1.0, (236, 220, 218), 1),  # pressed
        ((255, 255, 255), 0.16, (236, 244, 250), 0),  # unused slot: same as normal
        ((255, 255, 255), 0.06, (118, 142, 160), 0),  # disabled
    ]
    for n, (fill, fill_a, glyph, off) in enumerate(styles):
        # draw over the face exactly as it lies under the button, so the
        # anti-aliased rim matches; whatever the disc does not touch is keyed out
        tile = Canvas(iw, ih)
        for y in range(ih):
            for x in range(iw):
                tile.set(x, y, face.get(CANCEL_POS[0] + x, CANCEL_POS[1] + y))
        disc = cover_shape(circle(cx, cy, r), 0, 0, iw, ih)
        paint(tile, disc, fill, fill_a)
        rim = cover_shape(lambda fx, fy: circle(cx, cy, r)(fx, fy)
                          and not circle(cx, cy, r - 1.0)(fx, fy), 0, 0, iw, ih)
        paint(tile, rim, (255, 255, 255), 0.22 if n != 4 else 0.10)
        k = 2.9
        ox, oy = cx + off * 0.5, cy + off * 0.5
        cross = cover_stroke([((ox - k, oy - k), (ox + k, oy + k)),
                              ((ox - k, oy + k), (ox + k, oy - k))], 1.7)
        paint(tile, cross, glyph)
        for y in range(ih):
            for x in range(iw):
                if disc.get((x, y), 0.0) >= 0.2:
                    c.set(n * iw + x, y, tile.get(x, y))
    return c


# ---------------------------------------------------------------------------
# Icons


def render_icon(s, arrow):
    """RGBA rows (top first) of the badge at size s; arrow adds the update mark."""
    c = Canvas(s, s)
    for y in range(s):
        for x in range(s):
            c.set(x, y, badge_color(0, s)(x, y))
    paint(c, cover_shape(lambda fx, fy: fy < 0.48 * s, 0, 0, s, s), (255, 255, 255), 0.10)
    draw_quill(c, 0, 0, s)
    alpha = cover_shape(rounded_rect(0, 0, s, s, 0.24 * s), 0, 0, s, s)
    if arrow:
        # a small green disc with a down arrow in the lower right corner
        ax, ay, ar = 0.76 * s, 0.76 * s, 0.22 * s
        ring = cover_shape(circle(ax, ay, ar + 1.0), 0, 0, s, s)
        paint(c, ring, (255, 255, 255))
        disc = cover_shape(circle(ax, ay, ar), 0, 0, s, s)
        paint(c, disc, (52, 176, 60))
        k = 0.12 * s
        paint(c, cover_stroke([((ax, ay - k * 1.2), (ax, ay + k)),
                               ((ax - k, ay), (ax, ay + k)),
                               ((ax + k, ay), (ax, ay + k))], max(1.2, 0.07 * s)),
              (255, 255, 255))
        for key, v in ring.items():
            alpha[key] = max(alpha.get(key, 0.0), v)
    out = []
    for y in range(s):
        row = []
        for x in range(s):
            a = int(round(255 * alpha.get((x, y), 0.0)))
            row.append(c.rgb(x, y) + (a,) if a else (0, 0, 0, 0))
        out.append(row)
    return out


# ---------------------------------------------------------------------------
# File formats


def bmp_bytes(canvas):
    w, h = canvas.w, canvas.h
    stride = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b = canvas.rgb(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + bytes(pixels)


def ico_bytes(images):
    """images: list of RGBA row lists (square)."""
    blobs = []
    for rows in images:
        s = len(rows)
        xor = bytearray()
        for y in range(s - 1, -1, -1):
            for r, g, b, a in rows[y]:
                xor += bytes((b, g, r, a))
        mask_stride = ((s + 31) // 32) * 4
        mask = bytearray()
        for y in range(s - 1, -1, -1):
            bits = bytearray(mask_stride)
            for x, px in enumerate(rows[y]):
                if px[3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, s, s * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        blobs.append((s, info + bytes(xor) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for s, blob in blobs:
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in blobs:
        out += blob
    return out


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    print("wrote", os.path.relpath(path, ROOT), len(data), "bytes")


def main():
    face = make_background()
    write(os.path.join(RES, "background.bmp"), bmp_bytes(face))
    write(os.path.join(RES, "progress_track.bmp"), bmp_bytes(make_track()))
    write(os.path.join(RES, "progress_fill.bmp"), bmp_bytes(make_fill()))
    write(os.path.join(RES, "cancel.bmp"), bmp_bytes(make_cancel(face)))
    write(os.path.join(RES, "updater.ico"),
          ico_bytes([render_icon(16, False), render_icon(32, True)]))
    client = os.path.join(ROOT, "tools", "quillmarket")
    os.makedirs(client, exist_ok=True)
    write(os.path.join(client, "quillmarket.ico"),
          ico_bytes([render_icon(16, False), render_icon(32, False)]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
