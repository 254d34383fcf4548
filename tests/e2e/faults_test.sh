#!/usr/bin/env bash
# Faults during an update: the run must stop with an honest message, leave no component
# file cut short, and write nothing outside the product's folders.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=faults
. "$(dirname "$0")/lib.sh"

# Every file of the machine root outside the product's folders, with its checksum.
outside() {
  (cd "$root" && find . -type f ! -path './drives/*' ! -path './db/*' ! -path './host/*' \
     ! -name "services.*" ! -name http.log ! -path './program/Ostra.rut' \
     ! -path './program/OstServerUpdate.log*' ! -path './program/backup/*' -print0 |
     sort -z | xargs -0 -r md5sum)
}

echo "== the disk fills up while a component is written"
machine diskfull
python3 -c 'import json; print(json.dumps({"components": {"Server": {"version": 12, "content": "x" * 3000000}}}))' \
  >"$work/big.json"
publish --release "$work/big.json"
before=$(outside)
set +e
(ulimit -f 1024; exec timeout 120 "$tool" --root "$root" --headless --start --confirm yes \
   --snapshot "$work/diskfull.json" >"$work/diskfull.out" 2>&1)
status=$?
set -e
snapshot="$work/diskfull.json"
golden diskfull
expect_status 1 "disk full"
check "write error" 'row(4)["status"] == "写文件错误，异常终止！" and s["failed"] == 1'
check "old file whole, no partial file left" 'file("drives/c/OSTRA/CSOstraServer.exe").startswith("MZ sandbox component CSOstraServer.exe update 10") and not os.path.exists(os.path.join(root, "drives/c/OSTRA/CSOstraServer.exe.ost-new"))'
check "the service stays stopped, nothing recorded" 'services()["CSOstraServer"] == 1 and sql("ostra", "select nn from sys_server_update where ii = 0") == [(10,)]'
if [ "$before" = "$(outside)" ]; then passes=$((passes + 1)); else
  echo "FAIL: files outside the product's folders changed"; failures=$((failures + 1)); fi

echo "== the update host stalls in the middle of a body and closes"
faults=(--stall /ostra/update1/CSOstraServer.exe.zip)
machine stall
publish --component Server=12
run stall --start --confirm yes
expect_status 1 "stall"
check "download error" 'row(4)["status"] == "数据下载错误..." and s["update_running"] == 0'
check "file untouched" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'

echo "== a redirect loop"
faults=(--loop /ostra/update1/CSOstraServer.exe.zip)
machine loop
publish --component Server=12
run loop --start --confirm yes
expect_status 1 "redirect loop"
check "refused after the 20th answer" 'row(4)["status"] == "与岚汐服务器通讯失败(8)..."'
requests=$(grep -c 'GET /ostra/update1/CSOstraServer.exe.zip' "$root/http.log" || true)
if [ "$requests" -eq 20 ]; then passes=$((passes + 1)); else
  echo "FAIL: $requests requests in the loop, expected 20"; failures=$((failures + 1)); fi

echo "== a package larger than the receive buffer"
faults=(--huge /ostra/update1/CSOstraServer.exe.zip)
machine huge
publish --component Server=12
run huge --start --confirm yes
expect_status 1 "huge package"
check "refused length" 'row(4)["status"] == "与岚汐服务器通讯失败(10)..."'

echo "== a manifest that fills the receive buffer exactly"
machine bigmanifest
publish --component Server=12
python3 - "$root/host/ostra/update1/server.txt" 24000000 <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
data = open(path, "rb").read()
open(path, "wb").write(data + b"\n" * (size - len(data)))
PY
run bigmanifest
check "evaluated, plan offered" 'row(2)["status"] == "查询岚汐完成" and s["button"]["enabled"] and s["close_on_click"] == 0'
printf '\n' >>"$root/host/ostra/update1/server.txt"
run bigmanifest2
check "one byte more is refused" 'row(2)["status"] == "与岚汐服务器通讯失败(10)..."'

finish
