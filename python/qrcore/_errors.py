"""The exceptions of the qrcore package: every error the library reports becomes a qrcore.Error."""

import errno as _errno
from typing import Dict, Type


class Error(Exception):
    """An error the QRCore library reported: its error number and the message text.

    ``number`` is the library's error number (1000000: a system call failed, with the system's
    text; 1000001: the request was refused, e.g. an existing file that may not be overwritten;
    others: numbers of the error list). Errors whose system code says a file is missing, access
    is denied or a file exists are also FileNotFoundError, PermissionError or FileExistsError.
    """

    def __init__(self, number: int, text: str) -> None:
        Exception.__init__(self, number, text)
        self.number = number
        self.text = text

    def __str__(self) -> str:
        return f"[{self.number}] {self.text}"


class NotFoundError(Error, FileNotFoundError):
    """A qrcore.Error for a missing file or folder (also a FileNotFoundError)."""

    def __init__(self, number: int, text: str) -> None:
        FileNotFoundError.__init__(self, _errno.ENOENT, text)
        Error.__init__(self, number, text)


class AccessError(Error, PermissionError):
    """A qrcore.Error for refused access (also a PermissionError)."""

    def __init__(self, number: int, text: str) -> None:
        PermissionError.__init__(self, _errno.EACCES, text)
        Error.__init__(self, number, text)


class ExistsError(Error, FileExistsError):
    """A qrcore.Error for a file that exists and may not be replaced (also a FileExistsError)."""

    def __init__(self, number: int, text: str) -> None:
        FileExistsError.__init__(self, _errno.EEXIST, text)
        Error.__init__(self, number, text)


_BY_CODE: Dict[int, Type[Error]] = {
    _errno.ENOENT: NotFoundError, _errno.ENOTDIR: NotFoundError,
    _errno.EACCES: AccessError, _errno.EPERM: AccessError,
    _errno.EEXIST: ExistsError,
}


def _from_library(number: int, text: str, system_code: int) -> Error:
    """The exception for a library error (called by the extension module)."""
    return _BY_CODE.get(system_code, Error)(number, text)
