#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit tests and the
# end-to-end cases of the real stub under Wine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLICOR_BUILD:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j2 "$@"
