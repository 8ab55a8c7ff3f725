#!/usr/bin/env python3
"""Times the batches of quillet and mostel against a shell loop of single runs over the same files.

    bench/batch/batch_bench.py [BUILD_DIR] [--tiles N] [--bmp]

Makes N (500) sprites of 32 x 32 pixels, turns each into a sheet of eight directions with one
quillet batch (-outdir) and with one quillet process per file, then the batch again on one
thread and on two (QUILLET_THREADS), and does the same for mostel's 3x enlargement. Prints the
times and their ratios; the outputs of batch and loop are compared byte for byte. With --bmp,
quillet alone turns each into eight BMP frames, through the enlargement's temporary files.

The files go to a temporary folder (TMPDIR): on a disk whose file system makes creating files in
one folder wait on each other, two threads gain less than on a memory file system
(TMPDIR=/dev/shm), which shows the work itself.
"""
import argparse
import filecmp
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# The options of each file's job: a sheet of eight directions, 45 degrees apart.
SERIES = ["-format", "png", "-directions", "8", "-sheet", "8", "-data", "json"]
# With --bmp: eight 24-bit BMP frames over the same turn.
BMP_SERIES = ["-angle", "0", "-endangle", "315", "-frames", "8"]


def png(path, width, height, rgba):
    """Writes 8-bit RGBA rows as a PNG file."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + bytes(rgba[y * width * 4:(y + 1) * width * 4]) for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def sprite(rng):
    """An outlined blob of one colour on a transparent 32 x 32 canvas."""
    cx, cy = rng.randint(12, 20), rng.randint(12, 20)
    rx, ry = rng.randint(5, 12), rng.randint(5, 12)
    colour = [rng.randint(40, 250) for _ in range(3)]
    inside = lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0
    pixels = bytearray(32 * 32 * 4)
    for y in range(32):
        for x in range(32):
            if inside(x, y):
                edge = not (inside(x - 1, y) and inside(x + 1, y) and inside(x, y - 1) and inside(x, y + 1))
                pixels[4 * (32 * y + x):4 * (32 * y + x) + 4] = bytes([c // 3 if edge else c for c in colour] + [255])
    return pixels


def timed(command, env=None):
    start = time.perf_counter()
    subprocess.run(command, check=False, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def compare(a, b):
    """Files below a that differ from or are missing in b."""
    bad = 0
    for root, _, names in os.walk(a):
        for name in names:
            mine = os.path.join(root, name)
            theirs = os.path.join(b, os.path.relpath(mine, a))
            bad += not (os.path.exists(theirs) and filecmp.cmp(mine, theirs, shallow=False))
    return bad


def bench(name, program, options, tiles, work, env):
    batch, loop = os.path.join(work, name + "-batch"), os.path.join(work, name + "-loop")
    os.makedirs(loop)
    files = sorted(os.listdir(tiles))
    batch_args = [program] + options + ["-outdir", batch] + (["--"] if name == "quillet" else []) + [tiles]
    t_batch = timed(batch_args + (["-quiet"] if name == "mostel" else []), env)
    start = time.perf_counter()
    for f in files:
        stem = os.path.join(loop, os.path.splitext(f)[0])
        if name == "quillet":
            subprocess.run([program, "-in", os.path.join(tiles, f), "-out", stem, "-quiet"] + options,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        else:
            subprocess.run([program] + options + [os.path.join(tiles, f), stem + ".png"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    t_loop = time.perf_counter() - start
    differ = compare(loop, batch) + compare(batch, loop)
    variable = name.upper() + "_THREADS"
    times = {}
    for threads in (1, 2):
        out = os.path.join(work, "%s-%d" % (name, threads))
        times[threads] = timed([program] + options + ["-outdir", out] + (["--"] if name == "quillet" else []) +
                               [tiles], dict(env, **{variable: str(threads)}))
    print("%s: %d files" % (name, len(files)))
    print("  batch in one process  %7.2f s" % t_batch)
    print("  shell loop of runs    %7.2f s   batch / loop = %.3f (goal <= 0.2)" % (t_loop, t_batch / t_loop))
    print("  outputs that differ   %7d" % differ)
    print("  batch on 1 thread     %7.2f s" % times[1])
    print("  batch on 2 threads    %7.2f s   speed-up %.2fx (goal >= 1.8)" % (times[2], times[1] / times[2]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "..", "build",
                                                                   "release"))
    parser.add_argument("--tiles", type=int, default=500)
    parser.add_argument("--bmp", action="store_true", help="quillet's BMP frames only")
    args = parser.parse_args()
    quillet = os.path.join(args.build, "quillet", "ui", "quillet")
    mostel = os.path.join(args.build, "mostel", "mostel")
    work = tempfile.mkdtemp(prefix="batch-bench-")
    try:
        tiles = os.path.join(work, "tiles")
        os.makedirs(tiles)
        rng = random.Random(7)
        for k in range(args.tiles):
            png(os.path.join(tiles, "tile%03d.png" % k), 32, 32, sprite(rng))
        env = dict(os.environ)
        print("cores: %d" % os.cpu_count())
        bench("quillet", quillet, BMP_SERIES if args.bmp else SERIES, tiles, work, env)
        if not args.bmp:
            bench("mostel", mostel, [], tiles, work, env)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
