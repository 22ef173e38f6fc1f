"""edit, check and batch: the packaged tintwell program run as a
subprocess, its --report=json read back. The program, not this package,
checks pictures and replaces outputs safely; it also changes process-wide
state (umask, signal handlers, descriptor 1, fork) that a Python process
must keep, so it never runs in this process."""

from __future__ import annotations

import json
import os
import signal
import subprocess
from dataclasses import dataclass
from typing import Any, Dict, Iterable, List, Optional, Sequence, Union

from . import _locate
from ._edits import Edit, amount_words
from .errors import (EXIT_LIBRARY_NOT_LOADED, EXIT_USAGE, LibraryNotLoadedError, TintwellError, UsageError,
                     error_for)

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

@dataclass(frozen=True)
class Report:
    """What became of one picture, as tintwell --report=json says it."""

    input: str
    output: Optional[str]
    file: str
    kind: str  # "succeeded", "refused", "failed" or "input-changed"
    result: Optional[int]  # the library's result code; None when it was not called
    exit_status: int
    message: Optional[str]  # the host's English lines about it
    reason: Optional[str] = None  # why it did not succeed, in English, without the file's name
    # What the host's check found the input to be (width, height,
    # bits_per_pixel, file_size, through_copy); None when it did not check it
    # or refused it.
    picture: Optional[Dict[str, Any]] = None

    @property
    def succeeded(self) -> bool:
        return self.kind == "succeeded"

    def error(self) -> Optional[TintwellError]:
        """The exception this outcome stands for; None for a success."""
        if self.succeeded:
            return None
        return error_for(self.kind, self.result, self.file, self.message or self.kind, self.exit_status)

    def raise_for_outcome(self) -> "Report":
        """Raises the exception this outcome stands for; returns the report on success."""
        error = self.error()
        if error is not None:
            raise error
        return self


@dataclass(frozen=True)
class PictureCheck:
    """What `check` found: whether tintwell edits the picture, why not, and
    what it is, as tintwell's own check read its headers."""

    path: str
    editable: bool
    reason: Optional[str]  # why tintwell does not edit it, in English ("64 bits per pixel")
    width: Optional[int]
    height: Optional[int]  # rows, whichever way they run
    bits_per_pixel: Optional[int]
    file_size: Optional[int]  # the file's length in bytes
    through_copy: Optional[bool]  # edited through a 24-bit copy rather than as it stands
    report: Report


def _word(path: Path) -> bytes:
    """A file name as the program takes it: bytes, whatever form it came in."""
    return os.fsencode(os.fspath(path))


def _run(words: Sequence[Union[str, bytes]], quiet: bool = True) -> "tuple[List[Report], bytes]":
    """Runs tintwell with --report=json; its reports and its stderr. Raises
    for a run that reports no picture: a usage error, a library that cannot
    be loaded, a batch refused before it started. Ctrl+C (KeyboardInterrupt)
    is passed on to tintwell, which removes its temporary; once it has ended
    the KeyboardInterrupt goes on."""
    command = [_locate.program(), "--report=json"] + (["-q"] if quiet else []) + list(words)
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
    except OSError as error:
        raise LibraryNotLoadedError(f"cannot run {command[0]}: {error}") from error
    try:
        stdout, stderr = process.communicate()
    except BaseException:
        if process.poll() is None:
            process.send_signal(signal.SIGINT)
        process.communicate()
        raise
    reports = [Report(**json.loads(line)) for line in stdout.decode("utf-8", "replace").splitlines() if line]
    if not reports:
        text = stderr.decode("utf-8", "replace").strip()
        if process.returncode == EXIT_USAGE:
            raise UsageError(text, exit_status=process.returncode)
        if process.returncode == EXIT_LIBRARY_NOT_LOADED:
            raise LibraryNotLoadedError(text, exit_status=process.returncode)
        raise TintwellError(text or f"tintwell ended with status {process.returncode}",
                            exit_status=process.returncode)
    return reports, stderr


def edit(input: Path, output: Optional[Path], edit: Edit, amount: Optional[int] = None, *,
         in_place: bool = False) -> Report:
    """Edits one picture through tintwell: `edit` is a name ("brighten") or a
    function number (2); the edits that take an amount need `amount`. With
    in_place=True the output replaces the input (leave `output` None).

    Returns the report of a success; raises RefusedError, LoadFailedError,
    SaveFailedError, RejectedError, AllocationFailedError, EditFailedError or
    InputChangedError otherwise, and UsageError for a call that cannot be
    carried out as written."""
    words: List[Union[str, bytes]] = amount_words(edit, amount)
    if in_place:
        if output is not None:
            raise UsageError("in_place=True writes over the input: give no output")
        words += ["--in-place", "--", _word(input)]
    else:
        if output is None:
            raise UsageError("give an output, or in_place=True")
        words += ["--", _word(input), _word(output)]
    reports, _ = _run(words)
    return reports[0].raise_for_outcome()


def check(path: Path) -> PictureCheck:
    """Whether tintwell would edit the picture at `path`, and why not: the
    library reads it (tintwell read), nothing is written. What the picture
    is comes from tintwell's report, in numbers, not from any message.
    Never raises for a picture that cannot be edited; says why in `reason`."""
    reports, _ = _run(["read", "--", _word(path)])
    report = reports[0]
    picture = report.picture if report.succeeded and report.picture else {}
    return PictureCheck(path=report.input, editable=report.succeeded, reason=report.reason,
                        width=picture.get("width"), height=picture.get("height"),
                        bits_per_pixel=picture.get("bits_per_pixel"), file_size=picture.get("file_size"),
                        through_copy=picture.get("through_copy"), report=report)


def batch(paths: Iterable[Path], edit: Edit, amount: Optional[int] = None, *, out_dir: Optional[Path] = None,
          in_place: bool = False, jobs: Optional[int] = None) -> List[Report]:
    """Edits many pictures in one tintwell batch, `jobs` at a time (default:
    the processors tintwell may use), into `out_dir` under their own names or
    in place; the edit "read" takes neither. Returns one report per picture,
    in the order given; a picture that failed does not raise (see
    Report.error). Raises UsageError for a batch tintwell refuses before
    starting (two outputs into one file, an output over an input)."""
    words: List[Union[str, bytes]] = amount_words(edit, amount)
    if out_dir is not None:
        words += ["--out-dir", _word(out_dir)]
    if in_place:
        words.append("--in-place")
    words += ["-j", str(jobs if jobs is not None else os.cpu_count() or 1)]
    names = [_word(path) for path in paths]
    if not names:
        return []
    reports, _ = _run(words + ["--"] + names)
    return reports
