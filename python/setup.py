"""Builds palfill's extension from the sources of the command and the
library themselves, as src/library_sources.txt and src/driver_sources.txt
list them for CMake and for this file alike. They live outside python/, so
in the repository they are copied under core/ first (a folder git ignores);
an sdist carries that copy, and builds on its own. The library's results
come from the extension itself, as constants."""
import re
import shutil
from pathlib import Path

from setuptools import Extension, setup

HERE = Path(__file__).resolve().parent
CORE = HERE / "core"
LISTS = ["src/library_sources.txt", "src/common_sources.txt", "src/driver_sources.txt"]
REPOSITORY = HERE.parent


def listed(top: Path) -> "list[str]":
    files = []
    for name in LISTS:
        lines = (top / name).read_text().splitlines()
        files += [line for line in lines if line and not line.startswith("#")]
    return files


def copy_core() -> None:
    """The repository's sources, lists and licence, copied afresh under core/."""
    shutil.rmtree(CORE, ignore_errors=True)
    for name in LISTS + listed(REPOSITORY) + ["LICENSE"]:
        target = CORE / name
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(REPOSITORY / name, target)


def header() -> str:
    return (CORE / "include" / "palfill.h").read_text()


def version() -> str:
    found = [re.search(rf"#define PALFILL_VERSION_{part} (\d+)", header()) for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(match[1] for match in found if match)


if (REPOSITORY / "src" / "library_sources.txt").is_file() and (REPOSITORY / "python").resolve() == HERE:
    copy_core()

setup(
    version=version(),
    ext_modules=[
        Extension(
            "palfill._palfill",
            sources=["src/palfill/_palfill.cc"] + [f"core/{f}" for f in listed(CORE) if f.endswith(".cc")],
            include_dirs=["core/src", "core/include"],
            language="c++",
            extra_compile_args=["-std=c++17", "-O2", "-fvisibility=hidden"],
        )
    ],
)
