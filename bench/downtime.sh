#!/usr/bin/env bash
# How long the updated component's service is down, in the documented order and in the
# staged mode, with an update host that paces its answers like a slow link. The release
# has two database scripts and a 20 MB component whose service takes its time to stop
# and to start; the service stand-in logs every state it takes (services.log).
# Prints both downtimes per rate and the ratio staged/documented.
# Usage: [PENDING_MS=N] bench/downtime.sh [BUILD_DIR] [RATE...]
#   rates in bytes a second (default 2 MB/s and 10 MB/s); PENDING_MS is the service's
#   stop and start pending time each (default 500).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
shift || true
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(2000000 10000000)
bytes=20000000
pending=${PENDING_MS:-500}
work=$(mktemp -d /tmp/ost-downtime-XXXXXX)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

python3 -c "import base64,os,sys; sys.stdout.write(base64.b64encode(os.urandom($bytes)).decode()[:$bytes])" >"$work/content"
python3 -c "import json,sys; print(json.dumps({'ostra': '3.82', 'components': {'Server': {'version': 12, 'content': open(sys.argv[1]).read()}}}))" \
  "$work/content" >"$work/release.json"

# downtime MACHINE-ROOT: milliseconds from the service's first state other than running
# to its last return to running.
downtime() {
  python3 - "$1/services.log" <<'PY'
import sys
down = up = None
for line in open(sys.argv[1]):
    at, name, state = line.split()
    if name != "CSOstraServer":
        continue
    if state != "4" and down is None:
        down = int(at)
    if state == "4":
        up = int(at)
if down is None or up is None or up < down:
    sys.exit("the service's log holds no stop and start")
print(up - down)
PY
}

# update RATE NAME [--stage]: one whole update from a host paced at RATE; prints the
# service's downtime in milliseconds.
update() {
  local rate=$1 name=$2 root port
  shift 2
  root="$work/$name"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  "$build/sandbox/ost-sandbox" init "$root" --update-host "127.0.0.1:$port" \
    --service "CSOstraServer:stopPendingMs=$pending" \
    --service "CSOstraServer:startPendingMs=$pending" >/dev/null
  "$build/sandbox/ost-sandbox" publish "$root" --release "$work/release.json" >/dev/null
  python3 tests/e2e/faulty_server.py --port "$port" --directory "$root/host" --pace "$rate" \
    >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
    sleep 0.1
  done
  "$build/src/ost-server-update" --root "$root" --headless --start --confirm yes "$@" >"$root.out"
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=
  grep -q '^status | ★ Ostra 服务器系统升级更新完毕!' "$root.out" ||
    { echo "the $name update did not finish" >&2; tail "$root.out" >&2; exit 1; }
  cmp -s "$work/content" "$root/drives/c/OSTRA/CSOstraServer.exe" ||
    { echo "the $name update did not write the component" >&2; exit 1; }
  downtime "$root"
}

printf "%-12s %14s %14s %8s\n" "rate" "documented ms" "staged ms" "ratio"
for rate in "${rates[@]}"; do
  documented=$(update "$rate" "documented-$rate")
  staged=$(update "$rate" "staged-$rate" --stage)
  python3 -c "import sys; r, d, s = map(int, sys.argv[1:]); print(f'{r/1e6:.0f} MB/s'.ljust(12), f'{d:14d} {s:14d} {s/d:8.3f}')" \
    "$rate" "$documented" "$staged"
done
package=$(stat -c %s "$work/documented-${rates[0]}/host/ostra/update1/CSOstraServer.exe.zip")
echo "(a $bytes-byte component, its package $package bytes; two scripts; stop and start pending $pending ms each)"
