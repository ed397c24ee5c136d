#!/usr/bin/env bash
# The Python package as its users get it: a wheel built from python/ and
# installed into a virtual environment beside Debian's Pillow, then pytest
# against the commands, mypy --strict on the package and on the README's
# "Python" section, which also runs as it stands; then an sdist, built and
# installed outside the repository, which must give the command's bytes.
# Nothing comes from a package index.
#
#   python_package_test.sh TOP PALFILL_BINARY
# PALFILL_PYTHON names the interpreter (default: Debian's /usr/bin/python3).
set -uo pipefail
top=$1 palfill=$2
python=${PALFILL_PYTHON:-/usr/bin/python3}
for module in venv ensurepip setuptools wheel pytest build PIL; do
  "$python" -c "import $module" 2>/dev/null || {
    echo "skipped: $python lacks $module (Debian: python3-venv python3-setuptools python3-wheel" \
      "python3-pytest python3-build python3-pil)"
    exit 77
  }
done
"$python" -c 'import os, sys, sysconfig; sys.exit(not os.path.exists(sysconfig.get_paths()["include"] + "/Python.h"))' || {
  echo "skipped: Python.h is missing (Debian: python3-dev)"
  exit 77
}
command -v mypy >/dev/null || {
  echo "skipped: mypy is missing (Debian: mypy)"
  exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pip() { env -u PIP_FIND_LINKS "$1/bin/python" -m pip --disable-pip-version-check "${@:2}"; }

"$python" -m venv --system-site-packages "$work/venv" || exit 1
pip "$work/venv" wheel --quiet --no-build-isolation --no-index --no-deps "$top/python" -w "$work/wheels" ||
  { echo "FAIL: pip wheel"; exit 1; }
pip "$work/venv" install --quiet --no-index "$work"/wheels/palfill-*.whl || { echo "FAIL: installing the wheel"; exit 1; }

(cd "$work" && PALFILL_COMMAND=$palfill "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$top/python/tests") ||
  fail "pytest"
mypy --strict --config-file "$top/python/pyproject.toml" --cache-dir "$work/mypy" "$top/python/src/palfill" ||
  fail "mypy --strict"

# The README's Python section, each block as it stands, from a folder that
# holds the examples.
mkdir -p "$work/readme" && cp -r "$top/examples" "$work/readme/"
awk -v section=Python -v lang=python -v dir="$work/readme" -f "$(dirname "$0")/readme_blocks.awk" "$top/README.md"
blocks=("$work"/readme/*.python)
[ -e "${blocks[0]}" ] || fail "no python block in the README's Python section"
for block in "${blocks[@]}"; do
  [ -e "$block" ] || continue
  (cd "$work/readme" && "$work/venv/bin/python" "$block") || fail "README block $(basename "$block")"
  cp "$block" "$work/readme_block.py"
  # As the README has users check their code: the venv's own interpreter,
  # which sees the package installed there.
  (cd "$work" && "$work/venv/bin/python" -m mypy --strict --cache-dir "$work/mypy" readme_block.py) ||
    fail "mypy --strict on README block $(basename "$block")"
done

# The README's cluster recipe, as it stands, on two local worker processes
# over a capture: every file as palfill-tree leaves it.
if "$work/venv/bin/python" -c "import distributed" 2>/dev/null; then
  capture=$work/capture
  mkdir -p "$capture/in/S/40/0000" "$capture/in/S/40/0001" "$capture/in/S/40/img"
  cp "$top/examples/rgb.clt" "$capture/in/S/40/0000/red.clt"
  cp "$top/examples/ycbcr.clt" "$capture/in/S/40/0001/red.clt"
  cp "$top/examples/rgb.clt" "$capture/in/S/40/0001/other.clt"
  for image in S/40/img/p.png S/40/img/q.png S/40/0001/alone.png S/40/0000/own.png; do
    cp "$top/examples/sample-4bit.png" "$capture/in/$image"
  done
  show='<object type="image/X-arib-png" data="/40/img/p.png"/><object type="image/X-arib-png"'
  printf '<bml><body style="clut:url(red.clt)">%s data="own.png"/></body></bml>' "$show" \
    >"$capture/in/S/40/0000/a.bml"
  printf '<bml><body style="clut:url(red.clt)">%s data="../img/q.png"/></body></bml>' "$show" \
    >"$capture/in/S/40/0001/b.bml"
  awk -v section="Broadcast captures" -v lang=python -v dir="$capture" -f "$(dirname "$0")/readme_blocks.awk" \
    "$top/README.md"
  (cd "$capture" && timeout 300 "$work/venv/bin/python" 1.python in out >failed.txt 2>cluster.log) ||
    { cat "$capture/cluster.log"; fail "the cluster recipe"; }
  (cd "$capture" && "$(dirname "$palfill")/palfill-tree" in tree-out >tree-failed.txt)
  diff -r "$capture/out" "$capture/tree-out" || fail "the cluster recipe leaves other files than palfill-tree"
  [ "$(cat "$capture/failed.txt")" = "$(head -n -1 "$capture/tree-failed.txt")" ] ||
    fail "the cluster recipe's failures are not palfill-tree's: $(cat "$capture/failed.txt")"
  [ -e "$capture/out/S/40/img/p@S+40+0000+red.png" ] || fail "the capture's renderings are missing"
else
  echo "the cluster recipe is left out: $python lacks distributed (Debian: python3-distributed)"
  [ -z "${PALFILL_REQUIRE_ALL_TESTS:-}" ] || fail "python3-distributed is missing"
fi

# The sdist, as it could be uploaded: built, moved away from the
# repository, and built again there as a user who downloads it would.
"$work/venv/bin/python" -m build --sdist --no-isolation --outdir "$work/sdist" "$top/python" >"$work/sdist.log" 2>&1 ||
  { cat "$work/sdist.log"; fail "building the sdist"; }
mkdir "$work/elsewhere" && cp "$work"/sdist/palfill-*.tar.gz "$work/elsewhere/"
"$python" -m venv --system-site-packages "$work/user" &&
  (cd "$work/elsewhere" && pip "$work/user" install --quiet --no-build-isolation --no-index ./palfill-*.tar.gz) ||
  fail "installing the sdist"
"$palfill" "$top/examples/sample-4bit.png" "$top/examples/rgb.clt" "$work/command.png" >/dev/null
(cd "$work/elsewhere" && "$work/user/bin/python" -c '
import sys, palfill
png, clut, want = (open(p, "rb").read() for p in sys.argv[1:])
sys.exit(palfill.convert(png, clut) != want)' "$top/examples/sample-4bit.png" "$top/examples/rgb.clt" "$work/command.png") ||
  fail "the sdist's build gives other bytes than the command"

echo "python package: $failures failures"
[ "$failures" -eq 0 ]
