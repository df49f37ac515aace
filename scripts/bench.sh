#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/), runs every bench/*_bench
# binary with JSON output and prints one table: each benchmark's CPU time and
# its ratio to the MPFR (and GMP) figure of the same case from the same run.
#
# A benchmark name carries its implementation as one path component
# (ExactFloat, MPFR, GMP, BoringSSL, Boost or double), e.g.
# Orientation/Uniform/ExactFloat or Product/GMP/1024; the other components
# name the case. Cases without an MPFR figure show "-".
#
# Allocator calls are counted by the test suite (tests/allocations), not
# here: values of up to four words make none.
#
# Usage: scripts/bench.sh [benchmark flags, e.g. --benchmark_filter=Product]
# Environment: BENCH_BUILD_DIR (default build-bench), BENCH_REPETITIONS
# (default 3; the table shows the median).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-${root}/build-bench}"
repetitions="${BENCH_REPETITIONS:-3}"

"${root}/scripts/setup.sh" core bench

cmake -S "${root}" -B "${build}" -DCMAKE_BUILD_TYPE=Release \
  -DLATTIS_BUILD_BENCHMARKS=ON -DLATTIS_BUILD_TESTS=OFF >/dev/null
cmake --build "${build}" -j2 >/dev/null

results="${build}/bench-results"
rm -rf "${results}"
mkdir -p "${results}"
for binary in "${build}"/bench/*_bench; do
  name="$(basename "${binary}")"
  echo "running ${name}" >&2
  "${binary}" --benchmark_out="${results}/${name}.json" \
    --benchmark_out_format=json \
    --benchmark_repetitions="${repetitions}" \
    --benchmark_report_aggregates_only=true "$@" >/dev/null
done

python3 - "${results}"/*.json <<'EOF'
import json
import sys

IMPLS = ("ExactFloat", "MPFR", "GMP", "BoringSSL", "Boost", "double")

def case_and_impl(name):
    parts = name.split("/")
    for i, part in enumerate(parts):
        if part in IMPLS:
            return "/".join(parts[:i] + parts[i + 1:]), part
    return name, None

def show_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"

rows, times = [], {}
for path in sys.argv[1:]:
    with open(path) as f:
        text = f.read()
    if not text.strip():
        continue  # a filter that matched nothing in this binary
    data = json.loads(text)
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("error_occurred"):
            rows.append((b["run_name"], None))
            continue
        unit = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        ns = b["cpu_time"] * unit
        rows.append((b["run_name"], ns))
        times[case_and_impl(b["run_name"])] = ns

def ratio(name, ns, peer):
    case, impl = case_and_impl(name)
    base = times.get((case, peer))
    if impl is None or base is None or ns is None:
        return "-"
    return f"{ns / base:.2f}"

width = max([len(name) for name, _ in rows] + [len("benchmark")])
print(f"{'benchmark':<{width}}  {'cpu time':>10}  {'/ MPFR':>7}  {'/ GMP':>7}")
for name, ns in rows:
    shown = "error" if ns is None else show_time(ns)
    print(f"{name:<{width}}  {shown:>10}  {ratio(name, ns, 'MPFR'):>7}"
          f"  {ratio(name, ns, 'GMP'):>7}")
EOF
