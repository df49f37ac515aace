#!/bin/bash
# Shows exactcalc at work: exact sums and products of doubles and one value
# rounded in each of the six rounding modes.
# Usage: scripts/showcase.sh [BUILD_DIR]   (default: build/ under the repo root)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
calc=${1:-$root/build}/tools/exactcalc
if [[ ! -x $calc ]]; then
  echo "showcase: $calc not found; build the project first" >&2
  exit 1
fi

show() {  # show HEADING [OPTIONS] EXPRESSION
  local heading=$1
  shift
  printf '%-44s %s\n' "$heading" "$("$calc" "$@")"
}

show "0.1 + 0.2 - 0.3 in double:" --double "todouble(0.1 + 0.2) - 0.3"
show "0.1 + 0.2 - 0.3 exactly:" "0.1 + 0.2 - 0.3"
show "  every digit of it:" --exact "0.1 + 0.2 - 0.3"
show "0.1 * 0.3 rounded to a double:" --double "0.1 * 0.3"
show "0.1 * 0.3 exactly, every digit:" --exact "0.1 * 0.3"
show "2^100 + 1, exact integer:" --exact "pow(2, 100) + 1"
echo "-2.5, halfway between -2 and -3, rounded to 2 bits:"
for mode in TiesToEven TiesAwayFromZero TowardZero AwayFromZero \
            TowardPositive TowardNegative; do
  show "  $mode" "roundbits(-2.5, 2, $mode)"
done
