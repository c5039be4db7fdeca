"""Line and flight codecs: arrays and scalars agree with the library's own C functions."""

import ctypes

import numpy as np
import pytest

import qrcore

NAMES = ["AL0010", "al 0010", "L5", "T9010", "DW1", "DX1", "X12", "", "0", "RESET", "NEXTIND", "DUMMY",
         "L2147483647", "L2147483648", "L12A34", "AAAL1", "L" + "9" * 20, "  B 45 ", "Lé5", "@L3"]
FLIGHTS = ["AN01", "N1", "S65535", "S65536", "C7", "Z1", "RESET", "", "an 2", "ABN1"]


def c_line_code(library: ctypes.CDLL, name: str) -> int:
    code = ctypes.c_int64()
    library.ToIntLineNo(ctypes.create_string_buffer(name.encode()), ctypes.byref(code))
    return code.value


def c_flight_code(library: ctypes.CDLL, name: str) -> int:
    code = ctypes.c_int32()
    library.ToIntFlightNo(ctypes.create_string_buffer(name.encode()), ctypes.byref(code))
    return code.value


def c_text(library: ctypes.CDLL, function: str, code: int, ctype: type) -> str:
    buffer = ctypes.create_string_buffer(16)
    getattr(library, function)(ctype(code), buffer, 16)
    return buffer.value.decode()


@pytest.mark.parametrize("module, names, c_code, c_decode, ctype", [
    (qrcore.line, NAMES, c_line_code, "ToCharLineNo", ctypes.c_int64),
    (qrcore.flight, FLIGHTS, c_flight_code, "ToCharFlightNo", ctypes.c_int32),
])
def test_codec_matches_library(library: ctypes.CDLL, module, names, c_code, c_decode, ctype) -> None:
    expected = [c_code(library, name) for name in names]
    for form in (names, np.array(names), np.array([n.encode() for n in names])):
        codes = module.encode(form)
        assert codes.dtype == np.int64 and codes.tolist() == expected, form
    assert [module.encode(name) for name in names] == expected
    texts = module.decode(np.array(expected))
    assert texts.tolist() == [c_text(library, c_decode, code, ctype) for code in expected]
    valid = [code for code in expected if code != module.DUMMY]
    assert module.encode(module.decode(np.array(valid))).tolist() == valid
    assert module.decode(expected[0]) == texts[0] and isinstance(module.decode(expected[0]), str)
    grid = np.array(names[:4]).reshape(2, 2)
    assert module.encode(grid).shape == (2, 2)


def test_line_split_matches_library(library: ctypes.CDLL) -> None:
    codes = qrcore.line.encode(NAMES)
    number, kind, area = qrcore.line.split(codes)
    for i, code in enumerate(codes.tolist()):
        n, t, a = ctypes.c_int64(), ctypes.c_int16(), ctypes.c_int16()
        library.SplitIntLineNo(ctypes.c_int64(code), ctypes.byref(n), ctypes.byref(t), ctypes.byref(a))
        assert (number[i], kind[i], area[i]) == (n.value, t.value, a.value), NAMES[i]
    assert qrcore.line.split("AL0010") == ("0010", "L", "A", True)
