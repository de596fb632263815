#!/usr/bin/env python3
"""Draws the options window's pictures: the window icon (32x32 and 16x16,
16 colours) and the two banners (418x39 and 418x38, 8 bits per pixel with a
256-colour palette). Run it to regenerate the files beside it; the build
embeds the files, not this script."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16-colour palette of the icon: the classic VGA colours.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARKBLUE, TEAL, GREY, YELLOW, DARKYELLOW, WHITE, GREEN = 0, 4, 6, 7, 11, 3, 15, 2


def bmp_info_header(width, height, bits, colours, image_size):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, 0)


def palette_bytes(palette):
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)


def banner_palette():
    # 0..191: a gradient from deep blue through teal to a pale green;
    # 192..255: the accents (white, shades for the file shapes).
    pal = []
    stops = [(10, 30, 90), (20, 110, 150), (120, 200, 170)]
    for i in range(192):
        t = i / 191 * 2
        a, b = (stops[0], stops[1]) if t <= 1 else (stops[1], stops[2])
        f = t if t <= 1 else t - 1
        pal.append(tuple(int(a[k] + (b[k] - a[k]) * f) for k in range(3)))
    for i in range(64):
        v = 150 + int(105 * i / 63)
        pal.append((v, v, v))
    return pal


def draw_banner(width, height, lower):
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            # A diagonal gradient; the lower banner runs the other way.
            t = (x / (width - 1)) * 0.8 + (y / (height - 1)) * 0.2
            if lower:
                t = 1 - t
            row.append(int(t * 191))
        rows.append(row)
    # Three little "documents" travelling right: the file-sharing motif.
    for n, left in enumerate((14, 44, 74) if not lower else (330, 360, 390)):
        top = 7 if not lower else 6
        for y in range(top, min(height, top + 24)):
            for x in range(left, left + 18):
                corner = (x - left) + (y - top) > 30
                if corner:
                    continue
                edge = x in (left, left + 17) or y in (top, top + 23)
                row_fill = (y - top) % 5 == 3 and left + 4 <= x <= left + 13
                rows[y][x] = 192 + (20 if edge else 63 if not row_fill else 40) - n * 5
    # A thin light rule along the banner's inner edge.
    edge_row = height - 1 if not lower else 0
    for x in range(width):
        rows[edge_row][x] = 255
    return rows


def write_bmp8(path, rows, palette):
    height = len(rows)
    width = len(rows[0])
    stride = (width + 3) & ~3
    pixels = b''.join(bytes(row) + b'\0' * (stride - width) for row in reversed(rows))
    header = bmp_info_header(width, height, 8, 256, len(pixels))
    pal = palette_bytes(palette)
    offset = 14 + len(header) + len(pal)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset))
        f.write(header + pal + pixels)


def icon_pixels(size):
    """A yellow folder with a green arrow leaving it, on a transparent ground."""
    s = size / 32
    px = [[None] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    fill(2, 8, 14, 11, DARKYELLOW)      # the folder's tab
    fill(2, 10, 28, 28, DARKYELLOW)     # its back
    fill(3, 13, 27, 27, YELLOW)         # its front
    fill(2, 27, 28, 28, BLACK)          # shadow line
    fill(14, 16, 24, 20, GREEN)         # the arrow's shaft
    for i in range(6):                  # and its head
        fill(24 + i * 0.8, 12 + i, 25 + i * 0.8, 24 - i, GREEN)
    return px


def write_icon(path):
    images = []
    for size in (32, 16):
        px = icon_pixels(size)
        xor_stride = ((size * 4 + 31) // 32) * 4
        and_stride = ((size + 31) // 32) * 4
        xor = b''
        andmask = b''
        for row in reversed(px):
            bits = bytearray(xor_stride)
            mask = bytearray(and_stride)
            for x, c in enumerate(row):
                if c is None:
                    mask[x // 8] |= 0x80 >> (x % 8)
                    c = 0
                bits[x // 2] |= c << (4 if x % 2 == 0 else 0)
            xor += bytes(bits)
            andmask += bytes(mask)
        header = bmp_info_header(size, size * 2, 4, 16, len(xor) + len(andmask))
        images.append((size, header + palette_bytes(VGA) + xor + andmask))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(data for _, data in images))


if __name__ == '__main__':
    pal = banner_palette()
    write_bmp8(os.path.join(HERE, 'banner_top.bmp'), draw_banner(418, 39, False), pal)
    write_bmp8(os.path.join(HERE, 'banner_bottom.bmp'), draw_banner(418, 38, True), pal)
    write_icon(os.path.join(HERE, 'options.ico'))
