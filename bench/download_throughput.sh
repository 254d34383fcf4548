#!/usr/bin/env bash
# Download throughput of the update tool's HTTP getter against curl, same server, same
# file, same run. Prints the ratio getter/curl (1.0 = as fast as curl).
# Usage: bench/download_throughput.sh [BUILD_DIR] [BYTES] [ROUNDS]
set -euo pipefail
build=${1:-build/linux}
bytes=${2:-24000000}
rounds=${3:-5}
fetch="$build/bench/ost-http-fetch"
[ -x "$fetch" ] || { echo "build $fetch first (cmake --build --preset linux)"; exit 1; }
command -v curl >/dev/null || { echo "curl is needed (apt-get install -y curl)"; exit 1; }

work=$(mktemp -d /tmp/ost-bench-XXXXXX)
head -c "$bytes" /dev/urandom >"$work/package.zip"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/package.zip" && break; sleep 0.1; done

best_curl=999
best_getter=999
for _ in $(seq "$rounds"); do
  t=$(curl -s -o /dev/null -w '%{time_total}' "http://127.0.0.1:$port/package.zip")
  best_curl=$(python3 -c "print(min($best_curl, $t))")
  t=$("$fetch" "127.0.0.1:$port" /package.zip 3 | sed -n 's/.*seconds \([0-9.]*\).*/\1/p')
  best_getter=$(python3 -c "print(min($best_getter, $t))")
done
python3 - "$bytes" "$best_curl" "$best_getter" <<'PY'
import sys
size, curl, getter = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
print(f"file {size} bytes, best of runs")
print(f"curl   {size / curl / 1e6:8.1f} MB/s ({curl:.4f} s)")
print(f"getter {size / getter / 1e6:8.1f} MB/s ({getter:.4f} s)")
print(f"ratio getter/curl: {curl / getter:.2f}")
PY
