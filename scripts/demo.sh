#!/usr/bin/env bash
# The main job on the built-in example: installs what is missing, builds,
# packs examples/sample with our creator, extracts it with the real stub
# under Wine (clicked by our test driver, screenshots saved: the 32-bit
# product stub, under 32-bit Wine where this machine executes 32-bit code,
# else with the 32-bit Wine loader under qemu-i386; the log says which), then
# extracts the same file with the portable tool and compares both trees
# with the source (scripts/demo.case).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLICOR_BUILD:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"

tool=$build/tools/vellicor
work=$build/e2e/work/demo
python3 "$root/tests/e2e/run_case.py" --case "$root/scripts/demo.case" \
  --build "$build" --stub "$build/stub/vellicor_stub.exe" --driver "$build/stub/e2e_driver.exe" \
  --stub64 "$build/stub64/vellicor_stub.exe" --driver64 "$build/stub64/e2e_driver.exe" \
  --texts "$root/common/texts.h" --tool "$tool"

echo
echo "== the self-extracting file: $work/case.exe"
"$tool" list "$work/case.exe"
"$tool" test "$work/case.exe"

echo
echo "== the Debian package: built, installed with dpkg -i, run, removed"
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
packages=$build/packages
rm -rf "$packages"
mkdir -p "$packages"
cpack -G DEB -B "$packages" --config "$build/CPackConfig.cmake" >"$packages/cpack.log" 2>&1 ||
  { cat "$packages/cpack.log"; exit 1; }
deb=$(ls "$packages"/vellicor_*.deb)
echo "$deb:"
dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/  /'
as_root dpkg -i "$deb"
installed=(/usr/bin/vellicor /usr/share/man/man1/vellicor.1.gz /usr/share/bash-completion/completions/vellicor)
ls -l "${installed[@]}"
/usr/bin/vellicor --version
/usr/bin/vellicor test "$work/case.exe"
if command -v man >/dev/null; then man -w vellicor; fi
as_root dpkg -r vellicor
for f in "${installed[@]}"; do
  if [ -e "$f" ]; then echo "demo: $f is still there after dpkg -r" >&2; exit 1; fi
done
echo "removed: none of ${installed[*]} is left"

echo
echo "== extracted by the stub under Wine into $work/cwd/展開先"
echo "   (the same bytes and times as the source and as 'vellicor extract' gave in $work/cli)"
echo
echo "screenshots: $build/e2e-shots/demo-dialog.png, $build/e2e-shots/demo-finished.png"
