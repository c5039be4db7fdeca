"""Speed of the qrcore Python package against its baselines, measured in the same run.

Run with the package on the path (PYTHONPATH=build/<dir>/python). Scratch files go to $TMPDIR.
  codecs:  line.encode of a numpy array vs a Python loop over the scalar call and numpy.vectorize
  xyz:     xyz.read vs numpy.loadtxt and pandas.read_csv (optional) on the same file (six columns of
           steady widths; then 20 ragged columns, without pandas), in wall time
           (xyz.read uses helper threads) and in processor time; peak memory
  segy:    SegyFile.traces() (warm) vs numpy.fromfile + byte swap of the same data
  ebcdic:  convert.ebcdic_to_ascii on an array vs bytes.translate
  threads: two threads scanning two files vs one after the other
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import threading
import time
from typing import Any, Callable, Dict, List

import numpy as np

import qrcore


def best(function: Callable[[], Any], repeat: int = 3, clock: Callable[[], float] = time.perf_counter) -> float:
    times = []
    for _ in range(repeat):
        start = clock()
        function()
        times.append(clock() - start)
    return min(times)


def best_cpu(function: Callable[[], Any], repeat: int = 3) -> float:
    """The least processor time of this process (all threads) over the runs: steadier than the
    wall clock on a machine that others share."""
    return best(function, repeat, time.process_time)


def report(rows: List[Dict[str, Any]]) -> None:
    for row in rows:
        print("  " + "  ".join(f"{k}={v}" for k, v in row.items()), flush=True)


def bench_codecs(count: int) -> None:
    print(f"codecs: {count:,} line names")
    names = np.array(["AL%04d" % (i % 10000) for i in range(count)])
    seconds = best(lambda: qrcore.line.encode(names))
    sample = names[:200_000].tolist()
    loop = best(lambda: [qrcore.line.encode(n) for n in sample], 1) * count / len(sample)
    vectorized = np.vectorize(qrcore.line.encode, otypes=[np.int64])
    vec = best(lambda: vectorized(names[:200_000]), 1) * count / 200_000
    decode = best(lambda: qrcore.line.decode(qrcore.line.encode(names)))
    report([{"qrcore_names_per_s": f"{count / seconds / 1e6:.1f}M", "python_loop_per_s": f"{count / loop / 1e6:.2f}M",
             "vectorize_per_s": f"{count / vec / 1e6:.2f}M", "ratio_loop": f"{loop / seconds:.0f}x",
             "ratio_vectorize": f"{vec / seconds:.0f}x", "encode+decode_per_s": f"{count / decode / 1e6:.1f}M"}])


def write_xyz(path: str, megabytes: int, ragged: bool = False) -> None:
    """Six columns of steady widths, a line column first; or (ragged) 20 columns of values from
    0 to 1000 whose widths change from record to record, lines from header lines."""
    rng = np.random.default_rng(7)
    rows = 100_000
    with open(path, "w") as f:
        f.write("/ synthetic survey\n" + ("" if ragged else "/ LINE X Y FIDUCIAL MAG ALT\n"))
        line, fid = 10, 0
        while f.tell() < megabytes << 20:
            if ragged:
                f.write(f"LINE {line}\n")
                np.savetxt(f, rng.random((rows, 20)) * 1000, fmt="%.3f")
            else:
                table = np.column_stack([np.full(rows, line), 431900 + rng.random(rows) * 5000,
                                         6512000 + rng.random(rows) * 5000, fid + np.arange(rows),
                                         51000 + rng.random(rows) * 500, 100 + rng.random(rows) * 50])
                np.savetxt(f, table, fmt=["%d", "%.2f", "%.2f", "%d", "%.3f", "%.1f"], delimiter="  ")
            line, fid = line + 10, fid + rows


MEMORY_CHILD = """
import sys, qrcore
def status(key):
    for line in open('/proc/self/status'):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
before = status('VmRSS:')
data = qrcore.xyz.read(sys.argv[1])
size = sum(a.nbytes for columns in data.values() for a in columns.values())
print(size, status('VmHWM:') - before)
"""


def bench_xyz(folder: str, megabytes: int, with_pandas: bool, ragged: bool = False) -> None:
    path = os.path.join(folder, "bench.xyz")
    write_xyz(path, megabytes, ragged)
    size = os.path.getsize(path)
    kind = "ragged 20 columns" if ragged else "6 columns"
    print(f"xyz ({kind}): {size / 1e6:.0f} MB, {len(os.sched_getaffinity(0))} processors")
    ours = best(lambda: qrcore.xyz.read(path), 4)
    ours_cpu = best_cpu(lambda: qrcore.xyz.read(path), 3)
    data = qrcore.xyz.read(path)
    records = sum(len(next(iter(c.values()))) for c in data.values())
    row: Dict[str, Any] = {"qrcore_read_s": f"{ours:.2f}", "qrcore_MB_per_s": f"{size / ours / 1e6:.0f}",
                           "qrcore_cpu_s": f"{ours_cpu:.2f}"}
    comments = ("/", "LINE") if ragged else "/"
    loadtxt = best(lambda: np.loadtxt(path, comments=comments), 1)
    loadtxt_cpu = best_cpu(lambda: np.loadtxt(path, comments=comments), 1)
    row.update(loadtxt_s=f"{loadtxt:.2f}", ratio_loadtxt=f"{loadtxt / ours:.1f}x", loadtxt_cpu_s=f"{loadtxt_cpu:.2f}",
               ratio_loadtxt_cpu=f"{loadtxt_cpu / ours_cpu:.1f}x")
    if with_pandas:
        try:
            import pandas
            pandas_s = best(lambda: pandas.read_csv(path, sep=r"\s+", comment="/", header=None), 1)
            pandas_cpu = best_cpu(lambda: pandas.read_csv(path, sep=r"\s+", comment="/", header=None), 1)
            row.update(pandas_s=f"{pandas_s:.2f}", ratio_pandas=f"{pandas_s / ours:.1f}x", pandas_cpu_s=f"{pandas_cpu:.2f}",
                       ratio_pandas_cpu=f"{pandas_cpu / ours_cpu:.1f}x")
        except ImportError:
            row.update(pandas="not installed")
    del data
    child = subprocess.run([sys.executable, "-c", MEMORY_CHILD, path], capture_output=True, text=True, check=True)
    arrays, peak = (int(v) for v in child.stdout.split())
    row.update(records=f"{records:,}", arrays_MB=f"{arrays / 1e6:.0f}", peak_growth_MB=f"{peak / 1e6:.0f}",
               memory_ratio=f"{peak / arrays:.2f}")
    report([row])
    os.remove(path)


def write_segy(path: str, megabytes: int, fmt: int) -> int:
    samples = 1000
    kind = ">f4" if fmt == 5 else ">u4"
    trace_bytes = 240 + 4 * samples
    traces = (megabytes << 20) // trace_bytes
    binary = bytearray(400)
    binary[16:18] = (1000).to_bytes(2, "big")
    binary[20:22] = samples.to_bytes(2, "big")
    binary[24:26] = fmt.to_bytes(2, "big")
    rng = np.random.default_rng(fmt)
    with open(path, "wb") as f:
        f.write(b"\x40" * 3200 + bytes(binary))
        block = 10_000
        for first in range(0, traces, block):
            n = min(block, traces - first)
            rows = np.zeros((n, trace_bytes), dtype=np.uint8)
            values = rng.standard_normal((n, samples)).astype(">f4")
            if fmt == 1:  # IBM floats: 0x42 exponent, fractions from the IEEE values' bits
                values = (np.uint32(0x42000000) | (values.view(">u4") & np.uint32(0x80FFFFFF))).astype(kind)
            rows[:, 240:] = values.view(np.uint8).reshape(n, -1)
            f.write(rows.tobytes())
    return traces


def bench_segy(folder: str, megabytes: int) -> None:
    for fmt in (5, 1):
        path = os.path.join(folder, f"bench{fmt}.sgy")
        traces = write_segy(path, megabytes, fmt)
        data_bytes = os.path.getsize(path) - 3600
        with qrcore.segy.open(path) as f:
            f.traces()  # warm the page cache
            ours = best(f.traces)
        trace_words = (os.path.getsize(path) - 3600) // 4 // traces

        def baseline() -> Any:
            raw = np.fromfile(path, dtype=">f4" if fmt == 5 else ">u4", offset=3600).reshape(traces, trace_words)
            return raw[:, 60:].astype(np.float32 if fmt == 5 else np.uint32)
        base = best(baseline)
        print(f"segy format {fmt}: {data_bytes / 1e6:.0f} MB, {traces:,} traces")
        report([{"qrcore_GB_per_s": f"{data_bytes / ours / 1e9:.2f}", "fromfile_byteswap_GB_per_s":
                 f"{data_bytes / base / 1e9:.2f}", "ratio": f"{base / ours:.2f}x"}])
        os.remove(path)


def bench_ebcdic(megabytes: int) -> None:
    data = np.random.default_rng(3).integers(0, 256, megabytes << 20, dtype=np.uint8)
    raw = data.tobytes()
    table = bytes(qrcore.convert.ebcdic_to_ascii(np.arange(256, dtype=np.uint8)))
    ours = best(lambda: qrcore.convert.ebcdic_to_ascii(data))
    base = best(lambda: raw.translate(table))
    print(f"ebcdic: {megabytes} MiB")
    report([{"qrcore_GB_per_s": f"{data.nbytes / ours / 1e9:.2f}", "bytes_translate_GB_per_s":
             f"{data.nbytes / base / 1e9:.2f}", "ratio": f"{base / ours:.2f}x"}])


def bench_threads(folder: str, megabytes: int) -> None:
    paths = [os.path.join(folder, f"thread{i}.xyz") for i in range(2)]
    for path in paths:
        write_xyz(path, megabytes)
    for path in paths:
        qrcore.xyz.scan(path)  # warm
    one_after_other = best(lambda: [qrcore.xyz.scan(p) for p in paths])

    def parallel() -> None:
        threads = [threading.Thread(target=qrcore.xyz.scan, args=(p,)) for p in paths]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    both = best(parallel)
    print(f"threads: two scans of {megabytes} MB on {os.cpu_count()} cores")
    report([{"sequential_s": f"{one_after_other:.2f}", "two_threads_s": f"{both:.2f}",
             "speed_up": f"{one_after_other / both:.2f}x"}])
    for path in paths:
        os.remove(path)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--small", action="store_true", help="small sizes, for a quick check")
    parser.add_argument("--only", nargs="*", default=["codecs", "xyz", "segy", "ebcdic", "threads"])
    parser.add_argument("--no-pandas", action="store_true")
    args = parser.parse_args()
    scale = 1 if not args.small else 0
    with tempfile.TemporaryDirectory(prefix="qrcore-bench-") as folder:
        if "codecs" in args.only:
            bench_codecs(10_000_000 if scale else 500_000)
        if "xyz" in args.only:
            bench_xyz(folder, 256 if scale else 16, not args.no_pandas)
            bench_xyz(folder, 128 if scale else 8, False, ragged=True)
        if "segy" in args.only:
            bench_segy(folder, 256 if scale else 16)
        if "ebcdic" in args.only:
            bench_ebcdic(256 if scale else 32)
        if "threads" in args.only:
            bench_threads(folder, 128 if scale else 16)
    print(f"peak memory of this process: {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.0f} MB")


if __name__ == "__main__":
    main()
