"""The check made before the library is loaded: that the error list it reads at load time is there.

The library reads QuarrionError.inf when it is loaded, from the first of these files that opens:
beside the running executable, beside the library itself, then in the installed data folder
next to the library. A missing or malformed list would end the whole process at load time, so
the package looks first, the same way, and raises ImportError naming the places instead.
"""

import os
from typing import List

from . import _layout

LIST_NAME = "QuarrionError.inf"
_MAX_PATH = 255  # longer paths are never opened by the library


def candidates() -> List[str]:
    """The paths the library tries, in its order, as it forms them."""
    package = os.path.dirname(os.path.abspath(__file__))
    library = package + "/" + _layout.LIBRARY_DIR
    try:
        executable = os.readlink("/proc/self/exe")
    except OSError:
        executable = ""
    paths: List[str] = []
    folders = [os.path.dirname(executable) if executable else "", library,
               library + "/" + _layout.DATA_FROM_LIBRARY if _layout.DATA_FROM_LIBRARY else ""]
    for folder in folders:
        if not folder:
            continue
        path = folder + "/" + LIST_NAME
        if len(path.encode()) <= _MAX_PATH and path not in paths:
            paths.append(path)
    return paths


def check() -> None:
    """Raise ImportError unless the first list that opens starts as an error list must."""
    tried = candidates()
    for path in tried:
        try:
            fd = os.open(path, os.O_RDONLY)
        except OSError:
            continue
        try:
            head = os.read(fd, 64)
        except OSError as error:
            raise ImportError(f"qrcore: the error list {path} cannot be read ({error})") from None
        finally:
            os.close(fd)
        if head.split()[:1] != [b"QRError"]:
            raise ImportError(f"qrcore: the error list {path} is not an error list (it must start with QRError)")
        return
    raise ImportError("qrcore: no error list " + LIST_NAME + " found; looked in: " + ", ".join(tried))
