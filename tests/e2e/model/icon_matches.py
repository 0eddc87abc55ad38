#!/usr/bin/env python3
"""Usage: icon_matches.py ICON_FILE XPROP_OUTPUT

Tells whether the 32 x 32 image that Wine published as an X window's _NET_WM_ICON (the text of
`xprop -notype -id XID 32c _NET_WM_ICON`) shows the 32 x 32 image of ICON_FILE: every opaque pixel of the
icon with its palette colour, every transparent one transparent. Wine publishes the window's big icon
there (WM_SETICON, else the class icon, else a stock one), so this is how the icon set on a window of
another process is seen from outside. Prints a verdict line; exit status 0 for a match, 1 otherwise.
"""
import re
import struct
import sys


def icon_pixels(path):
    """ARGB values (alpha 0 or 255) of the first 32 x 32 image of a .ico holding a paletted DIB."""
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1 or count < 1:
        raise SystemExit(f"{path}: not an icon file")
    for i in range(count):
        width, height, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (width, height) == (32, 32):
            break
    else:
        raise SystemExit(f"{path}: no 32 x 32 image")
    header_size, w, h2, _, bits = struct.unpack_from("<IiiHH", data, offset)
    if w != 32 or h2 != 64 or bits not in (1, 4, 8):
        raise SystemExit(f"{path}: unexpected image {w} x {h2 // 2} at {bits} bits")
    palette_at = offset + header_size
    palette = [struct.unpack_from("<BBBx", data, palette_at + 4 * i) for i in range(1 << bits)]
    xor_at = palette_at + 4 * len(palette)
    xor_stride = ((32 * bits + 31) // 32) * 4
    and_at = xor_at + xor_stride * 32
    and_stride = 4
    pixels = []
    for y in range(32):
        row = 31 - y  # bottom-up
        for x in range(32):
            bit_offset = x * bits
            byte = data[xor_at + row * xor_stride + bit_offset // 8]
            index = (byte >> (8 - bits - bit_offset % 8)) & ((1 << bits) - 1)
            transparent = data[and_at + row * and_stride + x // 8] >> (7 - x % 8) & 1
            blue, green, red = palette[index]
            pixels.append(0 if transparent else 0xFF000000 | red << 16 | green << 8 | blue)
    return pixels


def published_icons(text):
    """The images in _NET_WM_ICON: (width, height, ARGB values), in the order given."""
    numbers = [int(n, 0) for n in re.findall(r"(?:0x[0-9a-fA-F]+|\d+)", text.split("=", 1)[-1])]
    icons = []
    while len(numbers) >= 2:
        width, height = numbers[0], numbers[1]
        if width <= 0 or height <= 0 or len(numbers) < 2 + width * height:
            break
        icons.append((width, height, numbers[2 : 2 + width * height]))
        numbers = numbers[2 + width * height :]
    return icons


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    expected = icon_pixels(sys.argv[1])
    icons = published_icons(open(sys.argv[2]).read())
    big = [pixels for width, height, pixels in icons if (width, height) == (32, 32)]
    if not big:
        sizes = ", ".join(f"{w}x{h}" for w, h, _ in icons) or "none"
        print(f"no 32 x 32 image published (images: {sizes})")
        return 1
    # A fully transparent pixel may carry any colour.
    normalise = lambda p: 0 if p >> 24 == 0 else p
    different = sum(1 for a, b in zip(expected, big[0]) if normalise(a) != normalise(b))
    print(f"32 x 32 image: {different} of 1024 pixels differ from {sys.argv[1]}")
    return 0 if different == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
