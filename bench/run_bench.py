#!/usr/bin/env python3
"""Times sheetcut against the floor of reading its input, and sheetprep
against the floor of decoding its PNG.

Generates a 4096 x 4096 8-bit sheet of 16 x 16 cells (65,536 glyphs, about
30 % ink over several palette indices) and uses the bundled sample sheet as
the small case. The big sheet is also saved as an 8-bit palette PNG and as
an RGBA PNG, for sheetprep, whose floor is bench/png_decode.cpp: libspng's
decode of the same file into the same form, and nothing else. Runs,
alternating, each command of each case for a warm-up round and then ROUNDS
rounds, and prints the median wall time, its ratio to the floor's median
and the peak resident memory (from /usr/bin/time).

    bench/run_bench.py [--sheetcut PATH] [--sheetprep PATH] [--png-decode PATH]
                       [--rounds N] [--write-results]
"""
import argparse
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def write_big_sheet(path, size=4096, seed=1):
    """A size x size sheet, 30 % of its pixels ink in palette indices 1..7."""
    rng = random.Random(seed)
    noise = rng.randbytes(size * size)
    # Map each random byte to a palette index: 77 of 256 values (30 %) ink.
    table = bytes(0 if b >= 77 else 1 + b % 7 for b in range(256))
    pixels = noise.translate(table)
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    palette = b"".join(bytes((255 - i, 255 - i, 255 - i, 0)) for i in range(256))
    with open(path, "wb") as out:
        out.write(header + info + palette + pixels)


def write_pngs(sheet, palette_png, rgba_png):
    """The sheet as an 8-bit palette PNG and as an RGBA PNG: index 0 white,
    the ink indices dark colours."""
    with open(sheet, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    rows = [data[offset + (height - 1 - y) * width: offset + (height - y) * width] for y in range(height)]
    colours = [(255, 255, 255)] + [(40 * i % 200, 30 * i % 120, 20 * i % 90) for i in range(1, 256)]

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    def png(colour_type, lines, extra=b""):
        head = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
        idat = zlib.compress(b"".join(b"\0" + line for line in lines), 6)
        return b"\x89PNG\r\n\x1a\n" + head + extra + chunk(b"IDAT", idat) + chunk(b"IEND", b"")

    plte = chunk(b"PLTE", b"".join(bytes(c) for c in colours))
    with open(palette_png, "wb") as out:
        out.write(png(3, rows, plte))
    rgba = [bytes(c) + b"\xff" for c in colours]
    with open(rgba_png, "wb") as out:
        out.write(png(6, (b"".join(rgba[i] for i in row) for row in rows)))


def run_once(argv, stdout):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=stdout, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed: {proc.stderr.decode()}")
    return elapsed


def peak_rss_kib(argv, stdout):
    """Peak resident memory of one run of argv.

    Measured by /usr/bin/time, whose own small process is what the command is
    forked from: the peak that wait4 reports for a child forked from this
    script would include the script's own memory. None without it."""
    if not os.path.exists("/usr/bin/time"):
        return None
    with tempfile.NamedTemporaryFile(mode="r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv],
                       stdout=stdout, stderr=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1])


def measure(commands, rounds):
    """commands: name -> argv. Returns name -> (median seconds, peak KiB)."""
    times = {name: [] for name in commands}
    with open(os.devnull, "wb") as null:
        for round_ in range(rounds + 1):
            for name, argv in commands.items():
                elapsed = run_once(argv, null)
                if round_ > 0:  # round 0 warms the page cache
                    times[name].append(elapsed)
        peak = {name: peak_rss_kib(argv, null) for name, argv in commands.items()}
    return {name: (statistics.median(times[name]), peak[name]) for name in commands}


def table(results, floor_name):
    """One line a command: median ms, its ratio to the floor's, peak memory."""
    floor = results[floor_name][0]
    lines = []
    for name, (median, rss) in results.items():
        memory = f"{rss / 1024:>13.1f}" if rss is not None else f"{'n/a':>13}"
        lines.append(f"{name:<14} {median * 1000:>10.2f} {median / floor:>7.2f} {memory}")
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sheetcut", default=os.path.join(ROOT, "build", "sheetcut"))
    parser.add_argument("--sheetprep", default=os.path.join(ROOT, "build", "sheetprep"))
    parser.add_argument("--png-decode", default=os.path.join(ROOT, "build", "png_decode"))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--write-results", action="store_true", help="also write bench/results.txt")
    args = parser.parse_args()

    lines = []
    with tempfile.TemporaryDirectory(prefix="sheetcut-bench-") as tmp:
        big = os.path.join(tmp, "big.bmp")
        write_big_sheet(big)
        font = os.path.join(tmp, "out.fnt")
        cases = [
            ("4096x4096, 16x16 cells, 65536 glyphs", big, ["-s16,16", "-o0,ffff"], 16 << 20),
            ("sample sheet, 8x16 cells, 95 glyphs", os.path.join(ROOT, "examples", "terminus-8x16.bmp"),
             ["-s8,16", "-o0,5e"], None),
        ]
        header = f"{'case':<14} {'median ms':>10} {'x cat':>7} {'peak RSS MiB':>13}"
        for title, sheet, opts, _ in cases:
            commands = {
                "cat": ["cat", sheet],
                "fixed": [args.sheetcut, *opts, sheet, font],
                "proportional": [args.sheetcut, *opts, "-p8", sheet, font],
                "fixed -v": [args.sheetcut, "-v", *opts, sheet, font],
            }
            results = measure(commands, args.rounds)
            lines += [f"{title} ({os.path.getsize(sheet)} bytes), {args.rounds} rounds", header]
            lines += table(results, "cat") + [""]
        for kind in ("palette", "rgba"):
            picture = os.path.join(tmp, f"big-{kind}.png")
            if kind == "palette":
                write_pngs(big, picture, os.path.join(tmp, "big-rgba.png"))
            commands = {
                "png decode": [args.png_decode, picture],
                "sheetprep": [args.sheetprep, picture, os.path.join(tmp, "sheet.bmp")],
            }
            results = measure(commands, args.rounds)
            title = f"4096x4096 {'8-bit palette' if kind == 'palette' else 'RGBA'} PNG"
            lines += [f"{title} ({os.path.getsize(picture)} bytes), {args.rounds} rounds",
                      header.replace("x cat", "x dec")]
            lines += table(results, "png decode") + [""]
    if not os.path.exists("/usr/bin/time"):
        lines.append("peak memory needs /usr/bin/time (Debian package time)")
    text = "\n".join(lines)
    print(text)
    if args.write_results:
        with open(os.path.join(HERE, "results.txt"), "w") as out:
            out.write(text + "\n")


if __name__ == "__main__":
    main()
