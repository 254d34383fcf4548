#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each from its seed corpus for a
# bounded time. Fails on any crash, leak, time-out or sanitizer report.
#
#   fuzz/run.sh [seconds per target] [target...]
#
# Seconds default to 7; targets to all of them. New inputs go to build/fuzz/work/,
# never into the seed corpora; a failing input is kept in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-7}
shift || true
all_targets=(manifest http_response config_value detail_line sql_batches reg_file
             services_json sql_dialect signed_index)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

build=build/fuzz
mkdir -p "$build"
if ! { CC=clang-14 CXX=clang++-14 cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  echo "FAIL: the fuzz targets do not build (log: $build/build.log)"
  exit 1
fi

mkdir -p "$build/artifacts" "$build/tmp"
export TMPDIR=$PWD/$build/tmp
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
  case $target in
    http_response) max_len=20000 ;;  # beyond the 8000-byte header area
    manifest) max_len=16384 ;;
    config_value) max_len=200 ;;
    detail_line) max_len=300 ;;
    *) max_len=8192 ;;
  esac
  work=$build/work/$target
  mkdir -p "$work"
  dict=()
  [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
  log=$build/$target.log
  if "$build/fuzz_$target" "$work" "fuzz/corpus/$target" "${dict[@]}" \
      -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2560 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
    echo "fuzz $target: ok ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" |
      grep -o '[0-9]*$') runs in ${seconds}s)"
  else
    echo "FAIL: fuzz $target (log: $log)"
    tail -n 60 "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAIL: fuzz targets with findings: ${failed[*]}"
  exit 1
fi
