#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora.

    make_seeds.py OUTPUT_DIR [--bmpsuite DIR]

OUTPUT_DIR/whole_call gets small well-formed pictures of many widths, heights
and bit counts, bent headers and truncations, each behind the 9-byte prefix
the whole-call fuzzer reads (output kind, function number, amount); with
--bmpsuite, every .bmp file below DIR as well. OUTPUT_DIR/bmp_variant gets
files of every BMP kind (and the BMP Suite's). OUTPUT_DIR/file_name gets
UTF-16 names: plain, non-ASCII, surrogate pairs, lone surrogates, lengths
around the 199-byte limit and up to 1000 units. Seeds are made fresh on
every run and never kept in the repository.
"""
import argparse
import pathlib
import struct

NEW_FILE, DEV_NULL, IN_PLACE, NO_NAME = range(4)
FUNCTIONS = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, -1, -2147483648, 2147483647]
AMOUNTS = [0, 1, 3, 40, 128, 255, 256, 300, -1, -2147483648, 2147483647]


# Pictures claiming more stay short files: only their first rows are there.
MOST_PIXEL_BYTES = 4096


def bmp(width, height, bit_count=24, pixel_seed=0):
    """A bottom-up picture whose rows are padded to 4 bytes."""
    row = max(width, 0) * 3
    stride = (row + 3) // 4 * 4
    rows = max(height, 0) if width > 0 else 0
    claimed = stride * rows
    pixels = bytearray()
    for y in range(min(rows, MOST_PIXEL_BYTES // max(stride, 1))):
        pixels += bytes((pixel_seed + 37 * y + 11 * x) % 256 for x in range(row))
        pixels += bytes(stride - row)
    header = struct.pack('<2sIIIIiiHHIIiiII', b'BM', (54 + claimed) % 2**32, 0, 54, 40, width, height, 1,
                         bit_count, 0, claimed % 2**32, 2835, 2835, 0, 0)
    return header + bytes(pixels)


def call(output, function, amount, file_bytes):
    return struct.pack('<Bii', output, function, amount) + file_bytes


def whole_call_seeds(bmpsuite):
    seeds = []
    sizes = [(w, h) for w in (0, 1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 33) for h in (0, 1, 2, 3, 5)]
    sizes += [(-1, 5), (3, -2), (-2, -3), (1, 715827882), (1, 715827883), (3, 238609294), (-3, -238609294),
              (65536, 65536), (1024, 1024), (-2**31, -2**31)]
    for i, (width, height) in enumerate(sizes):
        seeds.append(call(i % 4, FUNCTIONS[i % len(FUNCTIONS)], AMOUNTS[i % len(AMOUNTS)], bmp(width, height, pixel_seed=i)))
    for i, bit_count in enumerate((0, 1, 4, 8, 16, 32, 48, 64, 0xFFFF)):
        seeds.append(call(NEW_FILE, 1 + i % 9, 40, bmp(5, 3, bit_count, pixel_seed=i)))
    for function in FUNCTIONS:
        for output in (NEW_FILE, IN_PLACE):
            seeds.append(call(output, function, 77, bmp(3, 2, pixel_seed=function & 0xFF)))
    whole = bmp(3, 3, pixel_seed=5)
    for length in range(len(whole) + 1):
        seeds.append(call(length % 4, 1 + length % 10, 3, whole[:length]))
    seeds.append(call(NEW_FILE, 1, 0, bmp(2, 2) + b'trailing bytes'))
    if bmpsuite:
        for path in sorted(pathlib.Path(bmpsuite).rglob('*.bmp')):
            seeds.append(call(NEW_FILE, 4, 0, path.read_bytes()))
            seeds.append(call(IN_PLACE, 7, 25, path.read_bytes()))
    return seeds


def variant_seeds(bmpsuite):
    """Files of every BMP kind, as they stand: the BMP Suite's, and a few made here."""
    def headed(info, width, height, bits, compression, extra, pixels):
        body = struct.pack('<IiiHHI', info, width, height, 1, bits, compression) + bytes(info - 20) + extra
        return struct.pack('<2sIII', b'BM', 14 + len(body) + len(pixels), 0, 14 + len(body)) + body + pixels
    palette = bytes(range(64))
    seeds = [
        headed(40, 4, 2, 8, 1, palette, bytes([4, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1])),
        headed(40, 5, 3, 4, 2, palette, bytes([5, 0x12, 0, 2, 1, 1, 3, 0x45, 0, 1])),
        headed(40, 3, -2, 16, 3, struct.pack('<III', 0xF800, 0x07E0, 0x001F), bytes(range(16))),
        headed(124, 3, 2, 32, 6, struct.pack('<IIII', 0xFF0000, 0xFF00, 0xFF, 0xFF000000), bytes(range(24))),
        headed(40, 3, 2, 16, 6, struct.pack('<IIII', 0xF00, 0xF0, 0xF, 0xF000), bytes(range(16))),
    ]
    if bmpsuite:
        seeds += [path.read_bytes() for path in sorted(pathlib.Path(bmpsuite).rglob('*.bmp'))]
    return seeds


def units(text):
    return text.encode('utf-16-le')


def file_name_seeds():
    names = [b'', units('a.bmp'), units('사진.bmp'), units('café.bmp'), units('\U0001F5BC.bmp'),
             units('.'), units('..'), units('a/b.bmp'), units('a') + b'\x00\xd8' + units('b.bmp'),
             units('a') + b'\x00\xdc' + units('.bmp'), units('a.bmp') + b'\xff\xdb',
             b'\x00\xdc\x00\xd8', b'\x3d\xd8\x00\xde' * 40, b'\xff\xfe' * 3, units('x' * 1000)]
    names += [units('n' * length) for length in range(160, 176)]
    names += [units('사' * length) for length in (50, 55, 56, 57, 60)]
    return [bytes([role]) + name for name in names for role in range(3)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('output_dir', type=pathlib.Path)
    parser.add_argument('--bmpsuite', type=pathlib.Path)
    arguments = parser.parse_args()
    bmpsuite = arguments.bmpsuite if arguments.bmpsuite and arguments.bmpsuite.is_dir() else None
    for corpus, seeds in (('whole_call', whole_call_seeds(bmpsuite)), ('file_name', file_name_seeds()),
                          ('bmp_variant', variant_seeds(bmpsuite))):
        folder = arguments.output_dir / corpus
        folder.mkdir(parents=True, exist_ok=True)
        for i, seed in enumerate(seeds):
            (folder / f'seed-{i:04d}').write_bytes(seed)
        print(f'{folder}: {len(seeds)} seeds')


if __name__ == '__main__':
    main()
