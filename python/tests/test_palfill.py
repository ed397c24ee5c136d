"""palfill for Python against the palfill command: convert() at every cut
with every kind of CLUT, convert_file() and `python -m palfill` against the
command's files, lines and statuses, convert_tree() against palfill-tree,
open() against what Pillow reads from the command's output, and threads
against one thread.

    PALFILL_COMMAND=build/palfill python3 -m pytest python/tests
"""
import array
import errno
import inspect
import io
import mmap
import os
import pickle
import re
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import palfill

TOP = Path(__file__).resolve().parents[2]
EXAMPLES = Path(os.environ.get("PALFILL_EXAMPLES", TOP / "examples"))
COMMAND = os.environ.get("PALFILL_COMMAND", str(TOP / "build" / "palfill"))
TREE_COMMAND = str(Path(COMMAND).with_name("palfill-tree"))

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
def test_convert_gives_the_command_s_bytes_or_raises_its_line(tmp_path, name, png, clut):
    (tmp_path / "in.png").write_bytes(png)
    args = ["in.png", "out.png"]
    if clut is not None:
        (tmp_path / "in.clt").write_bytes(clut)
        args.insert(1, "in.clt")
    line, status, output = command(tmp_path, *args)
    if status == 0:
        assert palfill.convert(png, clut) == output
        return
    with pytest.raises(palfill.ConversionError) as failed:
        palfill.convert(png, clut)
    error = failed.value
    assert isinstance(error, ValueError) and isinstance(error, palfill.Error)
    assert error.result is code_for(line, output)
    assert error.data == output
    assert error.line == line.replace("in.clt", "<clut>")
    assert pickle.loads(pickle.dumps(error)).__reduce__() == error.__reduce__()


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
    assert isinstance(want, bytes)


def test_the_package_says_the_library_s_version_and_results_and_how_it_is_called():
    version = subprocess.run([TREE_COMMAND, "--version"], capture_output=True, check=True).stdout
    assert version.decode() == f"palfill-tree {palfill.__version__}\n"
    assert [(m.name, m.value) for m in palfill.ResultCode] == [
        (name, getattr(palfill._palfill, name)) for name in palfill._palfill.RESULTS]
    assert [m.value for m in palfill.ResultCode] == list(range(len(palfill.ResultCode)))
    for name in palfill.__all__ + ["open"]:
        value = getattr(palfill, name)
        if callable(value) and not isinstance(value, type):
            inspect.signature(value)
    assert "open" not in palfill.__all__
    usage = subprocess.run([sys.executable, "-m", "palfill"], capture_output=True, check=False)
    assert (usage.stdout, usage.returncode) == (b"Usage : python -m palfill in.png [in.clt] out.png\n", 1)


# convert_file(), `python -m palfill` and the command, each in a folder of
# its own holding the same files: the same files afterwards, the same line
# (raised, or printed) and status.
FILE_CASES = [
    ("default colours", {}, ["in.png", "out.png"], {}, None),
    ("a CLUT", {"in.clt": RGB}, ["in.png", "out.png"], {"clut": "in.clt"}, None),
    ("cut short", {"in.png": SAMPLE4[:200]}, ["in.png", "out.png"], {}, palfill.ConversionError),
    ("not a PNG", {"in.png": b"GIF89a and more"}, ["in.png", "out.png"], {}, palfill.ConversionError),
    ("depth 3", {"in.clt": b"\x60"}, ["in.png", "out.png"], {"clut": "in.clt"}, palfill.ConversionError),
    ("an image as the CLUT", {"res.png": SAMPLE4}, ["in.png", "out.png"], {"clut": "res.png"},
     palfill.ConversionError),
    ("a missing input", {}, ["missing.png", "out.png"], {}, FileNotFoundError),
    ("a missing CLUT", {}, ["in.png", "out.png"], {"clut": "missing.clt"}, FileNotFoundError),
    ("a folder as the input", {"dir/x": b""}, ["dir", "out.png"], {}, IsADirectoryError),
    ("a folder as the output", {"dir/x": b""}, ["in.png", "dir"], {}, IsADirectoryError),
    ("the same file", {}, ["in.png", "in.png"], {}, palfill.FileError),
    ("notes as the output", {"notes.txt": b"my notes\n"}, ["in.png", "notes.txt"], {}, palfill.FileError),
    ("the CLUT named last", {"res.png": SAMPLE[:7], "my.clt": RGB}, ["in.png", "my.clt"], {"clut": "res.png"},
     palfill.FileError),
    ("an earlier output", {"out.png": SAMPLE}, ["in.png", "out.png"], {}, None),
    ("no such folder", {}, ["in.png", "no/out.png"], {}, FileNotFoundError),
    ("a folder no one may write in", {}, ["in.png", "/sys/out.png"], {}, PermissionError),
    ("a full disk", {}, ["in.png", "/dev/full"], {}, OSError),
    ("a CLUT that cannot be read", {}, ["in.png", "out.png"], {"clut": "/proc/self/mem"}, OSError),
    ("a name that is not UTF-8", {b"caf\xe9.png".decode("utf-8", "surrogateescape"): SAMPLE},
     [b"caf\xe9.png", "out.png"], {}, None),
    ("bytes for a CLUT path", {"in.clt": RGB}, ["in.png", "out.png"], {"clut": b"in.clt"}, None),
    ("standard output as the input", {}, ["/dev/stdout", "out.png"], {}, palfill.FileError),
]


def tree(root):
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(Path(root).rglob("*")) if p.is_file()}


def _in_child(args, clut):
    """convert_file() in a child whose standard output is a pipe, as the command runs."""
    code = ("import os, sys, palfill\n"
            "try:\n    palfill.convert_file(*map(os.fsencode, sys.argv[1:3]), clut=os.fsencode(sys.argv[3]) or None)\n"
            "except palfill.Error as error:\n    print(type(error).__name__, error.line, error.errno if "
            "isinstance(error, OSError) else '', sep='|')\n")
    return subprocess.run([sys.executable, "-c", code, *map(os.fsdecode, args), clut or ""], capture_output=True,
                          check=False, timeout=20)


@pytest.mark.parametrize("name, files, args, options, raised", FILE_CASES, ids=[c[0] for c in FILE_CASES])
def test_convert_file_and_the_module_leave_the_command_s_files_and_line(tmp_path, monkeypatch, name, files, args,
                                                                          options, raised):
    for side in ("command", "python", "module"):
        (tmp_path / side).mkdir()
        (tmp_path / side / "in.png").write_bytes(SAMPLE)
        for file, data in files.items():
            (tmp_path / side / file).parent.mkdir(exist_ok=True)
            (tmp_path / side / file).write_bytes(data)
    clut = options.get("clut")
    argv = [args[0], *([clut] if clut else []), args[1]]
    run = subprocess.run([COMMAND, *argv], cwd=tmp_path / "command", capture_output=True, check=False)
    line = os.fsdecode(run.stdout).rstrip("\n")
    module = subprocess.run([sys.executable, "-m", "palfill", *argv], cwd=tmp_path / "module", capture_output=True,
                            check=False)
    assert (module.stdout, module.returncode) == (run.stdout, run.returncode)
    monkeypatch.chdir(tmp_path / "python")
    if args[0] == "/dev/stdout":  # a pipe there: the line at once, never a wait
        child = _in_child(args, clut)
        assert child.stdout.decode().strip() == f"FileError|{line}|None"
        return
    if raised is None:
        assert palfill.convert_file(Path(os.fsdecode(args[0])), args[1], clut=clut) is None
        assert run.returncode == 0
    else:
        with pytest.raises(raised) as failed:
            palfill.convert_file(Path(os.fsdecode(args[0])), args[1], clut=clut)
        error = failed.value
        assert isinstance(error, palfill.Error) and error.line == line and run.returncode == 1
        if isinstance(error, OSError):
            named = {"input": args[0], "clut": clut, "output": args[1]}
            assert os.fsdecode(error.filename) in {os.fsdecode(n) for n in named.values() if n}
            assert (error.errno is None) == (raised is palfill.FileError), error.errno
        else:
            assert isinstance(error, ValueError) and error.data is None
        again = pickle.loads(pickle.dumps(error))
        assert (type(again), again.line, again.args) == (type(error), error.line, error.args)
        assert getattr(again, "filename", None) == getattr(error, "filename", None)
    assert tree(tmp_path / "python") == tree(tmp_path / "command")
    assert tree(tmp_path / "module") == tree(tmp_path / "command")


def test_paths_refuse_a_nul_and_what_is_not_a_path_before_anything_opens(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.png").write_bytes(SAMPLE)
    for call in [lambda: palfill.convert_file("in.png", "o.png\0.txt"), lambda: palfill.convert_file("in\0", "o.png"),
                 lambda: palfill.convert_file("in.png", "o.png", clut="x\0"), lambda: palfill.open("in.png\0"),
                 lambda: palfill.convert_tree("in\0", "out")]:
        with pytest.raises(ValueError):
            call()
    for call in [lambda: palfill.convert_file(42, "o.png"), lambda: palfill.convert_file("in.png", "o.png", "c.clt"),
                 lambda: palfill.convert_tree(".", "out", jobs="2")]:
        with pytest.raises(TypeError):
            call()
    with pytest.raises(ValueError):
        palfill.convert_tree(".", "out", jobs=0)
    assert sorted(os.listdir(tmp_path)) == ["in.png"]


def test_convert_tree_gives_what_palfill_tree_gives(tmp_path):
    """The same tree, palfill-tree over one copy and convert_tree() over another."""
    for side in ("command", "python"):
        root = tmp_path / side / "in"
        for path, data in {"a.png": SAMPLE, "ch01/palette.clt": RGB, "ch01/b.png": SAMPLE4, "ch01/cut.png": SAMPLE[:300],
                           "ch02/x.clt": RGB, "ch02/y.clt": YCBCR, "ch02/c.png": SAMPLE,
                           b"caf\xe9/d.png".decode("utf-8", "surrogateescape"): SAMPLE}.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_bytes(data)
    run = subprocess.run([TREE_COMMAND, "--clut", "in/ch01/palette.clt", "in", "out"], cwd=tmp_path / "command",
                         capture_output=True, check=False)
    assert run.returncode == 1
    *lines, summary = os.fsdecode(run.stdout).splitlines()
    os.chdir(tmp_path / "python")
    done = palfill.convert_tree(b"in", Path("out"), clut="in/ch01/palette.clt", jobs=2)
    assert [f"{path}: {line}" for path, line in done.failures] == lines
    assert summary == f"Finished in -> out: {done.converted} converted, {len(done.failures)} failed"
    assert tree(tmp_path / "python") == tree(tmp_path / "command")
    default = palfill.convert_tree("in", "out2")
    assert default.failures == [("in/ch01/cut.png", "Error : Unexpected EOF"),
                                ("in/ch02/c.png", "Error : More than one CLUT file in in/ch02")]
    with pytest.raises(FileNotFoundError) as failed:
        palfill.convert_tree("missing", "out3")
    assert (failed.value.line, failed.value.filename, failed.value.errno) == (
        "Error : Can't open folder missing", "missing", errno.ENOENT)


@pytest.mark.parametrize("how", ["progress raises", "Ctrl-C"])
def test_convert_tree_stops_at_once_when_told_and_reports_progress(tmp_path, how):
    """A long run told to stop ends within a second; progress hears (done, found) as it goes."""
    big = SAMPLE[:33] + struct.pack(">I", 1 << 20) + b"IDAT" + bytes(1 << 20) + b"\0" * 4 + SAMPLE[-12:]
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "000.png").write_bytes(big)
    for i in range(1, 300):
        os.link(tmp_path / "in" / "000.png", tmp_path / "in" / f"{i:03d}.png")
    heard = []

    def progress(done, found):
        heard.append((done, found))
        if how == "Ctrl-C":
            os.kill(os.getpid(), signal.SIGINT)
        else:
            raise LookupError("enough")

    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt if how == "Ctrl-C" else LookupError):
        palfill.convert_tree(tmp_path / "in", tmp_path / "out", jobs=1, progress=progress)
    assert time.monotonic() - started < 5
    assert len(heard) == 1 and heard[0][0] <= heard[0][1] <= 300, heard
    outputs = sorted((tmp_path / "out").iterdir()) if (tmp_path / "out").exists() else []
    assert len(outputs) < 100
    want = palfill.convert(big)
    assert all(p.read_bytes() == want for p in outputs[:-1])  # the last may be cut short
    (tmp_path / "small").mkdir()
    for i in range(300):
        (tmp_path / "small" / f"{i:03d}.png").write_bytes(SAMPLE)
    done = []
    palfill.convert_tree(tmp_path / "small", tmp_path / "again", jobs=2, progress=lambda *args: done.append(args))
    assert done[-1] == (300, 300) and all(d <= f for d, f in done)


def trees():
    """The trees of tests/trees.txt, as palfill-tree's test reads them: (name, args, [(path, content, target)])."""
    table = TOP / "tests" / "trees.txt"
    if not table.is_file():
        return []
    found = []
    for line in table.read_text("utf-8").splitlines():
        if line.startswith("tree "):
            found.append((line[5:], ["in", "out"], []))
        elif line.startswith("run "):
            found[-1][1][:] = line[4:].split(" ")
        elif line == "then":
            found[-1][2].append(None)  # the first round alone is made here
        elif line and not line.startswith("#") and line != "posix" and None not in found[-1][2]:
            head, _, content = line.split(" -> ")[0].partition(" = ")
            path, _, target = head.partition(" => ")
            if " <= " not in path:
                found[-1][2].append((path, content, target))
    return found


def make_tree(root, files):
    contents = {"sample": SAMPLE, "sample4": SAMPLE4, "cut": SAMPLE[:300], "text": b"not a png at all\n", "empty": b"",
                "signature": SAMPLE[:8], "rgb": RGB, "ycbcr": YCBCR, "depth3": b"\x60", "cutclt": YCBCR[:100]}
    unescape = lambda text: re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m[1], 16)]), text.encode())
    for path, content, target in filter(None, files):
        at = Path(root, os.fsdecode(unescape(path)))
        if os.path.lexists(at):
            continue
        at.parent.mkdir(parents=True, exist_ok=True)
        if target:
            at.symlink_to(target)
        elif content == "fifo":
            os.mkfifo(at)
        else:
            default = SAMPLE if path.lower().endswith(".png") else RGB if path.endswith(".clt") else b"text\n"
            at.write_bytes(unescape(content[5:]) if content.startswith("text:") else contents.get(content, default))


def as_printed(line):
    """A line as palfill-tree prints it: control characters as \\xNN."""
    raw = os.fsencode(line)
    controls = rb"[\x00-\x1f\x7f]|\xc2[\x80-\x9f]" if raw.decode("utf-8", "replace") == line else rb"[\x00-\x1f\x7f]"
    return re.sub(controls, lambda m: "".join(f"\\x{b:02x}" for b in m[0]).encode(), raw).decode("utf-8", "surrogateescape")


@pytest.mark.parametrize("name, args, files", trees(), ids=[tree[0] for tree in trees()])
def test_the_table_of_trees_plans_and_converts_as_palfill_tree_does(tmp_path, monkeypatch, name, args, files):
    """Each tree of tests/trees.txt: plan_tree() is --plan, convert_tree() the walk, and
    convert_tree(plan=...) --use-plan, in lines and in the files they leave."""
    every = args[args.index("--clut") + 1] if "--clut" in args else None
    in_dir, out_dir = [a for a in args if a not in ("--", "--clut", every)]
    for side in ("command", "python"):
        make_tree(tmp_path / side, files)
    run = lambda *argv: subprocess.run([TREE_COMMAND, *argv], cwd=tmp_path / "command", capture_output=True,
                                       check=False).stdout.decode("utf-8", "surrogateescape")
    unescaped = lambda field: os.fsdecode(re.sub(rb"\\(\\|x([0-9a-f]{2}))", lambda m: bytes(
        [int(m[2], 16)]) if m[2] else b"\\", os.fsencode(field)))
    monkeypatch.chdir(tmp_path / "python")
    plan = palfill.plan_tree(in_dir, clut=every)
    printed = run("--plan", *(["--clut", every] if every else []), "--", in_dir)
    elsewhere = printed.replace(str(tmp_path / "command"), str(tmp_path / "python"))  # --clut's absolute path
    assert [palfill.PlanEntry(*map(unescaped, row.split("\t"))) for row in elsewhere.splitlines()] == plan
    (tmp_path / "plan.txt").write_text(printed, "utf-8", "surrogateescape")
    for how, kwargs in [("walk", {}), ("plan", {"plan": plan})]:
        lines = run(*(["--use-plan", "../plan.txt"] if how == "plan" else []),
                    *args if how == "walk" else ["--", in_dir, out_dir]).splitlines()
        done = palfill.convert_tree(in_dir, out_dir, clut=every if how == "walk" else None, jobs=2, **kwargs)
        assert [as_printed(f"{path}: {line}") for path, line in done.failures] == lines[:-1]
        assert lines[-1] == f"Finished {in_dir} -> {out_dir}: {done.converted} converted, {len(done.failures)} failed"
        assert tree(tmp_path / "python") == tree(tmp_path / "command")
        for side in ("command", "python"):  # afresh for the plan
            shutil.rmtree(tmp_path / side)
            make_tree(tmp_path / side, files)
        monkeypatch.chdir(tmp_path / "python")


def test_open_gives_the_image_pillow_reads_from_the_command_s_output(tmp_path):
    image_module = pytest.importorskip("PIL.Image")
    (tmp_path / "in.png").write_bytes(SAMPLE)
    (tmp_path / "in.clt").write_bytes(YCBCR)

    def same(got, want):
        assert (got.mode, got.size, got.getpalette(), got.info.get("transparency"), got.tobytes()) == (
            want.mode, want.size, want.getpalette(), want.info.get("transparency"), want.tobytes())

    # As Pillow takes them: a path (str, bytes, PathLike) or a binary file object, made afresh.
    for clut, sources in [(None, [lambda: None]),
                          ("in.clt", [lambda: tmp_path / "in.clt", lambda: os.fsencode(tmp_path / "in.clt"),
                                      lambda: io.BytesIO(YCBCR)])]:
        _, _, output = command(tmp_path, "in.png", *([clut] if clut else []), "out.png")
        want = image_module.open(io.BytesIO(output))
        for png in [lambda: str(tmp_path / "in.png"), lambda: os.fsencode(tmp_path / "in.png"),
                    lambda: io.BytesIO(SAMPLE)]:
            for source in sources:
                same(palfill.open(png(), source()), want)
    # What Pillow makes of the image alone: a grey ramp, without a word.
    assert image_module.open(io.BytesIO(SAMPLE)).getpalette()[3:6] == [1, 1, 1]
    with pytest.raises(palfill.ConversionError) as failed:
        palfill.open(io.BytesIO(SAMPLE[:300]))
    assert (failed.value.result, failed.value.line) == (palfill.ResultCode.UNEXPECTED_EOF, "Error : Unexpected EOF")
    with pytest.raises(palfill.ConversionError) as failed:
        palfill.open(tmp_path / "in.png", tmp_path / "in.png")
    assert failed.value.line == f"Error : Not a CLUT file {tmp_path / 'in.png'}"
    missing = os.fsencode(tmp_path) + b"/caf\xe9.clt"
    with pytest.raises(FileNotFoundError) as failed:
        palfill.open(SAMPLE and tmp_path / "in.png", clut=missing)
    assert failed.value.line == f"Error : Can't open file {os.fsdecode(missing)}"


def test_threads_give_what_one_thread_gives():
    inputs = [(png, clut) for _, png, clut in list(cases())[::23]]

    def outcome(png, clut):
        try:
            return palfill.convert(png, clut)
        except palfill.ConversionError as error:
            return error.__reduce__()

    want = [outcome(png, clut) for png, clut in inputs]
    mismatches = []

    def convert_all():
        for _ in range(20):
            mismatches.append(sum(outcome(png, clut) != w for (png, clut), w in zip(inputs, want)))

    threads = [threading.Thread(target=convert_all) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == [0] * 160
