#!/usr/bin/env bash
# vellicor pack against gzip -9 and 7-Zip's zip -mx=9 as whole processes, in
# one run on one machine: every program packs the same sets, one process at a
# time, best of --repeat runs.
#
#   bench/pack_throughput.sh [--repeat N] [--levels "1 4 5"] [--threads "1 2"] [--all-only] CORPUS [VELLICOR]
#
# Rows: each set of CORPUS (left out with --all-only), and "all" (every set
# together: one archive, one tar, one zip). Columns: seconds and size of gzip -9 over a tar of the set,
# of `7z a -tzip -mx=9` over the set's folder (left out when 7z is missing),
# and of `vellicor pack --level L -j N` for each level and thread count; then
# ours over gzip's and zip's time and size. Sizes are whole files (ours with
# its 26,112-byte stub).
set -euo pipefail

repeat=1
levels="4"
threads="1 2"
rows=sets
while [ $# -gt 0 ]; do
  case "$1" in
    --repeat) repeat=$2; shift 2 ;;
    --levels) levels=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --all-only) rows=all; shift ;;
    *) break ;;
  esac
done
corpus=${1:?usage: pack_throughput.sh [--repeat N] [--levels L...] [--threads N...] CORPUS [VELLICOR]}
root=$(cd "$(dirname "$0")/.." && pwd)
vellicor=${2:-$root/build/tools/vellicor}
have7z=$(command -v 7z || true)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=$(cd "$corpus" && pwd)
sets=()
for d in "$corpus"/*/; do sets+=("$(basename "$d")"); done

# Best wall-clock seconds of `repeat` runs of the command.
best() {
  local b=""
  for _ in $(seq "$repeat"); do
    local s e t
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  printf '%.2f' "$b"
}

printf '%-6s %8s | %-16s | %-16s' set MB "gzip -9 s, MB" "zip -mx=9 s, MB"
for l in $levels; do for j in $threads; do printf ' | %-28s' "L$l -j$j s, MB, t/gz t/zip"; done; done
printf ' | %s\n' "L${levels##* }/zip size"
order=("${sets[@]}" all)
[ "$rows" = all ] && order=(all)
for s in "${order[@]}"; do
  names=("$s")
  [ "$s" = all ] && names=("${sets[@]}")
  inputs=()
  for n in "${names[@]}"; do inputs+=("$corpus/$n"); done
  bytes=$(du -sbc "${inputs[@]}" | tail -1 | cut -f1)
  tar -C "$corpus" -cf "$work/set.tar" "${names[@]}"
  gt=$(best sh -c "gzip -9 -c '$work/set.tar' > '$work/set.tar.gz'")
  gs=$(stat -c %s "$work/set.tar.gz")
  zt=- zs=0
  if [ -n "$have7z" ]; then
    zt=$(best sh -c "rm -f '$work/set.zip'; cd '$corpus' && 7z a -tzip -mx=9 '$work/set.zip' ${names[*]}")
    zs=$(stat -c %s "$work/set.zip")
  fi
  printf '%-6s %8.2f | %6s %9.3f | %6s %9.3f' "$s" "$(echo "$bytes/1000000" | bc -l)" "$gt" \
    "$(echo "$gs/1000000" | bc -l)" "$zt" "$(echo "$zs/1000000" | bc -l)"
  last=0
  for l in $levels; do
    for j in $threads; do
      vt=$(best "$vellicor" pack -q --level "$l" -j "$j" -o "$work/set.exe" "${inputs[@]}")
      vs=$(stat -c %s "$work/set.exe")
      last=$vs
      tz=-
      [ "$zt" != - ] && tz=$(printf '%.2f' "$(echo "$vt/$zt" | bc -l)")
      printf ' | %6s %9.3f %5.2f %5s' "$vt" "$(echo "$vs/1000000" | bc -l)" "$(echo "$vt/$gt" | bc -l)" "$tz"
    done
  done
  if [ "$zs" != 0 ]; then printf ' | %.4f\n' "$(echo "$last/$zs" | bc -l)"; else printf ' | -\n'; fi
done
