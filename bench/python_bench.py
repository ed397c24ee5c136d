"""Conversions per second through palfill.convert against the C library's
own rate, both measured in the same run: the C library through its
benchmark (bench/library_bench.cc, a C client), Python through the
installed package, on the same 4 KiB image, rounds interleaved. A
benchmark, not a test.

    cmake -S . -B build-bench -DPALFILL_BENCHMARKS=ON && cmake --build build-bench -j2
    VENV/bin/python bench/python_bench.py build-bench/bench/palfill_library_bench [rounds]
"""
import json
import statistics
import struct
import subprocess
import sys
import timeit
import zlib

import palfill


def image_4k() -> bytes:
    """An image like the library benchmark's: 64 x 60, 8-bit indexes, stored deflate."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes((x * 7 + y * 3) % 256 for x in range(64)) for y in range(60))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 60, 8, 3, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))


def c_rate(bench: str) -> float:
    run = subprocess.run([bench, "--benchmark_filter=default_colours", "--benchmark_format=json",
                          "--benchmark_min_time=1"], capture_output=True, check=True, text=True)
    result = json.loads(run.stdout)["benchmarks"][0]
    return 1e9 / result["cpu_time"] if result["time_unit"] == "ns" else float("nan")


def python_rate(png: bytes) -> float:
    count = 200_000
    return count / min(timeit.repeat(lambda: palfill.convert(png), number=count, repeat=3))


def main() -> None:
    bench = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    png = image_4k()
    assert palfill.convert(png).startswith(png[:33])
    c, py = [], []
    for _ in range(rounds):
        c.append(c_rate(bench))
        py.append(python_rate(png))
    c_median, py_median = statistics.median(c), statistics.median(py)
    print(f"{len(png)}-byte image, medians of {rounds} rounds:")
    print(f"  C library (palfill_convert)  {c_median:12,.0f} conversions per second")
    print(f"  palfill.convert (Python)     {py_median:12,.0f} conversions per second")
    print(f"  ratio                        {py_median / c_median:12.2f}")


if __name__ == "__main__":
    main()
