#!/usr/bin/env python3
"""Draws the program's own 16x16 pictures and its icon, and writes them as BMP strips and an ICO.

Run from anywhere: python3 resources/images/make_images.py
Outputs next to this script:
  buttons.bmp  the button and menu strip (25 pictures; magenta is transparent)
  tree.bmp     the comparison screens' tree pictures (21)
  list.bmp     the comparison screens' list pictures (6)
  checks.bmp   the three check-box states (unchecked, checked, partly checked)
  keldrun.ico  the program icon at 16, 32 and 48 pixels
Every picture is drawn here from simple shapes; nothing is copied from elsewhere.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
MAGENTA = (255, 0, 255)

# Palette
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GREY = (128, 128, 128)
LIGHT = (200, 200, 200)
DARK = (64, 64, 64)
GREEN = (0, 150, 30)
LGREEN = (120, 210, 120)
RED = (200, 30, 30)
LRED = (240, 140, 140)
BLUE = (30, 30, 200)
LBLUE = (130, 160, 240)
NAVY = (0, 36, 128)
TEAL = (62, 139, 159)
YELLOW = (240, 200, 60)
DYELLOW = (180, 140, 20)
ORANGE = (240, 140, 30)
PAPER = (255, 255, 245)


class Canvas:
    def __init__(self, size, background=MAGENTA):
        self.size = size
        self.px = [[background] * size for _ in range(size)]
        self.alpha = [[0 if background == MAGENTA else 255] * size for _ in range(size)]
        self.scale = size / 16.0

    def set(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = colour
            self.alpha[y][x] = 255

    # Shapes take coordinates on the 16-unit grid and scale to the canvas.
    def rect(self, x0, y0, x1, y1, colour):
        s = self.scale
        for y in range(int(round(y0 * s)), int(round((y1 + 1) * s))):
            for x in range(int(round(x0 * s)), int(round((x1 + 1) * s))):
                self.set(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)

    def polygon(self, points, colour):
        s = self.scale
        pts = [((x + 0.5) * s, (y + 0.5) * s) for x, y in points]
        n = len(pts)
        for py in range(self.size):
            yc = py + 0.5
            xs = []
            for i in range(n):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % n]
                if (ya <= yc < yb) or (yb <= yc < ya):
                    xs.append(xa + (yc - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for i in range(0, len(xs) - 1, 2):
                for px in range(int(round(xs[i] - 0.5 * s + 0.5 * s)), int(round(xs[i + 1]))):
                    self.set(px, py, colour)

    def line(self, x0, y0, x1, y1, colour, width=1.0):
        # A thick line as a quadrilateral.
        dx, dy = x1 - x0, y1 - y0
        length = max((dx * dx + dy * dy) ** 0.5, 1e-6)
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)],
                     colour)

    def outline(self, points, colour, width=1.0):
        for i, (x0, y0) in enumerate(points):
            x1, y1 = points[(i + 1) % len(points)]
            self.line(x0, y0, x1, y1, colour, width)

    def panel(self, x0, y0, x1, y1, face, edge):
        self.rect(x0, y0, x1, y1, face)
        self.frame(x0, y0, x1, y1, edge)

    def disc(self, cx, cy, r, colour):
        self.plot_where(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def ring(self, cx, cy, r, width, colour):
        def inside(x, y):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            return r - width <= d <= r
        self.plot_where(inside, colour)

    def plot_where(self, inside, colour):
        # Round shapes test each pixel's centre, taken back to the 16-unit grid.
        s = self.scale
        for py in range(self.size):
            for px in range(self.size):
                if inside((px + 0.5) / s - 0.5, (py + 0.5) / s - 0.5):
                    self.set(px, py, colour)


# ---- pictures ----

def check_mark(c, colour=GREEN):
    c.line(2, 8, 6, 12, colour, 2.4)
    c.line(6, 12, 13, 3, colour, 2.4)


def cross(c, colour=RED):
    c.line(3, 3, 12, 12, colour, 2.4)
    c.line(12, 3, 3, 12, colour, 2.4)


def key(c):
    c.ring(4.5, 5.5, 3.5, 1.6, DYELLOW)
    c.line(7, 8, 13, 14, DYELLOW, 1.8)
    c.line(11, 12, 13, 10, DYELLOW, 1.4)
    c.line(9, 10, 10.5, 8.5, DYELLOW, 1.4)


def page(c, line_colour=GREY, paper=PAPER, edge=DARK):
    c.polygon([(3, 1), (10, 1), (13, 4), (13, 15), (3, 15)], paper)
    c.frame(3, 1, 3, 15, edge)
    c.rect(3, 15, 13, 15, edge)
    c.rect(13, 4, 13, 15, edge)
    c.rect(3, 1, 10, 1, edge)
    c.line(10, 1, 13, 4, edge, 1.0)
    c.rect(10, 1, 10, 4, edge)
    c.rect(10, 4, 13, 4, edge)
    for y in (6, 8, 10, 12):
        c.rect(5, y, 11, y, line_colour)


def folder(c, face=YELLOW, edge=DYELLOW):
    c.rect(1, 3, 6, 4, edge)
    c.panel(1, 4, 14, 13, face, edge)
    c.rect(2, 6, 13, 6, edge)


def application(c):
    c.panel(1, 2, 14, 13, WHITE, NAVY)
    c.rect(1, 2, 14, 4, NAVY)
    c.rect(12, 3, 13, 3, WHITE)
    c.rect(3, 7, 8, 8, LBLUE)
    c.rect(3, 10, 11, 10, GREY)


def computer(c):
    c.rect(1, 1, 14, 10, DARK)
    c.rect(2, 2, 13, 9, LBLUE)
    c.rect(6, 11, 9, 12, DARK)
    c.rect(3, 13, 12, 14, GREY)


def reg_export(c):
    page(c, LIGHT)
    for x, y, col in ((5, 7, RED), (8, 7, GREEN), (5, 10, BLUE), (8, 10, ORANGE)):
        c.rect(x, y, x + 2, y + 2, col)


def magnifier(c):
    c.disc(6, 6, 4.5, LBLUE)
    c.ring(6, 6, 5, 1.5, NAVY)
    c.line(9.5, 9.5, 14, 14, DARK, 2.4)


def refresh(c):
    c.ring(7.5, 8, 6, 2, GREEN)
    c.rect(6, 1, 9, 4, MAGENTA)
    c.polygon([(8, 0), (12, 3), (8, 6)], GREEN)


def camera(c):
    c.rect(1, 4, 14, 13, DARK)
    c.rect(4, 2, 8, 4, DARK)
    c.rect(11, 5, 13, 6, ORANGE)
    c.disc(7.5, 8.5, 3.5, LIGHT)
    c.disc(7.5, 8.5, 2.2, NAVY)
    c.rect(6, 7, 6, 7, WHITE)


def trash(c):
    c.rect(2, 2, 13, 3, DARK)
    c.rect(6, 1, 9, 1, DARK)
    c.polygon([(3, 4), (12, 4), (11, 15), (4, 15)], LIGHT)
    for x in (5, 7.5, 10):
        c.line(x, 6, x, 13, DARK, 1.0)


def compare(c):
    c.panel(1, 1, 8, 11, PAPER, DARK)
    c.panel(7, 4, 14, 14, PAPER, DARK)
    c.rect(3, 4, 6, 4, RED)
    c.rect(3, 7, 5, 7, RED)
    c.rect(9, 8, 12, 8, GREEN)
    c.rect(9, 11, 12, 11, GREEN)


def stop(c):
    c.polygon([(5, 1), (10, 1), (14, 5), (14, 10), (10, 14), (5, 14), (1, 10), (1, 5)], RED)
    c.rect(4, 7, 11, 8, WHITE)


def error(c):
    c.disc(7.5, 7.5, 7, RED)
    c.rect(7, 3, 8, 9, WHITE)
    c.rect(7, 11, 8, 12, WHITE)


def eye(c):
    shape = [(0, 8), (4, 4), (11, 4), (15, 8), (11, 12), (4, 12)]
    c.polygon(shape, WHITE)
    c.outline(shape, DARK)
    c.disc(7.5, 8, 2.8, TEAL)
    c.disc(7.5, 8, 1.2, BLACK)


def properties(c):
    c.panel(1, 2, 14, 13, PAPER, NAVY)
    c.rect(3, 4, 6, 7, LBLUE)
    for y in (5, 7, 9, 11):
        c.rect(8, y, 12, y, GREY)
    c.rect(3, 9, 6, 9, GREY)
    c.rect(3, 11, 6, 11, GREY)


def box(c):
    c.panel(1, 7, 10, 14, (190, 140, 80), (120, 80, 30))
    c.rect(1, 9, 10, 9, (120, 80, 30))


def export_box(c):
    box(c)
    c.line(6, 8, 12, 2, GREEN, 2.0)
    c.polygon([(9, 1), (14, 1), (14, 6)], GREEN)


def import_box(c):
    box(c)
    c.line(14, 1, 8, 7, BLUE, 2.0)
    c.polygon([(6, 4), (6, 9), (11, 9)], BLUE)


def jump(c):
    c.rect(1, 6, 9, 9, NAVY)
    c.polygon([(8, 2), (14, 7.5), (8, 13)], NAVY)


def diff_list(c):
    c.panel(1, 1, 14, 14, PAPER, DARK)
    for y, col in ((4, GREEN), (7, RED), (10, BLUE)):
        c.rect(3, y, 4, y + 1, col)
        c.rect(6, y, 12, y, GREY)
        c.rect(6, y + 1, 11, y + 1, LIGHT)


def floppy(c):
    c.rect(1, 1, 14, 14, NAVY)
    c.rect(4, 1, 11, 5, LIGHT)
    c.rect(9, 2, 10, 4, NAVY)
    c.rect(3, 8, 12, 14, WHITE)
    c.rect(4, 10, 11, 10, LIGHT)
    c.rect(4, 12, 11, 12, LIGHT)


def printer(c):
    c.panel(4, 1, 11, 5, WHITE, DARK)
    c.panel(1, 5, 14, 11, LIGHT, DARK)
    c.rect(11, 7, 12, 7, GREEN)
    c.panel(4, 10, 11, 14, WHITE, DARK)
    c.rect(6, 12, 9, 12, GREY)


def globe(c):
    c.disc(7.5, 7.5, 6.5, LBLUE)
    c.ring(7.5, 7.5, 7, 1.2, NAVY)
    c.rect(1, 7, 14, 7, NAVY)
    c.rect(7, 1, 7, 14, NAVY)
    c.ring(7.5, 7.5, 4, 1.0, NAVY)
    c.rect(3, 3, 5, 5, GREEN)
    c.rect(9, 9, 12, 11, GREEN)


def state_folder(state):
    faces = {
        'unchanged': (YELLOW, DYELLOW),
        'modified': (LBLUE, BLUE),
        'deleted': (LRED, RED),
        'added': (LGREEN, GREEN),
        'excluded': (LIGHT, GREY),
    }
    face, edge = faces[state]
    return lambda c: folder(c, face, edge)


def state_page(colour):
    return lambda c: page(c, colour)


def check_box(state):
    def draw(c):
        c.panel(2, 2, 13, 13, WHITE, NAVY)
        if state == 1:
            c.line(4, 8, 6.5, 10.5, NAVY, 1.8)
            c.line(6.5, 10.5, 11, 5, NAVY, 1.8)
        elif state == 2:
            c.rect(5, 5, 10, 10, (150, 160, 190))
    return draw


BUTTONS = [
    check_mark,            # 0 OK, Yes, Start
    cross,                 # 1 Cancel, Close, No
    key,                   # 2 registry key
    page,                  # 3 file
    folder,                # 4 folder
    application,           # 5 application
    computer,              # 6 computer
    reg_export,            # 7 export key to .reg file
    magnifier,             # 8 search
    refresh,               # 9 refresh
    camera,                # 10 take snapshot
    trash,                 # 11 delete snapshots
    compare,               # 12 compare
    stop,                  # 13 stop
    error,                 # 14 error
    eye,                   # 15 view snapshot
    properties,            # 16 properties
    export_box,            # 17 export snapshots
    import_box,            # 18 import snapshots
    jump,                  # 19 jump to
    state_folder('excluded'),  # 20 excluded
    diff_list,             # 21 differences list, view
    floppy,                # 22 export, save as
    printer,               # 23 print
    globe,                 # 24 export to HTML
]

TREE = [check_mark] + [folder] * 5 + [
    state_folder('unchanged'),  # 6 unchanged
    state_folder('modified'),   # 7 modified
    state_folder('deleted'),    # 8 deleted
    state_folder('added'),      # 9 added
    key, key, computer, application,  # 10-13
    error,                      # 14 error message
    page, page, application, key, jump,  # 15-19
    state_folder('excluded'),   # 20 excluded by path filter
]

LIST = [check_mark, page, state_page(GREY), state_page(BLUE), state_page(RED), state_page(GREEN)]

CHECKS = [check_box(0), check_box(1), check_box(2)]


def app_icon(c):
    c.polygon([(1, 0), (14, 0), (15, 1), (15, 14), (14, 15), (1, 15), (0, 14), (0, 1)], TEAL)
    # A stylised K: a stem and two arms.
    c.rect(3, 3, 5, 12, WHITE)
    c.line(5.5, 8, 11.5, 3, WHITE, 2.2)
    c.line(6.5, 7.5, 12, 12.5, WHITE, 2.2)
    c.disc(12.5, 12.5, 1.6, ORANGE)


# ---- files ----

def write_bmp(path, pictures):
    width, height = 16 * len(pictures), 16
    pixels = [[MAGENTA] * width for _ in range(height)]
    for i, draw in enumerate(pictures):
        c = Canvas(16)
        draw(c)
        for y in range(16):
            for x in range(16):
                pixels[y][16 * i + x] = c.px[y][x]
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        body += row
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(body), 0, 0, 14 + 40)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + body)


def icon_image(size):
    c = Canvas(size)
    app_icon(c)
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b = c.px[y][x]
            a = c.alpha[y][x]
            if a == 0:
                r = g = b = 0
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if c.alpha[y][x] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


def main():
    write_bmp(os.path.join(HERE, 'buttons.bmp'), BUTTONS)
    write_bmp(os.path.join(HERE, 'tree.bmp'), TREE)
    write_bmp(os.path.join(HERE, 'list.bmp'), LIST)
    write_bmp(os.path.join(HERE, 'checks.bmp'), CHECKS)
    write_ico(os.path.join(HERE, 'keldrun.ico'), [16, 32, 48])


if __name__ == '__main__':
    main()
