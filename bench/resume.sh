#!/usr/bin/env bash
# A 24 MB package over a host that cuts the connection after every 1 MiB it sends,
# against the same host never cutting, same run: bytes the host sent and time to the
# whole package, each as a ratio cut/never (1.00 = a broken link costs nothing).
# Usage: bench/resume.sh [BUILD_DIR] [BYTES]
set -euo pipefail
build=${1:-build/linux}
bytes=${2:-24000000}
fetch="$build/bench/ost-http-fetch"
[ -x "$fetch" ] || { echo "build $fetch first (cmake --build --preset linux)"; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d /tmp/ost-bench-XXXXXX)
servers=()
trap 'for s in "${servers[@]}"; do kill "$s" 2>/dev/null; done; rm -rf "$work"' EXIT
head -c "$bytes" /dev/urandom >"$work/package.zip"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# measure NAME CUT: seconds of the getter's timed round; bytes sent in that round.
measure() {
  local port
  port=$(free_port)
  python3 "$here/../tests/e2e/faulty_server.py" --port "$port" --directory "$work" \
    --cut-every "$2" >"$work/$1.log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.05
  done
  # ost-http-fetch fetches twice and times the second round (the first pays for the
  # buffer's fresh pages): the bytes of the second round are the log's second half.
  local line
  line=$("$fetch" "127.0.0.1:$port" /package.zip 3)
  case "$line" in "result 0 received $bytes expected $bytes "*) ;; *)
    echo "$1: the package did not arrive whole: $line"; exit 1;; esac
  seconds=$(sed -n 's/.*seconds \([0-9.]*\).*/\1/p' <<<"$line")
  sent=$(grep '^sent ' "$work/$1.log" | sed 's/.*bytes=//' | paste -sd+ | bc)
  sent=$((sent / 2))
  requests=$(($(grep -c '^sent ' "$work/$1.log") / 2))
}

measure never 1000000000
never_seconds=$seconds never_sent=$sent never_requests=$requests
measure cut 1048576
python3 - "$bytes" "$never_seconds" "$never_sent" "$never_requests" "$seconds" "$sent" "$requests" <<'PY'
import sys
size = int(sys.argv[1])
ns, nb, nr, cs, cb, cr = float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
print(f"package {size} bytes")
print(f"never cut        {nb:>10} bytes sent, {nr:>3} requests, {ns:.3f} s")
print(f"cut every 1 MiB  {cb:>10} bytes sent, {cr:>3} requests, {cs:.3f} s")
print(f"ratio cut/never: bytes {cb / nb:.4f}, time {cs / ns:.2f}")
PY
