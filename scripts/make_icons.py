#!/usr/bin/env python3
"""Draws the tool's two icons, a desktop modem with its front lights and two signal arcs, and
writes them as .ico files: ui/modem_large.ico and ui/modem_small.ico. Each holds every size
Windows asks for at 100-200% scaling (16, 20, 24, 32, 40, 48, 64 and 256 pixels), 32-bit with an
alpha channel; the 256-pixel image is stored PNG-compressed, as Windows expects.

The 16 and 32 pixel images are drawn by hand, pixel by pixel, so they stay crisp at the sizes
seen most; the others are rendered from the same picture described as shapes, with 4x4
samples a pixel for smooth edges.

Run from the repository root: python3 scripts/make_icons.py. Needs nothing but Python 3.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GRAY, RED, LIME, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 9, 10, 11, 12, 15
CLEAR = None


# The pictures, one character a pixel: N navy and B blue signal arcs, G grey edges, W white
# faces, S the silver front, L lime, Y yellow and R red lights, K black base; '.' is clear.
LARGE = """
................................
................................
..........NNNNNNNNNNNN..........
........NN............NN........
.......N................N.......
............BBBBBBBB............
..........BB........BB..........
.........B............B.........
................................
................................
................................
......GGGGGGGGGGGGGGGGGGGG......
.....GWWWWWWWWWWWWWWWWWWWWG.....
....GWWWWWWWWWWWWWWWWWWWWWWG....
...GWWWWWWWWWWWWWWWWWWWWWWWWG...
..WWWWWWWWWWWWWWWWWWWWWWWWWWWG..
..WSSSSSSSSSSSSSSSSSSSSSSSSSSG..
..WSSSSSSSSSSSSSSSSSSSSSSSSSSG..
..WSSSSSSSSSSSSSSSSSSSGGGGGGSG..
..WSSSSSSSSSSSSSSSSSSSSSSSSSSG..
..WSSSLLSSLLSSYYSSRRSSGGGGGGSG..
..WSSSLLSSLLSSYYSSRRSSSSSSSSSG..
..WSSSSSSSSSSSSSSSSSSSGGGGGGSG..
..WSSSSSSSSSSSSSSSSSSSSSSSSSSG..
..WSSSSSSSSSSSSSSSSSSSSSSSSSSG..
..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..
....KKK..................KKK....
................................
................................
................................
................................
................................
"""

SMALL = """
................
.....NNNNNN.....
....N......N....
......BBBB......
.....B....B.....
................
....GGGGGGGG....
...GWWWWWWWWG...
..GWWWWWWWWWWG..
.WWWWWWWWWWWWWG.
.WSSSSSSSSSSSSG.
.WSLSLSYSRSGGSG.
.WSSSSSSSSSSSSG.
.KKKKKKKKKKKKKK.
..KK........KK..
................
"""

COLOURS = {".": CLEAR, "N": NAVY, "B": BLUE, "G": GRAY, "W": WHITE, "S": SILVER, "L": LIME,
           "Y": YELLOW, "R": RED, "K": BLACK}


SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

# The picture as shapes on a 32 x 32 grid (the hand-drawn 32-pixel image's own grid), drawn in
# this order, later ones on top: ("rect", colour, x0, y0, x1, y1), ("poly", colour, points) and
# ("arc", colour, centre x, centre y, inner radius, outer radius, half-angle from straight up).
SHAPES = [
    ("arc", NAVY, 16.0, 14.0, 10.6, 12.0, 52),
    ("arc", BLUE, 16.0, 14.0, 6.6, 8.0, 52),
    ("poly", GRAY, [(5.5, 10.5), (26.5, 10.5), (30.5, 15.0), (30.5, 25.0), (1.5, 25.0),
                    (1.5, 15.0)]),
    ("poly", WHITE, [(6.2, 11.5), (25.8, 11.5), (29.2, 15.0), (2.8, 15.0)]),
    ("rect", WHITE, 1.5, 15.0, 3.0, 25.0),
    ("rect", SILVER, 3.0, 15.6, 29.4, 25.0),
    ("rect", LIME, 6.0, 20.0, 8.0, 22.0),
    ("rect", LIME, 10.0, 20.0, 12.0, 22.0),
    ("rect", YELLOW, 14.0, 20.0, 16.0, 22.0),
    ("rect", RED, 18.0, 20.0, 20.0, 22.0),
    ("rect", GRAY, 22.0, 18.0, 28.0, 19.0),
    ("rect", GRAY, 22.0, 20.0, 28.0, 21.0),
    ("rect", GRAY, 22.0, 22.0, 28.0, 23.0),
    ("rect", BLACK, 1.5, 25.0, 30.5, 26.2),
    ("rect", BLACK, 4.0, 26.2, 7.0, 27.2),
    ("rect", BLACK, 25.0, 26.2, 28.0, 27.2),
]


def inside_polygon(x, y, points):
    crossings = False
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            crossings = not crossings
    return crossings


def shape_colour(x, y):
    """The palette index of the topmost shape at (x, y) on the 32-unit grid, or CLEAR."""
    found = CLEAR
    for shape in SHAPES:
        kind, colour = shape[0], shape[1]
        if kind == "rect":
            hit = shape[2] <= x < shape[4] and shape[3] <= y < shape[5]
        elif kind == "poly":
            hit = inside_polygon(x, y, shape[2])
        else:
            cx, cy, inner, outer, half = shape[2:]
            dx, dy = x - cx, cy - y
            radius = math.hypot(dx, dy)
            hit = (inner <= radius <= outer and dy > 0 and
                   math.degrees(math.atan2(abs(dx), dy)) <= half)
        if hit:
            found = colour
    return found


def render(size, samples=4):
    """The picture at `size` pixels as rows of (red, green, blue, alpha), top row first."""
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            red = green = blue = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = shape_colour((px + (sx + 0.5) / samples) * scale,
                                          (py + (sy + 0.5) / samples) * scale)
                    if colour is not CLEAR:
                        r, g, b = PALETTE[colour]
                        red, green, blue, covered = red + r, green + g, blue + b, covered + 1
            if covered:
                row.append((red // covered, green // covered, blue // covered,
                            (255 * covered + samples * samples // 2) // (samples * samples)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def from_pixels(picture, size):
    """A hand-drawn picture as rows of (red, green, blue, alpha), top row first."""
    lines = picture.strip().splitlines()
    assert len(lines) == size and all(len(r) == size for r in lines), "picture is not square"
    return [[(0, 0, 0, 0) if COLOURS[c] is CLEAR else PALETTE[COLOURS[c]] + (255,) for c in line]
            for line in lines]


def bitmap_image(rows):
    """An icon image as a device-independent bitmap: 32-bit BGRA rows and the AND mask, both
    bottom row first; the mask marks the fully transparent pixels for old drawing code."""
    size = len(rows)
    mask_row = ((size + 31) // 32) * 4
    colour, mask = bytearray(), bytearray()
    for row in reversed(rows):
        bits = 0
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (mask_row * 8 - 1 - x)
        mask += bits.to_bytes(mask_row, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def png_image(rows):
    """An icon image as a PNG file: 8-bit RGBA, every row unfiltered."""
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + b"".join(bytes(pixel) for pixel in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_bytes(images):
    """An .ico file of the given images (rows of RGBA, smallest first)."""
    encoded = [png_image(rows) if len(rows) >= 256 else bitmap_image(rows) for rows in images]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for rows, data in zip(images, encoded):
        side = len(rows) % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(encoded)


def main():
    root = Path(__file__).resolve().parent.parent
    images = []
    for size in SIZES:
        if size == 32:
            images.append(from_pixels(LARGE, 32))
        elif size == 16:
            images.append(from_pixels(SMALL, 16))
        else:
            images.append(render(size, samples=3 if size >= 256 else 4))
    data = ico_bytes(images)
    for name in ("modem_large.ico", "modem_small.ico"):
        (root / "ui" / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
