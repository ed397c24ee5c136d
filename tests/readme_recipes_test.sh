#!/usr/bin/env bash
# Runs the batch recipes exactly as README.md shows them (every sh block of
# its "Converting thousands of files" section: palfill-tree's, and the
# xargs recipes) over a tree of awkward names, two files of one name and
# damaged files. Every output must equal a single run's output for its
# input, failed.txt must list exactly the failures, each with its line
# (palfill-tree's in the order of their paths, then its summary), and
# without palfill on PATH an xargs recipe must stop loudly.
#
#   readme_recipes_test.sh README.md PALFILL EXAMPLES_DIR [LAUNCHER...]
# A launcher (qemu-user for a cross build) runs palfill wherever the
# recipes and the single runs name it.
set -uo pipefail
readme=$1 palfill=$2 examples=$3
shift 3
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/blocks"
palfill_tree=$(dirname "$palfill")/palfill-tree
if (($#)); then
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$*" "$palfill" >"$work/bin/palfill"
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$*" "$palfill_tree" >"$work/bin/palfill-tree"
  chmod +x "$work/bin/palfill" "$work/bin/palfill-tree"
  palfill=$work/bin/palfill
else
  ln -s "$palfill" "$work/bin/palfill"
  ln -s "$palfill_tree" "$work/bin/palfill-tree"
fi
mkdir "$work/tools"
for tool in sh find xargs nproc mkdir; do ln -s "$(type -P "$tool")" "$work/tools/$tool"; done

# The recipes, one file each.
awk -v section="Converting thousands of files" -v lang=sh -v dir="$work/blocks" \
  -f "$(dirname "$0")/readme_blocks.awk" "$readme"
blocks=("$work"/blocks/*.sh)
[ -e "${blocks[0]}" ] || {
  echo "FAIL: no sh block in the section"
  exit 1
}

# The tree. Damaged: cut inside a chunk, not a PNG, a PNG with nothing after
# its signature.
tree=$work/tree
head -c 3000 "$examples/sample.png" >"$work/cut.png"
printf 'not a png at all' >"$work/text.png"
head -c 8 "$examples/sample.png" >"$work/signature.png"
put() { mkdir -p "$(dirname "$tree/in/$2")" && cp "$1" "$tree/in/$2"; }
put "$examples/sample.png" "a/x.png"
put "$examples/sample-4bit.png" "b/x.png"
put "$examples/sample.png" "with space/two  spaces.png"
put "$examples/sample.png" "-leading dash.png"
put "$examples/sample.png" "番組 データ/画像①.png"
put "$examples/sample.png" "UPPER.PNG"
put "$work/cut.png" "it's bad.png"
put "$work/text.png" $'new\nline.png'
put "$work/signature.png" 'deep/er/"quoted" $HOME `x`.png'
put "$examples/sample.png" "notes.txt"
cp "$examples/ycbcr.clt" "$tree/colours.clt"

# Each recipe over the tree as it stands and with `in` a symbolic link to
# the folder, which a recipe must follow.
for layout in folder link; do
for block in "${blocks[@]}"; do
  name="README block $(basename "$block" .sh), in/ as a $layout"
  uses_clut=0 tree_block=0
  grep -q colours.clt "$block" && uses_clut=1
  grep -q palfill-tree "$block" && tree_block=1
  run=$work/run
  rm -rf "$run" && cp -r "$tree" "$run"
  if [ "$layout" = link ]; then
    mv "$run/in" "$work/linked-in" && ln -s "$work/linked-in" "$run/in"
  fi
  (cd "$run" && PATH="$work/bin:$PATH" bash "$block") >"$work/stdout" 2>"$work/stderr"
  status=$?
  [ "$status" -eq "$tree_block" ] || fail "$name: status $status" # palfill-tree's 1: some failed
  [ ! -s "$work/stderr" ] || fail "$name: wrote to standard error: $(cat "$work/stderr")"

  # Each input against a single run of its own; the failures expected.
  expected_failed=()
  declare -A failure_of=()
  count=0
  while IFS= read -r -d '' input; do
    count=$((count + 1))
    single=$work/single.png
    rm -f "$single"
    if [ "$uses_clut" -eq 1 ]; then
      line=$(cd "$run" && "$palfill" "$input" colours.clt "$single")
    else
      line=$(cd "$run" && "$palfill" "$input" "$single")
    fi || {
      entry="$input: $line"
      # palfill-tree writes a control character of a name as \xNN, so that
      # no name can break a line.
      [ "$tree_block" -eq 0 ] || entry=${entry//$'\n'/'\x0a'}
      expected_failed+=("$entry")
      failure_of[$input]=$entry
    }
    cmp -s "$single" "$run/out/${input#in/}" || fail "$name: out/${input#in/} differs from a single run"
  done < <(cd "$run" && find -H in -type f -iname '*.png' -print0)
  [ "$count" -eq 9 ] || fail "$name: found $count inputs, not 9"
  outputs=$(cd "$run" && find out -type f -printf x | wc -c)
  [ "$outputs" -eq "$count" ] || fail "$name: $outputs outputs for $count inputs"

  failed=$(cat "$run/failed.txt"; echo x)
  failed=${failed%x}
  if [ "$tree_block" -eq 1 ]; then  # in the order of the paths, byte by byte, then the summary
    want=
    while IFS= read -r -d '' input; do
      want+="${failure_of[$input]}"$'\n'
    done < <(printf '%s\0' "${!failure_of[@]}" | LC_ALL=C sort -z)
    want+="Finished in -> out: $((count - ${#failure_of[@]})) converted, ${#failure_of[@]} failed"$'\n'
    [ "$failed" = "$want" ] || fail "$name: failed.txt is not the failures in order: $failed"
  fi
  total=0
  for entry in "${expected_failed[@]}"; do
    [[ $failed == *"$entry"$'\n'* ]] || fail "$name: failed.txt lacks '$entry'"
    total=$((total + ${#entry} + 1))
  done
  [ "${#expected_failed[@]}" -eq 3 ] || fail "$name: ${#expected_failed[@]} failures, not 3"
  [ "$tree_block" -eq 1 ] || [ "${#failed}" -eq "$total" ] ||
    fail "$name: failed.txt holds more than the failures: $failed"

  # Without palfill on PATH the recipe stops and says so. The PATH holds
  # the recipe's own tools alone, so that an installed palfill stays out.
  rm -rf "$run" && cp -r "$tree" "$run"
  (cd "$run" && PATH="$work/tools" "$BASH" "$block") >/dev/null 2>"$work/stderr"
  status=$?
  [ "$status" -ne 0 ] || fail "$name: status 0 without palfill on PATH"
  grep -q "is it on PATH\|palfill-tree: command not found" "$work/stderr" ||
    fail "$name: no word without palfill on PATH"
  rm -rf "$work/linked-in"
  echo "$name: $count inputs checked"
done
done

echo "${#blocks[@]} recipes, two layouts, $failures failures"
[ "$failures" -eq 0 ]
