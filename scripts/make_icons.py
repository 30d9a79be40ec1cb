#!/usr/bin/env python3
"""Draws the tool's two icons, a desktop modem with its front lights and two signal arcs, and
writes them as 16-colour .ico files: ui/modem_large.ico (32x32) and ui/modem_small.ico (16x16).

Run from the repository root: python3 scripts/make_icons.py. Needs nothing but Python 3.
"""
import struct
import sys
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


def parse(picture, size):
    """Returns the picture as a size x size grid of palette indexes, top row first."""
    rows = picture.strip().splitlines()
    assert len(rows) == size and all(len(r) == size for r in rows), "picture is not square"
    return [[COLOURS[c] for c in row] for row in rows]


def ico_bytes(grid):
    size = len(grid)
    xor_row = ((size * 4 + 31) // 32) * 4
    and_row = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(grid):  # bitmaps are stored bottom row first
        nibbles = [0 if c is CLEAR else c for c in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += packed.ljust(xor_row, b"\0")
        bits = 0
        for x, c in enumerate(row):
            if c is CLEAR:
                bits |= 1 << (size - 1 - x)
        mask += bits.to_bytes(size // 8, "big").ljust(and_row, b"\0")
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0,
                         16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = Path(__file__).resolve().parent.parent
    for name, picture, size in (("modem_large.ico", LARGE, 32), ("modem_small.ico", SMALL, 16)):
        (root / "ui" / name).write_bytes(ico_bytes(parse(picture, size)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
