#!/usr/bin/python3
"""Draws the launcher's icon and writes it with the resource script that embeds it.

Usage: make_icon.py ICO RC

ICO gets one 128x128 image, 24 bits per pixel, stored as a BMP (not PNG): a
steaming coffee cup on a rounded, warm gradient tile. RC gets icon group 1
pointing at it and nothing else. The output depends on nothing but this file,
so two builds embed the same bytes.
"""

import math
import os
import struct
import sys

SIZE = 128
SUBSAMPLES = 4  # per axis, for smooth edges inside the tile

TILE_TOP = (244, 162, 89)
TILE_BOTTOM = (184, 64, 44)
CREAM = (255, 247, 236)
COFFEE = (102, 54, 34)
SHADOW = (120, 40, 28)


def roundedBox(x, y, left, top, right, bottom, radius):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius
    dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - radius


def ellipse(x, y, cx, cy, rx, ry):
    """Approximate signed distance to an ellipse, good enough for edges."""
    k = math.hypot((x - cx) / rx, (y - cy) / ry)
    return (k - 1.0) * min(rx, ry)


def ring(x, y, cx, cy, outer, inner):
    d = math.hypot(x - cx, y - cy)
    return max(d - outer, inner - d)


def steam(x, y, baseX):
    """A wavy stroke rising from the cup, 5 px wide with round ends."""
    top, bottom = 22.0, 48.0
    t = min(max(y, top), bottom)
    waveX = baseX + 4.0 * math.sin((t - top) / 26.0 * 2.0 * math.pi)
    return math.hypot(x - waveX, y - t) - 2.6


def cup(x, y):
    """Cup body with its handle, and the saucer: distance to the cream parts."""
    body = roundedBox(x, y, 34, 54, 84, 100, 16)
    body = max(body, 56 - y)  # flat rim: cut off the top rounding
    handle = max(ring(x, y, 84, 74, 14, 7.5), 80 - x)
    saucer = roundedBox(x, y, 24, 99, 104, 107, 4)
    return min(body, handle, saucer)


def shade(x, y):
    """Colour of the point (x, y) on the tile."""
    g = min(max((y - 4) / 120.0, 0.0), 1.0)
    colour = tuple(a + (b - a) * g for a, b in zip(TILE_TOP, TILE_BOTTOM))
    if ellipse(x, y, 66, 111, 44, 6) < 0:
        colour = tuple(c * 0.75 + s * 0.25 for c, s in zip(colour, SHADOW))
    if min(steam(x, y, 46), steam(x, y, 59), steam(x, y, 72)) < 0:
        colour = tuple(c * 0.25 + w * 0.75 for c, w in zip(colour, CREAM))
    if cup(x, y) < 0:
        colour = CREAM
    if ellipse(x, y, 59, 56, 23, 3.6) < 0:
        colour = COFFEE
    return colour


def tileCoverage(x, y):
    return roundedBox(x, y, 4, 4, 124, 124, 26)


def drawPixels():
    """Rows top to bottom of (r, g, b) or None where the tile does not reach."""
    rows = []
    step = 1.0 / SUBSAMPLES
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            if tileCoverage(px + 0.5, py + 0.5) > 0:
                row.append(None)
                continue
            total = [0.0, 0.0, 0.0]
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    c = shade(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    for i in range(3):
                        total[i] += c[i]
            n = SUBSAMPLES * SUBSAMPLES
            row.append(tuple(int(round(t / n)) for t in total))
        rows.append(row)
    return rows


def iconBytes(rows):
    """ICO file with one 24-bit BMP image plus its 1-bit transparency mask."""
    xorRowBytes = SIZE * 3  # 384: already a multiple of 4
    andRowBytes = SIZE // 8  # 16: already a multiple of 4
    xorData = bytearray()
    andData = bytearray()
    for row in reversed(rows):  # BMP rows run bottom to top
        mask = bytearray(andRowBytes)
        for x, pixel in enumerate(row):
            if pixel is None:
                xorData += b"\0\0\0"
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = pixel
                xorData += bytes((b, g, r))
        andData += mask
    assert len(xorData) == xorRowBytes * SIZE
    # The header's height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0,
                         len(xorData) + len(andData), 0, 0, 0, 0)
    image = header + bytes(xorData) + bytes(andData)
    iconDir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return iconDir + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_icon.py ICO RC")
    icoPath, rcPath = sys.argv[1], sys.argv[2]
    with open(icoPath, "wb") as f:
        f.write(iconBytes(drawPixels()))
    with open(rcPath, "w", encoding="ascii", newline="\n") as f:
        f.write('1 ICON "%s"\n' % os.path.basename(icoPath))


if __name__ == "__main__":
    main()
