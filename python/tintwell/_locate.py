"""Where the tintwell program and the library are: named by the
environment, carried in the wheel, installed beside this package, or on the
system's search paths, in that order."""

from __future__ import annotations

import os
import shutil
from pathlib import Path
from typing import Optional

PROGRAM_VARIABLE = "TINTWELL_PROGRAM"
LIBRARY_VARIABLE = "TINTWELL_LIBRARY"
LIBRARY_FILE = "libKorvaneTintwell.so.1"

_PACKAGE = Path(__file__).resolve().parent
# The wheel carries the program and the library here, in the layout the
# program finds its library in (../lib from its own directory).
_CARRIED = _PACKAGE / "_data"


def _installed(kind: str) -> Optional[Path]:
    """The program or the library that `make install` and the Debian package
    put in this package's prefix (PREFIX/lib/pythonX/dist-packages/tintwell)."""
    try:
        from . import _installed as installed  # written by the install
    except ImportError:
        return None
    prefix = _PACKAGE.parents[3]
    return prefix / (installed.BINDIR if kind == "program" else installed.LIBDIR)


def program() -> str:
    """The tintwell program that edit, check and batch run."""
    named = os.environ.get(PROGRAM_VARIABLE)
    if named:
        return named
    for directory in (_CARRIED / "bin", _installed("program")):
        if directory is not None and (directory / "tintwell").is_file():
            return str(directory / "tintwell")
    found = shutil.which("tintwell")
    if found is None:
        raise FileNotFoundError("tintwell is not installed: no program beside this package, none on PATH "
                                f"(set {PROGRAM_VARIABLE} to name one)")
    return found


def library() -> str:
    """The library that call and edit_array load: a path, or the file name
    for the system's search."""
    named = os.environ.get(LIBRARY_VARIABLE)
    if named:
        return named
    for directory in (_CARRIED / "lib", _installed("library")):
        if directory is not None and (directory / LIBRARY_FILE).is_file():
            return str(directory / LIBRARY_FILE)
    return LIBRARY_FILE
