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
- convert_tree(in_dir, out_dir, *, clut=None, jobs=None, progress=None,
  plan=None): exactly what palfill-tree does with a whole folder.
- plan_tree(in_dir, *, clut=None) -> list[PlanEntry]: palfill-tree --plan.
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
import enum
import errno as _errno
import io
import os
from typing import IO, TYPE_CHECKING, Any, Callable, Iterable, NamedTuple, Optional, Union

from . import _palfill

if TYPE_CHECKING:
    from PIL import Image

__all__ = ["ConversionError", "Error", "FileError", "PlanEntry", "ResultCode", "TreeResult", "convert",
           "convert_file", "convert_tree", "plan_tree", "__version__"]

#: The project's version, which is also that of the library compiled in.
__version__: str = _palfill.__version__

#: A path as os.open takes one.
StrOrBytesPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: What the buffer protocol hands over: bytes, bytearray, memoryview, mmap ...
Buffer = Any


class ResultCode(enum.IntEnum):
    """How a conversion ended: the library's palfill_result, value for value
    (the extension adds each as a constant, named as palfill.h names it)."""

    FINISHED = _palfill.FINISHED  #: the output is complete
    NOT_PNG = _palfill.NOT_PNG  #: 8 bytes or more, not beginning with the PNG signature
    UNEXPECTED_EOF = _palfill.UNEXPECTED_EOF  #: the PNG ends before IEND
    CLUT_UNEXPECTED_EOF = _palfill.CLUT_UNEXPECTED_EOF  #: the CLUT ends inside a field
    UNKNOWN_DEPTH = _palfill.UNKNOWN_DEPTH  #: the CLUT's depth code is 3, which is invalid
    NOT_A_CLUT = _palfill.NOT_A_CLUT  #: the CLUT begins with the PNG signature: an image
    OUT_OF_MEMORY = _palfill.OUT_OF_MEMORY  #: memory for the conversion could not be had
    WRITE_FAILED = _palfill.WRITE_FAILED  #: the output refused bytes or a cut
    READ_FAILED = _palfill.READ_FAILED  #: a read failed
    BUFFER_TOO_SMALL = _palfill.BUFFER_TOO_SMALL  #: a caller's buffer cannot hold the output
    INVALID_ARGUMENT = _palfill.INVALID_ARGUMENT  #: a struct's size is one no release has


if [member.name for member in ResultCode] != list(_palfill.RESULTS):
    raise ImportError("palfill.ResultCode does not list the results of the library compiled in")


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


def _contiguous(data: Optional[Buffer]) -> Optional[Buffer]:
    """`data` as one contiguous run of bytes, as the extension takes them: a strided view is copied."""
    if data is None:
        return None
    view = memoryview(data)
    return data if view.c_contiguous else view.tobytes()


def _converted(png: Buffer, clut: Optional[Buffer], png_name: StrOrBytesPath, clut_name: StrOrBytesPath) -> bytes:
    try:
        result, data, line = _palfill.convert(png, clut, png_name, clut_name)
    except (TypeError, BufferError):  # perhaps a buffer that is not contiguous
        result, data, line = _palfill.convert(_contiguous(png), _contiguous(clut), png_name, clut_name)
    if result:
        raise ConversionError(line, ResultCode(result), data)
    return data  # type: ignore[return-value]  # bytes, when it finished


def convert(png: Buffer, clut: Optional[Buffer] = None) -> bytes:
    """The PNG held in `png` with its palette, from the CLUT file held in `clut`
    or, without one, from the 128 default colours: the bytes the palfill
    command writes.

    Each takes any object with the buffer protocol (bytes, bytearray,
    memoryview, mmap). Any failure raises ConversionError, whose ``.data`` is
    what the command would leave in its output file and whose ``.line`` names
    the files <png> and <clut>. The GIL is released while it converts.
    """
    try:  # the usual way in, a frame shorter than _converted()'s
        result, data, line = _palfill.convert(png, clut, "<png>", "<clut>")
    except (TypeError, BufferError):
        return _converted(png, clut, "<png>", "<clut>")
    if result:
        raise ConversionError(line, ResultCode(result), data)
    return data  # type: ignore[return-value]  # bytes, when it finished


def convert_file(in_png: StrOrBytesPath, out_png: StrOrBytesPath, *, clut: Optional[StrOrBytesPath] = None) -> None:
    """As ``palfill IN_PNG [CLUT] OUT_PNG`` does: the command's files, in constant
    memory, with every check the command makes.

    A failure of the bytes raises ConversionError after leaving the command's
    files; a failure of the files raises a FileError, which is also the
    OSError subclass Python raises for its cause. The GIL is released while
    it converts.
    """
    failed = _palfill.convert_file(in_png, out_png, clut)
    if failed is None:
        return
    line, result, file_failure, role, error_number = failed
    code = ResultCode(result) if result >= 0 else None
    if not file_failure:
        assert code is not None
        raise ConversionError(line, code, None)
    raise _file_error(error_number, line, (in_png, clut, out_png)[role], code)


class TreeResult(NamedTuple):
    """What convert_tree() did: how many images converted, and each failure as
    palfill-tree prints it, (IN_PATH, LINE), in the order of their paths."""

    converted: int
    failures: list[tuple[str, str]]


class PlanEntry(NamedTuple):
    """One output of a plan, as ``palfill-tree --plan`` prints it: paths
    relative to the input folder, ``/`` between names; ``clut`` the CLUT's
    path, ``-`` for the default colours, or ``!`` where the output fails with
    ``why``; ``why`` says why (``document DOC``, ``folder``, ``defaults``,
    ``--clut``, or the failure's line)."""

    output: str
    input: str
    clut: str
    why: str


def convert_tree(in_dir: StrOrBytesPath, out_dir: StrOrBytesPath, *, clut: Optional[StrOrBytesPath] = None,
                 jobs: Optional[int] = None, progress: Optional[Callable[[int, int], object]] = None,
                 plan: Optional[Iterable[PlanEntry]] = None) -> TreeResult:
    """As ``palfill-tree [-j JOBS] [--clut CLUT] IN_DIR OUT_DIR`` does.

    Every file under `in_dir` whose name ends in .png converts under
    `out_dir`, each as the command converts it alone, with the CLUT of the
    BML documents that show it, or of its folder (`clut`, when given, for
    every image). `plan`, an iterable of PlanEntry (from plan_tree(), or
    made by hand), converts exactly those entries instead, as
    ``palfill-tree --use-plan`` does. `jobs` images convert at once (None:
    one per processor). A damaged image is a failure in the result, not an
    exception; an `in_dir` that cannot be read raises FileError, and memory
    the walk cannot have MemoryError. The GIL is released while it runs.

    `progress`, when given, is called from this thread at least once a
    second with (done, total): the images done, of those found so far.
    Ctrl-C raises KeyboardInterrupt within a second, and an exception that
    `progress` raises stops the run the same way: outputs finished by then
    stay, and those in flight are left as an interrupted palfill leaves them.
    """
    if jobs is not None and not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    if jobs is not None and not 1 <= jobs <= 1024:
        raise ValueError("jobs must be from 1 to 1024, or None for one per processor")
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")
    converted, failures, could_not_start, error_number = _palfill.convert_tree(
        in_dir, out_dir, clut, jobs or 0, progress, plan)
    if could_not_start is not None:
        raise _file_error(error_number, could_not_start, in_dir, None)
    return TreeResult(converted, failures)


def plan_tree(in_dir: StrOrBytesPath, *, clut: Optional[StrOrBytesPath] = None) -> list[PlanEntry]:
    """As ``palfill-tree --plan [--clut CLUT] IN_DIR`` does: which CLUT each
    output takes, and why, reading documents and sheets but no image or CLUT.

    The entries come in the order of their outputs, their fields as the plan
    prints them without its escapes. convert_tree(plan=...) converts them,
    here or, entry by entry with convert_file(), anywhere else. An `in_dir`
    that cannot be read raises FileError.
    """
    rows, could_not_start, error_number = _palfill.plan_tree(in_dir, clut)
    if could_not_start is not None:
        raise _file_error(error_number, could_not_start, in_dir, None)
    return [PlanEntry(*row) for row in rows]


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
    raise as convert()'s do, naming the files; a file that cannot be read
    raises as convert_file()'s do. Needs Pillow (``pip install 'palfill[pillow]'``).
    """
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError("palfill.open needs Pillow: pip install 'palfill[pillow]'") from error
    png_bytes, png_name = _read(fp, "png")
    clut_bytes, clut_name = _read(clut, "clut") if clut is not None else (None, "")
    return Image.open(io.BytesIO(_converted(png_bytes, clut_bytes, png_name, clut_name)))
