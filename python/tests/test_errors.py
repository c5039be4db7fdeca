"""Library errors as exceptions (nothing printed), and an import that never ends the interpreter
when the error list is missing or broken."""

import os
import pathlib
import shutil

import pytest

import qrcore

from conftest import PACKAGE_DIR, run_python


def open_as_nobody(path: str) -> str:
    return f"""
import os, qrcore
os.setresgid(65534, 65534, 65534); os.setresuid(65534, 65534, 65534)
try:
    qrcore.File({path!r}, "r")
except qrcore.Error as error:
    print(type(error).__mro__[1].__name__, isinstance(error, PermissionError), error.number)
"""


@pytest.mark.parametrize("make, opener, expected", [
    (None, lambda p: qrcore.File(p / "missing.bin"), FileNotFoundError),
    (None, lambda p: qrcore.File(p / "no" / "such" / "file", "w"), FileNotFoundError),
    (None, lambda p: qrcore.MapFile(p / "missing.bin"), FileNotFoundError),
    (b"", lambda p: qrcore.MapFile(p / "data.bin"), qrcore.Error),
    (b"x", lambda p: qrcore.File(p / "data.bin", "q"), ValueError),
    (b"x", lambda p: qrcore.File(p / "data.bin", "r").insert(0, 1), qrcore.Error),
    (None, lambda p: qrcore.recover(p / "missing.bin"), FileNotFoundError),
])
def test_errors_raise(scratch: pathlib.Path, capfd: pytest.CaptureFixture[str], make, opener, expected) -> None:
    if make is not None:
        (scratch / "data.bin").write_bytes(make)
    with pytest.raises(expected) as info:
        opener(scratch)
    if isinstance(info.value, qrcore.Error):
        assert info.value.number != 0 and info.value.text
    assert capfd.readouterr() == ("", "")


@pytest.mark.skipif(os.geteuid() != 0, reason="needs root to run a child as another user")
def test_permission_error(scratch: pathlib.Path) -> None:
    path = scratch / "private.bin"
    path.write_bytes(b"secret")
    path.chmod(0o600)
    scratch.chmod(0o755)
    child = run_python(open_as_nobody(str(path)))
    assert child.stdout.split() == ["Error", "True", "1000000"], child.stderr


@pytest.mark.parametrize("list_text, message", [
    (None, "no error list QuarrionError.inf found; looked in:"),
    (b"garbage 1 2 3", "is not an error list"),
    (b"", "is not an error list"),
    ("copy", None),
])
def test_import_checks_error_list(scratch: pathlib.Path, list_text, message) -> None:
    # A package whose library lies in a folder of the test's own, with or without a list there.
    package = scratch / "site" / "pkg" / "qrcore"
    shutil.copytree(PACKAGE_DIR, package, ignore=shutil.ignore_patterns("QuarrionError.inf", "__pycache__"))
    # The extension's run path leads two folders up from the package, as in the build.
    (package / "_layout.py").write_text('LIBRARY_DIR = "../.."\nDATA_FROM_LIBRARY = "../share/qrcore"\n')
    lib = scratch / "site"
    from qrcore import _layout
    real = (PACKAGE_DIR / _layout.LIBRARY_DIR).resolve()
    (lib / "libqrcore.so.0").symlink_to(real / "libqrcore.so.0")
    if list_text == "copy":
        shutil.copy(real / "QuarrionError.inf", lib / "QuarrionError.inf")
    elif list_text is not None:
        (lib / "QuarrionError.inf").write_bytes(list_text)
    child = run_python("import qrcore; print(qrcore.line.encode('L1'))",
                       env={**os.environ, "PYTHONPATH": str(package.parent)})
    if message is None:
        assert child.returncode == 0 and child.stdout.strip() == str(qrcore.line.encode("L1")), child.stderr
    else:
        assert child.returncode == 1 and "ImportError" in child.stderr and message in child.stderr, child.stderr
