#!/usr/bin/env bash
# Whole updates of the real binary on sandbox machine roots, served by a real HTTP server.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=update
. "$(dirname "$0")/lib.sh"

echo "== a whole update"
machine full --service CSOstraServer:startPendingMs=300 --service W3SVC:stopPendingMs=300 \
  --stopped CSOstraMessage --web-file index.htm="old page" --web-file menu.js="old menu"
publish --ostra 3.82 --velin 7.1 --component Server=12 --component Velin=15 --component OstData=15 \
  --component Message=11 --detail index.htm="new page" --detail menu.js="new menu"
run full --start --confirm yes
expect_status 0 "whole update"
check "ends finished" 's["end"] == "close" and s["button"] == {"text": "□□ 点击关闭 □□", "enabled": True}'
check "status line" 's["status_line"] == "★ Ostra 服务器系统升级更新完毕!"'
check "confirmation asked and answered" 's["message_boxes"][0]["caption"] == "确认提示" and s["message_boxes"][0]["answer"] == "Yes"'
check "check rows" 'row(0)["status"] == "读取验证完成" and row(1)["desc"] == "当前版本:3.80[site]" and row(2)["desc"] == "版本:3.80 -> 3.82 需要升级!"'
check "every plan row green" 'all(r["text"] == [0, 128, 0] for r in s["rows"][4:])'
check "script rows" '[r["status"] for r in s["rows"][4:7]] == ["升级完成。B:2/E:0"] * 2 + ["升级完成。B:1/E:0"]'
check "component rows" 'statuses()[7:] == ["更新完成,服务已启动。", "更新完成,服务已启动。", "更新完成,服务保持停止状态。", "更新完成,服务已启动。"]'
check "files replaced" '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and "update 15" in file("drives/d/wwwroot/cgi-bin/Velin.dll") and "update 11" in file("drives/c/OSTRA/CSOstraMessage.exe")'
check "untouched component" '"update 10" in file("drives/c/OSTRA/CSOstraAgent.exe")'
check "detail files replaced" 'file("drives/d/wwwroot/cgi-bin/index.htm") == "new page" and file("drives/d/wwwroot/cgi-bin/menu.js") == "new menu"'
check "no temporary files left" 'not any(n.endswith(".ost-new") for d, _, f in os.walk(root) for n in f)'
check "database upgraded" 'sql("ostra", "select max(cversion) from sys_version") == [("3.82",)] and sql("velin", "select max(cversion) from sys_version") == [("7.1",)]'
check "components recorded" 'sql("ostra", "select ii, nn from sys_server_update where ii in (0, 2, 3, 4) order by ii") == [(0, 12), (2, 15), (3, 11), (4, 15)]'
check "services back as before" 'services() == {"CSOstraServer": 4, "CSOstraAgent": 4, "CSOstraMessage": 1, "CSTuyoMess": 4, "W3SVC": 4}'
check "three finishing beeps" 's["beeps"] == [[462, 300], [494, 300], [530, 300]]'

echo "== the operator declines"
machine declined
publish --ostra 3.81 --component Server=12
run declined --start --confirm no
expect_status 1 "declined"
check "plan still offered" 's["button"]["enabled"] and s["close_on_click"] == 0 and s["update_running"] == 0'
check "nothing stopped or written" 'services()["CSOstraServer"] == 4 and "update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'
check "database untouched" 'sql("ostra", "select max(cversion) from sys_version") == [("3.80",)]'

echo "== nothing to update"
machine current
publish --ostra 3.80 --velin 7.3 --component Server=10
run current
expect_status 0 "nothing to update"
check "latest version row" 'row(2)["desc"] == "最新版本:3.80" and row(3)["step"] == "--" and row(3)["desc"] == "没有新服务程序需要更新!" and row(3)["text"] == [255, 0, 0]'
check "close button" 's["button"] == {"text": "□□ 点击关闭 □□", "enabled": True} and s["close_on_click"] == 1'
# The same finished run, with an end state that cannot be handed over: no clean end.
set +e
timeout 60 "$tool" --root "$root" --headless --snapshot "$work/no/such/folder/s.json" >/dev/null 2>"$work/unwritable.err"
status=$?
set -e
expect_status 1 "an unwritable snapshot"
if grep -q "cannot write the snapshot $work/no/such/folder/s.json" "$work/unwritable.err"; then
  passes=$((passes + 1)); else echo "FAIL: no word of the unwritable snapshot"; failures=$((failures + 1)); fi

echo "== the update host has no manifest"
machine nomanifest
publish --no-manifest
run nomanifest
expect_status 1 "no manifest"
check "communication failure on row 2" 'row(2)["status"] == "与岚汐服务器通讯失败(8)..."'
check "two failure beeps" 's["beeps"] == [[500, 500], [800, 500]]'
check "button stays disabled" 's["button"] == {"text": "◆ 开始升级服务器...", "enabled": False}'

echo "== a corrupt package"
machine corrupt
publish --ostra 3.80 --component Server=12 --component Agent=12 --package Server=corrupt
run corrupt --start --confirm yes
expect_status 1 "corrupt package"
check "unpack failure on its row" 'row(4)["status"] == "文件解压错误，异常终止！" and s["failed"] == 1 and s["update_running"] == 0'
check "installed file intact" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'
check "services stopped for the update stay stopped" 'services()["CSOstraServer"] == 1 and services()["CSOstraAgent"] == 1'
check "nothing recorded" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(10,)]'

echo "== a script with a failing batch"
machine failing
publish --ostra 3.81 --failing-batch 381
run failing --start --confirm yes
expect_status 2 "failing batch: finished, not cleanly"
check "batch and error counts" 'row(4)["status"] == "升级完成。B:3/E:1" and row(4)["text"] == [0, 128, 0]'
check "later batches still ran" 'sql("ostra", "select max(cversion) from sys_version") == [("3.81",)]'

echo "== a package missing on the update host"
machine missing
publish --ostra 3.80 --component Server=12 --component Agent=12 --package Agent=missing
run missing --start --confirm yes
expect_status 1 "missing package"
check "the chain stops on its row" 'row(5)["status"] == "与岚汐服务器通讯失败(8)..." and s["update_running"] == 0 and s["failed"] == 0'
check "what came before is applied" 'row(4)["status"] == "更新完成,服务已启动。" and "update 12" in file("drives/c/OSTRA/CSOstraServer.exe")'
check "its service stays stopped" 'services()["CSOstraAgent"] == 1 and services()["CSOstraServer"] == 4'
check "button stays on updating" 's["button"] == {"text": "▁▃▅▇ 正在更新 ▇▅▃▁", "enabled": False}'

echo "== a body shorter than announced"
faults=(--short /ostra/update1/CSOstraServer.exe.zip)
machine short
publish --ostra 3.80 --component Server=12
run short --start --confirm yes
expect_status 1 "short body"
check "data download error" 'row(4)["status"] == "数据下载错误..." and s["beeps"] == [[500, 500], [800, 500]]'
check "file untouched" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'

echo "== a component folder that cannot take the file"
machine unwritable
set_binary_path CSOstraAgent 'C:\MISSING\CSOstraAgent.exe'
publish --ostra 3.80 --component Agent=12
run unwritable --start --confirm yes
expect_status 1 "unwritable"
check "write error in red" 'row(4)["status"] == "写文件错误，异常终止！" and row(4)["text"] == [255, 0, 0] and s["failed"] == 1'
check "nothing recorded" 'sql("ostra", "select nn from sys_server_update where ii = 1") == [(10,)]'

echo "== the web DLL written at its fallback path"
machine fallback --web-root 'D:\site'
publish --ostra 3.80 --component Velin=15
run fallback --start --confirm yes
# Kept, but said: the web server loads the DLL of D:\site, not the one written.
expect_status 2 "fallback: finished, not cleanly"
check "written in the fixed web folder" '"update 15" in file("drives/d/wwwroot/cgi-bin/Velin.dll")'
check "the row names where it went, in red" 'row(4)["status"] == "已写入固定位置 d:\\wwwroot\\cgi-bin\\Velin.dll,网站可能仍在使用旧文件!" and row(4)["text"] == [255, 0, 0]'

echo "== a service that refuses to start"
machine refuses --service CSOstraServer:refuseStart
publish --ostra 3.80 --component Server=12 --component Agent=12
run refuses --start --confirm yes
expect_status 2 "refused start: finished, not cleanly"
check "row red, run goes on" 'row(4)["status"] == "更新完成,启动服务...失败！" and row(4)["text"] == [255, 0, 0] and row(5)["status"] == "更新完成,服务已启动。"'
check "record still written" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(12,)]'

echo "== a service that does not stop keeps its program"
machine stuck --service CSOstraAgent:refuseStop
publish --ostra 3.80 --component Agent=12
run stuck --start --confirm yes
expect_status 1 "program in use"
check "the stop failed, then the write" 'row(4)["status"] == "写文件错误，异常终止！" and row(4)["text"] == [255, 0, 0] and s["failed"] == 1'
check "the running program is untouched" '"update 10" in file("drives/c/OSTRA/CSOstraAgent.exe") and services()["CSOstraAgent"] == 4'

echo "== both web DLLs, the data interface first in the table"
machine webfirst
publish --ostra 3.80 --order Server,Agent,OstData,Message,Velin,Tuyom --component OstData=15 --component Velin=15
run webfirst --start --confirm yes
expect_status 0 "data interface first"
check "the web server starts after the later DLL, and both rows say so" 'row(4)["item"] == "OstData 数据接口" and row(5)["item"] == "Velin 网站后台" and all(row(i)["status"] == "更新完成,服务已启动。" and row(i)["text"] == [0, 128, 0] for i in (4, 5))'
check "both DLLs written, web server running" '"update 15" in file("drives/d/wwwroot/cgi-bin/Velin.dll") and "update 15" in file("drives/d/wwwroot/cgi-bin/OstData.dll") and services()["W3SVC"] == 4'

echo "== a script whose last batch lacks its separator"
machine nofinal
publish --ostra 3.81 --no-final-go 381
run nofinal --start --confirm yes
expect_status 0 "no final separator"
check "only the separated batch ran" 'row(4)["status"] == "升级完成。B:1/E:0" and sql("ostra", "select max(cversion) from sys_version") == [("3.80",)]'

echo "== the second route"
machine route --route 1
second_port=$(free_port)
mkdir -p "$work/second"
publish --ostra 3.80 --component Agent=12
cp -r "$root/host/ostra" "$work/second/"
serve "$work/second" "$second_port" "$work/second.log"
python3 - "$root/registry.reg" "$second_port" <<'PY'
import sys, re
path, port = sys.argv[1], sys.argv[2]
text = open(path, encoding="latin-1").read()
text = re.sub(r'"UpdateHost2"="[^"]*"', f'"UpdateHost2"="127.0.0.1:{port}"', text)
open(path, "w", encoding="latin-1").write(text)
PY
run route --start --confirm yes
expect_status 0 "second route"
if grep -q 'GET /ostra/update1/CSOstraAgent.exe.zip' "$work/second.log" &&
   ! grep -q 'CSOstraAgent.exe.zip' "$root/http.log" && grep -q 'server.txt' "$root/http.log"; then
  passes=$((passes + 1))
else
  echo "FAIL: manifest from the primary host, package from the secondary"; failures=$((failures + 1))
fi
check "route kept" 's["route_choice"] == 1'

echo "== the database refuses the login"
machine login --dsn-password other
run login
expect_status 1 "refused login"
check "two boxes and the SQLSTATE" '[b["text"] for b in s["message_boxes"]][0] == "28000" and len(s["message_boxes"]) == 2 and row(1)["status"] == "数据库服务器连接失败。28000"'
check "no manifest row" 'len(s["rows"]) == 2'

echo "== a password with a byte GBK does not know, on a machine of another code page"
machine westcp --code-page CP1252 --password 'abÿcd'
publish --ostra 3.80 --component Server=10
run westcp
expect_status 0 "CP1252 password"
check "the login took the registry's bytes as they are" 'row(1)["status"] == "连接查询完成" and s["message_boxes"] == []'

echo "== an installation too old for automatic updates"
machine old --ostra-version 3.72
run old
expect_status 1 "too old"
check "too-low box and quit" 's["message_boxes"][0]["caption"] == "Ostra 版本太低提示" and s["end"] == "quit"'

finish
