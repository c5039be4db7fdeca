"""Character-code and number conversions of the library, over whole buffers and arrays.

EBCDIC: the library's table (code page 037, printable ASCII only; every other byte becomes a
blank), applied to bytes or uint8 arrays of any length; a zero byte stays zero. For lossless text
decoding use Python's own "cp037" codec. BCD: packed decimal rows. Angles and times: the
library's twenty conversions between packed DMS/HMS/DM values, degrees, hours, seconds and
radians (pi = 3.141592653589 as in the library). Scalars give floats, arrays give float64 arrays.
All loops run in C++ without the GIL.
"""

from typing import Any, Union, overload

import numpy as np
import numpy.typing as npt

from . import _qrcore
from ._arrays import scalar_or_array


@overload
def ebcdic_to_ascii(data: Union[bytes, bytearray]) -> bytes: ...
@overload
def ebcdic_to_ascii(data: "npt.NDArray[np.uint8]") -> "npt.NDArray[np.uint8]": ...
def ebcdic_to_ascii(data: Any) -> Any:
    """EBCDIC bytes to ASCII through the library's table; bytes give bytes, arrays give uint8 arrays."""
    return _qrcore.ebcdic_to_ascii(data)


@overload
def ascii_to_ebcdic(data: Union[bytes, bytearray]) -> bytes: ...
@overload
def ascii_to_ebcdic(data: "npt.NDArray[np.uint8]") -> "npt.NDArray[np.uint8]": ...
def ascii_to_ebcdic(data: Any) -> Any:
    """ASCII bytes to EBCDIC through the library's table (bytes the table lacks become 0x40)."""
    return _qrcore.ascii_to_ebcdic(data)


@overload
def bcd_to_int(data: Union[bytes, bytearray]) -> int: ...  # type: ignore[misc]
@overload
def bcd_to_int(data: "npt.ArrayLike") -> "npt.NDArray[np.int32]": ...
def bcd_to_int(data: Any) -> Any:
    """Packed BCD to integers as the library reads it (two digits a byte, last byte most significant).

    bytes give one int; a uint8 array gives one int32 per row of its last axis.
    """
    if isinstance(data, (bytes, bytearray)):
        return int(_qrcore.bcd_rows(np.frombuffer(bytes(data), dtype=np.uint8))[()])
    return _qrcore.bcd_rows(np.asarray(data, dtype=np.uint8))


@overload
def _apply(name: str, values: float) -> float: ...
@overload
def _apply(name: str, values: Any) -> Any: ...
def _apply(name: str, values: Any) -> Any:
    return scalar_or_array(values, getattr(_qrcore, name)(np.asarray(values, dtype=np.float64)), float)


@overload
def second_to_hms(values: float) -> float: ...  # type: ignore[misc]
@overload
def second_to_hms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def second_to_hms(values: Any) -> Any:
    """Seconds to packed HMS (hours x 10000 + minutes x 100 + seconds); scalars give floats, arrays float64 arrays."""
    return _apply("second_to_hms", values)


@overload
def hms_to_second(values: float) -> float: ...  # type: ignore[misc]
@overload
def hms_to_second(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def hms_to_second(values: Any) -> Any:
    """Packed HMS to seconds; scalars give floats, arrays float64 arrays."""
    return _apply("hms_to_second", values)


@overload
def hms_to_hour(values: float) -> float: ...  # type: ignore[misc]
@overload
def hms_to_hour(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def hms_to_hour(values: Any) -> Any:
    """Packed HMS to decimal hours; scalars give floats, arrays float64 arrays."""
    return _apply("hms_to_hour", values)


@overload
def hour_to_hms(values: float) -> float: ...  # type: ignore[misc]
@overload
def hour_to_hms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def hour_to_hms(values: Any) -> Any:
    """Decimal hours to packed HMS; scalars give floats, arrays float64 arrays."""
    return _apply("hour_to_hms", values)


@overload
def second_to_dms(values: float) -> float: ...  # type: ignore[misc]
@overload
def second_to_dms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def second_to_dms(values: Any) -> Any:
    """Arc seconds to packed DMS (degrees x 10000 + minutes x 100 + seconds); scalars give floats, arrays float64 arrays."""
    return _apply("second_to_dms", values)


@overload
def dms_to_second(values: float) -> float: ...  # type: ignore[misc]
@overload
def dms_to_second(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dms_to_second(values: Any) -> Any:
    """Packed DMS to arc seconds; scalars give floats, arrays float64 arrays."""
    return _apply("dms_to_second", values)


@overload
def dms_to_degree(values: float) -> float: ...  # type: ignore[misc]
@overload
def dms_to_degree(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dms_to_degree(values: Any) -> Any:
    """Packed DMS to decimal degrees; scalars give floats, arrays float64 arrays."""
    return _apply("dms_to_degree", values)


@overload
def degree_to_dms(values: float) -> float: ...  # type: ignore[misc]
@overload
def degree_to_dms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def degree_to_dms(values: Any) -> Any:
    """Decimal degrees to packed DMS; scalars give floats, arrays float64 arrays."""
    return _apply("degree_to_dms", values)


@overload
def dms_to_radian(values: float) -> float: ...  # type: ignore[misc]
@overload
def dms_to_radian(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dms_to_radian(values: Any) -> Any:
    """Packed DMS to radians; scalars give floats, arrays float64 arrays."""
    return _apply("dms_to_radian", values)


@overload
def radian_to_dms(values: float) -> float: ...  # type: ignore[misc]
@overload
def radian_to_dms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def radian_to_dms(values: Any) -> Any:
    """Radians to packed DMS; scalars give floats, arrays float64 arrays."""
    return _apply("radian_to_dms", values)


@overload
def degree_to_radian(values: float) -> float: ...  # type: ignore[misc]
@overload
def degree_to_radian(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def degree_to_radian(values: Any) -> Any:
    """Decimal degrees to radians; scalars give floats, arrays float64 arrays."""
    return _apply("degree_to_radian", values)


@overload
def radian_to_degree(values: float) -> float: ...  # type: ignore[misc]
@overload
def radian_to_degree(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def radian_to_degree(values: Any) -> Any:
    """Radians to decimal degrees; scalars give floats, arrays float64 arrays."""
    return _apply("radian_to_degree", values)


@overload
def second_to_radian(values: float) -> float: ...  # type: ignore[misc]
@overload
def second_to_radian(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def second_to_radian(values: Any) -> Any:
    """Arc seconds to radians; scalars give floats, arrays float64 arrays."""
    return _apply("second_to_radian", values)


@overload
def radian_to_second(values: float) -> float: ...  # type: ignore[misc]
@overload
def radian_to_second(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def radian_to_second(values: Any) -> Any:
    """Radians to arc seconds; scalars give floats, arrays float64 arrays."""
    return _apply("radian_to_second", values)


@overload
def dm_to_degree(values: float) -> float: ...  # type: ignore[misc]
@overload
def dm_to_degree(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dm_to_degree(values: Any) -> Any:
    """Packed DM (degrees x 100 + minutes) to decimal degrees; scalars give floats, arrays float64 arrays."""
    return _apply("dm_to_degree", values)


@overload
def degree_to_dm(values: float) -> float: ...  # type: ignore[misc]
@overload
def degree_to_dm(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def degree_to_dm(values: Any) -> Any:
    """Decimal degrees to packed DM; scalars give floats, arrays float64 arrays."""
    return _apply("degree_to_dm", values)


@overload
def dm_to_radian(values: float) -> float: ...  # type: ignore[misc]
@overload
def dm_to_radian(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dm_to_radian(values: Any) -> Any:
    """Packed DM to radians; scalars give floats, arrays float64 arrays."""
    return _apply("dm_to_radian", values)


@overload
def radian_to_dm(values: float) -> float: ...  # type: ignore[misc]
@overload
def radian_to_dm(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def radian_to_dm(values: Any) -> Any:
    """Radians to packed DM; scalars give floats, arrays float64 arrays."""
    return _apply("radian_to_dm", values)


@overload
def dm_to_dms(values: float) -> float: ...  # type: ignore[misc]
@overload
def dm_to_dms(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dm_to_dms(values: Any) -> Any:
    """Packed DM to packed DMS; scalars give floats, arrays float64 arrays."""
    return _apply("dm_to_dms", values)


@overload
def dms_to_dm(values: float) -> float: ...  # type: ignore[misc]
@overload
def dms_to_dm(values: "npt.ArrayLike") -> "npt.NDArray[np.float64]": ...
def dms_to_dm(values: Any) -> Any:
    """Packed DMS to packed DM; scalars give floats, arrays float64 arrays."""
    return _apply("dms_to_dm", values)
