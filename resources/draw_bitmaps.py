#!/usr/bin/env python3
"""Draws the Windows program's button bitmaps and its icon.

Writes, beside this script:
  copy_from_pc.bmp (5100)   a desktop PC and a compact Macintosh, a blue
                            arrow from under the PC to the Mac
  copy_from_mac.bmp (5101)  the same computers, the arrow from the Mac to the PC
  new_folder.bmp (5102)     a yellow filing cabinet, lower drawer open, a cyan
                            folder in it
  delete.bmp (5103)         a red waste bin with its lid lifted
  info.bmp (5104)           a blue lower-case i with a grey shadow
  kvolicon.ico              32 x 32, the two computers

Every bitmap is 48 x 48 pixels, 4 bits per pixel in the standard 16-colour
palette, on the light grey of the button face. Only the standard library is
used, so `python3 resources/draw_bitmaps.py` redraws them anywhere.
"""
import os
import struct

# The standard 16-colour palette, index: (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, CYAN, WHITE = range(8, 16)


class Canvas:
    def __init__(self, size, background=SILVER):
        self.size = size
        self.px = [[background] * size for _ in range(size)]

    def dot(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def fill(self, x0, y0, x1, y1, c):
        """Filled rectangle, corners inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.dot(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        self.fill(x0, y0, x1, y0, c)
        self.fill(x0, y1, x1, y1, c)
        self.fill(x0, y0, x0, y1, c)
        self.fill(x1, y0, x1, y1, c)

    def box(self, x0, y0, x1, y1, inside, edge=BLACK):
        self.fill(x0, y0, x1, y1, inside)
        self.frame(x0, y0, x1, y1, edge)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.dot(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def polygon(self, points, c, edge=None):
        """Filled polygon (pixel centres inside the outline), optional edge."""
        ys = [p[1] for p in points]
        for y in range(min(ys), max(ys) + 1):
            cuts = []
            for i, (xa, ya) in enumerate(points):
                xb, yb = points[(i + 1) % len(points)]
                if ya == yb:
                    continue
                if min(ya, yb) <= y < max(ya, yb) or (y == max(ys) and y == max(ya, yb)):
                    cuts.append(xa + (y - ya) * (xb - xa) / (yb - ya))
            cuts.sort()
            for a, b in zip(cuts[::2], cuts[1::2]):
                for x in range(round(a), round(b) + 1):
                    self.dot(x, y, c)
        if edge is not None:
            for i, (xa, ya) in enumerate(points):
                xb, yb = points[(i + 1) % len(points)]
                self.line(xa, ya, xb, yb, edge)

    def mirror(self):
        for row in self.px:
            row.reverse()


def desktop_pc(cv, x, y):
    """A desktop PC whose case is 18 wide: monitor on a flat case, keyboard."""
    cv.box(x + 2, y, x + 15, y + 11, SILVER)          # monitor
    cv.box(x + 4, y + 2, x + 13, y + 9, NAVY)          # screen
    cv.fill(x + 5, y + 3, x + 8, y + 3, CYAN)          # a line of text
    cv.fill(x + 5, y + 5, x + 10, y + 5, CYAN)
    cv.fill(x + 7, y + 12, x + 10, y + 12, GREY)       # stand
    cv.box(x, y + 13, x + 17, y + 18, WHITE)           # case
    cv.fill(x + 2, y + 15, x + 7, y + 15, GREY)        # diskette slot
    cv.dot(x + 14, y + 16, LIME)                       # power light
    cv.box(x + 1, y + 20, x + 16, y + 22, WHITE)       # keyboard
    cv.fill(x + 3, y + 21, x + 14, y + 21, GREY)


def compact_mac(cv, x, y):
    """A compact Macintosh 13 wide and 23 high."""
    cv.box(x, y, x + 12, y + 20, WHITE)                # case
    cv.box(x + 2, y + 2, x + 10, y + 9, GREY)          # screen bezel
    cv.fill(x + 3, y + 3, x + 9, y + 8, WHITE)         # screen
    cv.fill(x + 4, y + 4, x + 6, y + 4, BLACK)         # a menu bar and a window
    cv.frame(x + 5, y + 5, x + 8, y + 7, BLACK)
    cv.fill(x + 6, y + 13, x + 10, y + 13, BLACK)      # diskette slot
    cv.dot(x + 2, y + 18, RED)                         # apple mark
    cv.fill(x + 1, y + 21, x + 11, y + 22, GREY)       # foot


def arrow_right(cv, x0, x1, y):
    """A blue arrow along row y, three pixels thick, head at x1."""
    cv.fill(x0, y - 1, x1 - 4, y + 1, BLUE)
    cv.polygon([(x1 - 5, y - 4), (x1, y), (x1 - 5, y + 4)], BLUE)


def computers(arrow_to_mac):
    cv = Canvas(48)
    desktop_pc(cv, 1, 6)
    compact_mac(cv, 33, 6)
    # The arrow starts under the PC and ends rising under the Mac.
    arrow_right(cv, 4, 41, 39)
    cv.fill(4, 33, 6, 38, BLUE)
    if not arrow_to_mac:
        cv.mirror()
        # Mirroring swaps the computers too: draw them back in place and
        # keep only the mirrored arrow.
        keep = [row[:] for row in cv.px]
        cv = Canvas(48)
        desktop_pc(cv, 1, 6)
        compact_mac(cv, 33, 6)
        for y in range(31, 44):
            cv.px[y] = keep[y]
    return cv


def filing_cabinet():
    cv = Canvas(48)
    cv.box(10, 3, 37, 44, YELLOW)                      # body
    cv.fill(11, 4, 36, 4, WHITE)                       # lit top edge
    cv.box(13, 7, 34, 20, YELLOW)                      # upper drawer, shut
    cv.fill(21, 12, 26, 13, BLACK)                     # its handle
    cv.box(12, 24, 35, 43, OLIVE)                      # lower drawer's opening
    # The open drawer pulled towards the viewer, with a cyan folder in it.
    cv.box(6, 30, 41, 45, YELLOW)
    cv.polygon([(12, 19), (25, 19), (27, 22), (35, 22), (35, 32), (12, 32)], CYAN, BLACK)
    cv.fill(13, 23, 34, 23, TEAL)
    cv.box(6, 32, 41, 45, YELLOW)                      # drawer front over the folder
    cv.fill(19, 37, 28, 38, BLACK)                     # handle
    return cv


def waste_bin():
    cv = Canvas(48)
    # Bin body, narrower at the foot, with ribs.
    cv.polygon([(11, 18), (36, 18), (33, 45), (14, 45)], RED, BLACK)
    for x in (17, 23, 29):
        cv.line(x, 21, x + (23 - x) // 4, 42, MAROON)
    cv.fill(12, 18, 35, 19, MAROON)                    # rim
    # The lid, lifted and tilted, with its knob.
    cv.polygon([(8, 11), (35, 4), (37, 8), (10, 15)], RED, BLACK)
    cv.box(20, 4, 24, 7, MAROON)
    return cv


def letter_i():
    cv = Canvas(48)
    for dx, c in ((3, GREY), (0, BLUE)):
        cv.fill(20 + dx, 5 + dx, 27 + dx, 12 + dx, c)            # dot
        cv.fill(17 + dx, 17 + dx, 27 + dx, 21 + dx, c)           # serif at the top
        cv.fill(20 + dx, 17 + dx, 27 + dx, 40 + dx, c)           # stem
        cv.fill(16 + dx, 37 + dx, 31 + dx, 41 + dx, c)           # foot
    return cv


def pixel_rows(cv):
    """Bottom-up rows of 4-bit indexes, each padded to 32 bits."""
    out = b""
    for row in reversed(cv.px):
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, cv.size, 2))
        out += packed + b"\0" * (-len(packed) % 4)
    return out


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def info_header(size, height):
    return struct.pack("<IiiHHIIiiII", 40, size, height, 1, 4, 0, 0, 0, 0, 16, 0)


def write_bmp(path, cv):
    pixels = pixel_rows(cv)
    header_size = 14 + 40 + 64
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", header_size + len(pixels), 0, 0, header_size))
        f.write(info_header(cv.size, cv.size) + palette_bytes() + pixels)


def write_ico(path, cv):
    pixels = pixel_rows(cv)
    mask = b"\0" * ((cv.size + 31) // 32 * 4 * cv.size)  # every pixel opaque
    image = info_header(cv.size, cv.size * 2) + palette_bytes() + pixels + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", cv.size, cv.size, 16, 0, 1, 4, len(image), 6 + 16))
        f.write(image)


def icon():
    cv = Canvas(32, background=TEAL)
    desktop_pc(cv, 0, 2)
    compact_mac(cv, 19, 2)
    arrow_right(cv, 3, 28, 29)
    cv.fill(3, 26, 5, 28, BLUE)
    return cv


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    pictures = {
        "copy_from_pc.bmp": computers(True),
        "copy_from_mac.bmp": computers(False),
        "new_folder.bmp": filing_cabinet(),
        "delete.bmp": waste_bin(),
        "info.bmp": letter_i(),
    }
    for name, cv in pictures.items():
        write_bmp(os.path.join(here, name), cv)
    write_ico(os.path.join(here, "kvolicon.ico"), icon())


if __name__ == "__main__":
    main()
