"""call and edit_array: the library loaded into this process with ctypes.
Noise draws from this process's own rand() state (the C library's, shared
by everything in the process that calls rand()); the library prints its
messages on this process's stdout (descriptor 1), as it always does."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Any, Optional

from . import _bmp, _locate
from ._edits import Edit, function_of
from ._host import Path
from .errors import RESULT_WRITTEN, LibraryNotLoadedError, error_for_result

_loaded: Optional[Any] = None
_loading = threading.Lock()


def _entry() -> Any:
    """Tintwell(const char16_t*, const char16_t*, int32_t, int32_t) -> int32_t."""
    global _loaded
    with _loading:
        if _loaded is None:
            try:
                library = ctypes.CDLL(_locate.library())
            except OSError as error:
                raise LibraryNotLoadedError(f"cannot load the library: {error}") from error
            entry = library.Tintwell
            entry.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
            entry.restype = ctypes.c_int32
            _loaded = entry
        return _loaded


def _utf16(path: Optional[Path]) -> Optional[bytes]:
    """A NUL-terminated UTF-16 name. Bytes that are not UTF-8 become lone
    surrogates, which the library refuses (a name is refused, never cut)."""
    if path is None:
        return None
    return os.fsdecode(os.fspath(path)).encode("utf-16-le", "surrogatepass") + b"\0\0"


def call(input: Path, output: Optional[Path], amount: int, function: int) -> int:
    """One call of the library, exactly: any function number and amount, the
    names as given, no check and no temporary (the output is written where
    it stands). Returns the library's result code (999 written, 0 read,
    123, -1, 432, 124). `output` None hands the library a null name."""
    return int(_entry()(_utf16(input), _utf16(output), int(amount), int(function)))


def _memory_file(name: str, data: bytes = b"") -> int:
    fd = os.memfd_create(name, os.MFD_CLOEXEC)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    except BaseException:
        os.close(fd)
        raise
    return fd


def _read_all(fd: int) -> bytes:
    size = os.fstat(fd).st_size
    return os.pread(fd, size, 0) if size else b""


def edit_array(array: Any, edit: Edit, amount: Optional[int] = None) -> Any:
    """Edits a height x width x 3 uint8 NumPy array of pixels in RGB order
    (as Pillow, imageio and Matplotlib hold them) and returns the edited
    array. The pixels go to the library as a picture in a memory file, in
    the file's own blue, green, red order, and come back the same way; no
    file is made on disk. Raises the exception of the result code when the
    library does not write its output."""
    function, value = function_of(edit, amount)
    data = _bmp.encode(array)
    height, width = array.shape[:2]
    source = _memory_file("tintwell-input", data)
    try:
        target = _memory_file("tintwell-output")
        try:
            result = call(f"/proc/self/fd/{source}", f"/proc/self/fd/{target}", value, function)
            if result != RESULT_WRITTEN:
                raise error_for_result(result, None)
            return _bmp.decode(_read_all(target), width, height)
        finally:
            os.close(target)
    finally:
        os.close(source)
