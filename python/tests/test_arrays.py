"""edit_array against the model of the tests (tests/support/model.cpp, run
over pixels by tintwell_model_pixels): every edit but noise, odd sizes and
amounts that wrap, arrays in RGB order."""

from __future__ import annotations

import subprocess

import numpy as np
import pytest

import tintwell
from conftest import required

pytestmark = pytest.mark.in_process

SIZES = [(1, 1), (2, 3), (5, 7), (16, 9)]
EDITS = [("copy", None), ("brighten", 40), ("darken", 300), ("gray", None), ("invert", None),
         ("threshold", 128), ("tint-up", -1), ("tint-down", 77), ("noise", 0)]


def model(pixels: np.ndarray, function: int, amount: int) -> np.ndarray:
    height, width = pixels.shape[:2]
    done = subprocess.run([required("TINTWELL_MODEL_PIXELS"), str(function), str(amount), str(width), str(height)],
                          input=pixels.tobytes(), capture_output=True, check=True)
    return np.frombuffer(done.stdout, dtype=np.uint8).reshape(height, width, 3)


@pytest.mark.parametrize("edit, amount", EDITS)
@pytest.mark.parametrize("height, width", SIZES)
def test_edit_array_matches_the_model(edit, amount, height, width) -> None:
    pixels = np.random.default_rng(height * 100 + width).integers(0, 256, (height, width, 3), dtype=np.uint8)
    kept = pixels.copy()
    function = tintwell.EDITS[edit][0]
    edited = tintwell.edit_array(pixels, edit, amount)
    assert edited.dtype == np.uint8 and edited.shape == pixels.shape
    np.testing.assert_array_equal(edited, model(pixels, function, amount or 0))
    np.testing.assert_array_equal(pixels, kept)  # the input is left alone


def test_the_array_is_rgb() -> None:
    # One pure red, one pure blue pixel: gray weighs the channels apart, so
    # an array read as BGR would swap the two results.
    pixels = np.array([[[255, 0, 0], [0, 0, 255]]], dtype=np.uint8)
    gray = tintwell.edit_array(pixels, "gray")
    np.testing.assert_array_equal(gray, model(pixels, 4, 0))
    assert gray[0, 0, 0] != gray[0, 1, 0]


def test_a_view_of_another_array_is_taken_as_it_reads() -> None:
    pixels = np.random.default_rng(3).integers(0, 256, (6, 8, 3), dtype=np.uint8)
    view = pixels[::2, 1::3]
    np.testing.assert_array_equal(tintwell.edit_array(view, 5), model(np.ascontiguousarray(view), 5, 0))


def test_noise_stays_below_its_amount() -> None:
    pixels = np.zeros((4, 4, 3), dtype=np.uint8)
    noisy = tintwell.edit_array(pixels, "noise", 10)
    assert noisy.max() < 10


@pytest.mark.parametrize("array, edit, amount, error", [
    (np.zeros((2, 2, 3), dtype=np.uint16), "copy", None, ValueError),
    (np.zeros((2, 2), dtype=np.uint8), "copy", None, ValueError),
    (np.zeros((2, 2, 4), dtype=np.uint8), "copy", None, ValueError),
    (np.zeros((0, 2, 3), dtype=np.uint8), "copy", None, ValueError),
    (np.zeros((2, 2, 3), dtype=np.uint8), "brighten", None, ValueError),
    (np.zeros((2, 2, 3), dtype=np.uint8), "copy", 4, ValueError),
    (np.zeros((2, 2, 3), dtype=np.uint8), "frobnicate", None, ValueError),
    (np.zeros((2, 2, 3), dtype=np.uint8), 11, None, ValueError),
    (np.zeros((2, 2, 3), dtype=np.uint8), 2.5, None, TypeError),
])
def test_what_is_not_an_edit_of_a_picture_raises(array, edit, amount, error) -> None:
    with pytest.raises(error):
        tintwell.edit_array(array, edit, amount)
