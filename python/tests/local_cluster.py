"""A real Dask cluster on 127.0.0.1 for the tests and the benchmark: a
dask-scheduler and dask-worker processes (one thread each, no nanny, so
that each worker is exactly one process), each with its own environment."""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path
from typing import Dict, List, Optional

SCHEDULER = "dask-scheduler"
WORKER = "dask-worker"
READY_SECONDS = 120


def available() -> Optional[str]:
    """Why no cluster can be started here; None when one can."""
    try:
        import distributed  # noqa: F401
    except ImportError:
        return "distributed is not installed (python3-distributed)"
    for program in (SCHEDULER, WORKER):
        if shutil.which(program) is None:
            return f"{program} is not on PATH (python3-distributed)"
    return None


class LocalCluster:
    """with LocalCluster(directory, [environment, ...]) as cluster: one worker
    per environment (added to this process's own)."""

    def __init__(self, directory: Path, workers: List[Dict[str, str]]) -> None:
        self.directory = directory
        self.scheduler_file = directory / "scheduler.json"
        self.worker_environments = workers
        self.processes: List[subprocess.Popen] = []
        self.workers: List[subprocess.Popen] = []

    def _start(self, words: List[str], log: str, extra: Optional[Dict[str, str]] = None) -> subprocess.Popen:
        output = open(self.directory / log, "wb")
        process = subprocess.Popen(words, stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   env=dict(os.environ, **(extra or {})), cwd=self.directory)
        output.close()
        self.processes.append(process)
        return process

    def __enter__(self) -> "LocalCluster":
        self._start([SCHEDULER, "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                     "--scheduler-file", str(self.scheduler_file)], "scheduler.log")
        self._wait_for(lambda: self.scheduler_file.exists(), "the scheduler")
        for number, environment in enumerate(self.worker_environments):
            local = self.directory / f"worker-{number}"
            local.mkdir()
            self.workers.append(self._start(
                [WORKER, "--scheduler-file", str(self.scheduler_file), "--host", "127.0.0.1", "--nthreads", "1",
                 "--nworkers", "1", "--no-nanny", "--no-dashboard", "--name", f"worker-{number}",
                 "--local-directory", str(local)], f"worker-{number}.log", environment))
        return self

    def client(self):  # noqa: ANN201 - distributed.Client
        from distributed import Client

        client = Client(scheduler_file=str(self.scheduler_file), timeout=READY_SECONDS)
        client.wait_for_workers(len(self.workers), timeout=READY_SECONDS)
        return client

    def _wait_for(self, ready, what: str) -> None:  # noqa: ANN001
        deadline = time.monotonic() + READY_SECONDS
        while not ready():
            if time.monotonic() > deadline or any(process.poll() is not None for process in self.processes):
                raise RuntimeError(f"{what} did not start: {self.logs()}")
            time.sleep(0.1)

    def logs(self) -> str:
        return "\n".join(f"== {log.name}\n{log.read_text(errors='replace')[-3000:]}"
                         for log in sorted(self.directory.glob("*.log")))

    def __exit__(self, *exception) -> None:  # noqa: ANN002
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in self.processes:
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
