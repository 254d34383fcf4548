#!/usr/bin/env bash
# Every benchmark, each against its peer in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
for bench in download_throughput resume md5_throughput sql_runner whole_update; do
  echo "== $bench"
  "bench/$bench.sh" "$build"
  echo
done
