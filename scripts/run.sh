#!/usr/bin/env bash
# Installs what is missing, builds everything (library, exactcalc, examples,
# tests) in build/, and runs exactcalc on a short showcase.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" core
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$(nproc)"
"$root/scripts/showcase.sh" "$root/build"
