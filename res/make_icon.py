#!/usr/bin/env python3
"""Writes the stub's icon: one 32 x 32 image with 16 colours (4 bits per
pixel, the standard VGA palette) and a transparency mask, as an .ico file.

    make_icon.py OUT.ico        write the icon
    make_icon.py --show         print the picture as text

The picture, drawn below from a few shapes: an open cardboard box with a
white label, and a blue arrow pointing down into it (files coming out of
the archive into a folder). The output depends on nothing but this script,
so every build writes the same bytes.
"""
import struct
import sys

SIZE = 32

# The 16 VGA colours as (red, green, blue); a pixel holds an index into this.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, OLIVE, NAVY, SILVER, GRAY, YELLOW, BLUE, CYAN, WHITE = 0, 3, 4, 7, 8, 11, 12, 14, 15
CLEAR = None  # transparent: mask bit set, colour black


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):  # inclusive corners
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    def frame(x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            px[y0][x] = px[y1][x] = colour
        for y in range(y0, y1 + 1):
            px[y][x0] = px[y][x1] = colour

    # The open flaps of the box, leaning outwards, behind everything else.
    for i, y in enumerate(range(10, 15)):
        rect(1 + i, y, 12, y, YELLOW)
        rect(19, y, 30 - i, y, YELLOW)
        px[y][1 + i] = px[y][12] = px[y][19] = px[y][30 - i] = BLACK
    rect(1, 10, 12, 10, BLACK)
    rect(19, 10, 30, 10, BLACK)

    # The box: front face with a shaded right side and a rim at the top.
    rect(4, 15, 27, 30, OLIVE)
    rect(22, 16, 26, 29, GRAY)
    rect(5, 16, 21, 16, YELLOW)
    frame(4, 15, 27, 30, BLACK)
    rect(22, 15, 22, 30, BLACK)

    # A white label with three lines of "text".
    rect(7, 20, 17, 27, WHITE)
    frame(7, 20, 17, 27, BLACK)
    for y in (22, 24):
        rect(9, y, 15, y, GRAY)
    rect(9, 26, 12, 26, GRAY)

    # The arrow: a shaft and a head that reaches into the box.
    for y in range(1, 12):
        rect(13, y, 18, y, BLUE)
        px[y][12] = px[y][19] = NAVY
    rect(12, 0, 19, 0, NAVY)
    rect(14, 1, 15, 9, CYAN)  # highlight on the shaft
    for i, y in enumerate(range(11, 19)):
        x0, x1 = 8 + i, 23 - i
        if x0 > x1:
            break
        rect(x0, y, x1, y, BLUE)
        px[y][x0] = px[y][x1] = NAVY
    rect(8, 11, 12, 11, NAVY)
    rect(19, 11, 23, 11, NAVY)
    return px


def ico_bytes(px):
    # Image data: BITMAPINFOHEADER (height doubled: colour rows, then mask
    # rows), the palette as blue, green, red, 0, the colour rows bottom-up at
    # 4 bits per pixel, then the mask rows bottom-up at 1 bit per pixel, each
    # row padded to 4 bytes.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(px):
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            colour.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack('>I', bits)
    image = header + palette + bytes(colour) + bytes(mask)
    # ICONDIR and its one ICONDIRENTRY: 32 x 32, 16 colours, 1 plane, 4 bits.
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    px = draw()
    if argv == ['--show']:
        for row in px:
            print(''.join('.' if c is None else '%X' % c for c in row))
        return 0
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[0], 'wb') as f:
        f.write(ico_bytes(px))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
