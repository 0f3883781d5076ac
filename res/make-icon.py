#!/usr/bin/env python3
"""Writes setup.ico, the setup program's icon (resource 128).

The icon holds two classic 16-colour images, 32x32 and 16x16, each stored as a
BMP-style DIB (4 bits per pixel, the standard Windows 16-colour palette) with
its 1-bit AND mask. The picture is a navy rounded box with a white "T" whose
stem ends in a downward arrow, over a yellow bar: the suite being put in place.

The output depends on nothing but this script, so running it again gives the
same bytes.

Usage: make-icon.py [OUTPUT]   (default: setup.ico next to this script)
"""

import os
import struct
import sys

# The standard Windows 16-colour palette, in index order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]
BLACK, OLIVE, NAVY, SILVER, YELLOW, BLUE, WHITE = 0, 3, 4, 7, 11, 12, 15

TRANSPARENT = None


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[TRANSPARENT] * size for _ in range(size)]

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def fill(self, shape, colour):
        for x, y in shape:
            self.put(x, y, colour)


def rounded_box(x0, y0, x1, y1, cut):
    """Pixels of the rectangle [x0, x1] x [y0, y1] with each corner chamfered by `cut` pixels."""
    pixels = set()
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            dx = min(x - x0, x1 - x)
            dy = min(y - y0, y1 - y)
            if dx + dy >= cut:
                pixels.add((x, y))
    return pixels


def rect(x0, y0, x1, y1):
    return {(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)}


def arrow_head(centre_left, top, half_width):
    """A downward arrowhead, two pixels wide at its tip; its widest row is at `top`.

    `centre_left` is the left one of the two centre columns.
    """
    pixels = set()
    for row in range(half_width):
        reach = half_width - 1 - row
        pixels |= rect(centre_left - reach, top + row, centre_left + 1 + reach, top + row)
    return pixels


def shifted(shape, dx, dy):
    return {(x + dx, y + dy) for x, y in shape}


def draw(size):
    canvas = Canvas(size)
    if size == 32:
        outline = rounded_box(1, 1, 30, 30, 3)
        inside = rounded_box(2, 2, 29, 29, 2)
        mark = rect(7, 6, 24, 9) | rect(14, 10, 17, 16) | arrow_head(15, 17, 8)
        bar = rect(7, 26, 24, 27)
    elif size == 16:
        outline = rounded_box(0, 0, 15, 15, 2)
        inside = rounded_box(1, 1, 14, 14, 1)
        mark = rect(3, 2, 12, 3) | rect(7, 4, 8, 7) | arrow_head(7, 8, 4)
        bar = rect(3, 13, 12, 13)
    else:
        raise ValueError(f"no picture for size {size}")

    canvas.fill(outline, BLACK)
    canvas.fill(inside, NAVY)
    # A light edge along the top and left of the box gives it some depth.
    highlight = {(x, y) for x, y in inside if (x - 1, y) not in inside or (x, y - 1) not in inside}
    canvas.fill(highlight, BLUE)
    if size == 32:
        # At 32x32 the mark and the bar cast a one-pixel shadow; at 16x16 that would blur them.
        canvas.fill((shifted(mark, 1, 1) - mark) & inside, BLACK)
        canvas.fill((shifted(bar, 1, 1) - bar) & inside, BLACK)
    canvas.fill(mark, WHITE)
    canvas.fill(bar, YELLOW)
    if size == 32:
        canvas.fill(rect(7, 27, 24, 27), OLIVE)
    return canvas


def row_bytes(bits_per_row):
    """Bytes per DIB row: rows are padded to a multiple of 4 bytes."""
    return (bits_per_row + 31) // 32 * 4


def dib(canvas):
    """The icon image as stored in an ICO file: header, palette, XOR bits, AND mask."""
    size = canvas.size
    colour_stride = row_bytes(size * 4)
    mask_stride = row_bytes(size)
    colour_bits = bytearray()
    mask_bits = bytearray()
    # DIB rows go from the bottom of the picture to the top.
    for y in reversed(range(size)):
        colour_row = bytearray(colour_stride)
        mask_row = bytearray(mask_stride)
        for x in range(size):
            colour = canvas.pixels[y][x]
            if colour is TRANSPARENT:
                # Transparent: AND bit set, XOR colour black so the screen shows through unchanged.
                mask_row[x // 8] |= 0x80 >> (x % 8)
                colour = 0
            colour_row[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        colour_bits += colour_row
        mask_bits += mask_row

    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        size * 2,  # biHeight: XOR image and AND mask together
        1,  # biPlanes
        4,  # biBitCount
        0,  # biCompression: BI_RGB
        len(colour_bits) + len(mask_bits),  # biSizeImage
        0,  # biXPelsPerMeter
        0,  # biYPelsPerMeter
        0,  # biClrUsed: all 16
        0,  # biClrImportant
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour_bits) + bytes(mask_bits)


def ico(canvases):
    images = [dib(c) for c in canvases]
    directory = struct.pack("<HHH", 0, 1, len(images))  # reserved, type 1 = icon, count
    offset = len(directory) + 16 * len(images)
    entries = b""
    for canvas, image in zip(canvases, images):
        entries += struct.pack(
            "<BBBBHHII",
            canvas.size,  # width
            canvas.size,  # height
            16,  # colours in the palette
            0,  # reserved
            1,  # planes
            4,  # bits per pixel
            len(image),
            offset,
        )
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "setup.ico")
    data = ico([draw(32), draw(16)])
    with open(output, "wb") as f:
        f.write(data)
    print(f"{output}: {len(data)} bytes")


if __name__ == "__main__":
    main()
