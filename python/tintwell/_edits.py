"""The edits by name and number, as tintwell --help lists them (a test
holds the two together)."""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Union

Edit = Union[str, int]

# name: (function number, whether it takes an amount)
EDITS: Dict[str, Tuple[int, bool]] = {
    "copy": (1, False),
    "brighten": (2, True),
    "darken": (3, True),
    "gray": (4, False),
    "invert": (5, False),
    "threshold": (6, True),
    "noise": (7, True),
    "tint-up": (8, True),
    "tint-down": (9, True),
    "read": (10, False),
}


def edit_word(edit: Edit) -> str:
    """The edit as the command line takes it: its name, or its number."""
    if isinstance(edit, bool) or not isinstance(edit, (str, int)):
        raise TypeError(f"an edit is a name or a number, not {edit!r}")
    return edit if isinstance(edit, str) else str(edit)


def function_of(edit: Edit, amount: Optional[int]) -> Tuple[int, int]:
    """The function number and amount to hand the library for `edit`."""
    word = edit_word(edit)
    for name, (function, needs_amount) in EDITS.items():
        if word in (name, str(function)):
            if needs_amount and amount is None:
                raise ValueError(f"{name} needs an amount")
            if not needs_amount and amount is not None:
                raise ValueError(f"{name} takes no amount")
            return function, int(amount or 0)
    raise ValueError(f"unknown edit {edit!r}")


def amount_words(edit: Edit, amount: Optional[int]) -> list:
    """EDIT [AMOUNT] for the command line."""
    if amount is not None and (isinstance(amount, bool) or not isinstance(amount, int)):
        raise TypeError(f"an amount is an integer, not {amount!r}")
    return [edit_word(edit)] + ([] if amount is None else [str(amount)])
