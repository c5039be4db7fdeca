"""The package's type stubs: a small example passes mypy --strict (skipped where mypy is absent)."""

import pathlib
import subprocess
import sys

import pytest

from conftest import PACKAGE_DIR

mypy = pytest.importorskip("mypy")


def test_example_passes_mypy_strict(tmp_path: pathlib.Path) -> None:
    example = pathlib.Path(__file__).parent / "typing" / "example.py"
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path),
                             str(example)], capture_output=True, text=True, timeout=300,
                            env={"MYPYPATH": str(PACKAGE_DIR.parent), "PATH": "/usr/bin:/bin"})
    assert result.returncode == 0, result.stdout + result.stderr
