"""Survey flight names and their flight-number codes, one name or a whole array at a time.

A flight name is an optional area of one or two letters, a type letter from "NSCTI" and a number
up to 65535 ("AN01"), or one of the keywords RESET, NEXTIND and DUMMY. A name the codec refuses is
coded DUMMY (-32767), as in the library. Scalars give scalars; lists and numpy arrays give numpy
arrays (codes int64, names as numpy str arrays). The loops run in C++ without the GIL.
"""

from typing import Any, Union, overload

import numpy as np
import numpy.typing as npt

from . import _qrcore
from ._arrays import scalar_or_array, text_array

DUMMY = -32767
"""The code of a name that cannot be coded."""


@overload
def encode(names: Union[str, bytes]) -> int: ...  # type: ignore[misc]
@overload
def encode(names: Any) -> "npt.NDArray[np.int64]": ...
def encode(names: Any) -> Any:
    """The flight-number code of each name (blanks removed first); DUMMY for a name the codec refuses."""
    return scalar_or_array(names, _qrcore.flight_encode(text_array(names)), int)


@overload
def decode(codes: int) -> str: ...  # type: ignore[misc]
@overload
def decode(codes: Any) -> "npt.NDArray[np.str_]": ...
def decode(codes: Any) -> Any:
    """The name of each code as the library writes it ("DUMMY" for a code it cannot print)."""
    return scalar_or_array(codes, _qrcore.flight_decode(np.asarray(codes)), str)
