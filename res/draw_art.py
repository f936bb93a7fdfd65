#!/usr/bin/env python3
"""Draws the program's icon and title-bar bitmaps into res/ (standard library only).

Run it after changing the art; its outputs are committed so that the build needs no Python.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
TITLE_BAR = (126, 3, 6)          # background of every title-bar bitmap
WHITE, BLACK = (255, 255, 255), (0, 0, 0)
ICON_RED = (190, 22, 28)
ICON_RING = (255, 238, 232)


def write_bmp24(name, pixels):
    """pixels[y][x] = (r, g, b), top row first; stored bottom-up, uncompressed."""
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    rows = b""
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        rows += line + b"\0" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + rows)


def cross(colour):
    def on_stroke(x, y):
        inside = 3 <= x <= 28 and 3 <= y <= 28
        return inside and (abs(x - y) <= 2 or abs(x + y - 31) <= 2)
    return [[colour if on_stroke(x, y) else TITLE_BAR for x in range(32)] for y in range(32)]


def bar(colour):
    return [[colour if 18 <= y <= 21 and 2 <= x <= 29 else TITLE_BAR for x in range(32)]
            for y in range(32)]


def ring_coverage(size, x, y, samples=4):
    """Share of pixel (x, y) covered by the ring, by supersampling."""
    centre = size / 2
    outer, inner = size * 0.38, size * 0.22
    hits = 0
    for sy in range(samples):
        for sx in range(samples):
            px = x + (sx + 0.5) / samples - centre
            py = y + (sy + 0.5) / samples - centre
            if inner * inner <= px * px + py * py <= outer * outer:
                hits += 1
    return hits / (samples * samples)


def blend(share):
    return tuple(round(a + (b - a) * share) for a, b in zip(ICON_RED, ICON_RING))


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def icon_image(size, bpp):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, opaque AND mask."""
    if bpp == 4:
        palette = VGA16
        index = [[15 if ring_coverage(size, x, y) >= 0.5 else 9 for x in range(size)]
                 for y in range(size)]
    elif bpp == 8:
        palette = [blend(i / 15) for i in range(16)] + [(0, 0, 0)] * 240
        index = [[round(ring_coverage(size, x, y) * 15) for x in range(size)] for y in range(size)]
    stride = ((size * bpp + 31) // 32) * 4
    colour = b""
    for y in reversed(range(size)):
        if bpp == 32:
            line = b"".join(bytes(blend(ring_coverage(size, x, y))[::-1]) + b"\xff"
                            for x in range(size))
        elif bpp == 8:
            line = bytes(index[y])
        else:
            row = index[y]
            line = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        colour += line + b"\0" * (stride - len(line))
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    pal = b"" if bpp == 32 else b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(colour) + len(mask),
                       0, 0, 0, 0)
    return info + pal + colour + mask


def write_icon(name, formats):
    images = [icon_image(size, bpp) for size, bpp in formats]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for (size, bpp), image in zip(formats, images):
        directory += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0, 1, bpp,
                                 len(image), offset)
        offset += len(image)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(directory + b"".join(images))


if __name__ == "__main__":
    write_bmp24("close.bmp", cross(WHITE))
    write_bmp24("close_pressed.bmp", cross(BLACK))
    write_bmp24("minimize.bmp", bar(WHITE))
    write_bmp24("minimize_pressed.bmp", bar(BLACK))
    write_icon("app.ico", [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)])
