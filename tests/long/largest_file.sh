#!/usr/bin/env bash
# The largest file the format stores, 2,147,483,647 bytes, through the real
# program: packed, tested and extracted byte for byte on the host.
#   tests/long/largest_file.sh [VELLICOR]     (default build/tools/vellicor)
# The source is a sparse file: zeros with stretches of text at its start,
# in the middle, across the mark 1 MiB before its end and at its very end, so
# that the window's slides, long matches and the last block all carry data.
# Needs about 2.1 GB of free disk space below $TMPDIR (the extracted copy).
# CTest runs it under the label "long".
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
vellicor=${1:-$root/build/tools/vellicor}
work=$(mktemp -d "${TMPDIR:-/tmp}/vellicor-largest-XXXXXX")
trap 'rm -rf "$work"' EXIT
size=2147483647

mkdir "$work/src"
src=$work/src/largest.bin
truncate -s $size "$src"
seq 1 30000 >"$work/island"                     # about 170 KB of text
island=$(stat -c %s "$work/island")
for at in 0 1073741824 $((size - 1048576 - island / 2)) $((size - island)); do
  dd if="$work/island" of="$src" bs=1M seek="$at" oflag=seek_bytes conv=notrunc status=none
done
[ "$(stat -c %s "$src")" = $size ] || { echo "largest_file.sh: the source has the wrong size" >&2; exit 1; }

start=$SECONDS
"$vellicor" pack -q --level 1 -o "$work/largest.exe" "$work/src"
echo "pack:    $((SECONDS - start)) s, $(stat -c %s "$work/largest.exe") bytes"
start=$SECONDS
"$vellicor" test -q "$work/largest.exe"
echo "test:    $((SECONDS - start)) s"
"$vellicor" list "$work/largest.exe" | grep -q "2,147,483,647" || { echo "largest_file.sh: list shows another size" >&2; exit 1; }
start=$SECONDS
"$vellicor" extract -q "$work/largest.exe" -o "$work/out"
echo "extract: $((SECONDS - start)) s"
start=$SECONDS
cmp "$src" "$work/out/src/largest.bin"
echo "compare: $((SECONDS - start)) s; byte for byte the same"
