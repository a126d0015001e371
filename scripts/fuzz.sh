#!/usr/bin/env bash
# Builds the fuzz targets and runs each of them in turn:
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default 60 s, every target)
# The targets are built with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer by the sanitizer build (build/sanitize), the
# seeds by the ordinary build (build/fuzz-seeds). One fuzzer runs at a time.
# The corpus of each target grows in build/fuzz-work/corpus/<target> from
# run to run; an input that crashes, hangs or trips a sanitizer lands in
# build/fuzz-work/findings/<target>/ and makes the script fail. Copy such an
# input into tests/fuzz/regressions/<target>/ once its fault is fixed, so
# that every test run replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLICOR_BUILD:-$root/build}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header entries decoder code_tree paths test extract)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_seeds sanitize >/dev/null

failed=0
for t in "${targets[@]}"; do
  bash "$root/tests/fuzz/run_fuzzer.sh" "$t" "$seconds" "$build/sanitize/tests/fuzz" "$build/fuzz-seeds" \
    "$build/fuzz-work" || failed=1
done
exit $failed
