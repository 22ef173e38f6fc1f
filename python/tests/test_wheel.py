"""The wheel as a user makes it and installs it: `python3 -m build
--no-isolation` in the source tree, `pip install` into a fresh virtual
environment with nothing else, offline; the README's Python example must
then run there as written."""

from __future__ import annotations

import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

from conftest import leftovers


def readme_example(source_dir: Path) -> str:
    readme = (source_dir / "README.md").read_text()
    section = readme.split("\n## Python\n", 1)[1]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def clean_environment() -> dict:
    """The environment of a user who has installed nothing but the wheel."""
    return {key: value for key, value in os.environ.items()
            if not key.startswith(("TINTWELL_", "PYTHON", "LD_"))}


def test_the_wheel_installs_into_a_fresh_venv_and_runs_the_readme_example(tmp_path: Path,
                                                                         source_dir: Path) -> None:
    dist = tmp_path / "dist"
    subprocess.run([sys.executable, "-m", "build", "--no-isolation", "--outdir", str(dist), str(source_dir)],
                   check=True, capture_output=True, env=clean_environment())
    (wheel,) = dist.glob("tintwell-*.whl")
    with zipfile.ZipFile(wheel) as archive:
        modes = {info.filename: info.external_attr >> 16 for info in archive.infolist()}
    assert modes["tintwell/_data/bin/tintwell"] & 0o111
    assert "tintwell/_data/lib/libKorvaneTintwell.so.1" in modes
    assert "tintwell/distributed.py" in modes
    print(f"wheel: {wheel.name}, {wheel.stat().st_size} bytes")

    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, env=clean_environment())
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--quiet", str(wheel)], check=True,
                   env=clean_environment())
    listed = subprocess.run([python, "-m", "pip", "list", "--format=freeze"], check=True, capture_output=True,
                            text=True, env=clean_environment()).stdout
    # Nothing but what every venv has, and the wheel.
    assert {line.split("==")[0] for line in listed.split()} - {"pip", "setuptools"} == {"tintwell"}
    work = tmp_path / "work"
    work.mkdir()
    done = subprocess.run([python, "-c", readme_example(source_dir)], cwd=work, capture_output=True, text=True,
                          env=clean_environment())
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "True 2 2",
        "succeeded 999",
        "tintwell: missing.bmp: no such file; nothing written",
        "small.bmp inverted/small.bmp succeeded",
        "brighter.bmp inverted/brighter.bmp succeeded",
    ]
    # The program the package ran is the one the wheel carries.
    where = subprocess.run([python, "-c", "import tintwell._locate as l; print(l.program(), l.library())"],
                           cwd=work, capture_output=True, text=True, check=True, env=clean_environment()).stdout
    assert where.split() == [str(path) for path in sorted(venv.glob("lib/python3*/site-packages/tintwell/_data/*/*"))]
    assert leftovers(work) == []
