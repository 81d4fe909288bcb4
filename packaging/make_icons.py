#!/usr/bin/env python3
"""Draws the application icon of lumbra and fennow for the desktop's icon theme from the one
the windows use, app/wx/lumbra_icon.xpm (48 x 48): a scalable SVG with one square per pixel,
and PNGs of the theme's usual sizes (downscaled by averaging the pixels each covers, upscaled
by whole multiples, so the pixel art stays sharp). The output is committed in
packaging/icons/; run this again after changing the XPM:

    packaging/make_icons.py
"""
import math
import os
import re
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
XPM = os.path.join(HERE, "..", "app", "wx", "lumbra_icon.xpm")
OUT = os.path.join(HERE, "icons")
SIZES = (16, 24, 32, 48, 96, 192)


def read_xpm(path):
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', open(path, encoding="ascii").read())
    width, height, ncolors, cpp = map(int, strings[0].split()[:4])
    colors = {}
    for line in strings[1:1 + ncolors]:
        key, value = line[:cpp], line[cpp:].split()
        color = value[value.index("c") + 1]
        colors[key] = None if color.lower() == "none" else tuple(
            int(color[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + ncolors:1 + ncolors + height]
    return width, height, [[colors[row[x * cpp:(x + 1) * cpp]] for x in range(width)]
                           for row in rows]


def write_svg(path, width, height, pixels):
    # One rectangle per run of equal pixels in a row.
    rects = []
    for y, row in enumerate(pixels):
        x = 0
        while x < width:
            color = row[x]
            end = x
            while end < width and row[end] == color:
                end += 1
            if color is not None:
                rects.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02X%02X%02X"/>' %
                             ((x, y, end - x) + color))
            x = end
    with open(path, "w", encoding="ascii") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'viewBox="0 0 %d %d" shape-rendering="crispEdges">\n' %
                (width, height, width, height))
        f.write("\n".join(rects))
        f.write("\n</svg>\n")


def scaled(width, pixels, size):
    # Every pixel of the common multiple of both sizes, averaged (alpha-weighted) over the
    # block each output pixel covers.
    common = width * size // math.gcd(width, size)
    up, down = common // width, common // size
    out = []
    for oy in range(size):
        row = []
        for ox in range(size):
            r = g = b = a = 0
            for sy in range(oy * down, (oy + 1) * down):
                for sx in range(ox * down, (ox + 1) * down):
                    color = pixels[sy // up][sx // up]
                    if color is not None:
                        r, g, b, a = r + color[0], g + color[1], b + color[2], a + 1
            n = down * down
            row.append((0, 0, 0, 0) if a == 0 else
                       (round(r / a), round(g / a), round(b / a), round(255 * a / n)))
        out.append(row)
    return out


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main():
    width, height, pixels = read_xpm(XPM)
    assert width == height, "the icon is square"
    os.makedirs(OUT, exist_ok=True)
    write_svg(os.path.join(OUT, "lumbra.svg"), width, height, pixels)
    for size in SIZES:
        write_png(os.path.join(OUT, "lumbra-%d.png" % size), scaled(width, pixels, size))


if __name__ == "__main__":
    main()
