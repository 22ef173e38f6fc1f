"""Arrays of pixels <-> the one layout the library edits: a 54-byte header,
bottom-up rows of blue, green, red, each padded with zeros to 4 bytes."""

from __future__ import annotations

import struct
from typing import Any

HEADER_SIZE = 54
_INFO_HEADER_SIZE = 40
_BITS_PER_PIXEL = 24
_PIXELS_PER_METRE = 2835  # 72 dots per inch


def row_size(width: int) -> int:
    return (width * 3 + 3) // 4 * 4


def encode(array: Any) -> bytes:
    """The BMP file of a height x width x 3 uint8 array in RGB order."""
    import numpy as np

    pixels = np.asarray(array)
    if pixels.dtype != np.uint8 or pixels.ndim != 3 or pixels.shape[2] != 3:
        raise ValueError(f"expected a height x width x 3 uint8 array, got {pixels.shape} {pixels.dtype}")
    height, width = pixels.shape[:2]
    if height == 0 or width == 0:
        raise ValueError("the array holds no pixels")
    rows = np.zeros((height, row_size(width)), dtype=np.uint8)
    # Bottom-up rows, each pixel blue, green, red.
    rows[:, : width * 3] = pixels[::-1, :, ::-1].reshape(height, width * 3)
    size = rows.size
    header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", HEADER_SIZE + size, 0, 0, HEADER_SIZE, _INFO_HEADER_SIZE,
                         width, height, 1, _BITS_PER_PIXEL, 0, size, _PIXELS_PER_METRE, _PIXELS_PER_METRE, 0, 0)
    return header + rows.tobytes()


def decode(data: bytes, width: int, height: int) -> Any:
    """The height x width x 3 RGB array of a file `encode` made the layout of."""
    import numpy as np

    expected = HEADER_SIZE + row_size(width) * height
    if len(data) < expected:
        raise ValueError(f"the output holds {len(data)} of {expected} bytes")
    rows = np.frombuffer(data, dtype=np.uint8, count=expected - HEADER_SIZE, offset=HEADER_SIZE)
    rows = rows.reshape(height, row_size(width))[:, : width * 3]
    return rows.reshape(height, width, 3)[::-1, :, ::-1].copy()
