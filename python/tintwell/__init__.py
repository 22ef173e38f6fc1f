"""KorvaneTintwell from Python.

edit, check and batch run the tintwell program as a subprocess and read its
JSON report: the same checks and the same safe replacing as the command
line. call and edit_array load the library into this process (ctypes).
tintwell.distributed runs batches on a Dask cluster."""

from ._edits import EDITS
from ._host import PictureCheck, Report, batch, check, edit
from ._library import call, edit_array
from .errors import (AllocationFailedError, EditFailedError, InputChangedError, LibraryNotLoadedError,
                     LoadFailedError, RefusedError, RejectedError, SaveFailedError, TintwellError, UsageError)

__all__ = [
    "EDITS", "PictureCheck", "Report", "batch", "check", "edit", "call", "edit_array",
    "AllocationFailedError", "EditFailedError", "InputChangedError", "LibraryNotLoadedError", "LoadFailedError",
    "RefusedError", "RejectedError", "SaveFailedError", "TintwellError", "UsageError",
]
