#!/bin/bash
# Usage: run_golden.sh EXACTCALC GOLDEN_TABLE
# Checks each row of the table (options | expression | expected): an expected
# text that starts with "exactcalc:" is the one line on standard error of a
# failing run (status 1), any other text is the standard output of a
# successful one. Then checks the line-per-line mode and the nesting bound.
calc=$1
failures=0
err_file=$(mktemp)
trap 'rm -f "$err_file"' EXIT

trim() { local s=${1#"${1%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }

# check NAME WANT_STATUS WANT_OUT WANT_ERR STATUS OUT
check() {
  local err
  err=$(<"$err_file")
  if [[ $5 != "$2" || $6 != "$3" || $err != "$4" ]]; then
    printf 'FAIL %s\n  status %s, want %s\n  stdout: %s\n  want:   %s\n  stderr: %s\n  want:   %s\n' \
      "$1" "$5" "$2" "$6" "$3" "$err" "$4"
    failures=$((failures + 1))
  fi
}

while IFS='|' read -r opts expr want; do
  [[ $opts == \#* || -z $expr ]] && continue
  read -ra opts <<< "$opts"
  expr=$(trim "$expr")
  want=$(trim "$want")
  out=$("$calc" "${opts[@]}" -- "$expr" 2>"$err_file")
  status=$?
  if [[ $want == exactcalc:* ]]; then
    check "$expr" 1 "" "$want" "$status" "$out"
  else
    check "$expr" 0 "$want" "" "$status" "$out"
  fi
done < "$2"

# An error on one line leaves the next lines to be evaluated.
out=$(printf '1 + 1\n2 * (\n\n  3\t* 4  \r\n' | "$calc" 2>"$err_file")
check "stdin lines" 1 $'2\n12' \
  "exactcalc: line 2, column 6: unexpected end of expression" $? "$out"

deep=$(printf '(%.0s' {1..250})1$(printf ')%.0s' {1..250})
out=$("$calc" "$deep" 2>"$err_file")
check "250 parentheses" 1 "" \
  "exactcalc: argument 1, column 201: nesting deeper than 200 levels" $? "$out"

# Past the argument size limit of the system: a line on standard input.
out=$(printf '%01000001d\n' 1 | "$calc" 2>"$err_file")
check "1000001 digits" 1 "" \
  "exactcalc: line 1, column 1: literal longer than 1000000 digits" $? "$out"

[[ $failures == 0 ]] && echo "all golden checks passed"
exit $((failures > 0))
