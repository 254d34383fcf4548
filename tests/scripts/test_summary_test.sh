#!/usr/bin/env bash
# scripts/test's stages and closing summary, on a copy of it whose builds, tests and
# set-up are stand-ins that pass or fail as told: every stage runs whatever failed
# before it (unless a build it needs failed), a group that cannot be installed is a skip
# with its reason (or a failure when required), and the last line counts the stages.
# Usage: test_summary_test.sh TEST_SCRIPT
set -uo pipefail
script=$(realpath "$1")
work=$(mktemp -d /tmp/ost-test-summary-XXXXXX)
trap 'rm -rf "$work"' EXIT
passes=0
failures=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}

repo=$work/repo
mkdir -p "$repo"/{scripts,tests/scripts,tests/wine,tests/parity,tests/fleet,fuzz,bin}
cp "$script" "$repo/scripts/test"
# stub PATH NAME: a program that fails when NAME is in $STUB_FAIL.
stub() {
  cat >"$repo/$1" <<EOF
#!/usr/bin/env bash
echo "ran $2"
case " \$STUB_FAIL " in *" $2 "*) echo "FAIL: $2 told to fail"; exit 1 ;; esac
exit 0
EOF
  chmod +x "$repo/$1"
}
stub tests/scripts/demo_packages_test.sh demo
stub tests/wine/run.sh wine
stub tests/wine/contract.sh wine-contracts
stub tests/parity/run.sh parity
stub tests/fleet/run.sh fleet
stub fuzz/run.sh fuzz
stub fuzz/sanitize-tests.sh sanitizers
stub tests/wine/check_pe.py pe
stub bin/ctest ctest
cat >"$repo/bin/cmake" <<'EOF'
#!/usr/bin/env bash
# cmake --build --preset NAME fails when build-NAME is in $STUB_FAIL.
if [ "$1" = --build ]; then
  case " $STUB_FAIL " in *" build-$3 "*) echo "FAIL: build $3"; exit 1 ;; esac
  mkdir -p "build/$3" && : >"build/$3/OstServerUpdate.exe"
fi
exit 0
EOF
cat >"$repo/bin/python3" <<'EOF'
#!/usr/bin/env bash
exec "$@"
EOF
cat >"$repo/scripts/setup-deps" <<'EOF'
#!/usr/bin/env bash
[ -z "$STUB_MISSING" ] || printf '%s\n' "$STUB_MISSING" >"$OST_SETUP_REPORT"
EOF
chmod +x "$repo/bin"/* "$repo/scripts/setup-deps"

# run NAME [VAR=VALUE...]: scripts/test with those settings; output in $work/NAME.
run() {
  local name=$1
  shift
  env PATH="$repo/bin:$PATH" STUB_FAIL= STUB_MISSING= "$@" "$repo/scripts/test" \
    >"$work/$name" 2>&1
}
summary() { sed -n '/^=== summary/,$p' "$work/$1"; }
# line NAME STAGE STATUS [TEXT]: the stage's summary line has that status (and text).
line() { summary "$1" | grep "^$2 " | grep -q " $3 .*${4:-}"; }

run green
check "all passing: exit 0" [ $? -eq 0 ]
check "all passing: the closing line counts every stage" \
  test "$(tail -n1 "$work/green")" = "12 passed, 0 failed, 0 skipped"
check "all passing: the 32-bit executable ran" line green Wine passed "32-bit executable"

why=$'32-bit Wine\ta package index could not be fetched (Packages.xz: unexpected size)'
run no32 STUB_MISSING="$why"
check "no 32-bit Wine: exit 0" [ $? -eq 0 ]
check "no 32-bit Wine: said at the start" grep -q '^NOTE: the 32-bit Windows pieces cannot be installed here: a package index could not be fetched' "$work/no32"
check "no 32-bit Wine: the summary names the stand-in and why" \
  line no32 Wine passed "64-bit executable: 32-bit Wine cannot be installed here: a package index"
check "no 32-bit Wine: no i386 build" sh -c "! grep -q 'i386 driver build' '$work/no32'"

run no32required STUB_MISSING="$why" OST_WINE_REQUIRE_32=1
check "32-bit Wine required: exit 1" [ $? -eq 1 ]
check "32-bit Wine required: Wine fails naming what is missing" \
  line no32required Wine failed "32-bit Wine required, but a package index"
check "32-bit Wine required: parity fails too" line no32required parity failed
check "32-bit Wine required: the rest still ran" line no32required sanitizers passed

run red STUB_FAIL="ctest fuzz"
check "failing stages: exit 1" [ $? -eq 1 ]
check "failing stages: ctest failed" line red ctest failed
check "failing stages: later stages still ran" line red sanitizers passed
check "failing stages: counted" test "$(tail -n1 "$work/red")" = "10 passed, 2 failed, 0 skipped"

run nobuild STUB_FAIL="build-windows64" STUB_MISSING=$'fleet\tansible-core: not to be had'
check "a failed build: exit 1" [ $? -eq 1 ]
check "a failed build: what needs it is not run" line nobuild "PE checks" failed "not run: the Windows build failed"
check "a failed build: the Win32 contracts not run" line nobuild "Wine contracts" failed "not run: the Windows build failed"
check "a failed build: Wine not run" sh -c "! grep -q '^ran wine' '$work/nobuild'"
check "a group not installable: a skip with its reason" line nobuild fleet skipped "ansible-core: not to be had"
run allrequired STUB_MISSING=$'fleet\tansible-core: not to be had' OST_TEST_REQUIRE_ALL=1
check "every stage required: a skip is a failure" line allrequired fleet failed "required, but ansible-core"

if [ "$failures" -ne 0 ]; then
  for f in green no32 red nobuild; do echo "--- $f"; summary "$f"; done
fi
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
