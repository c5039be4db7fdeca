"""SEG-Y files through mapped views: textual and binary headers, trace headers and traces.

``qrcore.segy.open(path)`` maps the file read-only and returns a ``SegyFile``. Trace data is read
in place from the mapped pages and converted once into the float32 arrays returned (formats 1
IBM float, 2 int32, 3 int16, 5 IEEE float, 6 IEEE double, 8 int8, 9 int64, 10 uint32, 11 uint16,
12 uint64, 16 uint8). Files of fixed-length traces in either byte order (big-endian, the
standard's, unless the format code only makes sense little-endian) are read.
"""

import builtins
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _qrcore
from ._errors import Error
from ._qrcore import MapFile

TEXT_BYTES = 3200
BINARY_BYTES = 400
TRACE_HEADER_BYTES = 240
_VIEW_BYTES = 1 << 30  # traces are read through views of at most this many bytes

# Binary header fields: (byte position in the file, 1-based), type, name.
BINARY_FIELDS: List[Tuple[int, str, str]] = [
    (3201, "i4", "job_id"), (3205, "i4", "line_number"), (3209, "i4", "reel_number"),
    (3213, "i2", "traces_per_ensemble"), (3215, "i2", "aux_traces_per_ensemble"), (3217, "i2", "sample_interval"),
    (3219, "i2", "sample_interval_original"), (3221, "u2", "samples_per_trace"),
    (3223, "u2", "samples_per_trace_original"), (3225, "i2", "format"), (3227, "i2", "ensemble_fold"),
    (3229, "i2", "sorting_code"), (3231, "i2", "vertical_sum_code"), (3233, "i2", "sweep_freq_start"),
    (3235, "i2", "sweep_freq_end"), (3237, "i2", "sweep_length"), (3239, "i2", "sweep_type"),
    (3241, "i2", "sweep_channel"), (3243, "i2", "sweep_taper_start"), (3245, "i2", "sweep_taper_end"),
    (3247, "i2", "taper_type"), (3249, "i2", "correlated"), (3251, "i2", "binary_gain_recovered"),
    (3253, "i2", "amplitude_recovery"), (3255, "i2", "measurement_system"), (3257, "i2", "impulse_polarity"),
    (3259, "i2", "vibratory_polarity"), (3261, "u4", "extended_traces_per_ensemble"),
    (3265, "u4", "extended_aux_traces_per_ensemble"), (3269, "u4", "extended_samples_per_trace"),
    (3297, "u4", "byte_order_constant"), (3501, "u1", "revision_major"), (3502, "u1", "revision_minor"),
    (3503, "i2", "fixed_length_traces"), (3505, "i2", "extended_text_headers"),
]

# Standard trace header fields: (byte position in the trace header, 1-based), type, name.
TRACE_HEADER_FIELDS: List[Tuple[int, str, str]] = [
    (1, "i4", "trace_sequence_line"), (5, "i4", "trace_sequence_file"), (9, "i4", "field_record"),
    (13, "i4", "trace_number"), (17, "i4", "energy_source_point"), (21, "i4", "cdp"), (25, "i4", "cdp_trace"),
    (29, "i2", "trace_id"), (31, "i2", "summed_traces"), (33, "i2", "stacked_traces"), (35, "i2", "data_use"),
    (37, "i4", "offset"), (41, "i4", "receiver_elevation"), (45, "i4", "source_elevation"),
    (49, "i4", "source_depth"), (53, "i4", "receiver_datum_elevation"), (57, "i4", "source_datum_elevation"),
    (61, "i4", "source_water_depth"), (65, "i4", "receiver_water_depth"), (69, "i2", "elevation_scalar"),
    (71, "i2", "coordinate_scalar"), (73, "i4", "source_x"), (77, "i4", "source_y"), (81, "i4", "group_x"),
    (85, "i4", "group_y"), (89, "i2", "coordinate_units"), (91, "i2", "weathering_velocity"),
    (93, "i2", "subweathering_velocity"), (95, "i2", "source_uphole_time"), (97, "i2", "group_uphole_time"),
    (99, "i2", "source_static"), (101, "i2", "group_static"), (103, "i2", "total_static"), (105, "i2", "lag_a"),
    (107, "i2", "lag_b"), (109, "i2", "delay_time"), (111, "i2", "mute_start"), (113, "i2", "mute_end"),
    (115, "u2", "samples"), (117, "u2", "sample_interval"), (119, "i2", "gain_type"), (121, "i2", "gain_constant"),
    (123, "i2", "initial_gain"), (125, "i2", "correlated"), (127, "i2", "sweep_freq_start"),
    (129, "i2", "sweep_freq_end"), (131, "i2", "sweep_length"), (133, "i2", "sweep_type"),
    (135, "i2", "sweep_taper_start"), (137, "i2", "sweep_taper_end"), (139, "i2", "taper_type"),
    (141, "i2", "alias_filter_freq"), (143, "i2", "alias_filter_slope"), (145, "i2", "notch_filter_freq"),
    (147, "i2", "notch_filter_slope"), (149, "i2", "low_cut_freq"), (151, "i2", "high_cut_freq"),
    (153, "i2", "low_cut_slope"), (155, "i2", "high_cut_slope"), (157, "i2", "year"), (159, "i2", "day_of_year"),
    (161, "i2", "hour"), (163, "i2", "minute"), (165, "i2", "second"), (167, "i2", "time_basis"),
    (169, "i2", "trace_weighting"), (171, "i2", "geophone_roll_first"), (173, "i2", "geophone_first_trace"),
    (175, "i2", "geophone_last_trace"), (177, "i2", "gap_size"), (179, "i2", "over_travel"), (181, "i4", "cdp_x"),
    (185, "i4", "cdp_y"), (189, "i4", "inline"), (193, "i4", "crossline"), (197, "i4", "shotpoint"),
    (201, "i2", "shotpoint_scalar"), (203, "i2", "trace_value_unit"), (205, "i4", "transduction_mantissa"),
    (209, "i2", "transduction_exponent"), (211, "i2", "transduction_unit"), (213, "i2", "device_id"),
    (215, "i2", "time_scalar"), (217, "i2", "source_type"),
]

# Sample formats: code -> numpy type (code 1, IBM float, is converted by the extension).
SAMPLE_TYPES: Dict[int, str] = {1: "u4", 2: "i4", 3: "i2", 5: "f4", 6: "f8", 8: "i1", 9: "i8", 10: "u4",
                                11: "u2", 12: "u8", 16: "u1"}

# Code page 1047 differs from 037 in six places; decoding permutes those bytes, then uses cp037.
_CP1047_TO_CP037 = bytes.maketrans(bytes([0x5F, 0xB0, 0xAD, 0xBA, 0xBB, 0xBD]),
                                   bytes([0xB0, 0x5F, 0xBA, 0xAD, 0xBD, 0xBB]))


def decode_text(data: bytes, encoding: str = "cp037") -> str:
    """Decode a textual header losslessly: "cp037", "cp1047" (EBCDIC) or "latin-1" (ASCII)."""
    if encoding == "cp1047":
        return data.translate(_CP1047_TO_CP037).decode("cp037")
    return data.decode(encoding)


def looks_ebcdic(data: bytes) -> bool:
    """True when a textual header looks EBCDIC (mostly 0x40 blanks and bytes from 0x81) rather than ASCII."""
    array = np.frombuffer(data, dtype=np.uint8)
    ebcdic = int(np.count_nonzero((array == 0x40) | (array >= 0x81)))
    ascii_ = int(np.count_nonzero((array == 0x20) | ((array >= 0x30) & (array <= 0x39)) | ((array >= 0x41) & (array <= 0x7A))))
    return ebcdic > ascii_


def _struct(fields: List[Tuple[int, str, str]], base: int, order: str, itemsize: int) -> "np.dtype[Any]":
    return np.dtype({"names": [f[2] for f in fields], "formats": [order + f[1] for f in fields],
                     "offsets": [f[0] - 1 - base for f in fields], "itemsize": itemsize})


def _native(fields: List[Tuple[int, str, str]]) -> "np.dtype[Any]":
    return np.dtype([(f[2], "=" + f[1]) for f in fields])


TRACE_HEADER_DTYPE = _native(TRACE_HEADER_FIELDS)
"""The structured type of trace_headers() rows (native byte order)."""

Range = Union[range, slice, None]


class SegyFile:
    """A SEG-Y file mapped read-only: headers as Python values, traces as float32 arrays.

    Attributes: ``text`` (the textual headers, each decoded losslessly to 3200 characters),
    ``encoding`` (the code page used), ``binary`` (the binary header as a dict), ``byte_order``
    ("big" or "little"), ``format`` (the sample format code), ``samples`` (samples per trace),
    ``trace_count``, ``data_offset`` (where the first trace starts). Use as a context manager or
    call ``close()``; arrays already returned stay valid.
    """

    def __init__(self, path: Union[str, bytes], encoding: Optional[str] = None) -> None:
        self._map = MapFile(path)
        size = self._map.size
        if size < TEXT_BYTES + BINARY_BYTES:
            raise Error(0, f"{path!r}: too short for a SEG-Y file ({size} bytes)")
        head = self._map.view(0, TEXT_BYTES + BINARY_BYTES)
        raw = head[TEXT_BYTES:].tobytes()
        self.byte_order = self._detect_order(raw)
        order = ">" if self.byte_order == "big" else "<"
        values = np.frombuffer(raw, dtype=_struct(BINARY_FIELDS, TEXT_BYTES, order, BINARY_BYTES), count=1)[0]
        self.binary: Dict[str, int] = {name: int(values[name]) for _, _, name in BINARY_FIELDS}
        self.format = self.binary["format"]
        self.samples = self.binary["samples_per_trace"] or self.binary["extended_samples_per_trace"]
        first = head[:TEXT_BYTES].tobytes()
        self.encoding = encoding or ("cp037" if looks_ebcdic(first) else "latin-1")
        self.text: List[str] = [decode_text(first, self.encoding)]
        offset = TEXT_BYTES + BINARY_BYTES
        extended = self.binary["extended_text_headers"]
        while (extended > 0 and len(self.text) <= extended) or (extended == -1 and offset + TEXT_BYTES <= size):
            if offset + TEXT_BYTES > size:
                raise Error(0, f"{path!r}: the extended textual headers run past the end of the file")
            card = decode_text(self._map.view(offset, TEXT_BYTES).tobytes(), self.encoding)
            self.text.append(card)
            offset += TEXT_BYTES
            if extended == -1 and "((SEG: ENDTEXT))" in card.upper():
                break
        self.data_offset = offset
        if self.format not in SAMPLE_TYPES:
            raise Error(0, f"{path!r}: sample format {self.format} is not supported")
        self._sample_type = np.dtype(order + SAMPLE_TYPES[self.format])
        self.trace_bytes = TRACE_HEADER_BYTES + self.samples * self._sample_type.itemsize
        self.trace_count = max(size - offset, 0) // self.trace_bytes

    @staticmethod
    def _detect_order(binary: bytes) -> str:
        constant = binary[96:100]
        if constant == b"\x01\x02\x03\x04":
            return "big"
        if constant == b"\x04\x03\x02\x01":
            return "little"
        big, little = int.from_bytes(binary[24:26], "big"), int.from_bytes(binary[24:26], "little")
        return "little" if big not in SAMPLE_TYPES and little in SAMPLE_TYPES else "big"

    def _span(self, traces: Range) -> Tuple[int, int]:
        if traces is None:
            return 0, self.trace_count
        if isinstance(traces, slice):
            traces = range(*traces.indices(self.trace_count))
        if traces.step != 1:
            raise ValueError("trace ranges must have step 1")
        start, stop = traces.start, max(traces.stop, traces.start)
        if start < 0 or stop > self.trace_count:
            raise IndexError(f"traces {start}..{stop} outside 0..{self.trace_count}")
        return start, stop

    def _chunks(self, start: int, stop: int) -> Any:
        per_view = max(1, _VIEW_BYTES // self.trace_bytes)
        for first in builtins.range(start, stop, per_view):
            last = min(stop, first + per_view)
            view = self._map.view(self.data_offset + first * self.trace_bytes, (last - first) * self.trace_bytes)
            yield first, view.reshape(last - first, self.trace_bytes)

    def trace_headers(self, traces: Range = None) -> "npt.NDArray[Any]":
        """The standard trace-header fields of a range of traces (all by default) as a structured array."""
        start, stop = self._span(traces)
        order = ">" if self.byte_order == "big" else "<"
        stored = _struct(TRACE_HEADER_FIELDS, 0, order, TRACE_HEADER_BYTES)
        out = np.empty(stop - start, dtype=TRACE_HEADER_DTYPE)
        for first, rows in self._chunks(start, stop):
            headers: "npt.NDArray[Any]" = np.ndarray((rows.shape[0],), dtype=stored, buffer=rows.base if rows.base is not None else rows,
                                 offset=0, strides=(self.trace_bytes,))
            out[first - start:first - start + rows.shape[0]] = headers.astype(TRACE_HEADER_DTYPE)
        return out

    def traces(self, traces: Range = None) -> "npt.NDArray[np.float32]":
        """The samples of a range of traces (all by default) as a float32 array (traces x samples)."""
        start, stop = self._span(traces)
        out = np.empty((stop - start, self.samples), dtype=np.float32)
        for first, rows in self._chunks(start, stop):
            samples = rows[:, TRACE_HEADER_BYTES:]
            target = out[first - start:first - start + rows.shape[0]]
            if self.format == 1:
                if self.byte_order == "little":
                    samples = np.ascontiguousarray(samples.view("<u4").byteswap().view(np.uint8))
                _qrcore.segy_ibm_rows(samples, target)
            else:
                target[...] = samples.view(self._sample_type)
        return out

    def trace(self, index: int) -> "npt.NDArray[np.float32]":
        """The samples of one trace as a float32 array."""
        if index < 0:
            index += self.trace_count
        samples: "npt.NDArray[np.float32]" = self.traces(builtins.range(index, index + 1))[0]
        return samples

    def close(self) -> None:
        """Close the mapping; arrays already returned stay valid."""
        self._map.close()

    def __enter__(self) -> "SegyFile":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def open(path: Union[str, bytes], encoding: Optional[str] = None) -> SegyFile:
    """Open a SEG-Y file read-only through a mapping.

    ``encoding`` decodes the textual headers: "cp037" or "cp1047" (EBCDIC) or "latin-1" (ASCII);
    by default EBCDIC is told from ASCII by the first header's bytes and decoded as cp037.
    """
    return SegyFile(path, encoding)
