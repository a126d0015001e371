#!/usr/bin/env bash
# Extraction throughput of `vellicor extract` on real files, next to tar
# extracting a tar.gz of the same set, and of `vellicor test` next to gzip, xz
# and zstd decompressing the same data (a tar of each set), all measured in
# this run on this machine. Prints a table; it is a benchmark, not a test.
#
#   bench/extract_throughput.sh CORPUS_DIR [VELLICOR_BINARY]
#
# CORPUS_DIR is made by shared/bench/make_corpus.sh. Each figure is the best
# of three runs (wall clock), in MB/s of uncompressed data.
set -euo pipefail
corpus=${1:?usage: extract_throughput.sh CORPUS_DIR [vellicor]}
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${2:-$root/build/tools/vellicor}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best_of_3() {  # prints the best wall time in seconds of the command
  local best="" t
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN{ printf "%.4f", b - a }')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$t; fi
  done
  echo "$best"
}
rate() { awk -v b="$1" -v t="$2" 'BEGIN{ if (t <= 0) t = 0.01; printf "%.1f", b / 1e6 / t }'; }

printf '%-6s %10s | %9s %9s %9s %9s %9s %9s | %8s %8s | %7s %7s %7s %7s\n' set MB extract test tar-xzf gzip-9 \
  xz-6 zstd-19 'ext/tar' 'test/gz' 'v ratio' 'gz' 'xz' 'zst'
for set in tree win text sjis mixed; do
  [ -d "$corpus/$set" ] || continue
  bytes=$(find "$corpus/$set" -type f -printf '%s\n' | awk '{t+=$1} END{print t+0}')
  tar -C "$corpus" -cf "$work/$set.tar" "$set"
  gzip -9 -c "$work/$set.tar" > "$work/$set.tar.gz"
  xz -6 -T1 -c "$work/$set.tar" > "$work/$set.tar.xz"
  zstd -q -19 -c "$work/$set.tar" > "$work/$set.tar.zst"
  "$tool" pack -q -o "$work/$set.exe" "$corpus/$set"
  # The first of the three runs creates the files, the others replace them.
  v=$(best_of_3 "$tool" extract -q --overwrite=all -o "$work/x" "$work/$set.exe")
  vt=$(best_of_3 "$tool" test -q "$work/$set.exe")
  mkdir -p "$work/t"
  tx=$(best_of_3 tar -C "$work/t" -xzf "$work/$set.tar.gz")
  g=$(best_of_3 bash -c "gzip -dc '$work/$set.tar.gz' > /dev/null")
  x=$(best_of_3 bash -c "xz -dc '$work/$set.tar.xz' > /dev/null")
  z=$(best_of_3 bash -c "zstd -qdc '$work/$set.tar.zst' > /dev/null")
  ratio() { awk -v c="$(stat -c %s "$1")" -v b="$bytes" 'BEGIN{printf "%.3f", c / b}'; }
  time_ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ printf "%.2f", (b > 0 ? a / b : 0) }'; }
  printf '%-6s %10.2f | %9s %9s %9s %9s %9s %9s | %8s %8s | %7s %7s %7s %7s\n' "$set" \
    "$(awk -v b="$bytes" 'BEGIN{print b/1e6}')" "$(rate "$bytes" "$v")" "$(rate "$bytes" "$vt")" \
    "$(rate "$bytes" "$tx")" "$(rate "$bytes" "$g")" "$(rate "$bytes" "$x")" "$(rate "$bytes" "$z")" \
    "$(time_ratio "$v" "$tx")" "$(time_ratio "$vt" "$g")" \
    "$(ratio "$work/$set.exe")" "$(ratio "$work/$set.tar.gz")" "$(ratio "$work/$set.tar.xz")" "$(ratio "$work/$set.tar.zst")"
  rm -rf "$work/x" "$work/t"
done
echo "(MB/s of uncompressed data, best of 3; ratio = compressed / original; 'extract' is vellicor extract"
echo " writing the files with their times, 'tar-xzf' tar extracting the tar.gz (gzip -9) into a folder,"
echo " 'test' is vellicor test decoding to nowhere, like the gzip, xz and zstd columns; 'ext/tar' and"
echo " 'test/gz' are time ratios: vellicor extract over tar -xzf, vellicor test over gzip -dc)"
