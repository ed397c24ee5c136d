"""palfill for Python against the palfill command: convert() at every cut
with every kind of CLUT, convert_file() against the command's files and
lines, open() against what Pillow reads from the command's output, and
threads against one thread.

    PALFILL_COMMAND=build/palfill python3 -m pytest python/tests
"""
import array
import io
import mmap
import os
import re
import subprocess
import threading
from pathlib import Path

import pytest

import palfill

TOP = Path(__file__).resolve().parents[2]
EXAMPLES = Path(os.environ.get("PALFILL_EXAMPLES", TOP / "examples"))
COMMAND = os.environ.get("PALFILL_COMMAND", str(TOP / "build" / "palfill"))

SAMPLE = (EXAMPLES / "sample.png").read_bytes()
SAMPLE4 = (EXAMPLES / "sample-4bit.png").read_bytes()
RGB = (EXAMPLES / "rgb.clt").read_bytes()
YCBCR = (EXAMPLES / "ycbcr.clt").read_bytes()
CLUTS = {"none": None, "rgb": RGB, "ycbcr cut": YCBCR[:100], "empty": b"", "depth 3": b"\x60",
         "an image": SAMPLE4, "0x89 0x50": b"\x89\x50"}


def command(cwd, *args):
    """The command's line (without its newline), status and output bytes (None: no file)."""
    for old in Path(cwd).glob("out.png"):
        old.unlink()
    run = subprocess.run([COMMAND, *args], cwd=cwd, capture_output=True, check=False)
    out = Path(cwd, "out.png")
    return os.fsdecode(run.stdout).rstrip("\n"), run.returncode, out.read_bytes() if out.exists() else None


def code_for(line, output):
    """The result a line of the command stands for (an early end of the CLUT leaves no output)."""
    for text, code in [("Finished ", palfill.ResultCode.FINISHED), ("Error : Not a PNG", palfill.ResultCode.NOT_PNG),
                       ("Error : Unknown depth", palfill.ResultCode.UNKNOWN_DEPTH),
                       ("Error : Not a CLUT", palfill.ResultCode.NOT_A_CLUT)]:
        if line.startswith(text):
            return code
    assert line == "Error : Unexpected EOF", line
    return palfill.ResultCode.UNEXPECTED_EOF if output is not None else palfill.ResultCode.CLUT_UNEXPECTED_EOF


def cases():
    for cut in range(len(SAMPLE4) + 1):
        for name, clut in CLUTS.items():
            yield f"4-bit cut at {cut} with {name}", SAMPLE4[:cut], clut
    for cut in range(0, len(SAMPLE) + 1, 97):
        yield f"8-bit cut at {cut}", SAMPLE[:cut], None


@pytest.mark.parametrize("name, png, clut", list(cases()), ids=lambda v: v if isinstance(v, str) else "")
def test_convert_gives_the_command_s_bytes_result_and_line(tmp_path, name, png, clut):
    (tmp_path / "in.png").write_bytes(png)
    args = ["in.png", "out.png"]
    if clut is not None:
        (tmp_path / "in.clt").write_bytes(clut)
        args.insert(1, "in.clt")
    line, _, output = command(tmp_path, *args)
    result, data = palfill.convert(png, clut)
    assert result is code_for(line, output)
    assert data == (output or b"")
    assert palfill._palfill._result_line(result, "in.png", "in.clt", "out.png") == line


def test_convert_takes_any_buffer_and_refuses_the_rest(tmp_path):
    want = palfill.convert(SAMPLE, RGB)
    (tmp_path / "m").write_bytes(SAMPLE)
    with open(tmp_path / "m", "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        strided = memoryview(bytes(b for byte in SAMPLE for b in (byte, 0)))[::2]
        for png in [bytearray(SAMPLE), memoryview(SAMPLE), mapped, array.array("B", SAMPLE), strided]:
            assert palfill.convert(png, clut=memoryview(RGB)) == want
    for png, clut in [("sample.png", None), (None, None), (42, None), ([1, 2], None), (SAMPLE, "rgb.clt")]:
        with pytest.raises(TypeError):
            palfill.convert(png, clut)
    assert want.result is palfill.ResultCode.FINISHED and want == (want.result, want.data)


def test_the_package_says_the_library_s_version_and_results():
    header = (TOP / "include" / "palfill.h").read_text() if (TOP / "include").is_dir() else None
    if header is None:
        pytest.skip("palfill.h is not beside the tests")
    version = ".".join(re.search(rf"PALFILL_VERSION_{p} (\d+)", header)[1] for p in ("MAJOR", "MINOR", "PATCH"))
    assert palfill.__version__ == version
    assert {m.name: m.value for m in palfill.ResultCode} == {
        name: int(value) for name, value in re.findall(r"PALFILL_(\w+) = (\d+)", header)}


# convert_file() and the command, each in a folder of its own holding the
# same files: the same files afterwards, the same line, raised or returned.
FILE_CASES = [
    ("default colours", {}, ["in.png", "out.png"], {}),
    ("a CLUT", {"in.clt": RGB}, ["in.png", "out.png"], {"clut": "in.clt"}),
    ("cut short", {"in.png": SAMPLE4[:200]}, ["in.png", "out.png"], {}),
    ("not a PNG", {"in.png": b"GIF89a and more"}, ["in.png", "out.png"], {}),
    ("depth 3", {"in.clt": b"\x60"}, ["in.png", "out.png"], {"clut": "in.clt"}),
    ("an image as the CLUT", {"res.png": SAMPLE4}, ["in.png", "out.png"], {"clut": "res.png"}),
    ("a missing input", {}, ["missing.png", "out.png"], {}),
    ("a missing CLUT", {}, ["in.png", "out.png"], {"clut": "missing.clt"}),
    ("the same file", {}, ["in.png", "in.png"], {}),
    ("notes as the output", {"notes.txt": b"my notes\n"}, ["in.png", "notes.txt"], {}),
    ("the CLUT named last", {"res.png": SAMPLE[:7], "my.clt": RGB}, ["in.png", "my.clt"], {"clut": "res.png"}),
    ("an earlier output", {"out.png": SAMPLE}, ["in.png", "out.png"], {}),
    ("no such folder", {}, ["in.png", "no/out.png"], {}),
    ("a full disk", {}, ["in.png", "/dev/full"], {}),
    ("a CLUT that cannot be read", {}, ["in.png", "out.png"], {"clut": "/proc/self/mem"}),
]


def tree(root):
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(Path(root).rglob("*")) if p.is_file()}


@pytest.mark.parametrize("name, files, args, options", FILE_CASES, ids=[c[0] for c in FILE_CASES])
def test_convert_file_leaves_the_command_s_files_and_line(tmp_path, monkeypatch, name, files, args, options):
    for side in ("command", "python"):
        (tmp_path / side).mkdir()
        (tmp_path / side / "in.png").write_bytes(SAMPLE)
        for file, data in files.items():
            (tmp_path / side / file).write_bytes(data)
    clut = options.get("clut")
    run = subprocess.run([COMMAND, args[0], *([clut] if clut else []), args[1]], cwd=tmp_path / "command",
                         capture_output=True, check=False)
    line = os.fsdecode(run.stdout).rstrip("\n")
    monkeypatch.chdir(tmp_path / "python")
    try:
        result = palfill.convert_file(Path(args[0]), args[1], clut=clut)
    except palfill.Error as error:
        assert run.returncode == 1
        assert error.line == line
        assert error.result in (None, palfill.ResultCode.READ_FAILED, palfill.ResultCode.WRITE_FAILED)
    else:
        assert result.data is None
        assert result.result is code_for(line, tree(tmp_path / "command").get(args[1]))
        assert (run.returncode == 0) == (result.result is palfill.ResultCode.FINISHED)
    assert tree(tmp_path / "python") == tree(tmp_path / "command")


def test_open_gives_the_image_pillow_reads_from_the_command_s_output(tmp_path):
    image_module = pytest.importorskip("PIL.Image")
    (tmp_path / "in.png").write_bytes(SAMPLE)
    (tmp_path / "in.clt").write_bytes(YCBCR)

    def same(got, want):
        assert (got.mode, got.size, got.getpalette(), got.info.get("transparency"), got.tobytes()) == (
            want.mode, want.size, want.getpalette(), want.info.get("transparency"), want.tobytes())

    # A path, bytes or a file object (made afresh: each is read to its end).
    for clut, sources in [(None, [lambda: None]),
                          ("in.clt", [lambda: tmp_path / "in.clt", lambda: YCBCR, lambda: io.BytesIO(YCBCR)])]:
        _, _, output = command(tmp_path, "in.png", *([clut] if clut else []), "out.png")
        want = image_module.open(io.BytesIO(output))
        for png in [lambda: str(tmp_path / "in.png"), lambda: SAMPLE, lambda: io.BytesIO(SAMPLE)]:
            for source in sources:
                same(palfill.open(png(), source()), want)
    # What Pillow makes of the image alone: a grey ramp, without a word.
    assert image_module.open(io.BytesIO(SAMPLE)).getpalette()[3:6] == [1, 1, 1]
    with pytest.raises(palfill.Error) as failed:
        palfill.open(SAMPLE[:300])
    assert (failed.value.result, failed.value.line) == (palfill.ResultCode.UNEXPECTED_EOF, "Error : Unexpected EOF")
    with pytest.raises(palfill.Error) as failed:
        palfill.open(SAMPLE, clut=tmp_path / "missing.clt")
    assert (failed.value.result, failed.value.line) == (None, f"Error : Can't open file {tmp_path / 'missing.clt'}")


def test_threads_give_what_one_thread_gives():
    inputs = [(png, clut) for _, png, clut in list(cases())[::23]]
    want = [palfill.convert(png, clut) for png, clut in inputs]
    mismatches = []

    def convert_all():
        for _ in range(20):
            got = [palfill.convert(png, clut) for png, clut in inputs]
            mismatches.append(sum(g != w for g, w in zip(got, want)))

    threads = [threading.Thread(target=convert_all) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == [0] * 160
