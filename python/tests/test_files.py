"""qrcore.File: reads, writes and 64-bit positions, the edits against a model of the bytes, an
edit whose progress callable raises, and an edit killed part-way and recovered."""

import os
import pathlib
import signal

import pytest

import qrcore

from conftest import run_python

DATA = bytes(range(256)) * 4096  # 1 MiB


def apply(model: bytearray, edit: str, args: tuple) -> bytearray:
    if edit == "insert":
        pos, size = args
        return model[:pos] + bytearray(size) + model[pos:]
    if edit == "remove":
        pos, size = args
        return model[:pos] + model[pos + size:]
    if edit == "move":
        src, dst, length = args
        block = model[src:src + length]
        model[dst:dst + length] = block
        return model
    pos, size = args
    model[pos:pos + size] = bytes(size)
    return model


EDITS = [("insert", (10, 5)), ("insert", (0, 65536)), ("remove", (100, 4096)), ("remove", (0, 1)),
         ("move", (0, 500000, 70000)), ("move", (500000, 3, 70000)), ("zero", (1000, 3000)),
         ("zero", (len(DATA) - 10, 100))]


@pytest.mark.parametrize("edit, args", EDITS)
def test_edit_matches_model(scratch: pathlib.Path, edit: str, args: tuple) -> None:
    path = scratch / "data.bin"
    path.write_bytes(DATA)
    reports = []
    with qrcore.File(path, "r+") as f:
        f.seek(7)
        getattr(f, edit)(*args, progress=lambda done, total: reports.append((done, total)))
        assert f.tell() == 7
        f.seek(0)
        assert f.read() == bytes(apply(bytearray(DATA), edit, args))
    if edit != "zero":
        assert reports[0][0] == 0 and reports[-1][0] == reports[-1][1]


def test_positions_beyond_4_gib(scratch: pathlib.Path) -> None:
    path = scratch / "big.bin"
    with qrcore.File(path, "w") as f:
        assert f.seek(5 << 30) == 5 << 30
        f.write(b"end")
        assert f.size() == (5 << 30) + 3
        f.seek(-3, 2)
        assert f.read(10) == b"end"


def test_progress_error_finishes_edit_then_raises(scratch: pathlib.Path) -> None:
    path = scratch / "data.bin"
    path.write_bytes(DATA)
    calls = []

    def fail(done: int, total: int) -> None:
        calls.append(done)
        raise KeyboardInterrupt("stop")

    with qrcore.File(path, "r+") as f, pytest.raises(KeyboardInterrupt):
        f.insert(100, 1 << 20, progress=fail)
    assert calls == [0]
    assert path.read_bytes() == bytes(apply(bytearray(DATA), "insert", (100, 1 << 20)))


def test_killed_edit_is_recovered(scratch: pathlib.Path) -> None:
    path = scratch / "data.bin"
    data = os.urandom(64 << 20)
    path.write_bytes(data)
    child = run_python(f"""
import os, signal, qrcore
def kill(done, total):
    if done > 0:
        os.kill(os.getpid(), signal.SIGKILL)
with qrcore.File({str(path)!r}, "r+") as f:
    f.insert(1000, 3 << 20, progress=kill)
""")
    assert child.returncode == -signal.SIGKILL, child.stderr
    assert (scratch / ".data.bin.qrjournal").exists()
    assert qrcore.recover(path) is True
    assert not (scratch / ".data.bin.qrjournal").exists()
    result = path.read_bytes()
    assert result in (data, data[:1000] + bytes(3 << 20) + data[1000:])
    assert qrcore.recover(path) is False


@pytest.mark.parametrize("mode, overwrite, expected", [("w", False, FileExistsError), ("w", True, None),
                                                        ("r+", False, None)])
def test_overwrite_keyword(scratch: pathlib.Path, mode: str, overwrite: bool, expected) -> None:
    path = scratch / "old.bin"
    path.write_bytes(b"old")
    if expected is not None:
        with pytest.raises(expected):
            qrcore.File(path, mode, overwrite=overwrite)
        assert path.read_bytes() == b"old"
    else:
        with qrcore.File(path, mode, overwrite=overwrite) as f:
            assert f.size() == (0 if mode == "w" else 3)
