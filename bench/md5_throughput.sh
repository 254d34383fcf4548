#!/usr/bin/env bash
# MD5 of a 50 MB file: the tool's digest against md5sum, same file, same run.
# Usage: bench/md5_throughput.sh [BUILD_DIR] [BYTES] [ROUNDS]
set -euo pipefail
build=${1:-build/linux}
bytes=${2:-50000000}
rounds=${3:-5}
work=$(mktemp -d /tmp/ost-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c "$bytes" /dev/urandom >"$work/file"
cat "$work/file" >/dev/null  # both read from the page cache
ours=$("$build/bench/ost-md5" "$work/file" | cut -d' ' -f1)
theirs=$(md5sum "$work/file" | cut -d' ' -f1)
[ "$ours" = "$theirs" ] || { echo "digests differ: $ours $theirs"; exit 1; }
python3 - "$build/bench/ost-md5" "$work/file" "$rounds" "$bytes" <<'PY'
import subprocess, sys, time
tool, path, rounds, size = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def best(cmd):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)
ours, theirs = best([tool, path]), best(["md5sum", path])
print(f"md5 of {size} bytes, best of {rounds}")
print(f"md5sum  {size / theirs / 1e6:8.1f} MB/s ({theirs:.4f} s)")
print(f"ost-md5 {size / ours / 1e6:8.1f} MB/s ({ours:.4f} s)")
print(f"ratio ost/md5sum: {theirs / ours:.2f}")
PY
