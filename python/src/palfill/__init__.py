"""palfill: give the palette-less indexed PNGs of Japanese data broadcasts
their palette, in Python.

Images carried in Japanese data broadcasts are often indexed-colour PNGs
stored without a PLTE chunk: their colours live in a separate colour lookup
table (CLUT) file, or in a fixed table of 128 default colours. Pillow opens
them without a word, in a grey ramp. This package is the palfill command's
own core, compiled in:

- convert(png, clut=None): bytes in, a Result out, as libpalfill converts.
- convert_file(in_png, out_png, *, clut=None): exactly what the command
  does with files, checks included.
- open(png, clut=None): a Pillow Image in the image's true colours (needs
  Pillow: ``pip install palfill[pillow]``).

Any number of threads may convert at once: the GIL is released while a
conversion runs.
"""
from __future__ import annotations

import enum
import io
import os
from typing import IO, Any, Optional, Union

from . import _palfill
from ._palfill import Result, convert

__all__ = ["Error", "Result", "ResultCode", "convert", "convert_file", "open", "__version__"]

#: The project's version, which is also that of the library compiled in.
__version__: str = _palfill.library_version()


class ResultCode(enum.IntEnum):
    """How a conversion ended: one member per palfill_result of the library."""

    FINISHED = 0  #: the output is complete
    NOT_PNG = 1  #: the input does not begin with the PNG signature
    UNEXPECTED_EOF = 2  #: the PNG ends before IEND
    CLUT_UNEXPECTED_EOF = 3  #: the CLUT ends inside its header, range or an entry
    UNKNOWN_DEPTH = 4  #: the CLUT's depth code is 3, which is invalid
    NOT_A_CLUT = 5  #: the CLUT begins with the PNG signature: an image
    OUT_OF_MEMORY = 6  #: memory for the conversion could not be had
    WRITE_FAILED = 7  #: the output refused bytes
    READ_FAILED = 8  #: a file could not be read (not the same as ending early)
    BUFFER_TOO_SMALL = 9  #: an output buffer too small (never from this package)
    INVALID_ARGUMENT = 10  #: a struct of the wrong size (never from this package)


_palfill._set_result_codes(tuple(ResultCode))


class Error(Exception):
    """A conversion that failed where the command prints an error line.

    ``line`` is the command's line, without its newline; ``result`` the
    library's result, or None where the library never ran (a file that
    cannot be opened, the same file twice, an output that is not a PNG).
    """

    def __init__(self, line: str, result: Optional[ResultCode] = None) -> None:
        super().__init__(line)
        self.line = line
        self.result = result


Path = Union[str, "os.PathLike[str]", bytes, "os.PathLike[bytes]"]


def convert_file(in_png: Path, out_png: Path, *, clut: Optional[Path] = None) -> Result:
    """Converts as ``palfill IN_PNG [CLUT] OUT_PNG`` does, in constant memory.

    Leaves exactly the command's files, in every case. Returns the Result
    (its ``data`` None) when the command reaches its conversion, whatever
    the bytes were: a damaged PNG gives UNEXPECTED_EOF and the chunks before
    the damage in OUT_PNG. Raises Error, with the command's line, where the
    files themselves fail: one cannot be opened, read or written, the output
    names an input, or the output is an existing file the command refuses
    to replace (not a PNG nor one of its lines). The CLUT is a keyword, as
    the command names it second.
    """
    status, line, result, file_failure = _palfill._convert_file(
        os.fsencode(in_png), os.fsencode(out_png), None if clut is None else os.fsencode(clut))
    text = os.fsdecode(line).rstrip("\n")
    if file_failure:
        raise Error(text, ResultCode(result) if result >= 0 else None)
    return Result((ResultCode(result), None))


def _read(source: Union[Path, bytes, bytearray, memoryview, IO[bytes]], what: str) -> tuple[bytes, str]:
    """The bytes of a path, a bytes-like object or a file object, and a name for lines."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        return bytes(source), f"<{what}>"
    if hasattr(source, "read"):
        return source.read(), str(getattr(source, "name", f"<{what}>"))
    name = os.fsdecode(source)
    try:
        with io.open(source, "rb") as file:
            return file.read(), name
    except OSError as error:
        raise Error(f"Error : Can't open file {name}") from error


def open(png: Any, clut: Any = None) -> Any:
    """A Pillow Image of ``png`` in its true colours.

    ``png`` and ``clut`` each take a path, bytes or a file object. The image
    is the one Pillow reads from the command's output: mode "P" with the
    palette from the CLUT or the default colours, and its transparency. A
    failure raises Error with the result and the command's line. Needs
    Pillow (``pip install palfill[pillow]``).
    """
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError("palfill.open needs Pillow: pip install 'palfill[pillow]'") from error
    clut_bytes, clut_name = _read(clut, "clut") if clut is not None else (None, "")
    png_bytes, png_name = _read(png, "png")
    result, data = convert(png_bytes, clut_bytes)
    if result != ResultCode.FINISHED:
        raise Error(_palfill._result_line(result, png_name, clut_name, "<image>"), result)
    return Image.open(io.BytesIO(data or b""))

