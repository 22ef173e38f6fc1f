#!/usr/bin/env python3
"""Pictures per second through tintwell.distributed.edit_many on a real Dask
cluster on this machine (a dask-scheduler and one or two dask-worker
processes, one thread each), against `tintwell -j 1` and `-j 2` on the same
pictures. Quoted in the README, never gated.

  python3 bench/distributed_throughput.py --program build/release/bin/tintwell
      [--pictures 300] [--width 512] [--height 384] [--rounds 3] [--chunk 4]

Each round edits every picture (brighten 40) into a fresh directory; the
table gives the median round. The cluster is started before its rounds and
its start is not timed."""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(SOURCE / "python"), str(SOURCE / "python" / "tests")]
# The workers import the package from the tree too.
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(SOURCE / "python"), os.environ.get("PYTHONPATH")]))

import numpy as np  # noqa: E402

import tintwell.distributed  # noqa: E402
from tintwell import _bmp  # noqa: E402
from local_cluster import LocalCluster  # noqa: E402


def make_pictures(directory: Path, count: int, width: int, height: int) -> list:
    generator = np.random.default_rng(1)
    paths = []
    for index in range(count):
        path = directory / f"p{index:04}.bmp"
        path.write_bytes(_bmp.encode(generator.integers(0, 256, (height, width, 3), dtype=np.uint8)))
        paths.append(path)
    return paths


def timed(rounds: int, work) -> float:  # noqa: ANN001
    """The median seconds of `rounds` runs of work(round)."""
    seconds = []
    for number in range(rounds):
        start = time.perf_counter()
        work(number)
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--pictures", type=int, default=300)
    parser.add_argument("--width", type=int, default=512)
    parser.add_argument("--height", type=int, default=384)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--chunk", type=int, default=4)
    options = parser.parse_args()
    options.program = os.environ["TINTWELL_PROGRAM"] = str(Path(options.program).resolve())
    rows = []
    with tempfile.TemporaryDirectory() as temporary:
        work = Path(temporary)
        paths = make_pictures(work, options.pictures, options.width, options.height)
        names = [path.name for path in paths]
        for jobs in (1, 2):
            def run_host(number: int, jobs: int = jobs) -> None:
                subprocess.run([options.program, "-q", "brighten", "40", "--out-dir", f"host-{jobs}-{number}",
                                "-j", str(jobs), "--", *names], cwd=work, check=True)
            rows.append((f"`tintwell -j {jobs}`", timed(options.rounds, run_host)))
        for workers in (1, 2):
            cluster_directory = work / f"cluster-{workers}"
            cluster_directory.mkdir()
            with LocalCluster(cluster_directory, [{}] * workers) as cluster:
                client = cluster.client()

                def run_cluster(number: int, workers: int = workers) -> None:
                    reports = tintwell.distributed.edit_many(client, paths, "brighten", 40, chunk=options.chunk,
                                                             out_dir=work / f"dask-{workers}-{number}")
                    assert all(report.succeeded for report in reports)
                rows.append((f"`edit_many`, {workers} worker{'s' if workers > 1 else ''}",
                             timed(options.rounds, run_cluster)))
                client.close()
    print(f"{options.pictures} pictures of {options.width} x {options.height}, brighten 40, "
          f"median of {options.rounds} rounds, load average {os.getloadavg()[0]:.1f}\n")
    print("| engine | seconds | pictures per second |\n|---|---|---|")
    for name, seconds in rows:
        print(f"| {name} | {seconds:.2f} | {options.pictures / seconds:.0f} |")


if __name__ == "__main__":
    main()
