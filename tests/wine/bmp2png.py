#!/usr/bin/env python3
"""Converts uncompressed 24- or 32-bit BMP files to PNG (no third-party modules).

Usage: bmp2png.py [--scale N] input.bmp [more.bmp ...]   writes input.png next to each input
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, 'rb').read()
    if len(data) < 54 or data[:2] != b'BM':
        raise ValueError('%s: not a BMP file' % path)
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from('<iiHHI', data, 18)
    if bits not in (24, 32) or compression not in (0, 3) or width <= 0 or height == 0:
        raise ValueError('%s: unsupported BMP (%d bits, compression %d)' % (path, bits, compression))
    if width > 20000 or abs(height) > 20000:
        raise ValueError('%s: too large' % path)
    bottom_up = height > 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    if offset + stride * height > len(data):
        raise ValueError('%s: truncated' % path)
    rows = []
    for y in range(height):
        src = offset + stride * (height - 1 - y if bottom_up else y)
        row = bytearray()
        for x in range(width):
            b, g, r = data[src + x * step:src + x * step + 3]
            row += bytes((r, g, b))
        rows.append(row)
    return width, height, rows


def write_png(path, width, height, rows, scale=1):
    raw = bytearray()
    for row in rows:
        wide = bytearray()
        for x in range(width):
            wide += row[3 * x:3 * x + 3] * scale
        for _ in range(scale):
            raw += b'\0' + wide

    def chunk(tag, body):
        return struct.pack('>I', len(body)) + tag + body + struct.pack('>I', zlib.crc32(tag + body) & 0xFFFFFFFF)

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width * scale, height * scale, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def main(argv):
    scale = 1
    if len(argv) >= 2 and argv[0] == '--scale':
        scale = max(1, min(16, int(argv[1])))
        argv = argv[2:]
    if not argv:
        sys.stderr.write(__doc__)
        return 2
    for path in argv:
        w, h, rows = read_bmp(path)
        out = path[:-4] + '.png' if path.lower().endswith('.bmp') else path + '.png'
        write_png(out, w, h, rows, scale)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
