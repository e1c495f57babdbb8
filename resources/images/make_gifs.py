#!/usr/bin/env python3
"""Draws the help pages' pictures and writes them as GIF files (resources of type IMG).

Run from anywhere: python3 resources/images/make_gifs.py
Outputs next to this script:
  ico.gif   the program icon at 32 pixels, on the page's background
  logo.gif  a 240 by 48 banner: three snapshots in a row, the last one changed
The icon is the one make_images.py draws; the banner is drawn here from rectangles.
"""
import os
import struct

from make_images import Canvas, app_icon, NAVY, TEAL, WHITE, ORANGE, LGREEN, GREY

HERE = os.path.dirname(os.path.abspath(__file__))
PAGE = (255, 255, 245)  # the help pages' background


def encode(width, height, pixels):
    """A GIF89a image of rows of (r, g, b); at most 256 colours. The picture data is LZW with
    a clear code every 250 codes, so that every code stays 9 bits wide (no compression, which
    every decoder reads)."""
    palette = []
    index = {}
    for row in pixels:
        for p in row:
            if p not in index:
                index[p] = len(palette)
                palette.append(p)
    assert len(palette) <= 256
    while len(palette) < 256:
        palette.append((0, 0, 0))
    clear, end = 256, 257
    codes = []
    flat = [index[p] for row in pixels for p in row]
    for i, v in enumerate(flat):
        if i % 250 == 0:
            codes.append(clear)
        codes.append(v)
    codes.append(end)
    bits = 0
    nbits = 0
    data = bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += 9
        while nbits >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        data.append(bits & 0xFF)
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', width, height, 0xF7, 0, 0)
    for r, g, b in palette:
        out += bytes((r, g, b))
    out += b'\x2c' + struct.pack('<HHHHB', 0, 0, width, height, 0)
    out.append(8)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b'\x00\x3b'
    return bytes(out)


def decode(gif):
    """The palette indices of a GIF written by encode, read back with the usual LZW rules of a
    decoder (growing code width included), so that main can check every picture it writes."""
    width, height = struct.unpack('<HH', gif[6:10])
    pos = 13 + 3 * 256 + 10
    min_size = gif[pos]
    pos += 1
    data = bytearray()
    while gif[pos]:
        data += gif[pos + 1:pos + 1 + gif[pos]]
        pos += 1 + gif[pos]
    clear, end = 1 << min_size, (1 << min_size) + 1
    table, width_bits, bit, out, prev = None, min_size + 1, 0, [], None
    while True:
        code = 0
        for i in range(width_bits):
            if data[(bit + i) // 8] & (1 << ((bit + i) % 8)):
                code |= 1 << i
        bit += width_bits
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            width_bits, prev = min_size + 1, None
            continue
        if code == end:
            break
        if prev is None:
            entry = table[code]
        else:
            entry = table[code] if code < len(table) else prev + [prev[0]]
            table.append(prev + [entry[0]])
            if len(table) == 1 << width_bits and width_bits < 12:
                width_bits += 1
        out += entry
        prev = entry
    assert len(out) == width * height
    return out


def icon():
    c = Canvas(32)
    app_icon(c)
    return [[c.px[y][x] if c.alpha[y][x] else PAGE for x in range(32)] for y in range(32)]


def logo():
    w, h = 240, 48
    px = [[PAGE] * w for _ in range(h)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(h, y1)):
            for x in range(max(0, x0), min(w, x1)):
                px[y][x] = colour

    rect(0, 20, w, 28, TEAL)  # the time line
    for i in range(3):
        x = 24 + i * 80
        rect(x - 2, 4, x + 42, 44, NAVY)
        rect(x, 6, x + 40, 42, WHITE)
        for line in range(5):
            colour = LGREEN if i == 2 and line == 2 else GREY
            rect(x + 5, 11 + line * 6, x + 35 - (line % 2) * 8, 13 + line * 6, colour)
    rect(24 + 160 + 30, 32, 24 + 160 + 38, 40, ORANGE)  # the change marked
    return px


def main():
    for name, pixels in (('ico.gif', icon()), ('logo.gif', logo())):
        gif = encode(len(pixels[0]), len(pixels), pixels)
        palette = [tuple(gif[13 + 3 * i:16 + 3 * i]) for i in range(256)]
        assert [palette[i] for i in decode(gif)] == [p for row in pixels for p in row], name
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(gif)


if __name__ == '__main__':
    main()
