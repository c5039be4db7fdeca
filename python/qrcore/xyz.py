"""XYZ and ASEG-GDF survey text files: the survey lines they hold, and their channels as numpy arrays.

Both functions read the file once, in large blocks, at the scanner's speed, without the GIL.
``read`` leaves the numbers of most records to helper threads (up to three, one fewer than the
processors the process may run on; none for short files) while the scan goes on, and returns
when all are read; the values are the same, bit for bit, whichever thread reads them.
Options (the same as ``qrtool scan``):

- ``line_column``: the column holding the line number (a channel name or a column number from 1);
  by default lines come from header lines (``LINE L10``, ``Tie 9010``), or from a column named
  LINE, LINE_NO, ... when the file has no header lines;
- ``flight_column``: the column holding the flight number, the same way;
- ``definition``: an ASEG-GDF2 ``.dfn`` file (default: FILE.dfn beside FILE; ``False``: none);
- ``nulls``: null values: a number for every channel, ``{"MAG": -9999}``, or a list of
  "VALUE" / "CHANNEL=VALUE" texts (``*`` fields are always nulls);
- ``delimiter``: ``" "`` (blanks and tabs), ``","``, ``";"`` or ``"|"`` (default: from the file);
- ``stats``: value ranges per channel and line (``scan`` only);
- ``progress``: a callable(done_bytes, total_bytes) called about every 64 MiB.
"""

import os
from typing import Any, Callable, Dict, Iterable, List, Optional, Union

import numpy as np
import numpy.typing as npt

from . import _qrcore

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Progress = Optional[Callable[[int, int], object]]


def scan(path: PathLike, *, progress: Progress = None, **options: Any) -> List[Dict[str, Any]]:
    """The survey lines of the file, in file order, one dict per line.

    Keys: ``name`` (as the file gives it), ``code`` (its line-number code; DUMMY when the codec
    refuses it), ``valid``, ``decoded`` (the code's name), ``type``, ``area``, ``version``,
    ``reason`` (why the name is not valid), ``flight`` and ``flight_code`` (None without one),
    ``first_line`` (line number in the file), ``records``, ``widths`` (column widths of its first
    record), ``layouts`` (runs of one layout; 1 when all records look alike), ``note``, and
    ``channels``: per channel, nulls and (with ``stats=True``) values, min and max.
    Options: see the module's help.
    """
    result: List[Dict[str, Any]] = _qrcore.xyz_scan(path, options, progress)
    return result


def read(path: PathLike, lines: Optional[Iterable[Union[str, int]]] = None,
         channels: Optional[Iterable[str]] = None, *, progress: Progress = None,
         **options: Any) -> Dict[str, Dict[str, "npt.NDArray[np.float64]"]]:
    """The data of the file: ``{line name: {channel: float64 array}}``, in file order.

    One dict per survey line, keyed by the line's name as the file gives it (a name that comes
    again gets "#2", "#3", ... appended); in it one float64 array per channel, one value per
    record of the line, in the file's order. Nulls (``*`` fields, declared nulls) and fields
    that are no numbers are NaN; an array channel of a definition (``EM[1..30]``) is a
    (records x 30) array. ``lines`` keeps only the lines named (by name as given or as decoded,
    or by line-number code); ``channels`` keeps only the channels named (any case; KeyError
    for a name the file lacks). Reading keeps only the arrays returned in memory; the arrays of
    one channel are views into one block (their ``base``), freed when the last of them is gone.
    Options: see the module's help.
    """
    result: Dict[str, Dict[str, "npt.NDArray[np.float64]"]] = _qrcore.xyz_read(
        path, None if lines is None else list(lines), None if channels is None else list(channels), options, progress)
    return result
