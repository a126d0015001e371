#!/usr/bin/env python3
"""Writes a self-extracting file for the end-to-end cases byte by byte: a copy
of the stub followed by an archive header (and, when asked, arbitrary bytes).

    make_payload.py STUB OUT [options]

Header layout written: expectedSize (int32 LE), comment (cp932) + 0,
launchFile (cp932) + 0, passwordFlags (1 byte) and, when the flags are not 0,
the check value: CRC-16/UMTS of the password XOR flags * 0x0101, LE.

Texts take the escapes \\r \\n \\t \\\\ so a case line can hold CRLF comments.
"""
import argparse
import struct
import sys


def crc16_umts(data: bytes) -> int:
    """CRC-16/UMTS: polynomial 0x8005, initial 0, no reflection, no final XOR."""
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


def unescape(text: str) -> str:
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            i += 1
            out.append({'r': '\r', 'n': '\n', 't': '\t', '\\': '\\'}.get(text[i], '\\' + text[i]))
        else:
            out.append(c)
        i += 1
    return ''.join(out)


def sjis(text: str) -> bytes:
    return unescape(text).encode('cp932')


def int_arg(text: str) -> int:
    return int(text, 0)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('stub')
    ap.add_argument('out')
    ap.add_argument('--comment', default='', help='comment text (UTF-8, written as cp932)')
    ap.add_argument('--launch', default='', help='launchFile text')
    ap.add_argument('--flags', type=int_arg, default=0, help='passwordFlags byte')
    ap.add_argument('--password', default='', help='password whose check value is stored')
    ap.add_argument('--check', type=int_arg, help='store this 16-bit field instead of the computed one')
    ap.add_argument('--size', type=int_arg, help='expectedSize as stored (default: the real file size); '
                    'values of 2**31 and more are stored as their unsigned 32-bit form')
    ap.add_argument('--size-delta', type=int_arg, default=0, help='expectedSize = real size + this')
    ap.add_argument('--append-hex', default='', help='bytes to put after the header (hex)')
    ap.add_argument('--unterminated-comment', action='store_true',
                    help='end the file inside the comment: no 0 byte and nothing after it')
    ap.add_argument('--only-hex', help='append exactly these bytes (hex) to the stub and nothing else')
    args = ap.parse_args(argv)

    with open(args.stub, 'rb') as f:
        stub = f.read()

    if args.only_hex is not None:
        data = stub + bytes.fromhex(args.only_hex)
    else:
        body = bytearray(sjis(args.comment))
        if not args.unterminated_comment:
            body += b'\0' + sjis(args.launch) + b'\0' + bytes([args.flags])
            if args.flags:
                check = args.check
                if check is None:
                    check = crc16_umts(sjis(args.password)) ^ (args.flags * 0x0101)
                body += struct.pack('<H', check & 0xFFFF)
            body += bytes.fromhex(args.append_hex)
        total = len(stub) + 4 + len(body)
        size = args.size if args.size is not None else total + args.size_delta
        data = stub + struct.pack('<I', size & 0xFFFFFFFF) + bytes(body)

    with open(args.out, 'wb') as f:
        f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
