# Types of palfill's compiled core and driver.
import os
from typing import Any, Callable, Iterable, Optional, Union

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

__version__: str
RESULTS: tuple[str, ...]
FINISHED: int
NOT_PNG: int
UNEXPECTED_EOF: int
CLUT_UNEXPECTED_EOF: int
UNKNOWN_DEPTH: int
NOT_A_CLUT: int
OUT_OF_MEMORY: int
WRITE_FAILED: int
READ_FAILED: int
BUFFER_TOO_SMALL: int
INVALID_ARGUMENT: int

def convert(png: Any, clut: Any, png_name: _Path, clut_name: _Path, /) -> tuple[int, Optional[bytes], str]: ...
def convert_file(
    in_png: _Path, out_png: _Path, clut: Optional[_Path], /
) -> Optional[tuple[str, int, int, int, int]]: ...
def convert_tree(
    in_dir: _Path,
    out_dir: _Path,
    clut: Optional[_Path],
    jobs: int,
    progress: Optional[Callable[[int, int], object]],
    plan: Optional[Iterable[Any]],
    /,
) -> tuple[int, list[tuple[str, str]], Optional[str], int]: ...
def plan_tree(
    in_dir: _Path, clut: Optional[_Path], /
) -> tuple[list[tuple[str, str, str, str]], Optional[str], int]: ...
def run_command(args: list[_Path], /) -> int: ...
def result_line(result: int, reading: _Path, clut: _Path, output: _Path, /) -> str: ...
def cant_open_line(path: _Path, /) -> str: ...
