#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into DIR/convert, DIR/options
and DIR/fontdump.

convert seeds are 11 bytes of settings (see fuzz_convert.cpp) followed by a
sheet: valid sheets of several sizes, palettes and paddings, and one sheet
for each way loading can fail. options seeds are argument vectors with the
arguments separated by zero bytes. fontdump seeds are font files, well and
badly formed.

    fuzz/make_corpus.py DIR
"""
import os
import struct
import sys


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


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    for kind, seeds in (("convert", convert_seeds()), ("options", options_seeds()), ("fontdump", fontdump_seeds())):
        os.makedirs(os.path.join(root, kind), exist_ok=True)
        for name, seed in seeds:
            data = seed if isinstance(seed, bytes) else b"\0".join(a.encode() for a in seed)
            with open(os.path.join(root, kind, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
