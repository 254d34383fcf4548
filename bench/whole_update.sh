#!/usr/bin/env bash
# A whole sandbox update with a 20 MB component: peak resident memory (/usr/bin/time)
# and the wall time split into service waits and everything else.
# Usage: bench/whole_update.sh [BUILD_DIR] [BYTES]
set -euo pipefail
build=${1:-build/linux}
bytes=${2:-20000000}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)"; exit 1; }
work=$(mktemp -d /tmp/ost-bench-XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/sandbox/ost-sandbox" init "$work/m" --update-host "127.0.0.1:$port" >/dev/null
python3 -c "import base64,os,sys; sys.stdout.write(base64.b64encode(os.urandom($bytes)).decode()[:$bytes])" >"$work/content"
python3 -c "import json,sys; print(json.dumps({'ostra': '3.82', 'components': {'Server': {'version': 12, 'content': open(sys.argv[1]).read()}}}))" \
  "$work/content" >"$work/release.json"
"$build/sandbox/ost-sandbox" publish "$work/m" --release "$work/release.json" >/dev/null
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/m/host" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/ostra/update1/server.txt" && break; sleep 0.1; done
/usr/bin/time -v "$build/src/ost-server-update" --root "$work/m" --headless --start --confirm yes \
  >"$work/out" 2>"$work/time"
grep -q '^status | ★ Ostra 服务器系统升级更新完毕!' "$work/out" || { echo "the update did not finish"; tail "$work/out"; exit 1; }
cmp -s "$work/content" "$work/m/drives/c/OSTRA/CSOstraServer.exe" || { echo "component not written"; exit 1; }
python3 - "$work/time" "$work/out" "$bytes" <<'PY'
import re, sys
rss_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", open(sys.argv[1]).read()).group(1))
line = [l for l in open(sys.argv[2], encoding="utf-8") if l.startswith("time |")][-1]
total, waits = map(int, re.findall(r"(\d+) ms", line))
size = int(sys.argv[3])
budget = (24_000_000 + 50_000_000) / 1e6 + 10
print(f"whole update with a {size / 1e6:.0f} MB component (2 scripts, 1 component)")
print(f"peak resident memory {rss_kb / 1000:.1f} MB (budget: the two buffers + 10 MB = {budget:.0f} MB)")
print(f"wall time {total} ms: service waits {waits} ms, everything else {total - waits} ms")
PY
