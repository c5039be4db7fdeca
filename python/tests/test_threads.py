"""The GIL is released inside long calls: while one thread is inside the call, another thread
keeps running Python code. Shown by timestamps, not by speed, so a loaded machine cannot fail it:
with the GIL held for the whole call, the watching thread could not run at all in between."""

import pathlib
import threading
import time
from typing import Callable, List

import numpy as np
import pytest

import qrcore

BYTES = 96 << 20


def scan_work(scratch: pathlib.Path) -> Callable[[], object]:
    path = scratch / "lines.xyz"
    block = b"LINE L10\n" + b"   431900.0   6512000.0    1000   51233.91  118.0\n" * 20000
    with open(path, "wb") as f:
        for _ in range(BYTES // len(block)):
            f.write(block)
    return lambda: qrcore.xyz.scan(path)


def read_work(scratch: pathlib.Path) -> Callable[[], object]:
    path = scratch / "data.bin"
    path.write_bytes(bytes(BYTES))

    def read() -> object:
        with qrcore.File(path) as f:
            return f.read()
    return read


def insert_work(scratch: pathlib.Path) -> Callable[[], object]:
    path = scratch / "data.bin"
    path.write_bytes(bytes(BYTES // 2))

    def insert() -> object:
        with qrcore.File(path, "r+") as f:
            f.insert(1, 1 << 20)
        return None
    return insert


def encode_work(scratch: pathlib.Path) -> Callable[[], object]:
    names = np.array(["AL0010", "BT0420", "L17430"] * 1_000_000)
    return lambda: qrcore.line.encode(names)


def ebcdic_work(scratch: pathlib.Path) -> Callable[[], object]:
    data = np.zeros(BYTES * 2, dtype=np.uint8)
    return lambda: qrcore.convert.ebcdic_to_ascii(data)


@pytest.mark.parametrize("make", [scan_work, read_work, insert_work, encode_work, ebcdic_work])
def test_gil_released_during_call(scratch: pathlib.Path, make) -> None:
    work = make(scratch)
    inside: List[float] = []
    ticks: List[float] = []
    running = threading.Event()

    def worker() -> None:
        running.set()
        inside.append(time.perf_counter())
        work()
        inside.append(time.perf_counter())

    thread = threading.Thread(target=worker)
    thread.start()
    running.wait()
    while thread.is_alive():
        ticks.append(time.perf_counter())
    thread.join()
    start, end = inside
    # The watcher's ticks strictly inside the call, away from its edges.
    margin = (end - start) / 5
    during = [t for t in ticks if start + margin < t < end - margin]
    assert end - start > 0.005, "the call was too short to tell"
    assert len(during) > 10, (end - start, len(ticks))
