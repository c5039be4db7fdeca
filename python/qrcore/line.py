"""Survey line names and their 64-bit line-number codes, one name or a whole array at a time.

A line name is an optional area of one or two letters, a type letter from "LBTRSPD" and a number
("AL0123", "T45"), or one of the keywords RESET (-1), NEXTIND (0) and DUMMY (-32767). A name the
codec refuses is coded DUMMY, as in the library; no exception is raised per element. Scalars give
scalars; lists and numpy arrays give numpy arrays (codes int64, names as numpy str arrays). The
loops run in C++ without the GIL.
"""

from typing import Any, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from . import _qrcore
from ._arrays import scalar_or_array, text_array

DUMMY = -32767
"""The code of a name that cannot be coded."""

Names = Union[str, bytes, "npt.ArrayLike"]


@overload
def encode(names: Union[str, bytes]) -> int: ...  # type: ignore[misc]
@overload
def encode(names: Any) -> "npt.NDArray[np.int64]": ...
def encode(names: Any) -> Any:
    """The line-number code of each name (blanks removed first); DUMMY for a name the codec refuses."""
    array = text_array(names)
    return scalar_or_array(names, _qrcore.line_encode(array), int)


@overload
def decode(codes: int) -> str: ...  # type: ignore[misc]
@overload
def decode(codes: Any) -> "npt.NDArray[np.str_]": ...
def decode(codes: Any) -> Any:
    """The name of each code as the library writes it ("DUMMY" for a code it cannot print)."""
    return scalar_or_array(codes, _qrcore.line_decode(np.asarray(codes)), str)


def split(values: Any) -> Tuple[Any, ...]:
    """Split codes or names into their parts.

    For codes (ints or an integer array): ``(number, type, area)``, the number (int64) and the type
    index and area code (int16) as the library splits them. For names (str or a str array):
    ``(number, type, area, ok)`` as texts: the number part, the upper-cased type letter and the
    area letters, and whether the name could be split. Scalars give scalars.
    """
    array = np.asarray(values)
    if array.dtype.kind in "iu":
        codes = _qrcore.line_split_codes(array)
        return tuple(scalar_or_array(values, part, int) for part in codes)
    texts = _qrcore.line_split_names(text_array(values))
    unwraps = (str, str, str, bool)
    return tuple(scalar_or_array(values, part, unwrap) for part, unwrap in zip(texts, unwraps))
