#!/usr/bin/env bash
# Recovery: scripts whole or not at all, a rerun after a killed run, health-checked
# starts. No golden file covers these runs: each end is checked as it should be.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=recovery
nogolden=1
kill_at=$(realpath "$3")
# A sanitizer build wants its runtime first among the preloaded libraries.
asan_runtime=$(ldd "$tool" 2>/dev/null | awk '/libasan/ { print $3 }')
[ -z "$asan_runtime" ] || kill_at="$asan_runtime:$kill_at"
. "$(dirname "$0")/lib.sh"

# points NAME: the points of a whole update of a copy of $root (every call that changes
# a file of it), one "N call path" line each, in $work/NAME.points.
points() {
  rm -rf "$root.count"
  cp -a "$root" "$root.count"
  OST_KILL_ROOT="$root.count/" OST_KILL_LOG="$work/$1.points" OST_KILL_QUICK_SLEEP=1 \
    LD_PRELOAD="$kill_at" timeout 120 "$tool" --root "$root.count" --headless --start \
    --confirm yes >"$work/$1.count.out" 2>&1 || true
  rm -rf "$root.count"
  sed -i "s|$root.count/||" "$work/$1.points"
}
# point_after NAME CALL PATH: the number of the point right after the first CALL on PATH.
point_after() {
  awk -v call="$2" -v path="$3" '$2 == call && $3 == path { print $1 + 1; exit }' "$work/$1.points"
}
# killed NAME N: the update run on $root, killed right before its point N.
killed() {
  tool_env=(OST_KILL_ROOT="$root/" OST_KILL_AT="$2" LD_PRELOAD="$kill_at")
  run "$1" --start --confirm yes
  tool_env=()
  expect_status 137 "$1: killed"
  echo '{}' >"$snapshot"  # a killed run leaves none
}

# set_dword NAME VALUE: a DWORD under the product's key.
set_dword() {
  python3 - "$root/registry.reg" "$1" "$2" <<'PY'
import sys
path, name, value = sys.argv[1:]
data = open(path, "rb").read()
key = b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]"
line = b'"%s"=dword:%08x' % (name.encode(), int(value))
nl = b"\r\n" if b"\r\n" in data else b"\n"
at = data.index(key) + len(key)
data = data[:at] + nl + line + data[at:]
open(path, "wb").write(data)
PY
}

# script_package NAME TEXT: the script package NAME (e.g. sql/update381.sql.zip) holds TEXT,
# its batches ended by GO lines ("\n" becomes CR LF).
script_package() {
  python3 - "$root/host/ostra/update1/$1" "$2" <<'PY'
import sys, zlib
open(sys.argv[1], "wb").write(zlib.compress(sys.argv[2].replace("\n", "\r\n").encode()))
PY
}

echo "== ScriptTransaction: a script whose second batch fails leaves no trace"
machine whole
publish --ostra 3.81 --component Server=12
script_package sql/update381.sql.zip "CREATE TABLE ostra.dbo.made_by_381 (n INT)
GO
INSERT INTO ostra.dbo.no_such_table VALUES (1)
GO
INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')
GO
"
set_dword ScriptTransaction 1
before=$(root_files)
run whole --start --confirm yes
not_finished "whole: a failed batch stops the run"
check "whole: the row names the batch and the database's message" \
  'row(4)["status"].startswith("第2批执行失败,脚本已全部撤销: ") and "no_such_table" in row(4)["status"] and row(4)["text"] == [255, 0, 0]'
check "whole: the table the first batch made is gone" \
  '("made_by_381",) not in sql("ostra", "select name from sqlite_master")'
check "whole: the database version is unchanged" 'sql("ostra", "select max(cversion) from sys_version") == [("3.80",)]'
check "whole: no component replaced" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe") and row(5)["status"] != "更新完成,服务已启动。"'
same "whole: nothing of the machine root changed" "$before" "$(root_files)"
check "whole: the journal says the script was rolled back" \
  '"rolled back whole after 2 batches: nothing of it stays" in file("program/OstServerUpdate.log")'

echo "== without ScriptTransaction the same script is counted and the run goes on"
machine counted
publish --ostra 3.81 --component Server=12
script_package sql/update381.sql.zip "CREATE TABLE ostra.dbo.made_by_381 (n INT)
GO
INSERT INTO ostra.dbo.no_such_table VALUES (1)
GO
INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')
GO
"
run counted --start --confirm yes
expect_status 2 "counted: finished, not cleanly"
check "counted: as documented" 'row(4)["status"] == "升级完成。B:3/E:1" and "update 12" in file("drives/c/OSTRA/CSOstraServer.exe")'
check "counted: the first batch stays applied" \
  '("made_by_381",) in sql("ostra", "select name from sqlite_master")'

echo "== a run killed after it replaced a component: the rerun starts the services again"
machine rerun
publish --ostra 3.81 --component Server=12 --component Velin=15
points rerun
killed rerun-killed "$(point_after rerun rename drives/c/OSTRA/CSOstraServer.exe)"
check "rerun: the killed run left its services stopped" 'services()["CSOstraServer"] == 1 and services()["W3SVC"] == 1'
check "rerun: and its record, in a folder of the owner's alone" \
  'json.loads(file("program/recovery/run.json"))["services"] == [{"name": "CSOstraServer", "stateBefore": 4}, {"name": "W3SVC", "stateBefore": 4}] and os.stat(os.path.join(root, "program/recovery")).st_mode & 0o777 == 0o700'
run rerun --start --confirm yes
expect_status 0 "rerun: finished"
check "rerun: updated, with every service running as before the killed run" \
  '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and "update 15" in file("drives/d/wwwroot/cgi-bin/Velin.dll") and set(services().values()) == {4}'
check "rerun: the web DLL's row starts the web server again" 'statuses()[-1] == "更新完成,服务已启动。"'
check "rerun: the status line says so" 's["status_line"] == "上次升级被中断,已重新启动当时运行的服务: CSOstraServer, W3SVC"'
check "rerun: so does the journal" '"RECOVER" in file("program/OstServerUpdate.log") and "was interrupted" in file("program/OstServerUpdate.log")'
check "rerun: the record is gone" 'not os.path.exists(os.path.join(root, "program/recovery/run.json"))'

echo "== a run killed inside a script: the rerun names the script and batch"
machine script
publish --ostra 3.81 --component Server=12
points script
killed script-killed "$(awk '$3 == "db/ostra.sqlite-journal" { print $1; exit }' "$work/script.points")"
run script --start --confirm yes
expect_status 0 "script: finished"
check "script: the script and batch named before it runs again" \
  'any("上次升级中断于脚本 sql/update381.sql.zip 第 2 批,重新执行该脚本..." in line for line in open(sys.argv[1].replace(".json", ".out"), encoding="utf-8"))'
check "script: updated, the services running" '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and set(services().values()) == {4}'

echo "== --rollback after a killed run starts the services the record names"
machine rollback
publish --ostra 3.80 --component Server=12
points rollback
# Once the backup's record says the file was replaced, before the service starts again.
killed rollback-killed \
  "$(awk '$2 == "rename" && $3 ~ /backup\.json$/ && ++n == 2 { print $1 + 1; exit }' "$work/rollback.points")"
set +e
"$tool" --root "$root" --rollback >"$work/rollback.out" 2>&1
status=$?
set -e
expect_status 0 "rollback: done"
check "rollback: the former file back and the service running" \
  '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe") and services()["CSOstraServer"] == 4 and not os.path.exists(os.path.join(root, "program/recovery/run.json"))'

echo "== HealthSeconds: a started service must keep running"
machine health
cat >"$work/health.json" <<'JSON'
{"ostra": "3.80", "components": {
  "Server": {"version": 12, "content": "MZ broken build OST-CRASH-AFTER-START"},
  "Agent": {"version": 12, "content": "MZ good build"},
  "Message": {"version": 12, "content": "MZ broken build OST-CRASH-AT-START"}}}
JSON
publish --release "$work/health.json"
set_dword HealthSeconds 3
run health --start --confirm yes
expect_status 2 "health: finished, not cleanly"
check "health: the program that stops by itself fails its check" \
  'row(4)["status"] == "服务启动后未能持续运行 3 秒,异常终止！" and row(4)["text"] == [255, 0, 0] and services()["CSOstraServer"] == 1'
check "health: the good one passes it" 'row(5)["status"] == "更新完成,服务已稳定运行 3 秒。" and services()["CSOstraAgent"] == 4'
check "health: the one that never runs fails to start" 'row(6)["status"] == "更新完成,启动服务...失败！" and services()["CSOstraMessage"] == 1'
check "health: the wait was shown" \
  'sum("服务已启动,检查运行 3 秒..." in line for line in open(sys.argv[1].replace(".json", ".out"), encoding="utf-8")) == 2'
check "health: the journal has both checks" \
  '"CSOstraServer no longer running" in file("program/OstServerUpdate.log") and "CSOstraAgent still running after 3 s" in file("program/OstServerUpdate.log")'

echo "== AutoRollback: a component that stops 2 s after its start puts the server back"
machine autoback
cat >"$work/autoback.json" <<'JSON'
{"ostra": "3.80", "components": {
  "Agent": {"version": 12, "content": "MZ good build"},
  "Server": {"version": 12, "content": "MZ broken build OST-CRASH-AFTER-START"}}}
JSON
publish --release "$work/autoback.json"
set_dword AutoRollback 1
set_dword HealthSeconds 5
before=$(root_files)
run autoback --start --confirm yes
expect_status 3 "autoback: rolled back"
check "autoback: said on the status line" 's["status_line"] == "更新失败,已自动回滚到更新前的状态。"'
check "autoback: the old files and numbers back, every service running" \
  '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe") and "update 10" in file("drives/c/OSTRA/CSOstraAgent.exe") and sql("ostra", "select nn from sys_server_update where ii in (0, 1) order by ii") == [(10,), (10,)] and set(services().values()) == {4}'
check "autoback: the journal says so" '"the failed run was rolled back whole" in file("program/OstServerUpdate.log")'

echo "== --auto-rollback: a script that fails whole after nothing was written restarts the services"
machine scriptback
publish --ostra 3.81 --component Server=12
script_package sql/update381.sql.zip "CREATE TABLE ostra.dbo.made_by_381 (n INT)
GO
INSERT INTO ostra.dbo.no_such_table VALUES (1)
GO
"
set_dword ScriptTransaction 1
before=$(root_files)
run scriptback --start --confirm yes --auto-rollback
expect_status 3 "scriptback: rolled back"
check "scriptback: the service running again, the database as before" \
  'services()["CSOstraServer"] == 4 and sql("ostra", "select max(cversion) from sys_version") == [("3.80",)]'
same "scriptback: nothing of the machine root changed" "$before" "$(root_files)"

echo "== --auto-rollback with the staged mode: a package refused before any stop ends as documented"
machine stagedback
echo '{"ostra": "3.80", "components": {"Server": {"version": 12, "package": "corrupt"}}}' >"$work/stagedback.json"
publish --release "$work/stagedback.json"
run stagedback --start --confirm yes --stage --auto-rollback
expect_status 1 "stagedback: not finished, nothing to roll back"
check "stagedback: nothing stopped, no rollback said" \
  'set(services().values()) == {4} and "自动回滚" not in s["status_line"]'

echo "== AutoRollback with ScriptTransaction: a failed run takes back its script with its files"
machine heldback
cat >"$work/heldback.json" <<'JSON'
{"ostra": "3.81", "components": {
  "Server": {"version": 12, "content": "MZ broken build OST-CRASH-AFTER-START"}}}
JSON
publish --release "$work/heldback.json"
script_package sql/update381.sql.zip "CREATE TABLE ostra.dbo.made_by_381 (n INT)
GO
INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')
GO
"
set_dword AutoRollback 1
set_dword ScriptTransaction 1
set_dword HealthSeconds 3
run heldback --start --confirm yes
expect_status 3 "heldback: rolled back"
check "heldback: the script that had run whole is undone with the run, file and number back" \
  '("made_by_381",) not in sql("ostra", "select name from sqlite_master") and sql("ostra", "select max(cversion) from sys_version") == [("3.80",)] and "update 10" in file("drives/c/OSTRA/CSOstraServer.exe") and sql("ostra", "select nn from sys_server_update where ii = 0") == [(10,)] and services()["CSOstraServer"] == 4'

echo "== AutoRollback: a run killed after its first file replacement, recovered without the update host"
# The product's files, update numbers and services' states: what a recovery must give back.
machine_state() {
  (cd "$root/drives" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
  python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("select ii, nn from sys_server_update order by ii").fetchall())' "$root/db/ostra.sqlite"
  states
}
machine recover
publish --ostra 3.80 --component Server=12 --component Velin=15
set_dword AutoRollback 1
before=$(machine_state)
points recover
killed recover-killed "$(point_after recover rename drives/c/OSTRA/CSOstraServer.exe)"
check "recover: the killed run replaced the file and left its record of what it began" \
  '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and json.loads(file("program/recovery/run.json"))["recoverable"] and any(c["kind"] == "file" and c["target"].endswith("CSOstraServer.exe") for c in json.loads(file("program/recovery/run.json"))["changes"])'
kill "${servers[-1]}"
killed_state=$(machine_state)
run recover-refused --start --confirm yes
expect_status 1 "recover: a plain start refuses"
check "recover: and names the command to run" \
  'any("上次升级(" in line and "被中断,尚未恢复。请先以管理员身份运行 OstServerUpdate.exe --recover" in line for line in open(sys.argv[1].replace(".json", ".out"), encoding="utf-8"))'
same "recover: the refused start changed nothing" "$killed_state" "$(machine_state)"
set +e
"$tool" --root "$root" --recover >"$work/recover.out" 2>&1
status=$?
set -e
expect_status 0 "recover: back as before"
same "recover: files, update numbers and services as before the run" "$before" "$(machine_state)"
check "recover: said so, and the record is gone" \
  '"恢复完成: 已回到更新 " in open(sys.argv[1].replace("recover-refused.json", "recover.out"), encoding="utf-8").read() and not os.path.exists(os.path.join(root, "program/recovery/run.json"))'
set +e
"$tool" --root "$root" --recover >"$work/recover-again.out" 2>&1
status=$?
set -e
expect_status 0 "recover: a second recovery"
same "recover: finds nothing to recover" "没有需要恢复的中断更新。" "$(cat "$work/recover-again.out")"

finish
