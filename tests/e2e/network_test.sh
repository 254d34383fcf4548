#!/usr/bin/env bash
# Updates over real networks: a link that drops every mebibyte, hosts that answer a
# Range request wrongly, a first host that is down, and a real HTTP proxy (tinyproxy)
# with and without Basic authentication.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=network
nogolden=1
. "$(dirname "$0")/lib.sh"

# reg NAME=VALUE...: values of the product's key, in regedit's text form
# ("UpdateProxy"="h:p", "Failover"=dword:00000001, "UpdateProxyPassword"=hex:...).
reg() {
  python3 - "$root/registry.reg" "$@" <<'PY'
import sys
path, values = sys.argv[1], sys.argv[2:]
text = open(path, encoding="latin-1").read()
key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]"
at = text.index(key) + len(key)
lines = "".join("\r\n" + v for v in values)
open(path, "w", encoding="latin-1", newline="").write(text[:at] + lines + text[at:])
PY
}
# set_host NAME H:P: UpdateHost or UpdateHost2.
set_host() {
  python3 - "$root/registry.reg" "$1" "$2" <<'PY'
import sys, re
path, name, host = sys.argv[1:]
text = open(path, encoding="latin-1").read()
text = re.sub(f'"{name}"="[^"]*"', f'"{name}"="{host}"', text)
open(path, "w", encoding="latin-1", newline="").write(text)
PY
}
journal() { cat "$root/program/OstServerUpdate.log"; }
has_journal() {  # has_journal NAME REGEX
  if journal | grep -Eq "$2"; then passes=$((passes + 1)); else
    echo "FAIL: $1: no journal line /$2/"; failures=$((failures + 1)); fi
}
# Bytes the host sent of PATH's body, over every connection.
sent_bytes() { grep "^sent $1 " "$root/http.log" | sed 's/.*bytes=//' | paste -sd+ | bc; }

# A component of 23,900,000 random bytes: its package is just under the receive buffer.
head -c 23900000 /dev/urandom >"$work/big.bin"
printf '{"components": {"Server": {"version": 12, "contentFile": "%s"}}}' "$work/big.bin" \
  >"$work/big.json"
package=/ostra/update1/CSOstraServer.exe.zip

for mode in documented staged; do
  echo "== a host that cuts every connection after 1 MiB ($mode)"
  faults=(--cut-every 1048576)
  machine "cut-$mode"
  publish --release "$work/big.json"
  size=$(stat -c %s "$root/host$package")
  extra=()
  [ "$mode" = staged ] && extra=(--stage)
  start=$(date +%s.%N)
  run "cut-$mode" --start --confirm yes "${extra[@]}"
  expect_status 0 "cut every MiB, $mode"
  check "finished in order" 'row(4)["status"] == "更新完成,服务已启动。" and s["status_line"] == "★ Ostra 服务器系统升级更新完毕!"'
  if cmp -s "$work/big.bin" "$root/drives/c/OSTRA/CSOstraServer.exe"; then passes=$((passes + 1)); else
    echo "FAIL: the component is not byte-identical"; failures=$((failures + 1)); fi
  sent=$(sent_bytes "$package")
  if [ "$sent" -le $((size * 105 / 100)) ]; then passes=$((passes + 1)); else
    echo "FAIL: the host sent $sent bytes for a package of $size"; failures=$((failures + 1)); fi
  has_journal "each resume recorded" "resume from byte 1048576, Content-Range bytes 1048576-[0-9]+/$size: taken from 1048576"
  echo "   $mode: $size bytes, $sent sent, $(echo "$(date +%s.%N) - $start" | bc) s"
done

echo "== the staged mode keeps a partial package for the next run"
faults=(--stall "$package")
machine partial
publish --release "$work/big.json"
size=$(stat -c %s "$root/host$package")
run partial-first --start --confirm yes --stage
expect_status 1 "stalling host, staged"
check "the documented failure, nothing stopped" 'row(4)["status"] == "数据下载错误..." and services()["CSOstraServer"] == 4'
kept=$(find "$root/program/staging/partial" -name '*.part' -printf '%s\n' 2>/dev/null | head -1)
if [ -n "$kept" ] && [ "$kept" -eq $((size / 2)) ]; then passes=$((passes + 1)); else
  echo "FAIL: no partial package of $((size / 2)) bytes kept ($kept)"; failures=$((failures + 1)); fi
second=$(free_port)
serve_faulty "$root/host" "$second" "$work/partial-second.log" --cut-every 100000000
set_host UpdateHost "127.0.0.1:$second"
set_host UpdateHost2 "127.0.0.1:$second"
run partial-second --start --confirm yes --stage
expect_status 0 "the next run resumes the partial package"
if cmp -s "$work/big.bin" "$root/drives/c/OSTRA/CSOstraServer.exe"; then passes=$((passes + 1)); else
  echo "FAIL: resumed partial package: the component differs"; failures=$((failures + 1)); fi
if grep -q "^sent $package range=bytes=$((size / 2))- bytes=$((size - size / 2))$" "$work/partial-second.log" &&
   [ "$(grep -c "^sent $package " "$work/partial-second.log")" -eq 1 ]; then
  passes=$((passes + 1))
else
  echo "FAIL: the second run did not ask only for the rest"; failures=$((failures + 1))
fi
if [ ! -e "$root/program/staging/partial" ]; then passes=$((passes + 1)); else
  echo "FAIL: the partial package was not removed once used"; failures=$((failures + 1)); fi

echo "== a host that answers a Range request with the whole file"
faults=(--cut-first 1048576 --range-whole)
machine whole
publish --release "$work/big.json"
run whole --start --confirm yes
expect_status 0 "range answered whole"
if cmp -s "$work/big.bin" "$root/drives/c/OSTRA/CSOstraServer.exe"; then passes=$((passes + 1)); else
  echo "FAIL: range answered whole: the component differs"; failures=$((failures + 1)); fi
has_journal "started over" "resume from byte 1048576: the whole file again, from byte 0"

echo "== a host that answers a Range request with another range"
faults=(--cut-first 1048576 --range-wrong)
machine wrong
publish --release "$work/big.json"
run wrong --start --confirm yes
expect_status 0 "wrong Content-Range"
if cmp -s "$work/big.bin" "$root/drives/c/OSTRA/CSOstraServer.exe"; then passes=$((passes + 1)); else
  echo "FAIL: wrong Content-Range: the component differs"; failures=$((failures + 1)); fi
has_journal "refused, then the whole file" "Content-Range bytes 0-[0-9]+/[0-9]+: refused"
if [ "$(grep -c "^sent $package range=- " "$root/http.log")" -eq 2 ]; then passes=$((passes + 1)); else
  echo "FAIL: the whole file was not asked for again"; failures=$((failures + 1)); fi

echo "== the first host is down, the second serves"
for failover in off on; do
  machine "down-$failover"
  publish --component Server=12
  set_host UpdateHost "127.0.0.1:$(free_port)"
  [ "$failover" = on ] && reg '"Failover"=dword:00000001'
  run "down-$failover" --start --confirm yes
  if [ "$failover" = off ]; then
    expect_status 1 "first host down, no failover"
    check "the documented failure" 'row(2)["status"] == "与岚汐服务器通讯失败(6)..."'
  else
    expect_status 0 "first host down, failover"
    check "finished through the second host" 'row(4)["status"] == "更新完成,服务已启动。"'
    grep -q "^failover | /ostra/update1/server.txt failed on 127.0.0.1:[0-9]* (code 6), once more on 127.0.0.1:$port" \
      "$work/down-on.out" && passes=$((passes + 1)) || { echo "FAIL: no failover line"; failures=$((failures + 1)); }
    has_journal "failover recorded" "failover: $package failed on 127.0.0.1:[0-9]+ \(code 6\), tried once on"
  fi
done
machine option
publish --component Server=12
set_host UpdateHost "127.0.0.1:$(free_port)"
run option --start --confirm yes --failover
expect_status 0 "--failover"

echo "== a package the signed index refuses on the first host, whole on the second"
release_tool=$(dirname "$sandbox")/../tools/ost-release/ost-release
mkdir -p "$work/signed/bin"
printf 'MZ signed server 12' >"$work/signed/bin/CSOstraServer.exe"
printf '{"ostra": "3.80", "velin": "7.0", "components": {"Server": {"update": 12, "label": "v12", "description": "d", "file": "bin/CSOstraServer.exe"}}}' \
  >"$work/signed/release.json"
"$release_tool" keygen "$work/maker.pem" >"$work/keygen.out"
"$release_tool" build "$work/signed" "$work/signed-host" --key "$work/maker.pem" >/dev/null
for failover in off on; do
  machine "signed-$failover" --update-key "$(grep '^ecdsa-p256:' "$work/keygen.out")"
  cp -r "$work/signed-host/ostra" "$root/host/"
  good=$work/signed-good-$failover
  mkdir -p "$good"
  cp -r "$work/signed-host/ostra" "$good/"
  second=$(free_port)
  serve "$good" "$second" "$work/signed-second-$failover.log"
  set_host UpdateHost2 "127.0.0.1:$second"
  printf 'x' >>"$root/host$package"  # tampered on the first host only
  [ "$failover" = on ] && reg '"Failover"=dword:00000001'
  run "signed-$failover" --start --confirm yes
  if [ "$failover" = off ]; then
    expect_status 1 "refused package, no failover"
    check "the documented refusal" 'row(4)["status"] == "文件校验失败，异常终止！"'
  else
    expect_status 0 "refused package, failover"
    check "the package from the second host" 'file("drives/c/OSTRA/CSOstraServer.exe") == "MZ signed server 12"'
    grep -q "GET $package" "$work/signed-second-on.log" && passes=$((passes + 1)) ||
      { echo "FAIL: the second host was not asked"; failures=$((failures + 1)); }
  fi
done

echo "== through tinyproxy"
command -v tinyproxy >/dev/null || { echo "FAIL: tinyproxy is not installed"; exit 1; }
# proxy NAME [BasicAuth line]: a tinyproxy of its own on a free port, in $proxy_port.
proxy() {
  proxy_port=$(free_port)
  cat >"$work/$1.conf" <<EOF
Port $proxy_port
Listen 127.0.0.1
Timeout 60
MaxClients 20
Allow 127.0.0.1
ViaProxyName "ost-test-proxy"
LogFile "$work/$1.log"
LogLevel Info
PidFile "$work/$1.pid"
${2:-}
EOF
  tinyproxy -d -c "$work/$1.conf" >"$work/$1.out" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $proxy_port), 0.2)" 2>/dev/null && return
    sleep 0.05
  done
  echo "tinyproxy did not start"; exit 1
}
# Every request the host saw came through the proxy.
all_via_proxy() {
  local total via
  total=$(grep -c '^request ' "$root/http.log" || true)
  via=$(grep -c '^request .* via=.*ost-test-proxy' "$root/http.log" || true)
  if [ "$total" -gt 1 ] && [ "$total" -eq "$via" ]; then passes=$((passes + 1)); else
    echo "FAIL: $1: $via of $total requests came through the proxy"; failures=$((failures + 1)); fi
}

faults=(--pace 0)
machine proxied
publish --component Server=12 --component Agent=12
proxy plain
reg "\"UpdateProxy\"=\"127.0.0.1:$proxy_port\""
run proxied --start --confirm yes
expect_status 0 "through the proxy"
all_via_proxy "UpdateProxy"
has_journal "the proxy named" "downloads go through the proxy 127.0.0.1:$proxy_port \(UpdateProxy\)"
has_journal "each answer names it" "answer of 127.0.0.1:[0-9]+/ostra/update1/CSOstraAgent.exe.zip: 'HTTP/1.0 200 OK'.*proxy 127.0.0.1:$proxy_port"

for password in right wrong; do
  faults=(--pace 0)
  machine "auth-$password"
  publish --component Server=12
  proxy "auth-$password" 'BasicAuth ostproxy Pr0xy-pass'
  secret=Pr0xy-pass
  [ "$password" = wrong ] && secret=not-the-pass
  reg "\"UpdateProxy\"=\"127.0.0.1:$proxy_port\"" '"UpdateProxyUser"="ostproxy"' \
    "\"UpdateProxyPassword\"=$("$sandbox" scramble "$secret" --seed 7)"
  run "auth-$password" --start --confirm yes
  if [ "$password" = right ]; then
    expect_status 0 "proxy with Basic authentication"
    all_via_proxy "BasicAuth"
  else
    expect_status 1 "wrong proxy password"
    check "its own result code" 'row(2)["status"] == "与岚汐服务器通讯失败(15)..."'
    has_journal "the 407 recorded" "proxy 127.0.0.1:$proxy_port: 407: credentials refused"
  fi
  if ! grep -aq -e "$secret" -e "$(printf '%s' "ostproxy:$secret" | base64)" \
       "$root/program/OstServerUpdate.log" "$work/auth-$password.json" "$work/auth-$password.out"; then
    passes=$((passes + 1))
  else
    echo "FAIL: the proxy password shows"; failures=$((failures + 1))
  fi
done

echo "== the machine's WinHTTP proxy, and --net-check"
faults=(--pace 0)
machine winhttp
publish --component Server=12
proxy winhttp
python3 - "$root/registry.reg" "127.0.0.1:$proxy_port" <<'PY'
import struct, sys
path, proxy = sys.argv[1], sys.argv[2].encode()
bypass = b"<local>"
blob = struct.pack("<III", 0x18, 1, 3) + struct.pack("<I", len(proxy)) + proxy + \
       struct.pack("<I", len(bypass)) + bypass
hexed = ",".join(f"{b:02x}" for b in blob)
with open(path, "a", encoding="latin-1", newline="") as f:
    f.write("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections]\r\n"
            f'"WinHttpSettings"=hex:{hexed}\r\n')
PY
run winhttp --start --confirm yes
expect_status 0 "WinHTTP proxy"
all_via_proxy "WinHTTP"
has_journal "WinHTTP named" "through the proxy 127.0.0.1:$proxy_port \(WinHTTP\)"

set +e
"$tool" --root "$root" --net-check >"$work/netcheck.out" 2>&1
status=$?
set -e
cat "$work/netcheck.out"
expect_status 0 "--net-check"
if [ "$(grep -c '^route [01] | .* | ok, ' "$work/netcheck.out")" -eq 4 ] &&
   grep -q "^route 0 | .* | proxy 127.0.0.1:$proxy_port (WinHTTP) | ok" "$work/netcheck.out"; then
  passes=$((passes + 1))
else
  echo "FAIL: --net-check lines"; failures=$((failures + 1))
fi
set_host UpdateHost "127.0.0.1:$(free_port)"
set_host UpdateHost2 "127.0.0.1:$(free_port)"
set +e
"$tool" --root "$root" --net-check --proxy "127.0.0.1:$(free_port)" >"$work/netcheck2.out" 2>&1
status=$?
set -e
expect_status 1 "--net-check, nothing reachable"
if [ "$(grep -c 'failed with code 6' "$work/netcheck2.out")" -eq 4 ]; then passes=$((passes + 1)); else
  echo "FAIL: --net-check failures"; cat "$work/netcheck2.out"; failures=$((failures + 1)); fi

finish
