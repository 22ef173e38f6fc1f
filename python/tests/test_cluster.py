"""tintwell.distributed on a real cluster: a dask-scheduler and two
dask-worker processes on 127.0.0.1. One worker is killed with SIGKILL while
its tintwell is held inside the library's first write; the batch must still
complete with every output byte for byte what `tintwell -j 2` writes, and
leave no temporary."""

from __future__ import annotations

import os
import signal
import threading
import time
from pathlib import Path

import pytest

import tintwell
import tintwell.distributed
from conftest import held_program, leftovers, make_picture, processes, run_host, stopped_below
from local_cluster import LocalCluster, available

PICTURES = 300
# The held worker edits this many tasks' pictures before its tintwell is held.
HELD_FROM_RUN = 10
HOLD_SECONDS = 120

missing = available()
pytestmark = pytest.mark.skipif(missing is not None, reason=missing or "")


def wait_for_held(worker: int) -> int:
    deadline = time.monotonic() + HOLD_SECONDS
    while time.monotonic() < deadline:
        held = stopped_below(worker)
        if held:
            return held[0]
        time.sleep(0.05)
    raise AssertionError("the worker's tintwell was never held inside a call")


def wait_until_gone(pids) -> None:  # noqa: ANN001
    deadline = time.monotonic() + HOLD_SECONDS
    while any(pid in processes() for pid in pids):
        assert time.monotonic() < deadline, f"{pids} still run"
        time.sleep(0.05)


def test_a_worker_killed_inside_a_call_loses_nothing(tmp_path: Path) -> None:
    pictures = tmp_path / "in"
    pictures.mkdir()
    names = [f"p{index:03}.bmp" for index in range(PICTURES)]
    for index, name in enumerate(names):
        make_picture(pictures / name, 24 + index % 17, 9 + index % 5, index)
    reference = run_host("-q", "brighten", "40", "--out-dir", "../reference", "-j", "2", "--", *names, cwd=pictures)
    assert reference.returncode == 0, reference.stderr

    held = held_program(tmp_path, "op=write,path=/proc/self/fd/,nth=1,stop", from_run=HELD_FROM_RUN)
    cluster_directory = tmp_path / "cluster"
    cluster_directory.mkdir()
    with LocalCluster(cluster_directory, [{"TINTWELL_PROGRAM": str(held)}, {}]) as cluster:
        client = cluster.client()
        try:
            outcome: dict = {}

            def run() -> None:
                try:
                    outcome["reports"] = tintwell.distributed.edit_many(
                        client, [pictures / name for name in names], "brighten", 40, out_dir=tmp_path / "out")
                except BaseException as error:  # noqa: BLE001 - handed to the test's thread
                    outcome["error"] = error

            batch = threading.Thread(target=run)
            batch.start()
            doomed = cluster.workers[0]
            inside = wait_for_held(doomed.pid)
            its_batch = processes()[inside][1]
            os.kill(doomed.pid, signal.SIGKILL)
            doomed.wait()
            # The killed worker's tintwell goes on alone: it may finish its
            # picture as the task's second run does the same.
            os.kill(inside, signal.SIGCONT)
            batch.join(timeout=600)
            assert not batch.is_alive(), cluster.logs()
            assert "error" not in outcome, f"{outcome.get('error')!r}\n{cluster.logs()}"
            wait_until_gone([inside, its_batch])
        finally:
            client.close()

    reports = outcome["reports"]
    assert [Path(report.input).name for report in reports] == names
    assert {(report.kind, report.result) for report in reports} == {("succeeded", 999)}
    for name in names:
        assert (tmp_path / "out" / name).read_bytes() == (tmp_path / "reference" / name).read_bytes(), name
    assert sorted(path.name for path in (tmp_path / "out").iterdir()) == names
    assert leftovers(tmp_path) == []
    # The held worker had edited pictures before it was killed.
    assert int((tmp_path / "held-runs").read_text()) >= HELD_FROM_RUN


def test_edit_many_refuses_two_pictures_with_one_output(tmp_path: Path) -> None:
    for folder in ("a", "b"):
        (tmp_path / folder).mkdir()
        make_picture(tmp_path / folder / "same.bmp")
    with pytest.raises(tintwell.UsageError, match="would both be written to one file"):
        tintwell.distributed.edit_many(None, [tmp_path / "a/same.bmp", tmp_path / "b/same.bmp"], "copy",
                                       out_dir=tmp_path / "out")
