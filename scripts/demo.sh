#!/usr/bin/env bash
# The main job on the built-in example: installs what is missing, builds,
# packs examples/sample with our creator, extracts it with the real 32-bit
# stub under Wine (clicked by our test driver, screenshots saved), then
# extracts the same file with the portable tool and compares both trees.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLICOR_BUILD:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"

tool=$build/tools/vellicor
work=$build/e2e/work/demo
python3 "$root/tests/e2e/run_case.py" --case "$root/scripts/demo.case" \
  --build "$build" --stub "$build/stub/vellicor_stub.exe" \
  --driver "$build/stub/e2e_driver.exe" --texts "$root/app/texts.h" --tool "$tool"

echo
echo "== the self-extracting file: $work/case.exe"
"$tool" list "$work/case.exe"
"$tool" test "$work/case.exe"

# The portable tool must give the same tree, bytes and modification times as
# the stub gave under Wine (folders carry no stored times).
rm -rf "$work/cli"
"$tool" extract -q --overwrite=none -o "$work/cli" "$work/case.exe"
stub_tree=$(cd "$work/cwd/展開先" && find . -type d -printf 'folder %p\n' -o -printf 'file %s %TY-%Tm-%Td %TT %p\n' | sort)
cli_tree=$(cd "$work/cli" && find . -type d -printf 'folder %p\n' -o -printf 'file %s %TY-%Tm-%Td %TT %p\n' | sort)
if [ "$stub_tree" != "$cli_tree" ] || ! diff -r "$work/cwd/展開先" "$work/cli" >/dev/null; then
  echo "demo: the stub and vellicor extract gave different trees" >&2
  diff <(echo "$stub_tree") <(echo "$cli_tree") >&2 || true
  exit 1
fi
echo
echo "== extracted by the stub under Wine (same as 'vellicor extract'):"
echo "$stub_tree" | sed 's/^/  /'
echo
echo "screenshots: $build/e2e-shots/demo-dialog.png, $build/e2e-shots/demo-finished.png"
