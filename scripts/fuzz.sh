#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (under
# $LATTIS_BUILD_ROOT, default the repository root) and runs each from its
# committed seed corpus for LATTIS_FUZZ_SECONDS (default 30). New corpus
# entries go to a temporary folder, never into the repository. Exits
# non-zero when a target crashes or fails a check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${LATTIS_BUILD_ROOT:-$root}
seconds=${LATTIS_FUZZ_SECONDS:-30}

build="$build_root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLATTIS_BUILD_FUZZERS=ON \
  -DLATTIS_BUILD_TESTS=OFF -DLATTIS_SANITIZE=address,undefined
cmake --build "$build" -j2 --target ops_fuzzer int_args_fuzzer parse_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in ops int_args parse; do
  mkdir -p "$work/$target"
  echo "== ${target}_fuzzer for ${seconds}s"
  (cd "$work" && "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" \
     -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
     "$work/$target" "$root/fuzz/corpus/$target")
done
