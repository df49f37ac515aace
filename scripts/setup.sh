#!/usr/bin/env bash
# Installs the Debian packages that the build needs, skipping those already
# present. Usage: scripts/setup.sh [core|test|bench]...  (default: core)
#   core   compiler, CMake, git, BoringSSL, glog; GoogleTest, MPFR and GMP
#          for the tests that the regular build includes
#   test   core + clang with libFuzzer and sanitizer runtimes
#   bench  core + Google Benchmark, MPFR, GMP, Boost headers, python3
# Runs apt-get as root, or through sudo.
set -euo pipefail

core=(g++ make cmake git pkg-config android-libboringssl-dev
      libgoogle-glog-dev libgtest-dev libmpfr-dev libgmp-dev)
test=(clang libclang-rt-14-dev)
bench=(libbenchmark-dev libmpfr-dev libgmp-dev libboost-dev python3)

wanted=("${core[@]}")
for set in "${@:-core}"; do
  case "$set" in
    core) ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    *) echo "setup.sh: unknown package set '$set'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
