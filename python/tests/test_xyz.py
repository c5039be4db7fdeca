"""qrcore.xyz: a scan and a read of small XYZ files against the values written into them."""

import itertools
import os
import pathlib

import numpy as np
import pytest

import qrcore

from conftest import SOURCE_DIR

CHANNELS = ["X", "Y", "MAG"]


def write_xyz(path: pathlib.Path, lines: dict, null_text: str = "*") -> None:
    with open(path, "w") as f:
        f.write("/ test survey\n/ " + "  ".join(CHANNELS) + "\n")
        for name, rows in lines.items():
            f.write(f"LINE {name}\n")
            for row in rows:
                f.write("  ".join(null_text if np.isnan(v) else f"{v:.3f}" for v in row) + "\n")


LINES = {"L10": [[1.0, 2.0, 3.5], [1.5, 2.5, np.nan]], "T900": [[9.0, 8.0, 7.0]], "L20": [[4.0, 5.0, 6.0]] * 5}


@pytest.mark.parametrize("lines, channels, options, expected_lines", [
    (None, None, {}, ["L10", "T900", "L20"]),
    (["T900"], ["mag"], {}, ["T900"]),
    ([qrcore.line.encode("L20")], None, {}, ["L20"]),
    (None, ["X", "MAG"], {"nulls": -99}, ["L10", "T900", "L20"]),
])
def test_read_matches_written(scratch: pathlib.Path, lines, channels, options, expected_lines) -> None:
    path = scratch / "survey.xyz"
    write_xyz(path, LINES, "-99" if options.get("nulls") == -99 else "*")
    data = qrcore.xyz.read(path, lines=lines, channels=channels, **options)
    assert list(data) == expected_lines
    wanted = [c for c in CHANNELS if channels is None or c.lower() in [w.lower() for w in channels]]
    for name in expected_lines:
        assert list(data[name]) == wanted
        table = np.array(LINES[name])
        for channel in wanted:
            np.testing.assert_array_equal(data[name][channel], table[:, CHANNELS.index(channel)])


def test_scan_lines(scratch: pathlib.Path) -> None:
    path = scratch / "survey.xyz"
    write_xyz(path, LINES)
    lines = qrcore.xyz.scan(path, stats=True)
    assert [(l["name"], l["code"], l["records"]) for l in lines] == [
        (name, qrcore.line.encode(name), len(rows)) for name, rows in LINES.items()]
    assert lines[0]["channels"]["MAG"] == {"nulls": 1, "values": 1, "min": 3.5, "max": 3.5, "text": False}


def test_sample_and_errors(scratch: pathlib.Path) -> None:
    lines = qrcore.xyz.scan(SOURCE_DIR / "data" / "sample" / "survey.xyz")
    assert lines and all(line["valid"] for line in lines)
    with pytest.raises(FileNotFoundError):
        qrcore.xyz.scan(scratch / "missing.xyz")
    with pytest.raises(KeyError):
        qrcore.xyz.read(SOURCE_DIR / "data" / "sample" / "survey.xyz", channels=["NOPE"])
    with pytest.raises(TypeError):
        qrcore.xyz.scan(SOURCE_DIR / "data" / "sample" / "survey.xyz", colour="red")


@pytest.mark.parametrize("one_processor", [False, True])
def test_read_values_as_python_parses_them(scratch: pathlib.Path, one_processor: bool) -> None:
    # Enough records for many batches over several of the scanner's regions, read by helper
    # threads as well (unless the process may use one processor only); records with a null or
    # longer than 64 bytes, read at once, come between the others, and line L2 is left out.
    rng = np.random.default_rng(5)
    count = 60_000
    values = rng.standard_normal((count, 3)) * 10.0 ** rng.integers(-8, 12, (count, 3))
    forms = ["{:.3f}", "{:.17g}", "{:.0f}", "{:+.9f}", "{:.6e}", "{:.2f}"]
    texts = [[forms[(i + k) % len(forms)].format(v) for k, v in enumerate(row)] for i, row in enumerate(values)]
    for i in rng.choice(count, count // 100, replace=False):
        texts[i][2] = "*"
    records = ["  ".join(row).rjust(80 if i % 97 == 0 else 0) + "\n" for i, row in enumerate(texts)]
    path = scratch / "values.xyz"
    with open(path, "w") as f:
        f.write("/ X Y MAG\n")
        for name, part in zip(("L1", "L2", "L3"), np.array_split(np.arange(count), 3)):
            f.write(f"LINE {name}\n")
            f.writelines(records[i] for i in part)
    processors = os.sched_getaffinity(0)
    if one_processor:
        os.sched_setaffinity(0, {min(processors)})
    try:
        data = qrcore.xyz.read(path, lines=["L1", "L3"])
    finally:
        os.sched_setaffinity(0, processors)
    expected = np.array([[float("nan") if t == "*" else float(t) for t in row] for row in texts])
    assert list(data) == ["L1", "L3"]
    rows = np.concatenate([part for name, part in zip(("L1", "L2", "L3"), np.array_split(np.arange(count), 3)) if name != "L2"])
    for k, channel in enumerate(CHANNELS):
        np.testing.assert_array_equal(np.concatenate([data["L1"][channel], data["L3"][channel]]), expected[rows, k])


def test_read_unusual_forms_as_the_scanner_does(scratch: pathlib.Path) -> None:
    # Line A's records hold no null, so their fields take the quick reading; line B repeats them
    # beside a '*' null, which sends every field of its records through the scanner's own reading.
    # Lines C and D pad them with leading blanks to 64 bytes (the longest record cut into fields
    # at one go) and to 65.
    forms = [".5", "5.", "-.5", "+5", "+-5", "-0", "1e5", "1E+05", "5.e3", "1e-22", "1e23", "2.5e-30", "1e", "1e+",
             "1e0005", "12345678901234567890", "9007199254740993", "9007199254740992.5", "0.1234567890123456789",
             "00000000000000000000001", "123456789012.345678", "12345678.5", "1.12345678", "-1234567.1234567", "1.5D3", "nan", "-inf", "0x10", "1,5", "1..2", "abc"]
    records = ([(f, "7", "\t") for f in forms if not f[0].isalpha()] + [("7", f, " ") for f in forms] +
               [("4", "", " ")])
    path = scratch / "forms.xyz"
    with open(path, "w") as f:
        f.write("/ X Y MAG\n")
        for line, last, width in (("A", "0", 0), ("B", "*", 0), ("C", "0", 64), ("D", "0", 65)):
            f.write(f"LINE {line}\n")
            f.writelines((f"{x}{gap}{y}  {last}" if y else x).rjust(width) + "\n" for x, y, gap in records)
    data = qrcore.xyz.read(path)
    for line, channel in itertools.product("ACD", ("X", "Y")):
        assert len(data[line][channel]) == len(records)
        for k, (quick, full) in enumerate(zip(data[line][channel], data["B"][channel])):
            assert np.array_equal(quick, full, equal_nan=True) and np.signbit(quick) == np.signbit(full), (line, channel, records[k])
