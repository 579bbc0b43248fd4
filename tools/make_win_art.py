#!/usr/bin/env python3
"""Draws the Windows resources' pictures: the application icon, the two status discs,
the maker's logo and the opened disk drive. Standard library only (no imaging package):
shapes are rendered with 4x4 supersampling and written as ICO and BMP bytes.

    python3 tools/make_win_art.py faces/win32/res
"""
import math
import os
import struct
import sys
import zlib

SS = 4  # supersampling per axis


class Canvas:
    def __init__(self, w, h, bg=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(bg) for _ in range(w * h)]

    def shape(self, inside, color):
        """Paints color (r,g,b[,a]) over every pixel by coverage; inside(x, y) tests a
        point in pixel units. color may be a function (x, y) -> (r,g,b,a)."""
        for j in range(self.h):
            for i in range(self.w):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(i + (sx + 0.5) / SS, j + (sy + 0.5) / SS):
                            hits += 1
                if hits == 0:
                    continue
                c = color(i + 0.5, j + 0.5) if callable(color) else color
                a = (c[3] if len(c) > 3 else 255) / 255.0 * hits / (SS * SS)
                p = self.px[j * self.w + i]
                out_a = a + p[3] / 255.0 * (1 - a)
                if out_a <= 0:
                    continue
                for k in range(3):
                    p[k] = (c[k] * a + p[k] * (p[3] / 255.0) * (1 - a)) / out_a
                p[3] = out_a * 255

    def rows(self):
        for j in range(self.h):
            yield [tuple(int(round(max(0, min(255, v)))) for v in self.px[j * self.w + i]) for i in range(self.w)]


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def capsule(ax, ay, bx, by, r):
    def inside(x, y):
        vx, vy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
        px, py = ax + t * vx - x, ay + t * vy - y
        return px * px + py * py <= r * r
    return inside


def radial(cx, cy, r, inner, outer):
    def color(x, y):
        t = min(1.0, math.hypot(x - cx, y - cy) / r)
        return tuple(inner[k] + (outer[k] - inner[k]) * t for k in range(3)) + (255,)
    return color


def vertical(y0, y1, top, bottom):
    def color(x, y):
        t = max(0.0, min(1.0, (y - y0) / max(1e-6, y1 - y0)))
        return tuple(top[k] + (bottom[k] - top[k]) * t for k in range(3)) + (255,)
    return color


# --- pictures ---------------------------------------------------------------------

def hard_disk(size):
    """The application icon: a hard disk seen from above, lid off."""
    c = Canvas(size, size)
    s = size / 32.0
    c.shape(rrect(2 * s, 1 * s, 30 * s, 31 * s, 3 * s), vertical(0, size, (120, 128, 140), (60, 66, 78)))
    c.shape(rrect(3 * s, 2 * s, 29 * s, 30 * s, 2.5 * s), vertical(0, size, (200, 205, 212), (150, 156, 166)))
    c.shape(circle(15 * s, 13 * s, 10.5 * s), radial(13 * s, 10 * s, 12 * s, (245, 248, 252), (140, 150, 168)))
    c.shape(ring(15 * s, 13 * s, 6 * s, 6.6 * s), (170, 178, 192, 200))
    c.shape(circle(15 * s, 13 * s, 2.6 * s), (90, 96, 110))
    c.shape(circle(15 * s, 13 * s, 1.2 * s), (210, 214, 220))
    c.shape(capsule(26 * s, 27 * s, 18 * s, 16 * s, 1.3 * s), (70, 76, 90))
    c.shape(circle(26 * s, 27 * s, 2.4 * s), (50, 120, 200))
    c.shape(circle(6 * s, 27 * s, 1.1 * s), (40, 200, 90))
    return c


def disc(size, light, dark):
    """A shaded status disc (list lines)."""
    c = Canvas(size, size)
    r = size / 2.0 - 0.5
    c.shape(circle(size / 2, size / 2, r), (dark[0] // 2, dark[1] // 2, dark[2] // 2))
    c.shape(circle(size / 2, size / 2, r - size / 16.0), radial(size * 0.38, size * 0.34, r * 1.3, light, dark))
    c.shape(circle(size * 0.36, size * 0.32, size * 0.12), (255, 255, 255, 150))
    return c


# 5 x 7 capitals for the logo's word mark.
GLYPHS = {
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
}


def text(c, word, x, y, cell, color, gap=1):
    for ch in word:
        rows = GLYPHS[ch]
        for j, row in enumerate(rows):
            for i, bit in enumerate(row):
                if bit == '1':
                    c.shape(rrect(x + i * cell, y + j * cell, x + (i + 1) * cell, y + (j + 1) * cell, cell * 0.25),
                            color)
        x += (5 + gap) * cell


def logo():
    """The maker's logo, 146 x 49 (its place in the main window at 96 DPI): a disc mark
    and the word mark on white."""
    c = Canvas(146, 49, (255, 255, 255, 255))
    c.shape(rrect(1, 1, 145, 48, 7), vertical(0, 49, (18, 62, 132), (8, 30, 80)))
    c.shape(circle(23, 24.5, 16), radial(19, 19.5, 20, (250, 252, 255), (150, 170, 205)))
    c.shape(ring(23, 24.5, 9.3, 10.1), (110, 130, 170))
    c.shape(circle(23, 24.5, 3.4), (18, 62, 132))
    c.shape(capsule(36, 38.5, 27.5, 28.5, 1.6), (230, 120, 30))
    text(c, "VELMIRA", 48, 15, 2.0, (255, 255, 255))
    c.shape(rrect(48, 33, 138, 35, 1), (230, 120, 30))
    return c


def opened_drive():
    """An opened 3.5-inch disk drive, 96 x 69 (its place in the main window at 96 DPI),
    on white. The drive stands upright in the right part of the picture: the main window
    lays its version text over the picture's lower left corner, which therefore stays
    white."""
    c = Canvas(96, 69, (255, 255, 255, 255))
    # Drawn on an 81-pixel-high grid, shrunk about the top right corner of the drive.
    k = 65.0 / 77.0

    def x(v):
        return 93 - (93 - v) * k

    def y(v):
        return 2 + (v - 2) * k

    def r(v):
        return v * k

    c.shape(rrect(x(36), y(2), x(93), y(79), r(5)), vertical(0, 69, (110, 116, 126), (55, 60, 70)))
    c.shape(rrect(x(39), y(5), x(90), y(76), r(4)), vertical(0, 69, (196, 200, 207), (160, 165, 174)))
    c.shape(circle(x(64), y(29), r(22)), radial(x(58), y(23), r(30), (250, 252, 255), (132, 140, 160)))
    for ring_r in (9, 14, 19):
        c.shape(ring(x(64), y(29), r(ring_r), r(ring_r + 0.8)), (165, 172, 188, 180))
    c.shape(circle(x(64), y(29), r(5.5)), (86, 92, 104))
    c.shape(circle(x(64), y(29), r(2.4)), (210, 214, 222))
    c.shape(capsule(x(82), y(64), x(70), y(38), r(2.4)), (64, 70, 82))
    c.shape(capsule(x(70), y(38), x(68), y(33), r(1.4)), (40, 44, 52))
    c.shape(circle(x(82), y(64), r(5)), (78, 84, 96))
    c.shape(circle(x(82), y(64), r(2.2)), (190, 196, 206))
    c.shape(rrect(x(43), y(66), x(60), y(72), r(1.5)), (60, 140, 70))
    for px, py in ((42, 8), (87, 8), (42, 73), (87, 73)):
        c.shape(circle(x(px), y(py), r(1.7)), (120, 124, 132))
    return c


# --- file formats -------------------------------------------------------------------

def bmp24(c):
    stride = (c.w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(list(c.rows())):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + data


def dib32(c):
    """An icon image: 32-bit BGRA with the AND mask, height doubled."""
    data = bytearray()
    for row in reversed(list(c.rows())):
        for r, g, b, a in row:
            data += bytes((b, g, r, a))
    mask_stride = ((c.w + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(list(c.rows())):
        bits = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(data) + len(mask), 0, 0, 0, 0)
    return header + data + mask


def png(c):
    raw = bytearray()
    for row in c.rows():
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", c.w, c.h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico(images):
    """images: canvases; 256-pixel ones are stored as PNG, the rest as DIBs."""
    blobs = [png(c) if c.w >= 256 else dib32(c) for c in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    files = {
        "Plovix.ico": ico([hard_disk(n) for n in (16, 32, 48, 256)]),
        "disc_green.ico": ico([disc(n, (150, 255, 150), (20, 150, 40)) for n in (16, 32)]),
        "disc_red.ico": ico([disc(n, (255, 150, 140), (190, 25, 20)) for n in (16, 32)]),
        "logo.bmp": bmp24(logo()),
        "drive.bmp": bmp24(opened_drive()),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(name, len(data))


if __name__ == "__main__":
    main()
