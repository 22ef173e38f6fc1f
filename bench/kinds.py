#!/usr/bin/env python3
"""Times tintwell on every data path of the BMP kinds, against the 24-bit edit.

    kinds.py [--tintwell PATH] [--size WxH] [--rounds N] [--quick] [--markdown FILE]

Writes the same pixels (a gradient, so every colour differs) as each kind of
BMP file, then times `tintwell -q invert IN OUT` on each, round after round
in a new shuffled order (a warm-up round first), with `cat IN > OUT` of the
24-bit picture and of each file beside them. It reports each kind's median
time against the 24-bit/54-byte edit of the same pixels and against the
target of staging plus that edit (staging is a 24-bit copy written and read
once: about a `cat` of the 24-bit file), and the peak memory of each run
(GNU time). --quick: a tiny picture, one round, no claims.
"""
import argparse
import os
import random
import resource
import shutil
import statistics
import struct
import subprocess
import tempfile
import time


def row_stride(width, bits):
    return (width * bits + 31) // 32 * 4


def header(info, width, height, bits, compression, extra, pixel_bytes):
    body = struct.pack('<IiiHHIIiiII', info, width, height, 1, bits, compression, pixel_bytes, 2835, 2835, 0, 0)
    body += bytes(info - 40) + extra
    offset = 14 + len(body)
    return struct.pack('<2sIII', b'BM', offset + pixel_bytes, 0, offset) + body


def colour(x, y, width, height):
    return (x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1), (x + y) & 255)


def direct(width, height, bits, pack, info=40, compression=0, masks=b'', top_down=False):
    stride = row_stride(width, bits)
    # 256 different rows, repeated: making every row in Python would take minutes.
    made = {}
    rows = []
    for y in range(height):
        if y % 256 not in made:
            row = b''.join(pack(*colour(x, y % 256, width, 256)) for x in range(width))
            made[y % 256] = row.ljust(stride, b'\0')
        rows.append(made[y % 256])
    if top_down:
        rows.reverse()
    pixels = b''.join(rows)
    return header(info, width, -height if top_down else height, bits, compression, masks, len(pixels)) + pixels


def paletted(width, height, bits, rle=False):
    entries = 1 << bits
    palette = b''.join(struct.pack('<BBBB', i * 255 // (entries - 1), 255 - i * 255 // (entries - 1), i % 256, 0)
                       for i in range(entries))
    stride = row_stride(width, bits)
    pixels = bytearray()
    made = {}
    for y in range(height):
        if not rle and y % entries in made:
            pixels += made[y % entries]
            continue
        indices = [(x // 8 + y) % entries for x in range(width)]
        if rle:
            x = 0
            while x < width:
                run = 1
                while x + run < width and run < 255 and indices[x + run] == indices[x]:
                    run += 1
                pixels += bytes([run, indices[x]])
                x += run
            pixels += b'\0\0' if y < height - 1 else b'\0\1'
            continue
        row = bytearray(stride)
        per = 8 // bits
        for x, index in enumerate(indices):
            row[x // per] |= index << (8 - bits * (1 + x % per))
        made[y % entries] = bytes(row)
        pixels += row
    return header(40, width, height, bits, 1 if rle else 0, palette, len(pixels)) + bytes(pixels)


def kinds(width, height):
    bgr = lambda r, g, b: bytes((b, g, r))
    return [
        ('24-bit, 54-byte header (the library reads it as it stands)', direct(width, height, 24, bgr)),
        ('24-bit, 124-byte header (ImageMagick, vips)', direct(width, height, 24, bgr, info=124)),
        ('24-bit, top-down', direct(width, height, 24, bgr, top_down=True)),
        ('32-bit BI_RGB', direct(width, height, 32, lambda r, g, b: bytes((b, g, r, 0)))),
        ('32-bit 8-8-8-8 with alpha, 124-byte header', direct(
            width, height, 32, lambda r, g, b: bytes((b, g, r, 0x80)), info=124, compression=3,
            masks=b'')),
        ('16-bit 5-6-5', direct(
            width, height, 16, lambda r, g, b: struct.pack('<H', (r >> 3) << 11 | (g >> 2) << 5 | b >> 3),
            compression=3, masks=struct.pack('<III', 0xF800, 0x07E0, 0x001F))),
        ('8-bit palette', paletted(width, height, 8)),
        ('8-bit RLE8', paletted(width, height, 8, rle=True)),
        ('4-bit palette', paletted(width, height, 4)),
        ('1-bit palette', paletted(width, height, 1)),
    ]


def v5_masks(data):
    """A V5 header's masks go inside it: red, green, blue, alpha at bytes 54 to 70."""
    return data[:54] + struct.pack('<IIII', 0xFF0000, 0xFF00, 0xFF, 0xFF000000) + data[70:]


def timed(command, output):
    """Wall-clock and CPU (user + system) seconds of one run."""
    with open(output, 'wb') as out:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, stdout=out, check=True)
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def peak_memory(command):
    gnu_time = shutil.which('time', path='/usr/bin')
    if gnu_time is None:
        return None
    done = subprocess.run([gnu_time, '-f', '%M'] + command, capture_output=True, check=True)
    return int(done.stderr.split()[-1]) / 1024


def table(files, times, measure, label, width, height, rounds):
    """One table of medians: each kind against the 24-bit edit, staging, and a copy of its file."""
    median = {key: statistics.median(value[measure] for value in values) for key, values in times.items()}
    reference = files[0][0]
    edit24, cat24 = median[('tintwell', reference)], median[('cat', reference)]
    lines = [f'{width} x {height} pixels, {label}, median of {rounds} rounds, `tintwell -q invert`:', '',
             '| kind | file | time | against the 24-bit edit | against the 24-bit edit + staging (target <= 1.10) '
             '| against cat of the file |',
             '|---|---|---|---|---|---|']
    for name, path in files:
        took, cat = median[('tintwell', name)], median[('cat', name)]
        staged = edit24 + cat24 + cat if name != reference else edit24
        paletted = 'palette' in name or 'RLE' in name
        lines.append(f'| {name} | {os.path.getsize(path):,} bytes | {took:.3f} s | {took / edit24:.2f} x '
                     f'| {"-" if paletted else f"{took / staged:.2f} x"} | {took / cat:.2f} x |')
    return lines + ['']


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--tintwell', default='build/bench/bin/tintwell')
    parser.add_argument('--size', default='4000x3000')
    parser.add_argument('--rounds', type=int, default=7)
    parser.add_argument('--quick', action='store_true')
    parser.add_argument('--markdown')
    arguments = parser.parse_args()
    width, height = (int(n) for n in ('37x23' if arguments.quick else arguments.size).split('x'))
    rounds = 1 if arguments.quick else arguments.rounds
    work = tempfile.mkdtemp(prefix='tintwell-kinds.', dir='/dev/shm' if os.access('/dev/shm', os.W_OK) else None)
    try:
        files = []
        for name, data in kinds(width, height):
            if 'alpha' in name:
                data = v5_masks(data)
            path = os.path.join(work, f'{len(files)}.bmp')
            with open(path, 'wb') as f:
                f.write(data)
            files.append((name, path))
        out = os.path.join(work, 'out.bmp')
        commands = {}
        for name, path in files:
            commands[('tintwell', name)] = [arguments.tintwell, '-q', 'invert', path, out]
            commands[('cat', name)] = ['cat', path]
        times = {key: [] for key in commands}
        for round_number in range(rounds + (0 if arguments.quick else 1)):
            order = list(commands)
            random.shuffle(order)
            for key in order:
                command = commands[key]
                took = timed(command, out if key[0] == 'cat' else os.devnull)
                if round_number > 0 or arguments.quick:
                    times[key].append(took)
        lines = []
        for measure, label in ((1, 'CPU time (user + system)'), (0, 'wall-clock time')):
            lines += table(files, times, measure, label, width, height, rounds)
        lines += ['Staging is the 24-bit copy written (about a `cat` of the 24-bit picture) and the picture',
                  'written back in its own kind (about a `cat` of its file); a paletted picture costs about a',
                  '`cat` of its file. Peak memory: GNU time\'s maximum resident size of one run.', '']
        for name, _ in files:
            memory = peak_memory(commands[('tintwell', name)])
            lines.append(f'- {name}: {"-" if memory is None else f"{memory:.1f} MiB"}')
        text = '\n'.join(lines) + '\n'
        print(text)
        if arguments.markdown:
            with open(arguments.markdown, 'w') as f:
                f.write(text)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
