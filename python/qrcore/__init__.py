"""QRCore for Python: survey line and flight codes, XYZ survey files, in-place file edits, mapped
views and SEG-Y files on numpy, through the QRCore library.

Modules: ``qrcore.line`` and ``qrcore.flight`` (name codecs), ``qrcore.xyz`` (XYZ files),
``qrcore.segy`` (SEG-Y files), ``qrcore.convert`` (EBCDIC, BCD, angles and times). Classes:
``qrcore.File`` (a file with 64-bit positions and journaled insert/remove/move/zero),
``qrcore.MapFile`` (named mappings and zero-copy views), ``qrcore.recover`` (finish an
interrupted edit). Every error the library reports is raised as ``qrcore.Error``.

Importing the package installs its own notice handler in the library: nothing is printed and no
question waits on a terminal; the overwrite question is answered by ``overwrite=`` keywords.
Long operations release the GIL.
"""

from . import _errorlist

_errorlist.check()

from . import _qrcore  # noqa: E402  (only once the error list is known to be there)
from ._errors import AccessError, Error, ExistsError, NotFoundError  # noqa: E402
from ._qrcore import File, MapFile, recover  # noqa: E402
from . import convert, flight, line, segy, xyz  # noqa: E402

__all__ = ["AccessError", "Error", "ExistsError", "File", "MapFile", "NotFoundError", "convert", "flight",
           "line", "recover", "segy", "xyz"]
