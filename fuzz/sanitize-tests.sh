#!/usr/bin/env bash
# Builds the Linux tree with AddressSanitizer and UndefinedBehaviorSanitizer (g++) in
# build/asan and runs the whole test suite there once. Fails on any test failure,
# which includes every sanitizer report and leak (each aborts its process).
#
#   fuzz/sanitize-tests.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/asan
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
mkdir -p "$build"
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
         -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
         -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" &&
       cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  echo "FAIL: the sanitizer build failed (log: $build/build.log)"
  exit 1
fi

# halt_on_error and abort_on_error make every report end its process with a failure.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600 "$@"
