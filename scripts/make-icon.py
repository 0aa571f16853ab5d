#!/usr/bin/env python3
"""Draws Velmora's program icon and writes src/Velmora.ico.

The icon is an application window listing programs, with a red "remove" badge.
It is drawn from signed distance fields, so every edge is anti-aliased, and each
size has its own geometry so the 16x16 image stays crisp. The .ico holds 48x48,
32x32 and 16x16 images, each a 32-bit BMP with alpha and an AND mask.

Usage: scripts/make-icon.py [OUTPUT]   (default: src/Velmora.ico)
"""

import math
import os
import struct
import sys

# ---------------------------------------------------------------- shapes


def rounded_rect(x0, y0, x1, y1, r):
    """Distance to a rounded rectangle (negative inside), in pixels."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


def coverage(distance):
    """Area of the pixel inside the shape, from the distance at its centre."""
    return min(1.0, max(0.0, 0.5 - distance))


# ---------------------------------------------------------------- colours


def hex_rgb(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def vertical(top, bottom, y0, y1):
    """A top-to-bottom gradient between two colours over [y0, y1]."""
    a, b = hex_rgb(top), hex_rgb(bottom)

    def paint(_x, y):
        t = min(1.0, max(0.0, (y - y0) / max(y1 - y0, 1e-6)))
        return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))

    return paint


def solid(colour):
    rgb = hex_rgb(colour)
    return lambda _x, _y: rgb


# ---------------------------------------------------------------- geometry


# Per size, in pixels: the window (outer edge, corner radius, outline width,
# title bar height), the rows listed in it, and the badge (centre, radius, the
# gap cut around it, and the minus bar's half width and half height).
GEOMETRY = {
    48: dict(window=(2, 4, 40, 39), radius=5, stroke=2.0, title=9,
             rows=[(17.5, 3.0), (24.5, 3.0), (31.5, 3.0)], row_inset=4, row_icon=5,
             badge=(36, 36, 11.0), gap=2.0, bar=(6.5, 2.0)),
    32: dict(window=(1, 3, 27, 26), radius=3, stroke=1.0, title=6,
             rows=[(13.0, 2.0), (19.0, 2.0)], row_inset=3, row_icon=4,
             badge=(24.5, 24.5, 7.25), gap=1.5, bar=(4.5, 1.5)),
    16: dict(window=(0, 1, 14, 13), radius=1.5, stroke=1.0, title=4,
             rows=[(8.5, 1.0)], row_inset=2, row_icon=0,
             badge=(11, 11, 4.75), gap=1.0, bar=(3.0, 1.0)),
}

OUTLINE = "#1d3d6e"
TITLE_TOP, TITLE_BOTTOM = "#5b9cf0", "#2a64c8"
BODY_TOP, BODY_BOTTOM = "#ffffff", "#e3e9f2"
ROW_TEXT = "#9aa8bc"
ROW_ICONS = ["#f0a830", "#4caf6a", "#8a6bd6"]
BADGE_RIM = "#9e1f1a"
BADGE_TOP, BADGE_BOTTOM = "#f26a5a", "#d0302a"
BAR = "#ffffff"


def layers(size):
    """The icon's shapes, back to front: (distance function, paint, knocked out)."""
    g = GEOMETRY[size]
    x0, y0, x1, y1 = g["window"]
    r, s, title = g["radius"], g["stroke"], g["title"]
    inner = rounded_rect(x0 + s, y0 + s, x1 - s, y1 - s, max(r - s, 0.5))
    shapes = [
        (rounded_rect(x0, y0, x1, y1, r), solid(OUTLINE), True),
        (inner, vertical(BODY_TOP, BODY_BOTTOM, y0 + title, y1), True),
        (intersect(inner, lambda x, y: y - (y0 + title)),
         vertical(TITLE_TOP, TITLE_BOTTOM, y0, y0 + title), True),
    ]
    # A divider under the title bar, then the listed programs.
    shapes.append((intersect(inner, lambda x, y: abs(y - (y0 + title + s / 2)) - s / 2),
                   solid(OUTLINE), True))
    left = x0 + s + g["row_inset"]
    for number, (middle, height) in enumerate(g["rows"]):
        text_left = left
        if g["row_icon"]:
            icon = g["row_icon"]
            shapes.append((rounded_rect(left, middle - icon / 2, left + icon, middle + icon / 2,
                                        icon / 4), solid(ROW_ICONS[number % 3]), True))
            text_left = left + icon + max(1.5, icon / 2)
        shapes.append((rounded_rect(text_left, middle - height / 2, x1 - s - g["row_inset"],
                                    middle + height / 2, height / 2), solid(ROW_TEXT), True))

    bx, by, br = g["badge"]
    hw, hh = g["bar"]
    shapes += [
        (circle(bx, by, br), solid(BADGE_RIM), False),
        (circle(bx, by, br - max(1.0, size / 48)), vertical(BADGE_TOP, BADGE_BOTTOM, by - br, by + br),
         False),
        (rounded_rect(bx - hw, by - hh, bx + hw, by + hh, min(hh, 1.0)), solid(BAR), False),
    ]
    return shapes, circle(bx, by, br + g["gap"])


def render(size):
    """Straight (non-premultiplied) RGBA rows, top to bottom, values 0..255."""
    shapes, cut = layers(size)
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            x, y = i + 0.5, j + 0.5
            # Premultiplied "over" compositing, back to front.
            pr = pg = pb = pa = 0.0
            keep = 1.0 - coverage(cut(x, y))
            for sdf, paint, knocked in shapes:
                a = coverage(sdf(x, y))
                if knocked:
                    a *= keep
                if a <= 0.0:
                    continue
                cr, cg, cb = paint(x, y)
                pr = cr * a + pr * (1 - a)
                pg = cg * a + pg * (1 - a)
                pb = cb * a + pb * (1 - a)
                pa = a + pa * (1 - a)
            if pa > 0:
                colour = [min(255, round(c / pa * 255)) for c in (pr, pg, pb)]
            else:
                colour = [0, 0, 0]
            row.append((*colour, round(pa * 255)))
        rows.append(row)
    return rows


# ---------------------------------------------------------------- .ico


def dib(size, rows):
    """A BMP icon image: header, bottom-up BGRA pixels, then the AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for i, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def write_ico(path, sizes):
    images = [dib(size, render(size)) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(directory + entries + b"".join(images))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "Velmora.ico")
    write_ico(path, [48, 32, 16])
    print(path)


if __name__ == "__main__":
    main()
