#!/usr/bin/env bash
# Installs what is missing and runs every test: the sanitizer builds (ASan,
# UBSan, LSan, TSan), the bounded fuzz runs, then the full suite of the
# regular build (unit, differential, exactcalc golden, install-and-consume).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" core test
"$root/scripts/sanitize.sh"
"$root/scripts/fuzz.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$(nproc)"
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
