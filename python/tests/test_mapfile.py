"""qrcore.MapFile: zero-copy views that outlive their MapFile, writable views, named memory shared
with another process, and views refused outside the mapping."""

import gc
import pathlib
import uuid

import numpy as np
import pytest

import qrcore

from conftest import run_python


def test_view_outlives_mapfile(scratch: pathlib.Path) -> None:
    path = scratch / "data.bin"
    data = np.arange(1 << 16, dtype=">f4")
    path.write_bytes(data.tobytes())
    mapping = qrcore.MapFile(path)
    view = mapping.view(4 * 1000, 4 * 5000)
    floats = view.view(">f4")
    del mapping, view
    gc.collect()
    assert floats.tolist() == data[1000:6000].tolist()
    assert not floats.flags.writeable


@pytest.mark.parametrize("close_first", [False, True])
def test_writable_view_reaches_file(scratch: pathlib.Path, close_first: bool) -> None:
    path = scratch / "data.bin"
    path.write_bytes(bytes(100000))
    mapping = qrcore.MapFile(path, writable=True)
    view = mapping.view(70000, 10)
    if close_first:
        mapping.close()
    view[:] = np.frombuffer(b"0123456789", dtype=np.uint8)
    del view, mapping
    gc.collect()
    assert path.read_bytes()[69999:70011] == b"\x000123456789\x00"


def test_named_memory_shared(scratch: pathlib.Path) -> None:
    name = f"qrcore-test-{uuid.uuid4().hex}"
    mapping = qrcore.MapFile.memory(name, 1 << 20)
    mapping.view(12345, 3)[:] = [7, 8, 9]
    child = run_python(f"import qrcore; print(qrcore.MapFile.memory({name!r}).view(12345, 3).tolist())")
    assert child.stdout.strip() == "[7, 8, 9]", child.stderr
    mapping.close()


@pytest.mark.parametrize("offset, size", [(-1, 10), (0, 0), (99990, 11), (100000, None), (0, 1 << 33)])
def test_view_outside_refused(scratch: pathlib.Path, offset: int, size) -> None:
    path = scratch / "data.bin"
    path.write_bytes(bytes(100000))
    mapping = qrcore.MapFile(path)
    with pytest.raises(ValueError):
        mapping.view(offset, size)
    assert mapping.view(99990).size == 10
