"""palfill: give the palette-less indexed PNGs of Japanese data broadcasts
their palette, in Python.

Images carried in Japanese data broadcasts are often indexed-colour PNGs
stored without a PLTE chunk: their colours live in a separate colour lookup
table (CLUT) file, or in a fixed table of 128 default colours. Pillow opens
them without a word, in a grey ramp. This package is the palfill command's
own core and driver, compiled in:

- convert(png, clut=None) -> bytes: a PNG in memory, as libpalfill converts.
- convert_file(in_png, out_png, *, clut=None): exactly what the command does
  with files, checks included.
- convert_tree(in_dir, out_dir, *, clut=None, jobs=None): exactly what
  palfill-tree does with a whole folder.
- palfill.open(fp, clut=None): a Pillow Image in the image's true colours
  (needs Pillow: ``pip install 'palfill[pillow]'``).

A conversion that fails raises: ConversionError (a ValueError) when the bytes
fail, FileError (the OSError subclass Python raises for the same cause) when
the files do; both are palfill.Error, and carry the command's line. The GIL is
released while anything converts, so any number of threads may convert at
once.
"""
from __future__ import annotations

import builtins
import errno as _errno
import io
import os
from typing import IO, TYPE_CHECKING, Any, Callable, NamedTuple, Optional, Union

from . import _palfill
from ._palfill import convert, convert_file
from ._results import ResultCode

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["ConversionError", "Error", "FileError", "ResultCode", "TreeResult", "convert", "convert_file",
           "convert_tree", "__version__"]

#: The project's version, which is also that of the library compiled in.
__version__: str = _palfill.library_version()

#: A path as os.open takes one.
StrOrBytesPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class Error(Exception):
    """Any failure of a conversion or of its files; ``line`` is the command's line."""

    line: str


class ConversionError(Error, ValueError):
    """The bytes could not be converted: the PNG or the CLUT is damaged.

    ``result`` is the library's ResultCode, ``line`` the command's line, and
    ``data`` what the command would leave in its output file (the chunks
    before the damage, or b'' for a PNG that is none), or None where it
    leaves no file: after a CLUT failure, and from convert_file(), whose
    output file holds it.
    """

    def __init__(self, line: str, result: ResultCode, data: Optional[bytes]) -> None:
        super().__init__(line)
        self.line = line
        self.result = result
        self.data = data

    def __reduce__(self) -> tuple[Any, ...]:
        return type(self), (self.line, self.result, self.data)


class FileError(Error, OSError):
    """The files failed: one could not be opened, read or written, the same
    file was named twice, or the output is someone's data, not a PNG.

    Raised as the OSError subclass that Python raises for the same cause
    (FileNotFoundError, PermissionError, IsADirectoryError, ...), with its
    ``errno`` and ``filename``; ``errno`` is None where no call failed (the
    same file twice, an output that is not a PNG). ``result`` is the
    library's ResultCode for a read or a write that failed, else None.
    """

    result: Optional[ResultCode]

    def __reduce__(self) -> tuple[Any, ...]:
        # OSError keeps a filename through pickle only beside an errno.
        reduced: tuple[Any, ...] = tuple(super().__reduce__())
        kept = dict(reduced[2] or {}) if len(reduced) > 2 else {}
        kept["filename"] = self.filename
        return reduced[0], reduced[1], kept


_OS_ERRORS = (BlockingIOError, ChildProcessError, BrokenPipeError, ConnectionAbortedError,
              ConnectionRefusedError, ConnectionResetError, FileExistsError, FileNotFoundError,
              InterruptedError, IsADirectoryError, NotADirectoryError, PermissionError,
              ProcessLookupError, TimeoutError)


def _file_error_class(base: type[OSError]) -> type[FileError]:
    """FileError as the OSError subclass `base`, reachable as FileError.<base> (for pickle)."""
    cls = type(base.__name__, (FileError, base), {"__module__": __name__,
                                                   "__doc__": f"A palfill.FileError that is a {base.__name__}."})
    cls.__qualname__ = f"FileError.{base.__name__}"
    setattr(FileError, base.__name__, cls)
    return cls


_FILE_ERRORS = {base: _file_error_class(base) for base in _OS_ERRORS}


def _file_error(error_number: int, line: str, filename: Any, result: Optional[ResultCode]) -> FileError:
    """The exception for a failure of the files, as Python would raise it for `error_number`."""
    error: FileError
    if error_number:
        strerror = os.strerror(error_number)
        cls = _FILE_ERRORS.get(type(OSError(error_number, strerror)), FileError)
        error = cls(error_number, strerror, filename)
    else:
        error = FileError(line)
        error.filename = filename
    error.line = line
    error.result = result
    return error


_palfill._setup(tuple(ResultCode), ConversionError, _file_error)


class TreeResult(NamedTuple):
    """What convert_tree() did: how many images converted, and each failure as
    palfill-tree prints it, (IN_PATH, LINE), in the order of their paths."""

    converted: int
    failures: list[tuple[str, str]]


def convert_tree(in_dir: StrOrBytesPath, out_dir: StrOrBytesPath, *, clut: Optional[StrOrBytesPath] = None,
                 jobs: Optional[int] = None, progress: Optional[Callable[[int, int], object]] = None) -> TreeResult:
    """As ``palfill-tree [-j JOBS] [--clut CLUT] IN_DIR OUT_DIR`` does.

    Every file under `in_dir` whose name ends in .png converts to the same
    relative path under `out_dir`, each as the command converts it alone,
    with `clut` or else the CLUT file of its folder, or of the nearest folder
    above. `jobs` images convert at once (None: one per processor). A damaged
    image is a failure in the result, not an exception; an `in_dir` that
    cannot be read raises FileError, and memory the walk cannot have
    MemoryError. The GIL is released while it runs.

    `progress`, when given, is called from this thread at least once a
    second with (done, total): the images done, of those found so far.
    Ctrl-C raises KeyboardInterrupt within a second, and an exception that
    `progress` raises stops the run the same way: outputs finished by then
    stay, and those in flight are left as an interrupted palfill leaves them.
    """
    converted, failures = _palfill._convert_tree(in_dir, out_dir, clut=clut, jobs=jobs, progress=progress)
    return TreeResult(converted, failures)


def _read(source: Union[StrOrBytesPath, IO[bytes]], what: str) -> tuple[bytes, str]:
    """The bytes of a path or of a binary file object, and its name for lines."""
    if hasattr(source, "read"):
        data = source.read()
        if not isinstance(data, bytes):
            raise TypeError(f"{what} must be opened in binary mode")
        name = getattr(source, "name", f"<{what}>")
        return data, os.fsdecode(name) if isinstance(name, (str, bytes, os.PathLike)) else f"<{what}>"
    name = os.fsdecode(source)
    try:
        with builtins.open(source, "rb") as file:
            return file.read(), name
    except OSError as error:
        raise _file_error(error.errno or _errno.EIO, _palfill.cant_open_line(name), source, None) from error


def open(fp: Union[StrOrBytesPath, IO[bytes]], clut: Union[StrOrBytesPath, IO[bytes], None] = None) -> "Image.Image":
    """A Pillow Image of the PNG `fp` in its true colours, as Image.open() opens it.

    `fp` and `clut` each take what Pillow's Image.open takes: a path (str,
    bytes or os.PathLike) or a binary file object. The image is the one
    Pillow reads from the command's output: mode "P" with the palette from
    the CLUT file or the default colours, and its transparency. Failures
    raise as convert()'s do, and a file that cannot be read as
    convert_file()'s. Needs Pillow (``pip install 'palfill[pillow]'``).
    """
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError("palfill.open needs Pillow: pip install 'palfill[pillow]'") from error
    png_bytes, png_name = _read(fp, "png")
    clut_bytes, clut_name = _read(clut, "clut") if clut is not None else (None, "")
    try:
        data = convert(png_bytes, clut_bytes)
    except ConversionError as error:  # the same failure, naming the files
        line = _palfill.result_line(error.result, png_name, clut_name, "<image>")
        raise ConversionError(line, error.result, error.data) from None
    return Image.open(io.BytesIO(data))
