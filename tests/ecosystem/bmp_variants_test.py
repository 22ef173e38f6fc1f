#!/usr/bin/env python3
"""Every kind of BMP file through the real host, checked independently.

usage: bmp_variants_test.py TINTWELL MODEL_COLOURS SOURCE_DIR

The pictures: every file of the BMP Suite (g/ edited, q/ edited or refused
as the table below says, b/ refused unless its pixels are whole) and the
files that ImageMagick, GraphicsMagick, vips, Pillow and netpbm write. Each
is decoded here, input and output, by this file's own reader (cross-checked
against Pillow where Pillow reads the file): every channel at its own bit
depth must be the model's edit (MODEL_COLOURS) of the input's, widened by
repeating its bits and narrowed to its top bits; every other bit and byte
must be unchanged. Noise is checked by its bounds. Exit status 77: skipped.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:  # the cross-check needs Pillow
    Image = None

TINTWELL, MODEL, SOURCE = sys.argv[1:4]
REQUIRED = os.environ.get("TINTWELL_REQUIRE_ALL") == "1"
failures = []
skipped = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, file=sys.stderr)


# What each file of the BMP Suite's q/ and b/ folders comes to: "edited",
# or the words its refusal must hold. Files of g/ are all edited.
QUESTIONABLE = {
    "pal1huffmsb": "OS/2 Huffman-coded pixels",
    "rgb16-3103": "its green mask 0xFFC0 is wider than 8 bits",
    "rgb24jpeg": "an embedded JPEG picture",
    "rgb24png": "an embedded PNG picture",
    "rgb24rle24": "OS/2 RLE24-coded pixels",
    "rgb32-111110": "its red mask 0xFFE00000 is wider than 8 bits",
    "rgb32-7187": "its green mask 0x1FFFF80 is wider than 8 bits",
    "rgba16-1924": "its green mask 0x1FF is wider than 8 bits",
    "rgba32-1010102": "its red mask 0x3FF00000 is wider than 8 bits",
    "rgba32-61754": "its green mask 0x3FFFE0 is wider than 8 bits",
    "rgba32-81284": "its green mask 0xFFF0000 is wider than 8 bits",
    "rgba64": "64 bits per pixel",
}
# b/: damaged files are refused; these have whole pixels behind odd header
# fields (density, planes, sizes, an index past the palette) and are edited.
BAD_BUT_WHOLE = {"badbitssize", "baddens1", "baddens2", "badfilesize", "badplanes", "pal8badindex"}
BAD = {
    "badbitcount": "30000 bits per pixel",
    "badheadersize": "an unknown 66-byte information header",
    "badpalettesize": "a palette of 305,402,420 colours",
    "badrle": "a damaged RLE stream",
    "badrle4": "a damaged RLE stream",
    "badrle4bis": "a damaged RLE stream",
    "badrle4ter": "a damaged RLE stream",
    "badrlebis": "a damaged RLE stream",
    "badrleter": "a damaged RLE stream",
    "badwidth": "negative width (-127)",
    "reallybig": "more pixels than the library's limit",
    "rgb16-880": "an empty blue mask",
    "rletopdown": "RLE-coded top-down rows",
    "shortfile": "the file ends after 273 of 1,086 bytes",
}

# The edits, with their amounts; noise is bounded, read writes nothing.
EDITS = [("copy", None), ("brighten", 40), ("darken", 40), ("gray", None), ("invert", None),
         ("threshold", 128), ("tint-up", 300), ("tint-down", 7)]
NOISE = 50


# ---- The test's own reader ------------------------------------------------

def u(data, at, size):
    return int.from_bytes(data[at:at + size].ljust(size, b"\0"), "little")


def s32(data, at):
    return struct.unpack_from("<i", data.ljust(at + 4, b"\0"), at)[0]


class Channel:
    def __init__(self, mask):
        self.shift = (mask & -mask).bit_length() - 1 if mask else 0
        self.bits = bin(mask).count("1")
        self.mask = mask

    def raw(self, pixel):
        return (pixel & self.mask) >> self.shift


def widen(value, bits):
    """A channel of `bits` bits to 8, by repeating its bits."""
    wide, filled = 0, 0
    while filled < 8:
        wide, filled = (wide << bits) | value, filled + bits
    return wide >> (filled - 8)


def narrow(value, bits):
    return value >> (8 - bits)


class Picture:
    """A BMP file as this test reads it."""

    def __init__(self, data):
        self.data = data
        info = u(data, 14, 4)
        self.info = info
        if info == 12:
            self.width, height, self.bits, self.method = u(data, 18, 2), u(data, 20, 2), u(data, 24, 2), 0
        else:
            self.width, height, self.bits = s32(data, 18), s32(data, 22), u(data, 28, 2)
            self.method = u(data, 30, 4) if info > 16 else 0
        self.moves = False  # an RLE stream with delta codes
        self.top_down = height < 0
        self.rows = abs(height)
        self.offset = u(data, 10, 4)
        self.stride = (self.width * self.bits + 31) // 32 * 4
        masks_end = 14 + info + (12 if info == 40 and self.method == 3 else 16 if info == 40 and self.method == 6 else 0)
        self.palette_at = masks_end
        self.entry = 3 if info == 12 else 4
        if self.bits <= 8:
            used = u(data, 46, 4) if info >= 40 else 0
            self.entries = used or min(1 << self.bits, (self.offset - masks_end) // self.entry)
        else:
            if self.method in (3, 6):
                masks = [u(data, 54 + 4 * i, 4) for i in range(3)]
            elif self.bits == 16:
                masks = [0x7C00, 0x03E0, 0x001F]
            else:
                masks = [0xFF0000, 0xFF00, 0xFF]
            self.red, self.green, self.blue = (Channel(m) for m in masks)

    def palette(self):
        at, size = self.palette_at, self.entry
        return [tuple(self.data[at + i * size:at + i * size + 3]) for i in range(self.entries)]

    def pixel_at(self, row, x):
        """The raw pixel value (direct colour) at file row `row`."""
        size = self.bits // 8
        return u(self.data, self.offset + row * self.stride + x * size, size)

    def channels(self, row, x):
        """Blue, green and red at their own bit depth."""
        p = self.pixel_at(row, x)
        return self.blue.raw(p), self.green.raw(p), self.red.raw(p)

    def colour_mask_bytes(self):
        """For every byte of the file, the bits that hold a colour channel."""
        masks = bytearray(len(self.data))
        if self.bits <= 8:
            for i in range(self.entries):
                for k in range(3):
                    masks[self.palette_at + i * self.entry + k] = 0xFF
            return masks
        size = self.bits // 8
        colour = self.red.mask | self.green.mask | self.blue.mask
        for row in range(self.rows):
            for x in range(self.width):
                at = self.offset + row * self.stride + x * size
                for k in range(size):
                    masks[at + k] = (colour >> (8 * k)) & 0xFF
        return masks

    def indices(self):
        """Palette indices by file row (RLE: bottom row first); None where the stream skips."""
        if self.method in (1, 2):
            return self.rle_indices()
        rows = []
        per = 8 // self.bits
        for row in range(self.rows):
            start = self.offset + row * self.stride
            line = []
            for x in range(self.width):
                byte = self.data[start + x // per]
                line.append((byte >> (8 - self.bits * (1 + x % per))) & ((1 << self.bits) - 1))
            rows.append(line)
        return rows

    def rle_indices(self):
        rows = [[None] * self.width for _ in range(self.rows)]
        x = y = 0
        at = self.offset
        d = self.data
        four = self.method == 2

        def put(index):
            nonlocal x
            if y < self.rows and x < self.width:
                rows[y][x] = index
            x += 1

        while at + 1 < len(d):
            count, value = d[at], d[at + 1]
            at += 2
            if count:
                for i in range(count):
                    put((value >> 4 if i % 2 == 0 else value & 15) if four else value)
            elif value == 0:
                x, y = 0, y + 1
            elif value == 1:
                break
            elif value == 2:
                self.moves = True
                x, y = x + d[at], y + d[at + 1]
                at += 2
            else:
                size = (value + 1) // 2 if four else value
                for i in range(value):
                    byte = d[at + (i // 2 if four else i)]
                    put((byte >> 4 if i % 2 == 0 else byte & 15) if four else byte)
                at += size + (size & 1)
        return rows

    def top_row(self, row):
        """The row number from the top, as Pillow counts, of file row `row`."""
        return row if self.top_down else self.rows - 1 - row


# ---- Running the host and the model ---------------------------------------

def run(args, **kwargs):
    return subprocess.run([TINTWELL] + args, capture_output=True, **kwargs)


def model(function, amount, colours):
    """The model's edit of a list of (blue, green, red) colours."""
    data = bytes(c for colour in colours for c in colour)
    out = subprocess.run([MODEL, str(function), str(amount or 0)], input=data, capture_output=True, check=True).stdout
    return [tuple(out[i:i + 3]) for i in range(0, len(out), 3)]


FUNCTIONS = {"copy": 1, "brighten": 2, "darken": 3, "gray": 4, "invert": 5, "threshold": 6, "tint-up": 8,
             "tint-down": 9}


def check_outside_colours(name, before, after):
    """Every bit that holds no colour channel is unchanged."""
    if len(before.data) != len(after.data):
        fail(f"{name}: {len(after.data)} bytes written, not {len(before.data)}")
        return False
    masks = before.colour_mask_bytes()
    for at, (a, b, m) in enumerate(zip(before.data, after.data, masks)):
        if (a & ~m) != (b & ~m):
            fail(f"{name}: byte {at} outside the colours changed ({a:#x} -> {b:#x})")
            return False
    return True


def check_edit(name, before, after, edit, amount):
    if not check_outside_colours(name, before, after):
        return
    function = FUNCTIONS[edit]
    if before.bits <= 8:
        expected = model(function, amount, before.palette())
        if after.palette() != expected:
            fail(f"{name}: {edit}: palette {after.palette()[:4]}... is not the model's {expected[:4]}...")
        return
    chans = (before.blue, before.green, before.red)
    wide = [tuple(widen(v, c.bits) for v, c in zip(before.channels(r, x), chans))
            for r in range(before.rows) for x in range(before.width)]
    expected = model(function, amount, wide)
    got = [after.channels(r, x) for r in range(after.rows) for x in range(after.width)]
    for i, (e, g) in enumerate(zip(expected, got)):
        if tuple(narrow(v, c.bits) for v, c in zip(e, chans)) != g:
            fail(f"{name}: {edit}: pixel {i} is {g}, the model says {e} at 8 bits")
            return


def check_noise_bounds(name, before, after):
    """Noise only brightens, each channel by less than the amount (at 8 bits)."""
    if not check_outside_colours(name, before, after):
        return
    chans = (before.blue, before.green, before.red)
    for r in range(before.rows):
        for x in range(before.width):
            for v, o, c in zip(before.channels(r, x), after.channels(r, x), chans):
                w = widen(v, c.bits)
                if not narrow(w, c.bits) <= o <= narrow(min(255, w + NOISE - 1), c.bits):
                    fail(f"{name}: noise: pixel ({x}, {r}) channel {v} -> {o}, out of bounds")
                    return


def check_noise_24(name, before, path):
    """--to-24-bit: a 24-bit picture, bottom row first, each pixel its palette colour brightened."""
    after = Picture(open(path, "rb").read())
    if (after.info, after.bits, after.offset, after.width, after.rows) != (40, 24, 54, before.width, before.rows):
        fail(f"{name}: --to-24-bit wrote {after.info}/{after.bits}/{after.offset}, not a 24-bit picture")
        return
    palette = before.palette()
    rows = before.indices()
    for r in range(before.rows):
        file_row = r if before.method in (1, 2) or not before.top_down else before.rows - 1 - r
        for x in range(before.width):
            index = rows[file_row][x] or 0
            colour = palette[index] if index < len(palette) else (0, 0, 0)
            got = after.channels(r, x)
            if any(not c <= g <= min(255, c + NOISE - 1) for c, g in zip(colour, got)):
                fail(f"{name}: --to-24-bit noise: pixel ({x}, {r}) {colour} -> {got}")
                return


def pillow_colours(path):
    """Pillow's colours by row from the top, or None where Pillow does not read the file."""
    if Image is None:
        return None
    try:
        with Image.open(path) as im:
            im.load()
            return im.convert("RGB")
    except Exception:  # a kind Pillow does not read
        return None


def cross_check(name, path, picture):
    """This test's reader against Pillow, channel by channel at each channel's depth."""
    im = pillow_colours(path)
    if im is None:
        return False
    if im.size != (picture.width, picture.rows):
        fail(f"{name}: Pillow reads {im.size}, this test {picture.width} x {picture.rows}")
        return True
    px = im.load()
    if picture.bits <= 8:
        palette = picture.palette()
        rows = picture.indices()
        # Pillow 9.4 misplaces RLE4 literal runs of odd length and the pixels
        # after a delta code (ImageMagick reads them as this test does).
        if picture.method == 2 or picture.moves:
            return False
        for r, line in enumerate(rows):
            for x, index in enumerate(line):
                if index is None or index >= len(palette):
                    continue
                top = picture.top_row(r)
                red, green, blue = px[x, top]
                if palette[index] != (blue, green, red):
                    fail(f"{name}: Pillow reads ({x}, {top}) as {(blue, green, red)}, this test {palette[index]}")
                    return True
        return True
    chans = (picture.blue, picture.green, picture.red)
    for r in range(picture.rows):
        for x in range(picture.width):
            red, green, blue = px[x, picture.top_row(r)]
            for mine, theirs, c in zip(picture.channels(r, x), (blue, green, red), chans):
                # Pillow widens as v * 255 / (2^bits - 1): back to the channel's own depth.
                if round(theirs * ((1 << c.bits) - 1) / 255) != mine:
                    fail(f"{name}: Pillow reads ({x}, {r}) as {(blue, green, red)}, this test {picture.channels(r, x)}")
                    return True
    return True


def edit_all(name, path, work, counts):
    """Every edit of one picture that is to be edited, each checked."""
    before = Picture(open(path, "rb").read())
    if cross_check(name, path, before):
        counts["cross-checked"] += 1
    out = os.path.join(work, "out.bmp")
    for edit, amount in EDITS:
        args = ["-q", edit] + ([str(amount)] if amount is not None else []) + [path, out]
        result = run(args)
        if result.returncode != 0:
            fail(f"{name}: {edit}: exit status {result.returncode}: {result.stderr.decode(errors='replace')}")
            return False
        after = Picture(open(out, "rb").read())
        check_edit(f"{name}", before, after, edit, amount)
        if edit == "invert":
            cross_check(name + " (inverted)", out, after)
        os.unlink(out)
    result = run(["-q", "noise", str(NOISE), path, out])
    if before.bits <= 8:
        if result.returncode != 4 or b"noise cannot be kept in a palette" not in result.stderr or os.path.exists(out):
            fail(f"{name}: noise on a palette: exit status {result.returncode}, {result.stderr!r}")
        result = run(["-q", "--to-24-bit", "noise", str(NOISE), path, out])
        if result.returncode != 0:
            fail(f"{name}: --to-24-bit noise: exit status {result.returncode}: {result.stderr!r}")
        else:
            check_noise_24(name, before, out)
    elif result.returncode != 0:
        fail(f"{name}: noise: exit status {result.returncode}: {result.stderr!r}")
    else:
        check_noise_bounds(name, before, Picture(open(out, "rb").read()))
    if os.path.exists(out):
        os.unlink(out)
    result = run(["-q", "read", path])
    if result.returncode != 0:
        fail(f"{name}: read: exit status {result.returncode}: {result.stderr!r}")
    return True


def expect_refused(name, path, work, words):
    out = os.path.join(work, "out.bmp")
    result = run(["invert", path, out])
    stderr = result.stderr.decode(errors="replace")
    if result.returncode != 4 or words not in stderr or "nothing written" not in stderr:
        fail(f"{name}: expected a refusal naming [{words}], got exit status {result.returncode}: {stderr}")
    if "--force" in stderr or "BMP3:OUT" not in stderr:
        fail(f"{name}: the refusal should name a conversion, not --force: {stderr}")
    if os.listdir(work):
        fail(f"{name}: refused, yet {os.listdir(work)} was written")
        for left in os.listdir(work):
            os.unlink(os.path.join(work, left))


def check_other_forms(name, paths, work):
    """A stream (stdin to stdout) and a batch give the bytes that a file gives."""
    singles = []
    for path in paths:
        out = os.path.join(work, "single.bmp")
        run(["-q", "gray", path, out], check=True)
        singles.append(open(out, "rb").read())
        os.unlink(out)
        with open(path, "rb") as stdin:
            piped = run(["-q", "gray", "-", "-"], stdin=stdin)
        if piped.returncode != 0 or piped.stdout != singles[-1]:
            fail(f"{name}: {os.path.basename(path)} through stdin and stdout: exit status {piped.returncode}, "
                 f"{len(piped.stdout)} bytes unlike the file's edit: {piped.stderr!r}")
    folder = os.path.join(work, "batch")
    os.mkdir(folder)
    batch = run(["-q", "gray", "--out-dir", folder, "-j", "2"] + paths)
    for path, single in zip(paths, singles):
        written = os.path.join(folder, os.path.basename(path))
        if batch.returncode != 0 or not os.path.exists(written) or open(written, "rb").read() != single:
            fail(f"{name}: {os.path.basename(path)} in a batch: exit status {batch.returncode}: {batch.stderr!r}")
    shutil.rmtree(folder)


def check_messages(name, path, work, remark):
    """Without -q, the library's messages describe the copy, and a line says so."""
    out = os.path.join(work, "out.bmp")
    result = run(["invert", path, out])
    os.unlink(out)
    if result.returncode != 0 or remark not in result.stderr.decode():
        fail(f"{name}: the line about the library's messages: {result.stderr!r}")


# ---- The pictures ----------------------------------------------------------

def bmp_suite():
    named = os.environ.get("TINTWELL_BMPSUITE")
    folder = named or os.path.normpath(os.path.join(SOURCE, "..", "shared", "testdata", "bmpsuite"))
    return folder if os.path.isdir(os.path.join(folder, "g")) else None


def made_by_tools(folder):
    """Pictures that other programs write, made here with the tools present: (name, path)."""
    made = []
    source = os.path.join(folder, "source.ppm")
    alpha_source = os.path.join(folder, "alpha.png")

    def tool(name, command, to_stdout=False):
        """Runs `command`, "{out}" standing for the picture it writes (or its stdout)."""
        if shutil.which(command[0]) is None:
            skipped.append(f"{command[0]} is not installed ({name})")
            return
        path = os.path.join(folder, name + ".bmp")
        argv = [a.replace("{out}", path) for a in command]
        with open(path if to_stdout else os.devnull, "wb") as stdout:
            done = subprocess.run(argv, stdout=stdout, stderr=subprocess.PIPE)
        if done.returncode != 0 or not os.path.exists(path):
            fail(f"{name}: {' '.join(argv)} failed: {done.stderr!r}")
            return
        made.append((name, path))

    if shutil.which("convert"):
        # An odd width, so that every row carries padding; colours of every value.
        subprocess.run(["convert", "-size", "37x23", "gradient:#f08020-#1060e0", "-swirl", "90", source], check=True)
        subprocess.run(["convert", "-size", "29x17", "gradient:#ff000030-#0000ffe0", "PNG32:" + alpha_source],
                       check=True)
    elif Image is not None:
        Image.new("RGB", (37, 23), (200, 100, 30)).save(source)
        Image.new("RGBA", (29, 17), (200, 100, 30, 90)).save(alpha_source)
    else:
        skipped.append("neither ImageMagick nor Pillow to make the pictures from")
        return made
    tool("imagemagick-default", ["convert", source, "{out}"])
    tool("imagemagick-bmp2", ["convert", source, "BMP2:{out}"])
    tool("imagemagick-bmp3", ["convert", source, "BMP3:{out}"])
    tool("imagemagick-alpha", ["convert", alpha_source, "{out}"])
    tool("imagemagick-16-colours", ["convert", source, "-colors", "16", "BMP3:{out}"])
    tool("imagemagick-rle8", ["convert", source, "-colors", "200", "-compress", "RLE", "BMP3:{out}"])
    tool("graphicsmagick", ["gm", "convert", source, "{out}"])
    tool("graphicsmagick-alpha", ["gm", "convert", alpha_source, "{out}"])
    tool("vips", ["vips", "copy", source, "{out}"])
    tool("netpbm", ["ppmtobmp", source], to_stdout=True)
    tool("netpbm-os2", ["ppmtobmp", "-os2", source], to_stdout=True)
    if Image is not None:
        with Image.open(source) as im:
            rgb = im.convert("RGB")
        for mode in ("RGB", "RGBA", "P", "1"):
            path = os.path.join(folder, f"pillow-{mode}.bmp")
            (rgb.convert(mode) if mode != "RGBA" else Image.open(alpha_source).convert("RGBA")).save(path)
            made.append((f"pillow-{mode}", path))
    else:
        skipped.append("Pillow is not installed (its pictures)")
    return made


def main():
    counts = {"edited": 0, "refused": 0, "cross-checked": 0}
    work = tempfile.mkdtemp(prefix="tintwell-variants.")
    made_dir = tempfile.mkdtemp(prefix="tintwell-made.")
    try:
        suite = bmp_suite()
        if suite is None:
            skipped.append("no BMP Suite (set TINTWELL_BMPSUITE)")
        else:
            for folder in ("g", "q", "b"):
                for file in sorted(os.listdir(os.path.join(suite, folder))):
                    stem, path = file[:-4], os.path.join(suite, folder, file)
                    refusal = QUESTIONABLE.get(stem) if folder == "q" else BAD.get(stem) if folder == "b" else None
                    if folder == "b" and stem not in BAD and stem not in BAD_BUT_WHOLE:
                        fail(f"b/{file}: not in this test's table")
                        continue
                    if refusal:
                        expect_refused(f"{folder}/{stem}", path, work, refusal)
                        counts["refused"] += 1
                    elif edit_all(f"{folder}/{stem}", path, work, counts):
                        counts["edited"] += 1
        if suite is not None:
            kinds = [os.path.join(suite, "g", f) for f in ("rgb16-565.bmp", "pal8rle.bmp", "pal8os2.bmp", "pal4.bmp",
                                                           "rgb32bf.bmp", "pal8topdown.bmp")]
            check_other_forms("streams and batches", kinds, work)
            check_messages("g/pal8.bmp", os.path.join(suite, "g", "pal8.bmp"), work,
                           "its 252 palette colours were edited as one row of 252 pixels, which the library's "
                           "messages describe; its indices are unchanged")
            check_messages("g/rgb16.bmp", os.path.join(suite, "g", "rgb16.bmp"), work,
                           "edited as a 24-bit copy of 127 x 64 pixels, which the library's messages describe")
        for name, path in made_by_tools(made_dir):
            if edit_all(name, path, work, counts):
                counts["edited"] += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(made_dir, ignore_errors=True)
    print(f"{counts['edited']} pictures edited and checked, {counts['refused']} refused, "
          f"{counts['cross-checked']} read alike by Pillow")
    for reason in skipped:
        print("SKIP: " + reason)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    if skipped and REQUIRED:
        print("FAIL: TINTWELL_REQUIRE_ALL=1, but " + "; ".join(skipped), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
