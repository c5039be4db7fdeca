"""Shared fixtures of the qrcore tests: the package as built, the library beside it, scratch files."""

import ctypes
import os
import pathlib
import shutil
import subprocess
import sys
from typing import Iterator

import pytest

import qrcore

SOURCE_DIR = pathlib.Path(os.environ.get("QRCORE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
PACKAGE_DIR = pathlib.Path(qrcore.__file__).resolve().parent


@pytest.fixture(scope="session")
def library() -> ctypes.CDLL:
    """The loaded libqrcore.so itself, for results straight from the C functions."""
    from qrcore import _layout
    return ctypes.CDLL(str(PACKAGE_DIR / _layout.LIBRARY_DIR / "libqrcore.so.0"))


@pytest.fixture
def scratch(tmp_path: pathlib.Path) -> Iterator[pathlib.Path]:
    """A scratch folder, removed with its (sometimes large) files after the test."""
    yield tmp_path
    shutil.rmtree(tmp_path, ignore_errors=True)


def run_python(code: str, env: "dict[str, str] | None" = None) -> "subprocess.CompletedProcess[str]":
    """Runs code in a fresh interpreter with the package on its path; output captured."""
    env = dict(os.environ if env is None else env)
    env.setdefault("PYTHONPATH", str(PACKAGE_DIR.parent))
    # From the root folder, so that no package in the current folder shadows the one asked for.
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120, cwd="/")
