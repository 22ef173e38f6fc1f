#!/usr/bin/env python3
"""Whole-process timing of the tintwell host against cat and general image tools.

Generates 24-bit BMP test pictures, then, for each picture size, times in one
run, round after round (a warm-up round first, then --runs rounds, each in a
new shuffled order, so that every command alternates with every other), every
command: `cat in > out` (the limit), the bare rand() helper (the floor of the
noise edit), whole_copy (a file read into one buffer and written out: the
floor of any program that holds the picture), two_pass (the library's own
design with nothing around it: a checking pass, then each 1 MiB slice read
again, inverted and written), the tintwell host for every
edit, the library editing a fresh copy of the picture onto itself (in_place;
the copy is made before each timed run and not timed), and, at the first size
above the tiny one, every installed peer for the same edits, each reading and
writing a BMP.
Reports median wall and CPU times, the ratio to cat from the same round (its
median and spread over the rounds), peak resident memory (one extra run under
/usr/bin/time -v), the load average and the file system, and whether each
target is met.

Gated (steady on a busy machine): the host's CPU time (user + system) against
two_pass's, pair by pair; peak memory; noise against cat + rand(); the peers.
Reported only (wall clock moves with the machine's load): the ratio to cat.

--idle SECONDS pauses before every round, so that each round starts on a
machine that has been idle (memory handed back, caches cold); without it the
rounds run back to back. Run it both ways to see the machine's history.

--quick runs tiny pictures once: it checks that every command still works
and asserts nothing about time.
"""

import argparse
import functools
import json
import os
import platform
import random
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
MIB = 1 << 20

# The edits of the host, as (name, amount or None).
EDITS = [
    ("copy", None),
    ("brighten", 40),
    ("darken", 40),
    ("gray", None),
    ("invert", None),
    ("threshold", 128),
    ("noise", 40),
    ("tint-up", 40),
    ("tint-down", 40),
]

# Tint up and down touch the pixels as brighten and darken do.
PEER_EDIT = {"tint-up": "brighten", "tint-down": "darken"}

# Function numbers of the edits, for the direct library call.
FUNCTION_NUMBERS = {edit: number for number, (edit, _) in enumerate(EDITS, start=1)}

# Targets: the largest ratio of the host's CPU time (user + system) to the
# floor's (two_pass), pair by pair, at every size above the tiny one.
CPU_TARGETS = {"copy": 1.1, "invert": 1.1, "gray": 1.2}
MIN_PAIRS = 30              # rounds for a ratio to cat worth quoting
NOISE_TARGET = 1.05         # of cat + the bare rand() calls
PEER_SPEEDUP = 15.0         # every edit but noise, over the fastest peer
NOISE_PEER_SPEEDUP = 1.2
RSS_LIMIT = 8 * MIB         # peak resident memory of the whole process
STARTUP_ALLOWANCE = 0.003   # seconds over cat on the tiny picture
TINY = (16, 16)

FULL_SIZES = [TINY, (4000, 3000), (4001, 3000), (10000, 7500)]
QUICK_SIZES = [TINY, (17, 5)]
TINY_RUNS = 21

# The commands that measure floors rather than edits: cat (copies without
# holding the file), the bare rand() calls of the noise edit, and a whole
# file read into one buffer and written out (what holding the picture costs).
REFERENCES = ("cat", "rand()", "whole copy", "two pass")
IN_PLACE = "in place"


def percent(amount):
    """An 8-bit amount as a share of full scale, as the peers take it."""
    return f"{amount * 100 / 255:.4f}%"


def first_existing(*candidates):
    for candidate in candidates:
        path = shutil.which(candidate) if "/" not in candidate else candidate
        if path and os.access(path, os.X_OK):
            return path
    return None


def pillow_python():
    """A Python that imports PIL (Debian's python3-pil serves /usr/bin/python3)."""
    for python in ("/usr/bin/python3", sys.executable):
        if os.access(python, os.X_OK) and subprocess.run(
                [python, "-c", "import PIL"], stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


# What each peer runs for an edit; {p} is the amount as a percentage of full
# scale, {a} the amount itself. An edit missing from a table is not timed.
MAGICK_OPS = {
    "copy": [],
    "brighten": ["-evaluate", "Add", "{p}"],
    "darken": ["-evaluate", "Subtract", "{p}"],
    "gray": ["-colorspace", "Gray"],
    "invert": ["-negate"],
    "threshold": ["-channel", "RGB", "-threshold", "{p}"],
    "noise": ["+noise", "Uniform"],
}
GM_OPS = {
    "copy": [],
    "brighten": ["-operator", "All", "Add", "{p}"],
    "darken": ["-operator", "All", "Subtract", "{p}"],
    "gray": ["-colorspace", "Gray"],
    "invert": ["-negate"],
    "threshold": ["-operator", "All", "Threshold", "{p}"],
    "noise": ["+noise", "Uniform"],
}
VIPS_OPS = {
    "copy": ["copy", "{s}", "{d}"],
    "brighten": ["linear", "--uchar", "--", "{s}", "{d}", "1", "{a}"],
    "darken": ["linear", "--uchar", "--", "{s}", "{d}", "1", "-{a}"],
    "gray": ["colourspace", "{s}", "{d}", "b-w"],
    "invert": ["invert", "{s}", "{d}"],
    "threshold": ["relational_const", "{s}", "{d}", "moreeq", "{a}"],
}
NETPBM_OPS = {
    "copy": "",
    "brighten": "| pamfunc -adder={a} ",
    "darken": "| pamfunc -subtractor={a} ",
    "gray": "| ppmtopgm ",
    "invert": "| pnminvert ",
    "threshold": "| ppmtopgm | pgmtopbm -threshold -value 0.5 ",
    "noise": "| pamaddnoise -type gaussian ",
}
PILLOW_OPS = {
    "copy": "im",
    "brighten": "im.point(lambda v: min(255, v + {a}))",
    "darken": "im.point(lambda v: max(0, v - {a}))",
    "gray": 'im.convert("L")',
    "invert": "ImageOps.invert(im)",
    "threshold": "im.point(lambda v: 255 if v >= {a} else 0)",
    "noise": 'ImageChops.add(im, Image.effect_noise(im.size, {a}).convert("RGB"))',
}


def fill(words, amount, src="", dst=""):
    return [w.format(p=percent(amount or 0), a=amount, s=src, d=dst) for w in words]


def magick_argv(program, ops, edit, amount, src, dst):
    return [*program, src, *fill(ops[edit], amount), "BMP3:" + dst]


def vips_argv(program, edit, amount, src, dst):
    return [program, *fill(VIPS_OPS[edit], amount, src, dst)] if edit in VIPS_OPS else None


def netpbm_argv(edit, amount, src, dst):
    pipeline = NETPBM_OPS[edit].format(a=amount)
    return ["sh", "-c", f"bmptopnm {shlex.quote(src)} 2>/dev/null {pipeline}| ppmtobmp > {shlex.quote(dst)} 2>/dev/null"]


def pillow_argv(python, edit, amount, src, dst):
    result = PILLOW_OPS[edit].format(a=amount)
    script = (f"from PIL import Image, ImageOps, ImageChops; "
              f"im = Image.open({json.dumps(src)}); {result}.save({json.dumps(dst)})")
    return [python, "-c", script]


def peer_commands():
    """Maps each installed peer's name to a function(edit, amount, src, dst) -> argv or None."""
    peers = {}
    convert = first_existing("/usr/bin/convert-im6.q16", "/usr/bin/convert", "/usr/bin/magick")
    if convert:
        peers["ImageMagick"] = functools.partial(magick_argv, [convert], MAGICK_OPS)
    gm = first_existing("/usr/bin/gm", "gm")
    if gm:
        peers["GraphicsMagick"] = functools.partial(magick_argv, [gm, "convert"], GM_OPS)
    vips = first_existing("/usr/bin/vips", "vips")
    if vips:
        peers["vips"] = functools.partial(vips_argv, vips)
    if first_existing("/usr/bin/bmptopnm", "bmptopnm") and first_existing("/usr/bin/ppmtobmp", "ppmtobmp"):
        peers["netpbm"] = netpbm_argv
    python = pillow_python()
    if python:
        peers["Pillow"] = functools.partial(pillow_argv, python)
    return peers


def write_bmp(path, width, height, seed):
    """A 24-bit bottom-up BMP with pseudo-random (but repeatable) pixels."""
    padding = (4 - width * 3 % 4) % 4
    row = width * 3 + padding
    header = struct.pack("<2sIIIIiiHHIIiiII", b"BM", 54 + row * height, 0, 54, 40,
                         width, height, 1, 24, 0, row * height, 2835, 2835, 0, 0)
    generator = random.Random(seed)
    with open(path, "wb") as out:
        out.write(header)
        rows_per_chunk = max(1, (8 * MIB) // row)
        for first in range(0, height, rows_per_chunk):
            count = min(rows_per_chunk, height - first)
            chunk = bytearray(generator.randbytes(row * count))
            if padding:
                for r in range(count):
                    end = (r + 1) * row
                    chunk[end - padding:end] = bytes(padding)
            out.write(chunk)


@dataclass
class Command:
    tool: str           # "cat", "rand()", "tintwell" or a peer's name
    edit: str
    argv: list
    stdout_to: str = None   # file the command's stdout goes to (cat)
    fresh_copy: tuple = None  # (source, copy): copied before each run, untimed
    times: dict = field(default_factory=dict)      # round -> wall seconds
    cpu_times: dict = field(default_factory=dict)  # round -> user + system seconds
    peak_rss: int = None    # bytes
    failures: int = 0
    rounds: int = None      # timed rounds, when fewer than the others (peers)

    def label(self):
        return self.tool if self.tool in REFERENCES else f"{self.tool} {self.edit}"

    def median(self):
        return statistics.median(self.times.values()) if self.times else None

    def cpu_median(self):
        return statistics.median(self.cpu_times.values()) if self.cpu_times else None


def prepare(command, output):
    """Removes the last output, or makes the fresh copy an in-place edit needs.
    Only a regular file is removed: never /dev/null or another device."""
    if command.fresh_copy:
        shutil.copyfile(*command.fresh_copy)
    elif os.path.isfile(output) and not os.path.islink(output):
        os.unlink(output)


def run_once(command, output):
    """Wall time and CPU time (user + system) of one run, and whether it succeeded."""
    prepare(command, output)
    stdout = command.stdout_to or os.devnull
    actions = [(os.POSIX_SPAWN_OPEN, 1, stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawnp(command.argv[0], command.argv, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    return elapsed, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status) == 0


def peak_rss(command, output):
    """Maximum resident set size in bytes, from one run under /usr/bin/time -v."""
    timer = "/usr/bin/time"
    if not os.access(timer, os.X_OK):
        return None
    prepare(command, output)
    with open(command.stdout_to or os.devnull, "wb") as stdout:
        report = subprocess.run([timer, "-v", *command.argv], stdout=stdout,
                                stderr=subprocess.PIPE, text=True).stderr
    for line in report.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1]) * 1024
    return None


def host_argv(args, edit, amount, src, dst, module=None):
    options = ["--module", module] if module else []
    return [str(args.tintwell), *options, edit] + ([str(amount)] if amount is not None else []) + [src, dst]


def build_commands(args, src, dst, pixels, peers):
    commands = [Command("cat", "", ["cat", src], stdout_to=dst),
                Command("rand()", "noise", [str(args.bare_rand), str(3 * pixels)]),
                Command("whole copy", "", [str(args.whole_copy), src, dst]),
                Command("two pass", "invert", [str(args.two_pass), src, dst])]
    for edit, amount in EDITS:
        commands.append(Command("tintwell", edit, host_argv(args, edit, amount, src, dst)))
        for label, module in args.modules:
            commands.append(Command(f"tintwell[{label}]", edit, host_argv(args, edit, amount, src, dst, module)))
        in_place = [str(args.in_place), str(FUNCTION_NUMBERS[edit]), str(amount or 0), dst]
        commands.append(Command(f"tintwell {IN_PLACE}", edit, in_place, fresh_copy=(src, dst)))
    for edit, amount in EDITS:
        if edit in PEER_EDIT:
            continue
        for name, make in peers.items():
            argv = make(edit, amount, src, dst)
            if argv:
                commands.append(Command(name, edit, argv, rounds=min(args.runs, args.peer_runs)))
    return commands


def time_size(args, width, height, peers, workdir):
    src = str(workdir / f"in-{width}x{height}.bmp")
    dst = str(workdir / "out.bmp")
    write_bmp(src, width, height, seed=width * 100003 + height)
    pixels = width * height
    commands = build_commands(args, src, dst, pixels, peers)
    load_before = load_average()
    runs = args.runs if (width, height) != TINY or args.quick else max(args.runs, TINY_RUNS)
    warmups = 0 if args.quick else 1
    shuffler = random.Random(width * height)
    for round_number in range(warmups + runs):
        # A new order every round: what ran just before (a long run can leave
        # memory or caches cold) changes from round to round.
        order = list(commands)
        shuffler.shuffle(order)
        if args.idle:
            time.sleep(args.idle)
        for command in order:
            if command.rounds is not None and round_number >= warmups + command.rounds:
                continue
            elapsed, cpu, ok = run_once(command, dst)
            if not ok:
                command.failures += 1
            elif round_number >= warmups:
                command.times[round_number] = elapsed
                command.cpu_times[round_number] = cpu
        print(f"  {width}x{height}: round {round_number + 1}/{warmups + runs} done", file=sys.stderr)
    for command in commands:
        command.peak_rss = peak_rss(command, dst)
    if args.quick:
        check_outputs(args, src, dst, width, height)
    os.unlink(src)
    if os.path.exists(dst):
        os.unlink(dst)
    return commands, (load_before, load_average())


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def check_outputs(args, src, dst, width, height):
    """The host's copy is the input byte for byte; the others keep its size;
    an edit onto the input itself gives the host's bytes."""
    expected = Path(src).read_bytes()
    for edit, amount in EDITS:
        subprocess.run(host_argv(args, edit, amount, src, dst), stdout=subprocess.DEVNULL, check=True)
        produced = Path(dst).read_bytes()
        if len(produced) != len(expected) or (edit == "copy" and produced != expected):
            raise SystemExit(f"tintwell {edit} on {width}x{height} wrote an unexpected file")
        shutil.copyfile(src, dst)
        subprocess.run([str(args.in_place), str(FUNCTION_NUMBERS[edit]), str(amount or 0), dst],
                       stdout=subprocess.DEVNULL, check=True)
        if Path(dst).read_bytes() != produced:
            raise SystemExit(f"in_place {edit} on {width}x{height} differs from the host's output")


def verdict(met):
    return "yes" if met else "**no**"


@dataclass
class Check:
    kind: str       # "cpu", "wall", "time", "memory", "peers" or "start-up"
    value: str
    target: str
    met: bool       # None: reported, not a target

    def text(self):
        if self.met is None:
            return f"{self.value} ({self.target})"
        return f"{self.value} ({self.target}) {verdict(self.met)}"


def paired_ratios(samples, baseline):
    """A's sample over B's, round by round, for the rounds where both ran."""
    return [samples[r] / baseline[r] for r in samples if r in baseline and baseline[r] > 0]


def spread(ratios):
    """Median and quartiles of a list of ratios, as text."""
    if len(ratios) < 4:
        return f"{statistics.median(ratios):.2f}" if ratios else "?"
    low, middle, high = statistics.quantiles(ratios, n=4)
    return f"{middle:.2f} [{low:.2f}-{high:.2f}]"


@dataclass
class SizeResult:
    width: int
    height: int
    commands: list
    loads: tuple = ("?", "?")   # load averages before and after

    def is_tiny(self):
        return (self.width, self.height) == TINY

    def command(self, label):
        return next(c for c in self.commands if c.label() == label)

    def median_of(self, label):
        return self.command(label).median()

    def fastest_peers(self):
        """The fastest peer command for each edit."""
        fastest = {}
        for c in self.commands:
            if c.tool in REFERENCES or c.tool.startswith("tintwell") or c.median() is None:
                continue
            if c.edit not in fastest or c.median() < fastest[c.edit].median():
                fastest[c.edit] = c
        return fastest

    def checks(self, command):
        """The targets that apply to one run of the host, with their values."""
        median = command.median()
        cat = self.median_of("cat")
        if self.is_tiny():
            return [Check("start-up", f"cat {(median - cat) * 1000:+.1f} ms",
                          f"<= cat + {STARTUP_ALLOWANCE * 1000:g} ms", median - cat <= STARTUP_ALLOWANCE)]
        checks = []
        if command.edit == "noise":
            limit = NOISE_TARGET * (cat + self.median_of("rand()"))
            checks.append(Check("time", f"{median:.3f} s", f"<= {NOISE_TARGET:g} x (cat + rand()) = {limit:.3f} s",
                                median <= limit))
        else:
            rounds = paired_ratios(command.times, self.command("cat").times)
            checks.append(Check("wall", f"{spread(rounds)} x cat", f"median [quartiles] of {len(rounds)} rounds",
                                None))
        if command.edit in CPU_TARGETS and command.tool == "tintwell":
            target = CPU_TARGETS[command.edit]
            ratio = statistics.median(paired_ratios(command.cpu_times, self.command("two pass").cpu_times))
            checks.append(Check("cpu", f"{ratio:.2f} x two_pass CPU", f"<= {target:g}", ratio <= target))
        if command.peak_rss:
            checks.append(Check("memory", f"{command.peak_rss / MIB:.1f} MiB", f"<= {RSS_LIMIT / MIB:g}",
                                command.peak_rss <= RSS_LIMIT))
        peer = self.fastest_peers().get(PEER_EDIT.get(command.edit, command.edit))
        if peer is not None:
            wanted = NOISE_PEER_SPEEDUP if command.edit == "noise" else PEER_SPEEDUP
            speedup = peer.median() / median
            checks.append(Check("peers", f"{speedup:.1f} x faster than {peer.tool}", f">= {wanted:g}",
                                speedup >= wanted))
        return checks


def report_size(result):
    """Markdown lines for one picture size: every command with its figures."""
    pixel_bytes = 3 * result.width * result.height
    cat = result.median_of("cat")
    lines = [f"### {result.width} x {result.height} ({pixel_bytes / MIB:.1f} MiB of pixels)", "",
             "| command | median s | x cat | CPU s | peak RSS MiB | targets (met) |",
             "|---|---:|---:|---:|---:|---|"]
    for c in result.commands:
        median = c.median()
        if median is None:
            lines.append(f"| {c.label()} | failed | | | | |")
            continue
        rss = f"{c.peak_rss / MIB:.1f}" if c.peak_rss else "?"
        checks = result.checks(c) if c.tool.startswith("tintwell") else []
        lines.append(f"| {c.label()} | {median:.4f} | {median / cat:.2f} | {c.cpu_median():.4f} | "
                     f"{rss} | {'; '.join(check.text() for check in checks)} |")
    lines += ["", f"cat + rand(): {cat + result.median_of('rand()'):.4f} s "
                  f"({3 * result.width * result.height} rand() calls timed in the helper, start-up included).",
              f"Load average before and after this size: {result.loads[0]}; {result.loads[1]}.", ""]
    return lines


def summary_lines(results):
    """One row per edit: the time through the host and onto the input itself at
    every size, the speed over the peers, the peak memory at every size."""
    sizes = [r for r in results if not r.is_tiny()]
    tiny = [r for r in results if r.is_tiny()]
    peer_sizes = [r for r in sizes if r.fastest_peers()]
    header = ["edit"] + [f"{r.width} x {r.height}" for r in tiny]
    for r in sizes:
        header += [f"{r.width} x {r.height} CPU", f"{r.width} x {r.height} wall",
                   f"{r.width} x {r.height} {IN_PLACE} wall"]
    header += [f"peers ({r.width} x {r.height})" for r in peer_sizes]
    header += [f"peak memory ({r.width} x {r.height})" for r in sizes]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]

    def cell(result, tool, edit, kinds):
        command = next(c for c in result.commands if c.tool == tool and c.edit == edit)
        if command.median() is None:
            return "failed"
        found = [k.text() for k in result.checks(command) if k.kind in kinds]
        return found[0] if found else ""

    for edit, _ in EDITS:
        cells = [edit] + [cell(r, "tintwell", edit, ("start-up",)) for r in tiny]
        for result in sizes:
            cells += [cell(result, "tintwell", edit, ("cpu",)), cell(result, "tintwell", edit, ("wall", "time")),
                      cell(result, f"tintwell {IN_PLACE}", edit, ("wall", "time"))]
        cells += [cell(r, "tintwell", edit, ("peers",)) for r in peer_sizes]
        cells += [cell(r, "tintwell", edit, ("memory",)) for r in sizes]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def medians(results):
    """Every command's median wall and CPU seconds, size by size."""
    return [{"width": r.width, "height": r.height, "load": r.loads,
             "commands": [{"tool": c.tool, "edit": c.edit, "wall": c.median(), "cpu": c.cpu_median()}
                          for c in r.commands]} for r in results]


def file_system(path):
    """The file system type under `path`, from the mount table."""
    found = subprocess.run(["findmnt", "-n", "-o", "FSTYPE,SOURCE", "-T", str(path)],
                           capture_output=True, text=True).stdout.strip()
    return found or "?"


def machine_lines(quick, runs, idle, file_system_type):
    def read(path):
        try:
            return Path(path).read_text().strip()
        except OSError:
            return "?"
    model = "?"
    for line in read("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    timing = ("- quick mode: one untimed-quality run per command" if quick else
              f"- {runs} timed runs per command after one warm-up round ({TINY_RUNS} on the tiny picture), "
              f"medians; the pictures and outputs sit in the page cache")
    memory = read("/proc/meminfo").splitlines()[0].split(":")[1].strip() if Path("/proc/meminfo").exists() else "?"
    return [f"- CPU: {model}, {os.cpu_count()} logical cores; memory {memory}",
            f"- kernel {platform.release()}; transparent huge pages: "
            f"{read('/sys/kernel/mm/transparent_hugepage/enabled')} "
            f"(defrag {read('/sys/kernel/mm/transparent_hugepage/defrag')})",
            f"- load average at the end: {' '.join(read('/proc/loadavg').split()[:3])}",
            f"- pictures and outputs on: {file_system_type} (where cat can reflink, on XFS or btrfs, "
            f"its time is not a copy and the ratios do not apply)",
            f"- rounds: " + (f"each after {idle:g} s idle" if idle else "back to back"),
            timing]


def command_lines(result, workdir):
    """The exact commands, with the working folder and the repository left out of the paths."""
    lines = [f"Commands for {result.width} x {result.height}, the other sizes alike with their own picture "
             "(paths relative to the working folder and the repository):", "", "```"]
    for c in result.commands:
        words = shlex.join(c.argv) + (" > " + shlex.quote(c.stdout_to) if c.stdout_to else "")
        if c.fresh_copy:
            words = f"cp {shlex.join(c.fresh_copy)}  # untimed, before each run\n{words}"
        lines.append(words.replace(str(workdir) + "/", "").replace(str(REPO) + "/", ""))
    lines.append("```")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="tiny pictures, one run, no timing claims")
    parser.add_argument("--runs", type=int, default=MIN_PAIRS,
                        help=f"timed rounds (default {MIN_PAIRS}: the ratios to cat are taken round by round)")
    parser.add_argument("--sizes", help="comma-separated WxH list instead of the standard sizes")
    parser.add_argument("--no-peers", action="store_true", help="time only cat, rand() and tintwell")
    parser.add_argument("--idle", type=float, default=0, metavar="SECONDS",
                        help="pause this long before every round (default 0: back to back)")
    parser.add_argument("--build", type=Path, default=REPO / "build" / "bench",
                        help="build tree with bin/tintwell and bin/bare_rand (default build/bench)")
    parser.add_argument("--workdir", type=Path, help="where the pictures go (default: a new temporary folder)")
    parser.add_argument("--peer-runs", type=int, default=5, help="timed rounds of each peer (default 5)")
    parser.add_argument("--markdown", type=Path, help="also write the report to this file")
    parser.add_argument("--json", type=Path, help="also write every median to this file (for chart.py)")
    parser.add_argument("--module", action="append", default=[], metavar="LABEL=PATH",
                        help="also time the host with this library (tintwell --module PATH), "
                             "to compare a variant in the same run; may be repeated")
    args = parser.parse_args()
    if args.quick:
        args.runs = 1
    args.modules = [tuple(m.split("=", 1)) for m in args.module]
    args.tintwell = args.build / "bin" / "tintwell"
    args.bare_rand = args.build / "bin" / "bare_rand"
    args.whole_copy = args.build / "bin" / "whole_copy"
    args.in_place = args.build / "bin" / "in_place"
    args.two_pass = args.build / "bin" / "two_pass"
    for program in (args.tintwell, args.bare_rand, args.whole_copy, args.in_place, args.two_pass):
        if not os.access(program, os.X_OK):
            raise SystemExit(f"{program} is missing: build it first (make bench-build)")
    if args.sizes:
        sizes = [tuple(int(n) for n in s.split("x")) for s in args.sizes.split(",")]
    else:
        sizes = QUICK_SIZES if args.quick else FULL_SIZES
    peers = {} if args.no_peers else peer_commands()

    workdir = args.workdir or Path(tempfile.mkdtemp(prefix="tintwell-bench-"))
    workdir.mkdir(parents=True, exist_ok=True)
    file_system_type = file_system(workdir)
    results = []
    try:
        for width, height in sizes:
            # The peers take many times as long as the host: fewer rounds of
            # them (--peer-runs), and none on the tiny picture.
            timed_peers = peers if (width, height) != TINY else {}
            commands, loads = time_size(args, width, height, timed_peers, workdir)
            results.append(SizeResult(width, height, commands, loads))
    finally:
        if args.workdir is None:
            shutil.rmtree(workdir, ignore_errors=True)
    lines = []
    if args.quick:
        lines += ["Quick mode: one run on tiny pictures, to check that every command works; "
                  "the figures say nothing about speed.", ""]
    lines += ["## Targets", ""] + summary_lines(results) + ["", "## All commands", ""]
    for result in results:
        lines += report_size(result)
    failed = [f"{c.label()} on {r.width}x{r.height}" for r in results for c in r.commands if c.failures]
    # The size with the most commands: the one the peers were timed at.
    shown = max(results, key=lambda r: len(r.commands)) if results else None
    lines += ["## Machine", ""] + machine_lines(args.quick, args.runs, args.idle, file_system_type) + [""]
    lines += ["Peers found: " + (", ".join(peers) or "none"), ""]
    lines += command_lines(shown, workdir) if shown else []
    text = "\n".join(lines) + "\n"
    print(text)
    if args.markdown:
        args.markdown.write_text(text)
    if args.json:
        args.json.write_text(json.dumps(medians(results), indent=1) + "\n")
    if failed:
        raise SystemExit("commands that failed: " + ", ".join(failed))


if __name__ == "__main__":
    main()
