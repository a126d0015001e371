#!/usr/bin/env bash
# Configures and builds everything (host programs, tests and the stub) into
# build/ (or $VELLICOR_BUILD).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLICOR_BUILD:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
