#!/usr/bin/env python3
"""Times sheetcut against the floor of reading its input.

Generates a 4096 x 4096 8-bit sheet of 16 x 16 cells (65,536 glyphs, about
30 % ink over several palette indices) and uses the bundled sample sheet as
the small case. Runs, alternating, each command of each case for a warm-up
round and then ROUNDS rounds, and prints the median wall time, its ratio to
the median of `cat SHEET > /dev/null` and the peak resident memory of the
child (from wait4).

    bench/run_bench.py [--sheetcut PATH] [--rounds N] [--write-results]
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sheetcut", default=os.path.join(ROOT, "build", "sheetcut"))
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
            floor = results["cat"][0]
            lines += [f"{title} ({os.path.getsize(sheet)} bytes), {args.rounds} rounds", header]
            for name, (median, rss) in results.items():
                memory = f"{rss / 1024:>13.1f}" if rss is not None else f"{'n/a':>13}"
                lines.append(f"{name:<14} {median * 1000:>10.2f} {median / floor:>7.2f} {memory}")
            lines.append("")
    if not os.path.exists("/usr/bin/time"):
        lines.append("peak memory needs /usr/bin/time (Debian package time)")
    text = "\n".join(lines)
    print(text)
    if args.write_results:
        with open(os.path.join(HERE, "results.txt"), "w") as out:
            out.write(text + "\n")


if __name__ == "__main__":
    main()
