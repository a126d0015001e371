#!/usr/bin/env python3
"""The archive's own icon in the end-to-end cases.

    icon_check.py make OUT.ico        a 32 x 32 icon of 24 bits per pixel
    icon_check.py check ARCHIVE.exe   the archive's stub holds that picture

The picture uses only the 16 colours of the stub's palette (bands of 4 x 4
pixels, colour (x // 4 + 2 * (y // 4)) mod 16), with a clear corner of 6 x 6
pixels, so the 16-colour image it becomes is known exactly. The check reads
the stub's resource directory on its own (type 14, the icon group, to type
3, its image) and compares every pixel and mask bit.
"""
import struct
import sys

VGA = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def index_at(x, y):
    return (x // 4 + 2 * (y // 4)) % 16


def clear_at(x, y):
    return x < 6 and y < 6


def make(path):
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 24, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(32)):
        bits = 0
        for x in range(32):
            r, g, b = (0, 0, 0) if clear_at(x, y) else VGA[index_at(x, y)]
            colour += bytes((b, g, r))
            bits = bits << 1 | (1 if clear_at(x, y) else 0)
        mask += struct.pack('>I', bits)
    image = header + bytes(colour) + bytes(mask)
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1))
        f.write(struct.pack('<BBBBHHII', 32, 32, 0, 0, 1, 24, len(image), 22))
        f.write(image)


def fail(text):
    sys.stderr.write('icon_check: %s\n' % text)
    sys.exit(1)


def resources(stub):
    pe = struct.unpack_from('<I', stub, 0x3C)[0]
    if stub[pe:pe + 4] != b'PE\0\0':
        fail('no PE header')
    sections, optional_size = struct.unpack_from('<H', stub, pe + 6)[0], struct.unpack_from('<H', stub, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from('<H', stub, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from('<II', stub, dirs + 16)
    table = opt + optional_size
    spans = []
    for i in range(sections):
        va, raw_size, raw_at = struct.unpack_from('<III', stub, table + 40 * i + 12)
        spans.append((va, raw_size, raw_at))

    def offset(r):
        for va, raw_size, raw_at in spans:
            if va <= r < va + raw_size:
                return raw_at + r - va
        fail('RVA %#x in no section' % r)
    return offset(rva), offset


def find(stub, base, offset, type_id, want=None):
    """The data (file offset, size) of the first resource of a type, or of
    the one whose id is `want`."""
    def entries(at):
        named, ids = struct.unpack_from('<HH', stub, base + at + 12)
        return [struct.unpack_from('<II', stub, base + at + 16 + 8 * i) for i in range(named + ids)]
    for key, target in entries(0):
        if key == type_id:
            for name, sub in entries(target & 0x7FFFFFFF):
                if want is not None and name != want:
                    continue
                _, leaf = entries(sub & 0x7FFFFFFF)[0]
                data_rva, data_size = struct.unpack_from('<II', stub, base + leaf)
                return offset(data_rva), data_size
    fail('no resource of type %d%s' % (type_id, '' if want is None else ' and id %d' % want))


def check(path):
    with open(path, 'rb') as f:
        stub = f.read(26112)
    base, offset = resources(stub)
    group, _ = find(stub, base, offset, 14)
    count = struct.unpack_from('<H', stub, group + 4)[0]
    if count != 1:
        fail('the icon group holds %d images' % count)
    width, height, colours, _, _, bits, size, icon_id = struct.unpack_from('<BBBBHHIH', stub, group + 6)
    at, length = find(stub, base, offset, 3, icon_id)
    if (width, height, colours, bits, size, length) != (32, 32, 16, 4, 744, 744):
        fail('the icon image is %dx%d, %d colours, %d bits, %d/%d bytes' % (width, height, colours, bits, size, length))
    palette = [tuple(stub[at + 40 + 4 * k + 2 - c] for c in range(3)) for k in range(16)]
    if palette != VGA:
        fail('the icon image has another palette')
    pixels, mask = at + 40 + 64, at + 40 + 64 + 512
    wrong = 0
    for y in range(32):
        row = 31 - y
        for x in range(32):
            byte = stub[pixels + row * 16 + x // 2]
            index = byte & 15 if x % 2 else byte >> 4
            clear = (stub[mask + row * 4 + x // 8] >> (7 - x % 8)) & 1
            want = (0, 1) if clear_at(x, y) else (index_at(x, y), 0)
            if (index, clear) != want:
                wrong += 1
    if wrong:
        fail('%d of 1024 pixels differ from the icon given' % wrong)
    print('icon_check: the stub of %s holds the given icon (at offset %d, %d bytes)' % (path, at, length))


def main(argv):
    if len(argv) == 2 and argv[0] == 'make':
        make(argv[1])
    elif len(argv) == 2 and argv[0] == 'check':
        check(argv[1])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
