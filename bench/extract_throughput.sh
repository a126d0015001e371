#!/usr/bin/env bash
# Extraction throughput of `vellicor extract` on real files, next to tar
# extracting a tar.gz of the same set, and of `vellicor test` next to gzip, xz
# and zstd decompressing the same data (a tar of each set), all measured in
# this run on this machine. Prints a table; it is a benchmark, not a test.
#
#   bench/extract_throughput.sh [--runs N] [--sets "tree win"] CORPUS_DIR [VELLICOR_BINARY]
#
# CORPUS_DIR is made by shared/bench/make_corpus.sh. Each figure is the
# median of N runs (wall clock, default 5), in MB/s of uncompressed data.
# Both extractions (ours and tar's) go into an empty folder every run; the
# emptying is not timed.
#
# Calls per file: one more extraction of each set by vellicor_faulty (the
# same program over the counting fault layer, built with the unit tests)
# counts the probes, folders made and files opened by the core.
set -euo pipefail
runs=5
sets="tree win text sjis mixed"
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --sets) sets=$2; shift 2 ;;
    *) break ;;
  esac
done
corpus=${1:?usage: extract_throughput.sh [--runs N] [--sets "..."] CORPUS_DIR [vellicor]}
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${2:-$root/build/tools/vellicor}
faulty=${VELLICOR_FAULTY:-$(dirname "$tool")/../tests/unit/vellicor_faulty}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the median wall time in seconds of the command over $runs runs;
# with FRESH set, that folder is emptied before every run.
median_time() {
  local times=() t0 t1
  for _ in $(seq "$runs"); do
    if [ -n "${FRESH:-}" ]; then rm -rf "$FRESH"; mkdir -p "$FRESH"; fi
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{ printf "%.4f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { printf "%.4f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# Calls per file of one extraction into an empty folder: "probes makes opens".
calls_per_file() {  # archive files
  if [ ! -x "$faulty" ]; then echo "- - -"; return; fi
  rm -rf "$work/c"; mkdir -p "$work/c"
  VELLICOR_FAULT_COUNTS="$work/counts" "$faulty" extract -q -o "$work/c" "$1" >/dev/null 2>&1 || { echo "! ! !"; return; }
  awk -v n="$2" '{ c[$1] = $2 } END { printf "%.2f %.2f %.2f", c["probe"] / n, c["mkdir"] / n, c["open"] / n }' "$work/counts"
  rm -rf "$work/c"
}
rate() { awk -v b="$1" -v t="$2" 'BEGIN{ if (t <= 0) t = 0.01; printf "%.1f", b / 1e6 / t }'; }

printf '%-6s %10s %6s | %9s %9s %9s %9s %9s %9s | %8s %8s | %6s %6s %6s | %7s %7s %7s %7s\n' set MB files extract \
  test tar-xzf gzip-9 xz-6 zstd-19 'ext/tar' 'test/gz' probes makes opens 'v ratio' 'gz' 'xz' 'zst'
for set in $sets; do
  [ -d "$corpus/$set" ] || continue
  bytes=$(find "$corpus/$set" -type f -printf '%s\n' | awk '{t+=$1} END{print t+0}')
  files=$(find "$corpus/$set" -type f | wc -l)
  tar -C "$corpus" -cf "$work/$set.tar" "$set"
  gzip -9 -c "$work/$set.tar" > "$work/$set.tar.gz"
  xz -6 -T1 -c "$work/$set.tar" > "$work/$set.tar.xz"
  zstd -q -19 -c "$work/$set.tar" > "$work/$set.tar.zst"
  "$tool" pack -q -o "$work/$set.exe" "$corpus/$set"
  v=$(FRESH="$work/x" median_time "$tool" extract -q -o "$work/x" "$work/$set.exe")
  tx=$(FRESH="$work/t" median_time tar -C "$work/t" -xzf "$work/$set.tar.gz")
  vt=$(median_time "$tool" test -q "$work/$set.exe")
  g=$(median_time bash -c "gzip -dc '$work/$set.tar.gz' > /dev/null")
  x=$(median_time bash -c "xz -dc '$work/$set.tar.xz' > /dev/null")
  z=$(median_time bash -c "zstd -qdc '$work/$set.tar.zst' > /dev/null")
  read -r cp cm co <<< "$(calls_per_file "$work/$set.exe" "$files")"
  ratio() { awk -v c="$(stat -c %s "$1")" -v b="$bytes" 'BEGIN{printf "%.3f", c / b}'; }
  time_ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ printf "%.2f", (b > 0 ? a / b : 0) }'; }
  printf '%-6s %10.2f %6s | %9s %9s %9s %9s %9s %9s | %8s %8s | %6s %6s %6s | %7s %7s %7s %7s\n' "$set" \
    "$(awk -v b="$bytes" 'BEGIN{print b/1e6}')" "$files" "$(rate "$bytes" "$v")" "$(rate "$bytes" "$vt")" \
    "$(rate "$bytes" "$tx")" "$(rate "$bytes" "$g")" "$(rate "$bytes" "$x")" "$(rate "$bytes" "$z")" \
    "$(time_ratio "$v" "$tx")" "$(time_ratio "$vt" "$g")" "$cp" "$cm" "$co" \
    "$(ratio "$work/$set.exe")" "$(ratio "$work/$set.tar.gz")" "$(ratio "$work/$set.tar.xz")" "$(ratio "$work/$set.tar.zst")"
  rm -rf "$work/x" "$work/t"
done
echo "(MB/s of uncompressed data, median of $runs; ratio = compressed / original; 'extract' is vellicor extract"
echo " writing the files with their times into an empty folder, 'tar-xzf' tar extracting the tar.gz (gzip -9)"
echo " into an empty folder,"
echo " 'test' is vellicor test decoding to nowhere, like the gzip, xz and zstd columns; 'ext/tar' and"
echo " 'test/gz' are time ratios: vellicor extract over tar -xzf, vellicor test over gzip -dc; probes, makes"
echo " and opens: the core's calls per file in one extraction, counted by vellicor_faulty; probes include the"
echo " one existence probe per file before anything is replaced)"
