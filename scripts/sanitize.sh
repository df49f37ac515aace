#!/usr/bin/env bash
# Runs the unit, differential and thread tests (without *SlowTest* suites)
# under AddressSanitizer + UndefinedBehaviorSanitizer with LeakSanitizer on,
# then the thread test under ThreadSanitizer. Build folders build-asan/ and
# build-tsan/ go under $LATTIS_BUILD_ROOT (default: the repository root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${LATTIS_BUILD_ROOT:-$root}

asan="$build_root/build-asan"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLATTIS_SANITIZE=address,undefined
cmake --build "$asan" -j2 --target exactfloat_test mpfr_diff_test thread_test
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
filter=--gtest_filter=-*SlowTest*
"$asan/tests/exactfloat_test" "$filter"
"$asan/tests/differential/mpfr_diff_test" "$filter"
"$asan/tests/threads/thread_test" "$filter"

tsan="$build_root/build-tsan"
cmake -S "$root" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLATTIS_SANITIZE=thread
cmake --build "$tsan" -j2 --target thread_test
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/threads/thread_test"
