#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into DIR/convert, DIR/options,
DIR/fontdump and DIR/prep.

convert seeds are 11 bytes of settings (see fuzz_convert.cpp) followed by a
sheet: valid sheets of several sizes, palettes and paddings, and one sheet
for each way loading can fail. options seeds are argument vectors with the
arguments separated by zero bytes. fontdump seeds are font files, well and
badly formed. prep seeds are 4 bytes of ink options (see fuzz_prep.cpp)
followed by a picture: PNGs of every colour type and depth, interlaced or
not, and BMPs of the header sizes, depths and compressions real writers
use, with damaged ones of each.

    fuzz/make_corpus.py DIR
"""
import os
import struct
import sys
import zlib


def bmp(width, height, pixels=None, *, palette=256, bits=8, info=40, compression=0,
        bf_size=None, off_bits=None, trailing=b"", top_down=False):
    stride = (abs(width) + 3) & ~3
    rows = abs(height)
    if pixels is None:  # a diagonal of ink in several palette indices
        pixels = [[(x + y) % 5 if (x * 7 + y * 3) % 4 == 0 else 0 for x in range(abs(width))] for y in range(rows)]
    body = b"".join(bytes(r) + bytes(stride - abs(width)) for r in (pixels if top_down else reversed(pixels)))
    off = 54 + 4 * palette if off_bits is None else off_bits
    head = bytearray(struct.pack("<2sIHHI", b"BM", 0, 0, 0, off))
    head += struct.pack("<IiiHHIIiiII", info, width, -height if top_down else height, 1, bits, compression,
                        len(body), 0, 0, palette, 0)
    head += bytes(max(0, off - len(head)))
    data = bytes(head[:off]) + body + trailing
    size = len(data) if bf_size is None else bf_size
    return data[:2] + struct.pack("<I", size) + data[6:]


def settings(w, h, start=0, end=0, proportional=False, verbose=True, default=0, banded=False):
    flags = (1 if proportional else 0) | (2 if verbose else 0) | (4 if banded else 0)
    return struct.pack("<hhhhBh", w, h, start, end, flags, default)


def convert_seeds():
    s88 = bmp(32, 16)
    yield "fixed-8x8", settings(8, 8, 0, 7) + s88
    yield "fixed-8x8-banded", settings(8, 8, 0, 7, banded=True) + s88
    yield "proportional-banded", settings(8, 8, 0, 7, True, default=2, banded=True) + s88
    yield "proportional-8x8", settings(8, 8, 0, 7, True, default=3) + s88
    yield "fixed-5x7", settings(5, 7, 0, 2) + bmp(15, 7)
    yield "proportional-5x7", settings(5, 7, 0, 5, True, default=5) + bmp(15, 14)
    yield "odd-width", settings(13, 3, 0, 5) + bmp(39, 6)
    yield "wide-cells", settings(100, 2, 0, 1, True) + bmp(200, 2)
    yield "one-pixel", settings(1, 1, 0, 3) + bmp(2, 2)
    yield "palette-16", settings(8, 8, 0, 7) + bmp(32, 16, palette=16)
    yield "palette-2", settings(8, 8, 0, 7, True) + bmp(32, 16, palette=2)
    yield "trailing", settings(8, 8, 0, 7) + bmp(32, 16, trailing=b"\xaa\xbb")
    yield "bfsize-zero", settings(8, 8, 0, 7) + bmp(32, 16, bf_size=0)
    yield "gap-before-pixels", settings(8, 8, 0, 3) + bmp(16, 16, off_bits=2000)
    yield "top-down", settings(8, -8, 0, 3) + bmp(16, 16, top_down=True)
    blank = [[0] * 16 for _ in range(8)]
    yield "blank", settings(8, 8, 0, 1, True, default=8) + bmp(16, 8, blank)
    yield "not-bm", settings(8, 8) + b"P6" + bmp(8, 8)[2:]
    yield "short-file-header", settings(8, 8) + b"BM\x00\x00"
    yield "short-info-header", settings(8, 8) + bmp(8, 8)[:30]
    yield "info-108", settings(8, 8) + bmp(8, 8, info=108)
    yield "24-bit", settings(8, 8) + bmp(8, 8, bits=24)
    yield "rle8", settings(8, 8) + bmp(8, 8, compression=1)
    yield "width-not-divided", settings(3, 8) + bmp(8, 8)
    yield "height-not-divided", settings(8, 3) + bmp(8, 8)
    yield "too-large", settings(8, 8) + bmp(8, 8)[:18] + struct.pack("<ii", 65536, 65536) + bmp(8, 8)[26:]
    yield "offsets", settings(8, 8, 5, 2) + bmp(32, 16)
    yield "cell-too-wide", settings(300, 8) + bmp(300, 8)
    yield "default-width", settings(8, 8, 0, 0, True, default=9) + bmp(8, 8)
    yield "pixel-offset", settings(8, 8) + bmp(8, 8, off_bits=40)
    yield "truncated-pixels", settings(8, 8) + bmp(8, 8)[:-5]


def options_seeds():
    yield "full", ["-s8,16", "-c20,7e", "-o0,5e", "-p4", "-g2,1", "-nABC", "-t200", "-v", "in.bmp", "out.fnt"]
    yield "hex", ["-v", "-c0x20,0X7E", "-o-1,ffffffff", "a", "b"]
    yield "partial", ["-s8", "-s,5", "-c0x,7e", "-t 12", "-p", "a", "b"]
    yield "wrap", ["-s4294967304,99999999999999", "-t4294967297", "a", "b"]
    yield "refused", ["-nAB", "a", "b"]
    yield "lone-dash", ["-", "a", "b"]
    yield "operands", ["a", "-v", "b"]


def font(width, height, glyphs, proportional=False, codes=(0x20, 0x7e), name=b"ABC", version=1, size=32, flags=None):
    cell = width * height
    glyph_size = (cell + 7) // 8 + 1 if proportional else cell
    head = struct.pack("<2sBB4sHBBBBHHHB11x", b"FF", version, size, name + b"\0", 
                       (1 if proportional else 0) if flags is None else flags,
                       width, height, 1, 2, glyph_size & 0xFFFF, codes[0], codes[1], 7)
    if proportional:
        reclen = glyph_size
        body = b"".join(bytes([min(width, i % (width + 1))]) + bytes((i * 37 + k) % 256 for k in range(reclen - 1))
                        for i in range(glyphs))
    else:
        body = bytes((i * 53) % 256 for i in range((cell * glyphs + 7) // 8))
    return head + body


def fontdump_seeds():
    yield "fixed-8x16", font(8, 16, 4)
    yield "fixed-5x7", font(5, 7, 3, codes=(0x41, 0x43))
    yield "fixed-1x1", font(1, 1, 3, codes=(0, 2))
    yield "proportional-8x8", font(8, 8, 5, proportional=True)
    yield "proportional-255x2", font(255, 2, 2, proportional=True)
    yield "empty", font(8, 8, 0)
    yield "truncated", font(8, 8, 1)[:20]
    yield "bad-magic", b"FX" + font(8, 8, 1)[2:]
    yield "version-2", font(8, 8, 1, version=2)
    yield "header-16", font(8, 8, 1, size=16)
    yield "flags", font(8, 8, 1, flags=6)
    yield "zero-width", font(0, 8, 1)
    yield "ragged-records", font(8, 8, 3, proportional=True)[:-4]
    yield "wide-record", font(4, 4, 1, proportional=True)[:32] + b"\x09\x00\x00"


def png(width, height, colour_type, depth, interlaced=False, extra=b""):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    bits = channels * depth

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    def lines(w, h, x0=0, y0=0):
        stride = (w * bits + 7) // 8
        return b"".join(b"\0" + bytes((x * 29 + y * 7 + x0 + y0) % 256 for x in range(stride)) for y in range(h))

    if interlaced:
        passes = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))
        raw = b"".join(lines((width - x + dx - 1) // dx, (height - y + dy - 1) // dy, x, y)
                       for x, y, dx, dy in passes if x < width and y < height)
    else:
        raw = lines(width, height)
    head = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 1 if interlaced else 0))
    if colour_type == 3:
        head += chunk(b"PLTE", bytes(range(3 * (1 << depth)))[: 3 * (1 << depth)] if depth < 8 else bytes(768))
    return b"\x89PNG\r\n\x1a\n" + head + extra + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def bmp_any(width, height, bits=8, info=40, palette=None, compression=0, body=None):
    """A BMP of any header size and depth, its pixels a pattern of values."""
    if palette is None:
        palette = 1 << bits if bits <= 8 else 0
    stride = (width * bits + 31) // 32 * 4
    if body is None:
        used = (width * bits + 7) // 8
        body = bytes((i * 37 + 11) % 256 if i % stride < used else 0 for i in range(stride * height))
        if bits == 8:  # indices within the palette
            body = bytes(b % palette for b in body)
    entry = 3 if info == 12 else 4
    masks = b"" if compression != 3 or info != 40 else struct.pack("<III", 0xF800, 0x7E0, 0x1F)
    off = 14 + info + len(masks) + entry * palette
    if info == 12:
        head = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        head = struct.pack("<IiiHHIIiiII", info, width, height, 1, bits, compression, len(body), 0, 0, palette, 0)
        fields = (0xF800, 0x7E0, 0x1F, 0) if compression == 3 else (0, 0, 0, 0)
        head += b"".join(struct.pack("<I", f) for f in fields)[: info - 40] + bytes(max(0, info - 56))
    colours = b"".join(bytes([(i * 85) % 256, (i * 51) % 256, (i * 17) % 256] + ([0] if entry == 4 else []))
                       for i in range(palette))
    return struct.pack("<2sIHHI", b"BM", off + len(body), 0, 0, off) + head + masks + colours + body


def prep_seeds():
    options = (b"\0\x31\0\0", b"\x01\x31\0\0", b"\x02\xff\xff\xff")
    depths = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
    k = 0
    for colour_type, allowed in depths.items():
        for depth in allowed:
            for interlaced in (False, True):
                data = png(13, 7, colour_type, depth, interlaced)
                yield f"png-{colour_type}-{depth}{'-i' if interlaced else ''}", options[k % 3] + data
                k += 1
    trns = struct.pack(">I", 2) + b"tRNS" + b"\0\x10" + struct.pack(">I", zlib.crc32(b"tRNS\0\x10"))
    yield "png-0-8-trns", options[0] + png(9, 9, 0, 8, extra=trns)
    good = png(8, 8, 6, 8)
    yield "png-truncated", options[0] + good[:60]
    yield "png-bad-crc", options[0] + good[:29] + b"\0\0\0\0" + good[33:]
    for info in (12, 40, 52, 56, 108, 124):
        yield f"bmp-{info}", options[1] + bmp_any(16, 8, info=info, palette=16)
    for bits in (1, 4, 16, 24, 32):
        yield f"bmp-{bits}-bit", options[0] + bmp_any(13, 5, bits=bits)
    yield "bmp-bitfields", options[2] + bmp_any(13, 5, bits=16, compression=3)
    rle = bytes([4, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 0, 0, 1])
    yield "bmp-rle8", options[0] + bmp_any(8, 2, palette=4, compression=1, body=rle)
    yield "bmp-rle4", options[2] + bmp_any(8, 2, bits=4, palette=4, compression=2, body=rle)
    yield "bmp-top-down", options[0] + bmp(8, 8, top_down=True)
    yield "jpeg", options[0] + b"\xff\xd8\xff\xe0\0\x10JFIF"
    # Fonts: flag 4, first code 0x41, three codes, 12 pixels.
    font = b"\x04\x41\x02\x0b"
    glyphs = bytes(range(256)) * 16
    table = b"".join(struct.pack("<HH", 0x41 + i, 0xFFFF) for i in range(3)) + b"\xff\xff" * 253
    yield "psf1", font + b"\x36\x04\x02\x10" + glyphs + table
    psf2_table = b"A\xffB\xfeC\xcc\x8a\xff" + b"\xff" * 2
    yield "psf2", font + b"\x72\xb5\x4a\x86" + struct.pack("<7I", 0, 32, 1, 4, 6, 3, 10) + bytes(range(24)) + psf2_table
    yield "bdf", font + (b"STARTFONT 2.1\nFONT -t-s\nSIZE 4 75 75\nFONTBOUNDINGBOX 4 4 0 -1\nSTARTPROPERTIES 2\n"
                         b"FONT_ASCENT 3\nFONT_DESCENT 1\nENDPROPERTIES\nCHARS 1\nSTARTCHAR A\nENCODING 65\n"
                         b"SWIDTH 750 0\nDWIDTH 3 0\nBBX 2 3 0 -1\nBITMAP\n80\nC0\n40\nENDCHAR\nENDFONT\n")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    for kind, seeds in (("convert", convert_seeds()), ("options", options_seeds()), ("fontdump", fontdump_seeds()),
                        ("prep", prep_seeds())):
        os.makedirs(os.path.join(root, kind), exist_ok=True)
        for name, seed in seeds:
            data = seed if isinstance(seed, bytes) else b"\0".join(a.encode() for a in seed)
            with open(os.path.join(root, kind, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
