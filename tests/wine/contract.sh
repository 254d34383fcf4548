#!/usr/bin/env bash
# The ports' contract suites against the Win32 providers, under Wine: the 64-bit test
# program (ost_contract_tests_win32.exe) in a fresh prefix of its own, with the
# sandbox's service program for the services suite. Its tests are
# named win32/<Port>Contract.<case>; the summary line counts them.
# The database suite reaches, through Wine's odbc32 and the host's unixODBC, the
# stand-in driver of the Linux build on a machine root that ost-sandbox lays out.
# usage: tests/wine/contract.sh [WINDOWS64_BUILD [LINUX_BUILD]]
#        (default build/windows64, build/linux)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$repo/build/windows64}")
linux_build=$(realpath -m "${2:-$repo/build/linux}")
exe=$build/tests/contract/ost_contract_tests_win32.exe
winsvc=$build/sandbox/winsvc/ost-winsvc.exe
sandbox=$linux_build/sandbox/ost-sandbox
for file in "$exe" "$winsvc" "$sandbox"; do
  [ -f "$file" ] || { echo "FAIL: no $file (build the windows64 and linux presets)"; exit 1; }
done

WINEPREFIX=$(mktemp -d /tmp/ost-wine-contract-XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;odbc32=b"
xvfb_pid=
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The report list is a real ListView: its window needs a display, never shown.
Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp 5>"$WINEPREFIX/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$WINEPREFIX/display" ] && break; sleep 0.1; done
[ -s "$WINEPREFIX/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$WINEPREFIX/display")"

timeout 180 wineboot --init >/dev/null 2>&1 || true
timeout 60 wineserver -w || true
[ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: wineboot made no prefix"; exit 1; }
# The data source "ostra" (login sa/secret) with the site id 中文中文 and no platform
# flag, as the database suite expects.
root=$WINEPREFIX/root
"$sandbox" init "$root" --dsn ostra --user sa --password secret --site-id 中文中文 >/dev/null ||
  { echo "FAIL: ost-sandbox init"; exit 1; }
sqlite3 "$root/db/ostra.sqlite" "DELETE FROM sys_dict WHERE dcname='29'"
export ODBCSYSINI=$root/odbc OST_CONTRACT_DSN=ostra

# The services suite runs the sandbox's service program under the paths it names.
OST_CONTRACT_WINSVC=$(winepath -w "$winsvc" 2>/dev/null)
export OST_CONTRACT_WINSVC
status=0
timeout 300 wine "$exe" --gtest_brief=1 || status=$?
[ "$status" -eq 0 ] && echo "PASS: the Win32 providers keep the ports' contracts" ||
  echo "FAIL: the Win32 providers' contract suites (exit status $status)"
exit "$status"
