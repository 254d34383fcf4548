#!/usr/bin/env bash
# What an operator relies on after the window has closed: the run journal, the backup
# of every replaced file with the rollback command, and the staged mode that touches
# nothing until every package is here.
set -euo pipefail
tool=$(realpath "$1")
sandbox=$(realpath "$2")
golden_set=trust
. "$(dirname "$0")/lib.sh"

log() { cat "$root/program/OstServerUpdate.log"; }
# has NAME PATTERN: the journal has a line matching the extended regular expression.
has() {
  if log | grep -Eq -- "$2"; then passes=$((passes + 1)); else
    echo "FAIL: journal: $1"; failures=$((failures + 1)); fi
}
product_files() {
  (cd "$root/drives" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
}
numbers() { sqlite3 "$root/db/ostra.sqlite" "select ii, nn from sys_server_update order by ii"; }
# rollback NAME [RUN]: the rollback command; its lines in $work/NAME.out, status in $status.
rollback() {
  local name=$1
  shift
  set +e
  timeout 120 "$tool" --root "$root" --rollback "$@" >"$work/$name.out" 2>&1
  status=$?
  set -e
}
said() {  # said NAME TEXT: the rollback NAME printed a line holding TEXT
  if grep -qF -- "$2" "$work/$1.out"; then passes=$((passes + 1)); else
    echo "FAIL: $1 did not say: $2"; sed 's/^/  | /' "$work/$1.out"; failures=$((failures + 1)); fi
}

echo "== the journal of a run that goes wrong in every way it can"
machine journal --service CSOstraServer:refuseStart
publish --ostra 3.81 --failing-batch 381 --component Server=12 --component Agent=12 \
  --package Agent=missing
run journal --start --confirm yes
expect_status 1 "the run that goes wrong"
has "a header with the tool's version, the machine and the run" \
  '^.?[0-9-]{10} [0-9:]{8}\.[0-9]{3} [0-9]{8}-[0-9]{6}-[0-9a-f]{4} RUN +OstServerUpdate [0-9.]+ on .+, run [0-9]{8}-'
has "where the configuration came from" 'CONFIG +Item1 read from the registry'
has "the configuration's values" "CONFIG +data source 'ostra', user 'sa', password set, server 127.0.0.1:1433"
has "the database's findings" "DB +product version '3.80' \(380\), update numbers 0:10"
has "the failing batch, its number and the database's error" \
  "BATCH +batch 2 of row 4 failed: 'SELECT nothing FROM ostra.dbo.no_such_table': \[42000 1\] .*syntax error"
has "the script's sum" 'SCRIPT +/ostra/update1/sql/update381.sql.zip: 3 batches sent, 1 failed'
has "the service that refused to start" 'SERVICE +start CSOstraServer: failed \(10\)'
has "the package the host does not have" "DOWNLOAD +answer of .*/CSOstraAgent.exe.zip: 'HTTP/1.0 404"
has "how the run ended" 'END +failed: download of /ostra/update1/CSOstraAgent.exe.zip failed with code 8'
has "the written file, how and what it replaced" \
  'FILE +C:\\OSTRA\\CSOstraServer.exe written by a temporary file renamed over it: 49 bytes, sha256 [0-9a-f]{64}; before 49 bytes, sha256 [0-9a-f]{64}'
check "the journal is UTF-8 with a byte-order mark and CRLF lines" \
  'open(os.path.join(root, "program/OstServerUpdate.log"), "rb").read().startswith(b"\xef\xbb\xbf") and b"\r\n" in open(os.path.join(root, "program/OstServerUpdate.log"), "rb").read()'

echo "== a stop refused because services that depend on it run"
machine dependents
# A service of another product, installed as depending on the server, and running.
python3 - "$root/services.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["services"]["OstReport"] = {"state": 4, "binaryPath": "C:\\Report\\OstReport.exe",
                                "dependsOn": ["CSOstraServer"]}
json.dump(doc, open(sys.argv[1], "w"), indent=2)
PY
publish --component Server=12
nogolden=1 run dependents --start --confirm yes
if grep -q '^row 4 | .* | 停止服务失败 |' "$work/dependents.out"; then passes=$((passes + 1)); else
  echo "FAIL: the documented failure on the row"; failures=$((failures + 1)); fi
has "the dependents named" \
  'SERVICE +stop CSOstraServer: failed \(10\) after [0-9]+ ms; dependent services running: OstReport.?$'
check "they were left running" 'services()["OstReport"] == 4'

echo "== the journal of a refused login, and never the password"
machine login --password 'Pa55-secret' --dsn-password other
publish --ostra 3.80 --component Server=12
nogolden=1 run login
expect_status 1 "the refused login"
has "every diagnostic record of the failed connection" 'DB +.*\[28000 [0-9-]+\]'
check "no password, plain or scrambled, anywhere in the journal" '(lambda j, item2: b"Pa55-secret" not in j and b"Pa55-secret".hex().encode() not in j and item2[:24].encode() not in j.replace(b",", b"") and bytes.fromhex(item2[:24]) not in j)(open(os.path.join(root, "program/OstServerUpdate.log"), "rb").read(), __import__("re").search(r"\"Item2\"=hex:([0-9a-f,\\\s]+)", file("registry.reg")).group(1).replace(",", "").replace("\\", "").replace("\r", "").replace("\n", "").replace(" ", ""))'

echo "== the journal is kept within bounds"
machine rotate
publish --ostra 3.80 --component Server=10
# Each run finds a full journal, so that each rotates it.
for n in 1 2 3 4; do
  python3 -c 'import sys; open(sys.argv[1], "ab").write(b"x" * 1000000 + b"\r\n")' \
    "$root/program/OstServerUpdate.log"
  nogolden=1 run "rotate$n"
done
check "three older journals kept, a fresh one begun" \
  'sorted(n for n in os.listdir(os.path.join(root, "program")) if n.startswith("OstServerUpdate.log")) == ["OstServerUpdate.log", "OstServerUpdate.log.1", "OstServerUpdate.log.2", "OstServerUpdate.log.3"] and os.path.getsize(os.path.join(root, "program/OstServerUpdate.log")) < 1000000'

echo "== a whole update rolled back"
machine rollback --stopped CSOstraMessage --web-file index.htm="old page"
publish --ostra 3.81 --velin 7.1 --component Server=12 --component Velin=15 --component OstData=15 \
  --component Message=11 --detail index.htm="new page"
files_before=$(product_files)
states_before=$(states)
numbers_before=$(numbers)
run rollback-update --start --confirm yes
expect_status 0 "the update"
run_id=$(ls "$root/program/backup")
check "one backup, with a copy of every replaced file" \
  'len(os.listdir(os.path.join(root, "program/backup"))) == 1 and len(os.listdir(os.path.join(root, "program/backup", os.listdir(os.path.join(root, "program/backup"))[0]))) == 6'
check "the record holds each copy's size and SHA-256" \
  '(lambda r: all(f["copy"] and len(f["sha256"]) == 64 and f["size"] > 0 for f in r["files"] if f["existed"]))(json.load(open(os.path.join(root, "program/backup", os.listdir(os.path.join(root, "program/backup"))[0], "backup.json"))))'
rollback rolledback
expect_status 0 "the rollback"
said rolledback "回滚更新 $run_id: 5 个文件"
said rolledback "回滚完成。"
same "every file as before the update" "$files_before" "$(product_files)"
same "every service as before the update" "$states_before" "$(states)"
same "every update number as before the update" "$numbers_before" "$(numbers)"
check "the scripts stay applied and the rollback says so" \
  'sql("ostra", "select max(cversion) from sys_version") == [("3.81",)] and "数据库脚本不能撤销" in open(os.path.join(os.path.dirname(root), "rolledback.out"), encoding="utf-8").read()'
rollback again "$run_id"
expect_status 1 "a second rollback of the same run"
said again "更新 $run_id 已经回滚过,不能再次回滚。"
same "the second rollback changed nothing" "$files_before" "$(product_files)"
rollback unknown 20200101-000000-beef
expect_status 1 "a rollback of a run without a backup"
said unknown "没有更新 20200101-000000-beef 的备份。"

echo "== a file new to the machine goes again"
machine newfile --web-root 'D:\site'
rm "$root/drives/d/wwwroot/cgi-bin/Velin.dll"
publish --ostra 3.80 --component Velin=15
run newfile-update --start --confirm yes
check "the web DLL went to its fixed path" '"update 15" in file("drives/d/wwwroot/cgi-bin/Velin.dll")'
rollback newfile
expect_status 0 "the rollback of a new file"
said newfile "已删除(更新前没有此文件): d:\\wwwroot\\cgi-bin\\Velin.dll"
check "the file is gone" 'not os.path.exists(os.path.join(root, "drives/d/wwwroot/cgi-bin/Velin.dll"))'

echo "== a rollback that cannot put everything back"
machine partial
publish --ostra 3.80 --component Server=12 --component Agent=12 --component Message=11
run partial-update --start --confirm yes
expect_status 0 "the update"
backup="$root/program/backup/$(ls "$root/program/backup")"
rm "$backup"/*CSOstraAgent.exe
# The message service no longer stops: the stand-in keeps its running program locked.
python3 - "$root/services.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["services"]["CSOstraMessage"]["refuseStop"] = True
json.dump(doc, open(sys.argv[1], "w"), indent=2)
PY
rollback partial
expect_status 1 "the incomplete rollback"
said partial "未能恢复: C:\\OSTRA\\CSOstraAgent.exe (没有备份副本)"
said partial "停止服务 CSOstraMessage 失败"
said partial "未能恢复: C:\\OSTRA\\CSOstraMessage.exe (写文件错误)"
said partial "已恢复: C:\\OSTRA\\CSOstraServer.exe"
said partial "回滚未完成: 2 项未能恢复"
check "only the restored component's number went back" \
  'sql("ostra", "select ii, nn from sys_server_update where ii in (0, 1, 3) order by ii") == [(0, 10), (1, 12), (3, 11)] and "update 10" in file("drives/c/OSTRA/CSOstraServer.exe") and "update 12" in file("drives/c/OSTRA/CSOstraAgent.exe") and "update 11" in file("drives/c/OSTRA/CSOstraMessage.exe")'
check "the services run again" 'services()["CSOstraServer"] == 4 and services()["CSOstraAgent"] == 4 and services()["CSOstraMessage"] == 4'
has "the journal names the write that failed" 'ROLLBACK +C:\\OSTRA\\CSOstraMessage.exe: failed at'
echo 'not json' >"$backup/backup.json"
rollback damaged
expect_status 1 "a rollback from a damaged record"
said damaged "的备份记录不能读取。"

echo "== a copy changed since it was made"
machine damaged
publish --ostra 3.80 --component Server=12
run damaged-update --start --confirm yes
copy=$(ls "$root"/program/backup/*/*CSOstraServer.exe)
# The same size, one byte other: only its SHA-256 tells.
printf 'X' | dd of="$copy" bs=1 seek=3 conv=notrunc status=none
rollback damaged-copy
expect_status 1 "a rollback from a changed copy"
said damaged-copy "未能恢复: C:\\OSTRA\\CSOstraServer.exe (备份副本已损坏)"
check "the installed program is left as the update wrote it" '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe")'

echo "== three backups are kept"
machine kept
for n in 1 2 3 4; do
  publish --ostra 3.80 --component Server=$((10 + n))
  nogolden=1 run "kept$n" --start --confirm yes
done
check "the three latest runs' backups" 'len(os.listdir(os.path.join(root, "program/backup"))) == 3'

echo "== the staged mode with a good release"
machine staged-twin
publish --ostra 3.82 --velin 7.1 --component Server=12 --component Velin=15 --component Message=11 \
  --detail index.htm="new page"
nogolden=1 run staged-documented --start --confirm yes
documented=$(product_files)
documented_numbers=$(numbers)
machine staged
publish --ostra 3.82 --velin 7.1 --component Server=12 --component Velin=15 --component Message=11 \
  --detail index.htm="new page"
run staged --start --confirm yes --stage
expect_status 0 "the staged update"
check "ends as the documented run does" \
  's["status_line"] == "★ Ostra 服务器系统升级更新完毕!" and s["button"]["text"] == "□□ 点击关闭 □□"'
same "the same files as after a documented run" "$documented" "$(product_files)"
same "the same update numbers" "$documented_numbers" "$(numbers)"
check "nothing left in the staging folder" 'not os.path.exists(os.path.join(root, "program/staging"))'
has "every package kept in the staging folder" 'STAGE +/ostra/update1/CSOstraServer.exe.zip kept in '
check "in the journal, the last package is staged before the first stop" \
  '(lambda j: max(i for i, l in enumerate(j) if " STAGE " in l and " kept in " in l) < min(i for i, l in enumerate(j) if " SERVICE  stop " in l))(open(os.path.join(root, "program/OstServerUpdate.log"), encoding="utf-8-sig").read().splitlines())'

for fault in missing corrupt; do
  echo "== the staged mode with a $fault package"
  machine "staged-$fault"
  publish --ostra 3.81 --component Server=12 --component Agent=12 --package "Agent=$fault"
  before=$(root_files)
  services_before=$(states)
  numbers_before=$(numbers)
  run "staged-$fault" --start --confirm yes --stage
  expect_status 1 "the staged update with a $fault package"
  same "no file changed" "$before" "$(root_files)"
  same "no service touched" "$services_before" "$(states)"
  same "no script run, no number recorded" "$numbers_before" "$(numbers)"
  check "the database version stays" 'sql("ostra", "select max(cversion) from sys_version") == [("3.80",)]'
done

echo "== the staged mode with a host that dies in the middle of a package"
faults=(--stall /ostra/update1/CSOstraAgent.exe.zip)
machine staged-dying
python3 -c 'import json; print(json.dumps({"ostra": "3.81", "components": {"Server": {"version": 12}, "Agent": {"version": 12, "content": "MZ update 12 " + "a" * 400000}}}))' \
  >"$work/dying.json"
publish --release "$work/dying.json"
before=$(root_files)
services_before=$(states)
numbers_before=$(numbers)
run staged-dying --start --confirm yes --stage
expect_status 1 "the staged update from a dying host"
# What the dying host sent is kept for the next run to resume, in the tool's own folder.
same "no file changed but the partial package" "$before" "$(root_files | grep -v ' ./program/staging/partial/')"
check "the partial package kept" 'os.path.getsize(os.path.join(root, "program/staging/partial", os.listdir(os.path.join(root, "program/staging/partial"))[0])) > 0'
echo "(the partial: $(ls "$root/program/staging/partial"))"
same "no service touched" "$services_before" "$(states)"
same "no script run, no number recorded" "$numbers_before" "$(numbers)"

finish
