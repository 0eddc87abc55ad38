#!/usr/bin/env python3
"""Draws MAINICON: a teal disc with a white arrow coming down onto a bar, the update being put in place.

Writes one 32 x 32 image in 16 colours (4 bits per pixel, the standard VGA palette) with its transparency
mask, as an .ico file. Usage: make-icon.py [OUTPUT]   (default: app/MAINICON.ico beside this script's repo)
"""
import math
import os
import struct
import sys

SIZE = 32
PALETTE = [  # (red, green, blue), the 16 colours every display can show
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
    (0, 255, 255), (255, 255, 255),
]
TRANSPARENT, BLACK, TEAL, GREY, WHITE = None, 0, 6, 8, 15

CENTRE = 15.5
RADIUS = 15.4
RIM = 1.3


def in_arrow(x, y):
    shaft = 13.0 <= x <= 18.0 and 5.0 <= y <= 15.0
    # The head: a triangle whose base spans 8..23 at y = 14 and whose tip sits at (15.5, 22).
    head = 14.0 <= y <= 22.0 and abs(x - CENTRE) <= (22.0 - y) * (7.5 / 8.0)
    return shaft or head


def in_bar(x, y):
    return 8.0 <= x <= 23.0 and 24.0 <= y <= 26.0


def colour_at(px, py):
    """The palette index of pixel (px, py), or None where the icon is transparent."""
    x, y = px + 0.5, py + 0.5
    distance = math.hypot(x - CENTRE - 0.5, y - CENTRE - 0.5)
    if distance > RADIUS:
        return TRANSPARENT
    if distance > RADIUS - RIM:
        return BLACK
    if in_arrow(x - 0.5, y - 0.5) or in_bar(x - 0.5, y - 0.5):
        return WHITE
    # A darker lower-right edge gives the disc a little depth.
    if distance > RADIUS - RIM - 1.2 and (x - CENTRE) + (y - CENTRE) > 6:
        return GREY
    return TEAL


def icon_bytes():
    rows = [[colour_at(x, y) for x in range(SIZE)] for y in range(SIZE)]
    colour_rows, mask_rows = [], []
    for row in reversed(rows):  # a DIB is stored bottom-up
        nibbles = [0 if c is None else c for c in row]
        colour_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        mask_rows.append(bits.to_bytes(SIZE // 8, "big"))  # 4 bytes: already a whole DWORD per row
    colours = b"".join(colour_rows)
    mask = b"".join(mask_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    # The header's height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(colours) + len(mask), 0, 0, 16, 0)
    image = header + palette + colours + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "app", "MAINICON.ico")
    with open(output, "wb") as f:
        f.write(icon_bytes())


if __name__ == "__main__":
    main()
