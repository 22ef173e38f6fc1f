#!/usr/bin/env python3
"""Where one run of the host spends its time, phase by phase.

Runs `tintwell -q EDIT in.bmp out.bmp` (a fresh output name each time) on a
generated picture, and beside it two_pass and cat on the same picture:

- `perf stat`, repeated: CPU time (task-clock), wall time, page faults and
  context switches of each whole process, untraced;
- `strace -f -ttt -T`, once: the host's system calls, cut into phases at
  the calls that mark them, with the time, the number of calls and the
  bytes read and written in each. Tracing slows every call, so the phases
  made of many small calls read long; the wall time of a phase that waits
  (a close that waits on the kernel) reads true.

    breakdown.py [--build build/bench] [--size 4000x3000] [--edit invert]
                 [--tintwell PATH] [--runs 20]
"""

import argparse
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from compare import REPO, write_bmp  # noqa: E402

# The phases, each from the first call matching its pattern on; PICTURE
# stands for the input's name.
PHASES = [
    ("start-up and library load", r"execve\("),
    ("open and check the input, make the temporary", r"openat\(AT_FDCWD, \"PICTURE\""),
    ("library: header and first pass (check every row)", r"openat\(AT_FDCWD, \"/proc/self/fd/\d+\", O_RDONLY"),
    ("library: second pass (read again, edit, write)", r"openat\(AT_FDCWD, \"/proc/self/fd/\d+\", O_WRONLY"),
    ("after the last write: changed?, link, rename, exit", r"ftruncate\("),
]
TRANSFER = re.compile(r"\b(p?readv?|p?writev?|pread64|pwrite64)\(.*\) = (\d+)")
WHITESPACE = re.compile(r"\s+")
CALL = re.compile(r"^\d+\s+(\d+\.\d+) (\w+)\(.*<(\d+\.\d+)>$")


def fresh_output(argv, output):
    """`argv` run after its last output is removed, so that every run writes a
    new file; perf and the wall clock time the same command."""
    return ["sh", "-c", f"rm -f {shlex.quote(output)}; exec \"$0\" \"$@\"", *argv]


def perf_stat(argv, runs):
    """task-clock ms, page faults and context switches, averaged by perf."""
    events = "task-clock,page-faults,context-switches"
    command = ["perf", "stat", "-x", ",", "-r", str(runs), "-e", events, "--", *argv]
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    figures = {}
    for line in result.stderr.splitlines():
        fields = line.split(",")
        if len(fields) > 2 and fields[2] in events.split(","):
            figures[fields[2]] = float(fields[0]) if fields[0] not in ("<not counted>", "<not supported>") else None
    return figures


def wall_ms(argv, runs):
    """Median wall ms of whole runs."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def phases_of(trace_lines, picture):
    """Per phase: wall ms from its first call to the next phase's, calls, bytes moved."""
    found = []
    phase = -1
    for line in trace_lines:
        match = CALL.match(line)
        if not match:
            continue
        stamp = float(match.group(1))
        if phase + 1 < len(PHASES) and re.search(PHASES[phase + 1][1].replace("PICTURE", re.escape(picture)), line):
            phase += 1
            found.append({"name": PHASES[phase][0], "start": stamp, "calls": 0, "bytes": 0})
        if phase < 0:
            continue
        found[-1]["calls"] += 1
        moved = TRANSFER.search(line)
        if moved:
            found[-1]["bytes"] += int(moved.group(2))
        found[-1]["end"] = stamp + float(match.group(3))
    for this, following in zip(found, found[1:]):
        this["end"] = following["start"]
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, default=REPO / "build" / "bench")
    parser.add_argument("--tintwell", type=Path, help="the host to break down (default: BUILD/bin/tintwell)")
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--edit", default="invert")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    for tool in ("perf", "strace"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is missing (Debian: linux-perf, strace)")
    host = str(args.tintwell or args.build / "bin" / "tintwell")
    two_pass = str(args.build / "bin" / "two_pass")
    width, height = (int(n) for n in args.size.split("x"))
    with tempfile.TemporaryDirectory(prefix="tintwell-breakdown-") as folder:
        picture, output = f"{folder}/in.bmp", f"{folder}/out.bmp"
        write_bmp(picture, width, height, seed=width * 100003 + height)
        print(f"## {width} x {height}, {args.edit}: whole processes (perf stat, {args.runs} runs each)\n")
        print("| command | CPU ms | wall ms | page faults | context switches |")
        print("|---|---:|---:|---:|---:|")
        for label, argv in ((f"tintwell -q {args.edit}", [host, "-q", args.edit, picture, output]),
                            ("two_pass", [two_pass, picture, output]),
                            ("cat", ["sh", "-c", f"exec cat {picture} > {output}"])):
            timed = fresh_output(argv, output)
            figures = perf_stat(timed, args.runs)
            wall = wall_ms(timed, args.runs)
            print(f"| {label} | {figures.get('task-clock') or 0:.1f} | {wall:.1f} | "
                  f"{figures.get('page-faults') or 0:.0f} | {figures.get('context-switches') or 0:.0f} |")
        Path(output).unlink(missing_ok=True)
        trace = f"{folder}/trace"
        subprocess.run(["strace", "-f", "-ttt", "-T", "-o", trace, host, "-q", args.edit, picture, output],
                       stdout=subprocess.DEVNULL, check=True)
        found = phases_of(Path(trace).read_text().splitlines(), picture)
        print(f"\n## The host's phases (strace -f -ttt -T, one run)\n")
        print("| phase | wall ms (traced) | system calls | bytes read and written |")
        print("|---|---:|---:|---:|")
        for phase in found:
            print(f"| {phase['name']} | {(phase['end'] - phase['start']) * 1000:.1f} | {phase['calls']} | "
                  f"{phase['bytes']:,} |")
        slow = sorted((line for line in Path(trace).read_text().splitlines() if CALL.match(line)),
                      key=lambda line: -float(CALL.match(line).group(3)))[:5]
        print("\nThe five slowest calls:\n\n```")
        for line in slow:
            call = CALL.match(line)
            what = WHITESPACE.split(line, maxsplit=2)[2][:100]
            print(f"{float(call.group(3)) * 1000:7.2f} ms  {what}")
        print("```")


if __name__ == "__main__":
    main()
