"""qrcore.segy: headers and traces of files written here in each sample format and byte order,
against numpy's own reading of the same bytes (and a plain IBM float formula)."""

import pathlib

import numpy as np
import pytest

import qrcore
from qrcore import segy

SAMPLES, TRACES = 50, 7


def ibm_reference(bits: np.ndarray) -> np.ndarray:
    """IBM floats by their definition, in Python floats, rounded once to float32."""
    with np.errstate(over="ignore"):
        return np.array([np.float32(v) for v in _ibm_values(bits)], dtype=np.float32)


def _ibm_values(bits: np.ndarray) -> list:
    out: list = []
    for word in bits.tolist():
        sign = -1.0 if word >> 31 else 1.0
        value = sign * (word & 0xFFFFFF) / float(1 << 24) * 16.0 ** (((word >> 24) & 0x7F) - 64)
        out.append(value)
    return out


def write_segy(path: pathlib.Path, fmt: int, order: str, samples: np.ndarray, text: str, extended: int = 0) -> None:
    o = ">" if order == "big" else "<"
    binary = np.zeros(1, dtype=segy._struct(segy.BINARY_FIELDS, segy.TEXT_BYTES, o, segy.BINARY_BYTES))
    binary["format"], binary["samples_per_trace"], binary["sample_interval"] = fmt, SAMPLES, 1000
    binary["extended_text_headers"] = extended
    headers = np.zeros(TRACES, dtype=segy._struct(segy.TRACE_HEADER_FIELDS, 0, o, segy.TRACE_HEADER_BYTES))
    headers["trace_sequence_line"] = np.arange(1, TRACES + 1)
    headers["cdp_x"] = np.arange(TRACES) * -1000
    headers["samples"] = SAMPLES
    with open(path, "wb") as f:
        f.write(text.encode("cp037"))
        f.write(binary.tobytes())
        for _ in range(extended):
            f.write(text.encode("cp037"))
        for k in range(TRACES):
            f.write(headers[k:k + 1].tobytes())
            f.write(samples[k].tobytes())


@pytest.mark.parametrize("fmt, order", [(1, "big"), (1, "little"), (2, "big"), (3, "big"), (5, "big"),
                                        (5, "little"), (8, "big"), (6, "big"), (16, "big")])
def test_traces_and_headers(scratch: pathlib.Path, fmt: int, order: str) -> None:
    rng = np.random.default_rng(fmt)
    kind = np.dtype(segy.SAMPLE_TYPES[fmt]).newbyteorder(">" if order == "big" else "<")
    if fmt == 1:
        raw = rng.integers(0, 2**32, size=(TRACES, SAMPLES), dtype=np.uint64).astype(np.uint32)
        raw[0, :3] = [0, 0x80000000, 0x7FFFFFFF]
        samples = raw.astype(kind)
        expected = ibm_reference(raw.ravel()).reshape(TRACES, SAMPLES)
    else:
        info = np.finfo(kind) if kind.kind == "f" else np.iinfo(kind)
        samples = rng.uniform(max(info.min, -1e6), min(info.max, 1e6), size=(TRACES, SAMPLES)).astype(kind)
        expected = samples.astype(np.float32)
    text = "".join(f"C{i + 1:2d} Ñ[]^¬ lossless card {i + 1}".ljust(80) for i in range(40))
    path = scratch / "test.sgy"
    write_segy(path, fmt, order, samples, text, extended=1)
    with segy.open(path) as f:
        assert (f.trace_count, f.format, f.samples, f.byte_order) == (TRACES, fmt, SAMPLES, order)
        assert f.text == [text, text] and f.binary["sample_interval"] == 1000
        np.testing.assert_array_equal(f.traces(), expected)
        np.testing.assert_array_equal(f.trace(-1), expected[-1])
        np.testing.assert_array_equal(f.traces(range(2, 5)), expected[2:5])
        headers = f.trace_headers(slice(1, None))
        assert headers["trace_sequence_line"].tolist() == list(range(2, TRACES + 1))
        assert headers["cdp_x"].tolist() == [-1000 * k for k in range(1, TRACES)]


def test_cp1047_text_is_lossless() -> None:
    every = bytes(range(256)) * 12 + bytes(range(128))
    decoded = segy.decode_text(every, "cp1047")
    assert len(decoded) == 3200 and len(set(decoded[:256])) == 256
    assert decoded[0xAD] == "[" and decoded[0xBD] == "]" and decoded[0x5F] == "^"


def test_short_file_refused(scratch: pathlib.Path) -> None:
    path = scratch / "short.sgy"
    path.write_bytes(b"\x40" * 3300)
    with pytest.raises(qrcore.Error):
        segy.open(path)
