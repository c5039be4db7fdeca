"""Scalar-or-array helpers shared by the vectorised functions."""

from typing import Any, Callable

import numpy as np


def text_array(names: Any) -> "np.ndarray[Any, Any]":
    """Names as a numpy str or bytes array (lists and object arrays are converted)."""
    array = np.asarray(names)
    if array.dtype.kind not in "US":
        array = array.astype(str)
    return array


def scalar_or_array(arg: Any, result: Any, unwrap: Callable[[Any], Any]) -> Any:
    """The result as a Python scalar when the argument was one, else the array."""
    return unwrap(result[()]) if np.ndim(arg) == 0 else result
