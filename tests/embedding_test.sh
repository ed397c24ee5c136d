#!/usr/bin/env bash
# The README's "Embedding" section as it stands: installs the library from
# BUILD_DIR, builds its C program as C99 through pkg-config and through
# find_package, and runs both and its Python program against the command
# on every input below. Outputs, outcomes and exit statuses must agree.
#
#   embedding_test.sh README.md BUILD_DIR EXAMPLES_DIR
set -uo pipefail
readme=$1 build=$2 examples=$3
for tool in cc pkg-config python3; do
  command -v "$tool" >/dev/null || {
    echo "skipped: $tool is missing"
    exit 77
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for lang in c cmake python; do
  awk -v section=Embedding -v lang=$lang -v dir="$work" -f "$(dirname "$0")/readme_blocks.awk" "$readme"
done
mv "$work/1.c" "$work/embed.c"
mv "$work/1.cmake" "$work/CMakeLists.txt"
mv "$work/1.python" "$work/embed.py"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || exit 1
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig LD_LIBRARY_PATH=$prefix/lib
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$work/embed.c" $(pkg-config --cflags --libs palfill) \
  -o "$work/embed-pkg-config" || exit 1
cmake -S "$work" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-std=c99 -Werror" \
  >/dev/null || exit 1
cmake --build "$work/build" >/dev/null || exit 1

head -c 3000 "$examples/sample.png" >"$work/cut.png"
printf 'not a png' >"$work/text.png"
: >"$work/empty.clt"
printf '\140' >"$work/depth3.clt"
cases=(
  "$examples/sample.png"
  "$examples/sample-4bit.png $examples/rgb.clt"
  "$examples/sample.png $examples/ycbcr.clt"
  "$work/cut.png"
  "$work/cut.png $examples/rgb.clt"
  "$work/text.png"
  "$examples/sample.png $work/empty.clt"
  "$examples/sample.png $work/depth3.clt"
  "$examples/sample.png $examples/sample-4bit.png"
)
checked=0
for inputs in "${cases[@]}"; do
  read -ra args <<<"$inputs"
  rm -f "$work/want.png"
  "$build/palfill" "${args[@]}" "$work/want.png" >/dev/null
  want_status=$?
  for program in "$work/embed-pkg-config" "$work/build/embed" "python3 $work/embed.py"; do
    rm -f "$work/got.png"
    $program "${args[@]}" "$work/got.png" >"$work/line"
    status=$?
    [ "$status" -eq "$want_status" ] || fail "$program $inputs: status $status, the command's $want_status"
    if [ -e "$work/want.png" ]; then
      cmp -s "$work/want.png" "$work/got.png" || fail "$program $inputs: bytes differ from the command's"
    else  # a CLUT failure: the command creates no output
      [ ! -e "$work/got.png" ] || fail "$program $inputs: an output where the command leaves none"
    fi
    checked=$((checked + 1))
  done
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
"$work/embed-pkg-config" "$examples/sample.png" "$work/got.png" | grep -qx "libpalfill $version: finished" ||
  fail "the version or the result text"
echo "$checked runs checked, $failures failures"
[ "$failures" -eq 0 ]
