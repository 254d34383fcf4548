#!/usr/bin/env bash
# scripts/demo's options: --help answers with its usage and an unknown option is a usage
# error, both at once and without laying out a machine root anywhere.
# Usage: demo_usage_test.sh DEMO
set -uo pipefail
demo=$(realpath "$1")
repo=$(cd "$(dirname "$demo")/.." && pwd)
work=$(mktemp -d /tmp/ost-demo-usage-XXXXXX)
trap 'rm -rf "$work"' EXIT
passes=0
failures=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
# A machine root named after the option, where the script would lay it out (it runs
# from the repository) or where it was started; removed again if it appears.
left_behind() {
  local found=1
  for dir in "$repo/$1" "$work/$1"; do
    if [ -e "$dir" ]; then
      echo "  $dir was created"
      rm -rf -- "$dir"
      found=0
    fi
  done
  return $found
}
nothing_left() { ! left_behind "$1"; }

for option in --help -h; do
  (cd "$work" && timeout 20 "$demo" "$option" >"$work/out" 2>"$work/err")
  status=$?
  check "$option: exit 0" [ "$status" -eq 0 ]
  check "$option: usage on standard output" grep -q '^usage: scripts/demo \[DIR\]' "$work/out"
  check "$option: nothing on standard error" [ ! -s "$work/err" ]
  check "$option: no machine root laid out" nothing_left "$option"
done

(cd "$work" && timeout 20 "$demo" --bogus >"$work/out" 2>"$work/err")
status=$?
check "unknown option: usage error" [ "$status" -eq 64 ]
check "unknown option: named on standard error" grep -q -- '--bogus' "$work/err"
check "unknown option: usage on standard error" grep -q '^usage: scripts/demo \[DIR\]' "$work/err"
check "unknown option: nothing on standard output" [ ! -s "$work/out" ]
check "unknown option: no machine root laid out" nothing_left --bogus

(cd "$work" && timeout 20 "$demo" "$work/a" "$work/b" >"$work/out" 2>"$work/err")
status=$?
check "two folders: usage error" [ "$status" -eq 64 ]
check "two folders: none laid out" test ! -e "$work/a" -a ! -e "$work/b"

# A folder that holds something else is never emptied.
mkdir -p "$work/keep"
echo "precious" >"$work/keep/file"
(cd "$work" && timeout 20 "$demo" keep >"$work/out" 2>"$work/err")
status=$?
check "a folder that is no machine root: usage error" [ "$status" -eq 64 ]
check "a folder that is no machine root: kept" grep -q precious "$work/keep/file"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
