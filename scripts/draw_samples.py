#!/usr/bin/env python3
"""Draws the sample sprites in samples/ from the character grids below (8-bit RGBA PNGs).

Run it again after editing a grid; it needs only the Python standard library.
"""
import os
import struct
import zlib

PALETTE = {
    '.': (0, 0, 0, 0),          # transparent
    'k': (24, 20, 37, 255),     # outline
    'g': (62, 137, 72, 255),    # green
    'G': (99, 199, 77, 255),    # light green
    'd': (38, 92, 66, 255),     # dark green
    'w': (255, 255, 255, 255),
    'r': (228, 59, 68, 255),
    'R': (162, 38, 51, 255),
    'p': (254, 174, 52, 255),   # gold
    'P': (247, 118, 34, 255),
    'b': (0, 153, 219, 255),
    'B': (18, 78, 137, 255),
    'c': (44, 232, 245, 255),
    's': (139, 155, 180, 255),  # steel
    'S': (90, 105, 136, 255),
    'n': (116, 63, 57, 255),    # brown
    'N': (63, 40, 50, 255),
}

SPRITES = {
    'slime': """
................
................
................
......kkkk......
....kkGGGGkk....
...kGGwwGGGGk...
..kGGwwGGGGGGk..
..kGGGGGGGGGGk..
.kGGGkkGGkkGGGk.
.kGGGkwGGkwGGGk.
.kgGGGGGGGGGGgk.
.kggGGGrrGGGggk.
.kdggggggggggdk.
..kddggggggddk..
...kkkkkkkkkk...
................
""",
    'potion': """
................
......kkkk......
......knnk......
.....kkkkkk.....
......kwsk......
......kwsk......
.....kwbbsk.....
....kwbbbbsk....
...kwbccbbbBk...
...kbccbbbbBk...
...kbbbbbbbBk...
...kbbbbbbBBk...
....kBbbbBBk....
.....kkkkkk.....
................
................
""",
    'sword': """
.............kk.
............kwsk
...........kwsk.
..........kwsk..
.........kwsk...
........kwsk....
.......kwsk.....
..kk..kwsk......
..kpkkwsk.......
...kpPsk........
....kPpk........
...knkkpk.......
..knk..kpk......
.kNk....kk......
.kk.............
................
""",
}


def png(width, height, rows):
    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data))
    raw = b''.join(b'\x00' + bytes(v for px in row for v in px) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def write(path, rows):
    with open(path, 'wb') as f:
        f.write(png(len(rows[0]), len(rows), rows))


def main():
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    os.makedirs(os.path.join(top, 'samples'), exist_ok=True)
    os.makedirs(os.path.join(top, 'docs'), exist_ok=True)
    sprites = []
    for name, text in SPRITES.items():
        grid = [line for line in text.strip('\n').split('\n')]
        rows = [[PALETTE[ch] for ch in line] for line in grid]
        assert all(len(r) == len(rows[0]) for r in rows), name
        write(os.path.join(top, 'samples', name + '.png'), rows)
        sprites.append(rows)
    # All sprites side by side with a gap of two pixels, and the same sheet enlarged three
    # times by plain pixel repetition, to set beside the scaler's result.
    gap = [PALETTE['.']] * 2
    sheet = [sum((gap + s[y] for s in sprites), []) + gap for y in range(len(sprites[0]))]
    write(os.path.join(top, 'samples', 'sheet.png'), sheet)
    write(os.path.join(top, 'docs', 'sheet-repeated-3x.png'), [[px for px in row for _ in range(3)] for row in sheet for _ in range(3)])


if __name__ == '__main__':
    main()
