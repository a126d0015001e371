#!/usr/bin/env bash
# Runs one libFuzzer target for a while:
#   run_fuzzer.sh NAME SECONDS BINDIR SEEDS WORK [libFuzzer options...]
# BINDIR holds fuzz_NAME (the sanitizer build's tests/fuzz), SEEDS/NAME the
# seeds; the corpus grows in WORK/corpus/NAME (kept between runs), inputs
# that fail land in WORK/findings/NAME. The saved regressions of NAME are
# read too. Prints one summary line: executions, coverage, corpus size.
set -euo pipefail
name=$1 seconds=$2 bindir=$3 seeds=$4 work=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)
exe=$bindir/fuzz_$name
if [ ! -x "$exe" ]; then
  echo "run_fuzzer.sh: $exe is missing (build the sanitizer tree first)" >&2
  exit 1
fi
corpus=$work/corpus/$name findings=$work/findings/$name log=$work/logs/$name.log
mkdir -p "$corpus" "$findings" "$work/logs" "$seeds/$name" "$here/regressions/$name"
# The run targets read whole archives; the others small parameter records.
case $name in test|extract) max_len=65536 ;; *) max_len=16384 ;; esac
status=0
"$exe" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 -rss_limit_mb=2560 \
  -dict="$here/vellicor.dict" -close_fd_mask=3 -print_final_stats=1 \
  -artifact_prefix="$findings/" "$@" \
  "$corpus" "$seeds/$name" "$here/regressions/$name" >"$log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
printf '%-8s %12s executions  cov %6s  ft %7s  corpus %5s  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" \
  "$(ls "$corpus" | wc -l)" "$([ $status -eq 0 ] && echo ok || echo "FAILED (see $log)")"
if [ $status -ne 0 ]; then
  tail -40 "$log" >&2
  exit 1
fi
