"""Conversions over arrays agree with the library's C functions called one value at a time."""

import ctypes

import numpy as np
import pytest

import qrcore


def c_translate(library: ctypes.CDLL, function: str, byte: int) -> int:
    text = ctypes.create_string_buffer(bytes([byte]))
    getattr(library, function)(text)
    return text.raw[0]


@pytest.mark.parametrize("convert, function", [(qrcore.convert.ebcdic_to_ascii, "EbcdicToAscii"),
                                               (qrcore.convert.ascii_to_ebcdic, "AsciiToEbcdic")])
def test_ebcdic_tables(library: ctypes.CDLL, convert, function: str) -> None:
    every = np.arange(1, 256, dtype=np.uint8)
    expected = [c_translate(library, function, b) for b in range(1, 256)]
    assert convert(every).tolist() == expected
    assert convert(every.tobytes()) == bytes(expected)
    assert convert(b"\x00ab\x00") [0::3] == b"\x00\x00"
    assert convert(np.tile(every, (3, 2))).tolist() == [expected * 2] * 3


def test_bcd_rows(library: ctypes.CDLL) -> None:
    rows = np.random.default_rng(1).integers(0, 256, size=(50, 5), dtype=np.uint8)
    library.BcdTol.restype = ctypes.c_int32
    expected = [library.BcdTol(ctypes.c_char_p(row.tobytes()), 5) for row in rows]
    assert qrcore.convert.bcd_to_int(rows).tolist() == expected
    assert qrcore.convert.bcd_to_int(b"\x34\x12") == 1234


@pytest.mark.parametrize("name", qrcore._qrcore.angle_time_conversions)
def test_angle_time(library: ctypes.CDLL, name: str) -> None:
    c_name = {"hms": "HMS", "dms": "DMS", "dm": "DM"}
    c_function = "".join(c_name.get(part, part.capitalize()) for part in name.split("_"))
    function = getattr(library, c_function)
    function.restype = ctypes.c_double
    values = np.array([0.0, 1.5, -123456.789, 301530.25, 1e12, np.nan])
    expected = [function(ctypes.c_double(v)) for v in values]
    result = getattr(qrcore.convert, name)(values)
    np.testing.assert_array_equal(result, expected)
    assert getattr(qrcore.convert, name)(1.5) == expected[1]
