"""Batches on a Dask distributed cluster: the pictures are cut into chunks,
each chunk is one tintwell batch run by a worker (tintwell installed on
every worker's machine, the files on a file system all of them see under
the same names).

A task that runs twice, because its worker died and the scheduler gave it
to another, gives the same bytes: each picture goes to a new file in
`out_dir` that tintwell writes as an unnamed temporary and renames over
the output only once it is whole, its input is never written, and every
edit is a function of the input alone (noise included: each picture is
edited in a fresh process whose rand() starts from the same state). Two
runs of one picture therefore rename the same bytes into place, in either
order, and a killed run leaves nothing. That is why edit_many takes no
in_place: a second run of an in-place edit would edit the edited picture.
"""

from __future__ import annotations

import os
from dataclasses import replace
from typing import Any, Iterable, List, Optional

from ._edits import Edit
from ._host import Path, Report, batch
from .errors import UsageError


def _edit_chunk(paths: List[str], edit: Edit, amount: Optional[int], out_dir: str, jobs: int) -> List[Report]:
    """What one worker runs: one tintwell batch over a chunk of pictures."""
    return batch(paths, edit, amount, out_dir=out_dir, jobs=jobs)


def edit_many(client: Any, paths: Iterable[Path], edit: Edit, amount: Optional[int] = None, *, out_dir: Path,
              chunk: int = 4, jobs: int = 1) -> List[Report]:
    """Edits every picture of `paths` into `out_dir` on the workers of the
    Dask `client`, `chunk` pictures a task, each task a tintwell batch of
    `jobs` at a time; returns one Report per picture, in the order given, as
    `batch` does. Names are made absolute here, so the workers must see the
    files under the same names. Raises UsageError when two pictures would be
    written to one file (the same file name), before anything runs."""
    if chunk < 1 or jobs < 1:
        raise ValueError("chunk and jobs must be at least 1")
    given = [os.fsdecode(os.fspath(path)) for path in paths]
    absolute = [os.path.abspath(path) for path in given]
    seen = {}
    for name, path in zip(given, absolute):
        other = seen.setdefault(os.path.basename(path), name)
        if other != name:
            raise UsageError(f"'{other}' and '{name}' would both be written to one file in {os.fsdecode(out_dir)}",
                             exit_status=1)
    target = os.path.abspath(os.fsdecode(os.fspath(out_dir)))
    chunks = [absolute[start:start + chunk] for start in range(0, len(absolute), chunk)]
    futures = client.map(_edit_chunk, chunks, edit=edit, amount=amount, out_dir=target, jobs=jobs)
    reports = [report for chunk_reports in client.gather(futures) for report in chunk_reports]
    return [replace(report, input=name) for report, name in zip(reports, given)]
