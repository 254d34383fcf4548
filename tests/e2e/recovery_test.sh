#!/usr/bin/env bash
# Recovery: scripts whole or not at all, a rerun after a killed run, health-checked
# starts. No golden file covers these runs: each end is checked as it should be.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=recovery
nogolden=1
. "$(dirname "$0")/lib.sh"

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

finish
