#!/usr/bin/env python3
"""Draws the bundled sample sheet from a Terminus console font.

Reads a PSF (version 1 or 2) console font with a Unicode table, as Debian's
console-setup-linux package installs them, and draws the printable ASCII
characters U+0020 to U+007E into an 8-bit BMP sheet: 16 cells per row, cell
n holding character 0x20 + n, the last cell blank. Palette index 0 is white
(background), index 1 black (ink).

    tools/make_sample_sheet.py [PSF] [OUT.bmp]
"""
import gzip
import struct
import sys

DEFAULT_FONT = "/usr/share/consolefonts/Uni2-Terminus16.psf.gz"
DEFAULT_OUT = "examples/terminus-8x16.bmp"
FIRST, LAST, COLUMNS = 0x20, 0x7E, 16


def read_psf(path):
    data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
    if data[:2] == b"\x36\x04":  # PSF1: 8 pixels wide
        mode, charsize = data[2], data[3]
        count = 512 if mode & 1 else 256
        width, height, offset = 8, charsize, 4
        glyphs = [data[offset + i * charsize: offset + (i + 1) * charsize] for i in range(count)]
        table = parse_psf1_table(data[offset + count * charsize:], count) if mode & 2 else {}
    elif data[:4] == b"\x72\xb5\x4a\x86":  # PSF2
        _, offset, flags, count, charsize, height, width = struct.unpack("<7I", data[4:32])
        glyphs = [data[offset + i * charsize: offset + (i + 1) * charsize] for i in range(count)]
        table = parse_psf2_table(data[offset + count * charsize:], count) if flags & 1 else {}
    else:
        sys.exit(f"{path}: not a PSF font")
    return width, height, glyphs, table


def parse_psf1_table(data, count):
    table, glyph, i = {}, 0, 0
    while glyph < count and i + 1 < len(data):
        (code,) = struct.unpack("<H", data[i:i + 2])
        i += 2
        if code == 0xFFFF:
            glyph += 1
        elif code != 0xFFFE:
            table.setdefault(code, glyph)
    return table


def parse_psf2_table(data, count):
    table = {}
    for glyph, entry in enumerate(data.split(b"\xff")[:count]):
        singles = entry.split(b"\xfe")[0].decode("utf-8", "replace")
        for ch in singles:
            table.setdefault(ord(ch), glyph)
    return table


def glyph_pixel(glyph, width, x, y):
    row_bytes = (width + 7) // 8
    return glyph[y * row_bytes + x // 8] >> (7 - x % 8) & 1


def write_sheet(path, width, height, glyphs, table):
    cells = LAST - FIRST + 2  # one blank cell rounds 95 glyphs up to 96
    rows = (cells + COLUMNS - 1) // COLUMNS
    sheet_w, sheet_h = COLUMNS * width, rows * height
    stride = (sheet_w + 3) & ~3
    pixels = [bytearray(stride) for _ in range(sheet_h)]  # top row first
    for code in range(FIRST, LAST + 1):
        glyph = glyphs[table.get(code, code)]
        cell = code - FIRST
        cx, cy = cell % COLUMNS * width, cell // COLUMNS * height
        for y in range(height):
            for x in range(width):
                pixels[cy + y][cx + x] = glyph_pixel(glyph, width, x, y)
    palette = bytearray(1024)
    palette[0:4] = b"\xff\xff\xff\x00"  # index 0: white background
    palette[4:8] = b"\x00\x00\x00\x00"  # index 1: black ink
    body = b"".join(bytes(r) for r in reversed(pixels))  # bottom row first
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, sheet_w, sheet_h, 1, 8, 0, len(body), 2835, 2835, 256, 0)
    with open(path, "wb") as out:
        out.write(header + info + palette + body)
    print(f"{path}: {sheet_w} x {sheet_h}, {width} x {height} cells, {COLUMNS} per row")


def main():
    font = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_FONT
    out = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_OUT
    write_sheet(out, *read_psf(font))


if __name__ == "__main__":
    main()
