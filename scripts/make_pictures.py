#!/usr/bin/env python3
"""Makes the README's pictures in docs/ with the built programs, from the sample sprites.

    scripts/make_pictures.py [build folder]      (build/release unless told otherwise)

Every picture is enlarged four times by plain pixel repetition, so each pixel the programs
wrote is a 4 x 4 square and the edges can be judged. Needs only the Python standard library.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

ZOOM = 4
BACKDROP = (208, 212, 220)  # shows through transparent pixels
GAP = 4                     # pixels between frames, before the zoom


def write_png(path, rows):
    """rows: lists of (r, g, b) tuples, or of (r, g, b, a) tuples for a picture with alpha."""
    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data))
    colour_type = 6 if len(rows[0][0]) == 4 else 2
    raw = b''.join(b'\x00' + bytes(v for px in row for v in px) for row in rows)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n'
                + chunk(b'IHDR', struct.pack('>IIBBBBB', len(rows[0]), len(rows), 8, colour_type, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def read_png(path):
    """Non-interlaced PNGs of 8 bits per sample (1, 2 or 4 for grey and palette); rows of (r, g, b, a)."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    at, idat, palette, trns = 8, b'', [], b''
    while at < len(data):
        length, tag = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if tag == b'IHDR':
            width, height, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert interlace == 0 and (depth == 8 or (depth < 8 and ctype in (0, 3))), (path, depth, interlace)
        elif tag == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif tag == b'tRNS':
            trns = body
        elif tag == b'IDAT':
            idat += body
        at += 12 + length
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    raw = zlib.decompress(idat)
    stride = (width * channels * depth + 7) // 8
    step = max(1, channels * depth // 8)  # the filters' byte distance to the pixel on the left
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up = previous[i]
            corner = previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        previous = line
        if depth < 8:
            per_byte = 8 // depth
            samples = [(line[x // per_byte] >> (8 - depth * (x % per_byte + 1))) & ((1 << depth) - 1)
                       for x in range(width)]
            if ctype == 0:
                samples = [v * 255 // ((1 << depth) - 1) for v in samples]
        else:
            samples = line
        row = []
        for x in range(width):
            v = samples[x * channels:(x + 1) * channels]
            if ctype == 0:
                row.append((v[0], v[0], v[0], 255))
            elif ctype == 2:
                row.append((v[0], v[1], v[2], 255))
            elif ctype == 3:
                alpha = trns[v[0]] if v[0] < len(trns) else 255
                row.append(palette[v[0]] + (alpha,))
            elif ctype == 4:
                row.append((v[0], v[0], v[0], v[1]))
            else:
                row.append(tuple(v))
        rows.append(row)
    return rows


def read_bmp(path):
    """24-bit bottom-up BMP; rows of (r, g, b), top row first."""
    data = open(path, 'rb').read()
    offset, = struct.unpack('<I', data[10:14])
    width, height, _, bits = struct.unpack('<iiHH', data[18:30])
    assert bits == 24 and height > 0, path
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        line = data[offset + y * stride:offset + y * stride + width * 3]
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, width * 3, 3)])
    return rows[::-1]


WHITE = (255, 255, 255)
SHADOW = (0, 0, 0, 96)


def with_shadow(rows):
    """A soft shadow one pixel right of and below every opaque pixel, on a transparent pixel."""
    out = [list(row) for row in rows]
    for y in range(1, len(rows)):
        for x in range(1, len(rows[0])):
            if rows[y][x][3] == 0 and rows[y - 1][x - 1][3] == 255:
                out[y][x] = SHADOW
    return out


def on_checkerboard(rows):
    """Transparent pixels over a light checkerboard of 2 x 2 squares, dotted at the border."""
    height, width = len(rows), len(rows[0])

    def under(x, y):
        if (x in (0, width - 1) or y in (0, height - 1)) and (x + y) % 2 == 0:
            return (150, 150, 150)
        return (236, 236, 236) if (x // 2 + y // 2) % 2 else (200, 204, 210)

    return [[tuple((c * px[3] + b * (255 - px[3])) // 255 for c, b in zip(px[:3], under(x, y)))
             for x, px in enumerate(row)] for y, row in enumerate(rows)]


def on_backdrop(rows):
    def blend(px):
        a = px[3]
        return tuple((c * a + b * (255 - a)) // 255 for c, b in zip(px[:3], BACKDROP))
    return [[blend(px) for px in row] for row in rows]


def repeat(rows, times):
    return [[px for px in row for _ in range(times)] for row in rows for _ in range(times)]


def side_by_side(pictures, fill):
    """Pictures laid left to right, GAP apart, centred vertically on fill."""
    height = max(len(p) for p in pictures)
    out = [[] for _ in range(height)]
    for p in pictures:
        top = (height - len(p)) // 2
        for y in range(height):
            row = p[y - top] if 0 <= y - top < len(p) else [fill] * len(p[0])
            out[y].extend(row + [fill] * GAP)
    return [row[:-GAP] for row in out]


def stacked(pictures, fill):
    width = max(len(p[0]) for p in pictures)
    out = []
    for p in pictures:
        out += [row + [fill] * (width - len(row)) for row in p] + [[fill] * width for _ in range(GAP)]
    return out[:-GAP]


def main():
    top = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, 'build', 'release'))
    mostel = os.path.join(build, 'mostel', 'mostel')
    quillet = os.path.join(build, 'quillet', 'ui', 'quillet')
    samples = os.path.join(top, 'samples')
    docs = os.path.join(top, 'docs')
    with tempfile.TemporaryDirectory() as work:
        def run(*args):
            subprocess.run(args, cwd=work, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        sheet = read_png(os.path.join(samples, 'sheet.png'))
        run(mostel, os.path.join(samples, 'sheet.png'), 'sheet-3x.png')
        write_png(os.path.join(docs, 'sheet-repeated-3x.png'), repeat(on_backdrop(sheet), 3 * ZOOM))
        write_png(os.path.join(docs, 'sheet-mostel-3x.png'), repeat(on_backdrop(read_png(os.path.join(work, 'sheet-3x.png'))), ZOOM))

        # Eight frames in 45-degree steps at the sprites' own size, a row per sprite, laid over
        # the backdrop's colour.
        backdrop = '#%02x%02x%02x' % BACKDROP
        rows = []
        for name in ('sword', 'slime'):
            run(quillet, '-in', os.path.join(samples, name + '.png'), '-out', name,
                '-angle', '0', '-endangle', '315', '-frames', '8', '-background', backdrop)
            frames = [read_bmp(os.path.join(work, '%s_%d.bmp' % (name, i))) for i in range(1, 9)]
            rows.append(side_by_side(frames, frames[0][0][0]))
        write_png(os.path.join(docs, 'quillet-turns.png'), repeat(stacked(rows, rows[0][0][0]), ZOOM))

        # The sword in 30-degree steps with its shadow: BMP frames over the default background,
        # each of its own size, above the PNG frames, which keep the transparency and share
        # one canvas (shown on a checkerboard, cell borders dotted).
        shadowed = os.path.join(work, 'sword-shadow.png')
        write_png(shadowed, with_shadow(read_png(os.path.join(samples, 'sword.png'))))
        steps = ['-angle', '0', '-endangle', '150', '-frames', '6']
        run(quillet, '-in', shadowed, '-out', 'before', *steps)
        run(quillet, '-in', shadowed, '-out', 'after', '-format', 'png', *steps)
        before = [read_bmp(os.path.join(work, 'before_%d.bmp' % i)) for i in range(1, 7)]
        after = [on_checkerboard(read_png(os.path.join(work, 'after_%d.png' % i))) for i in range(1, 7)]
        write_png(os.path.join(docs, 'quillet-png-mode.png'),
                  repeat(stacked([side_by_side(before, WHITE), side_by_side(after, WHITE)], WHITE), ZOOM))
    print('pictures written to docs/')


if __name__ == '__main__':
    main()
