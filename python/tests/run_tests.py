"""Runs the qrcore package's pytest suite; exit status 77 (a skip for ctest) only where numpy or
pytest cannot be imported."""

import sys

try:
    import numpy  # noqa: F401
    import pytest
except ImportError as error:
    print(f"skipped: {error}")
    sys.exit(77)

sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]]))
