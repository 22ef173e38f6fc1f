"""The exceptions of the tintwell package, one class per way an edit ends
without its output in place, and the library's result codes."""

from __future__ import annotations

from typing import Optional

# The library's result codes, as include/korvane/tintwell.h defines them
# (a test holds the two together).
RESULT_WRITTEN = 999
RESULT_EXITED = 0
RESULT_LOAD_FAILED = 123
RESULT_ALLOCATION_FAILED = -1
RESULT_REJECTED = 432
RESULT_SAVE_FAILED = 124

# The host's exit statuses for one picture (see tintwell(1), EXIT STATUS).
EXIT_USAGE = 1
EXIT_LIBRARY_NOT_LOADED = 3


class TintwellError(Exception):
    """An edit that did not put its output in place.

    ``result`` is the library's result code (None when it was not called),
    ``file`` the file the failure is about, ``message`` the host's English
    line about it, ``kind`` the report's kind ("refused", "failed",
    "input-changed") and ``exit_status`` what the command line would have
    exited with.
    """

    def __init__(self, message: str, *, result: Optional[int] = None, file: Optional[str] = None,
                 kind: Optional[str] = None, exit_status: Optional[int] = None) -> None:
        super().__init__(message)
        self.message = message
        self.result = result
        self.file = file
        self.kind = kind
        self.exit_status = exit_status


class UsageError(TintwellError, ValueError):
    """The command could not be carried out as written (an unknown edit, a
    missing amount, a batch that would write one file twice...): nothing was
    edited."""


class LibraryNotLoadedError(TintwellError, OSError):
    """The library could not be loaded, or tintwell could not be run."""


class RefusedError(TintwellError):
    """tintwell refused the file (not a picture the library edits correctly,
    missing, unreadable, an output it cannot replace safely): nothing was
    written."""


class InputChangedError(TintwellError):
    """The input changed while the library read it: the edit was discarded
    and nothing was written."""


class EditFailedError(TintwellError):
    """The library returned a result code other than success, or the edit's
    process died: nothing was replaced."""


class LoadFailedError(EditFailedError):
    """Result 123: the input could not be opened or read."""


class SaveFailedError(EditFailedError):
    """Result 124: the output could not be opened or written."""


class RejectedError(EditFailedError):
    """Result 432: the function number is not between 1 and 10."""


class AllocationFailedError(EditFailedError):
    """Result -1: the pixel buffer could not be allocated, or the header's
    size is out of range."""


_BY_RESULT = {
    RESULT_LOAD_FAILED: LoadFailedError,
    RESULT_SAVE_FAILED: SaveFailedError,
    RESULT_REJECTED: RejectedError,
    RESULT_ALLOCATION_FAILED: AllocationFailedError,
}

_BY_KIND = {
    "refused": RefusedError,
    "input-changed": InputChangedError,
}


def error_for(kind: str, result: Optional[int], file: Optional[str], message: str,
              exit_status: Optional[int]) -> TintwellError:
    """The exception for an outcome that is not a success."""
    cls = _BY_KIND.get(kind) or _BY_RESULT.get(result if result is not None else RESULT_WRITTEN, EditFailedError)
    return cls(message, result=result, file=file, kind=kind, exit_status=exit_status)


def error_for_result(result: int, file: Optional[str]) -> TintwellError:
    """The exception for a library call that returned `result`, not success."""
    message = f"{file}: result {result}" if file else f"result {result}"
    return error_for("failed", result, file, message, 2)
