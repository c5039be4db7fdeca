"""A small user of the package, checked with mypy --strict against the package's stubs."""

import numpy as np
import numpy.typing as npt

import qrcore


def codes_of(names: list[str]) -> "npt.NDArray[np.int64]":
    return qrcore.line.encode(names)


def first_line(path: str) -> str:
    lines = qrcore.xyz.scan(path)
    name: str = lines[0]["name"]
    return name


def magnetics(path: str) -> float:
    data = qrcore.xyz.read(path, channels=["MAG_NT"])
    return float(sum(np.nansum(columns["MAG_NT"]) for columns in data.values()))


def edit(path: str) -> int:
    with qrcore.File(path, "r+") as f:
        f.insert(0, 16, progress=lambda done, total: None)
        size: int = f.size()
    return size


def samples(path: str) -> "npt.NDArray[np.float32]":
    with qrcore.segy.open(path) as segy:
        return segy.traces(range(0, 1))


def header(path: str) -> bytes:
    mapping = qrcore.MapFile(path)
    view: "npt.NDArray[np.uint8]" = mapping.view(0, 16)
    return view.tobytes()


def degrees(values: list[float]) -> "npt.NDArray[np.float64]":
    return qrcore.convert.dms_to_degree(values)


scalar: int = qrcore.flight.encode("AN01")
text: str = qrcore.line.decode(scalar)
recovered: bool = qrcore.recover("/nonexistent")
try:
    qrcore.File("/nonexistent")
except qrcore.Error as error:
    number: int = error.number
