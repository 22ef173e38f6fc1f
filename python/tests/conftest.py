"""Shared fixtures of the package's tests: the build under test (named by
the environment ctest sets), pictures on disk, and the model over pixels."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path
from typing import Callable

import pytest


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "in_process: loads the library into the test's own process")


def pytest_terminal_summary(terminalreporter, exitstatus, config) -> None:  # noqa: ANN001
    """Each skip as "SKIP: reason", the line `make test` collects; under
    TINTWELL_REQUIRE_ALL=1 (CI) a skip fails the run."""
    skipped = terminalreporter.stats.get("skipped", [])
    for report in skipped:
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
        terminalreporter.write_line(f"SKIP: {reason.removeprefix('Skipped: ')}")


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if os.environ.get("TINTWELL_REQUIRE_ALL") == "1" and reporter and reporter.stats.get("skipped"):
        session.exitstatus = 1


def required(name: str) -> str:
    value = os.environ.get(name)
    if not value:
        pytest.skip(f"{name} is not set: run the tests through ctest")
    return value


@pytest.fixture
def program() -> str:
    return required("TINTWELL_PROGRAM")


@pytest.fixture
def source_dir() -> Path:
    return Path(required("TINTWELL_SOURCE_DIR"))


def make_picture(path: Path, width: int = 5, height: int = 3, seed: int = 0) -> bytes:
    """A picture of random pixels, written through the package's own
    encoding (the array tests check that encoding against the model)."""
    import numpy as np

    from tintwell import _bmp

    data = _bmp.encode(np.random.default_rng(seed).integers(0, 256, (height, width, 3), dtype=np.uint8))
    path.write_bytes(data)
    return data


@pytest.fixture
def picture(tmp_path: Path) -> Callable[..., Path]:
    """picture(name, width=5, height=3, seed=0): a picture in the test's directory."""
    def make(name: str, width: int = 5, height: int = 3, seed: int = 0) -> Path:
        path = tmp_path / name
        make_picture(path, width, height, seed)
        return path
    return make


def run_host(*words: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([required("TINTWELL_PROGRAM"), *words], cwd=cwd, capture_output=True)


def leftovers(directory: Path) -> list:
    """Temporaries the host would have left: .NAME.tintwell-XXXXXX."""
    return sorted(str(path) for path in directory.rglob(".*.tintwell-*"))


def held_program(directory: Path, rule: str, from_run: int = 1) -> Path:
    """A stand-in for the program that runs the real one, from its
    `from_run`th run on (counted in the directory) with the fault interposer
    applying `rule`, e.g. holding it (stop) at the library's first write."""
    interposer = required("TINTWELL_FAULT_INJECTION")
    script = directory / "held-tintwell"
    count = directory / "held-runs"
    script.write_text(f"""#!/bin/sh
runs=$(( $(cat '{count}' 2>/dev/null || echo 0) + 1 ))
echo "$runs" > '{count}'
if [ "$runs" -ge {from_run} ]; then
    export LD_PRELOAD='{interposer}' TINTWELL_FAULTS='{rule}'
    # A sanitized program: the interposer comes before the sanitizer's runtime.
    export ASAN_OPTIONS="${{ASAN_OPTIONS:-}}:verify_asan_link_order=0"
fi
exec '{required("TINTWELL_PROGRAM")}' "$@"
""")
    script.chmod(0o755)
    return script


def processes() -> "dict[int, tuple[str, int]]":
    """Every live process: its state and parent."""
    found = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            text = stat.read_text()
        except OSError:
            continue
        state, parent = text.rsplit(")", 1)[1].split()[:2]
        found[int(stat.parent.name)] = (state, int(parent))
    return found


def stopped_below(ancestor: int) -> "list[int]":
    """The stopped processes that descend from `ancestor`."""
    table = processes()
    found = []
    for pid, (state, parent) in table.items():
        if state != "T":
            continue
        while parent > 1 and parent != ancestor:
            parent = table.get(parent, ("", 0))[1]
        if parent == ancestor:
            found.append(pid)
    return found
