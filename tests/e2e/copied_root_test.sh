#!/usr/bin/env bash
# A machine root copied with cp -r is a machine of its own: the tool run on the copy
# reads and writes the copy's databases and leaves the original's alone.
set -euo pipefail
tool=$1
sandbox=$2
golden_set=copied
. "$(dirname "$0")/lib.sh"

checksums() { (cd "$1/db" && md5sum ./*.sqlite); }

echo "== an update run on a copy of a machine root"
machine original
publish --ostra 3.82 --component Server=12
original=$root
before=$(checksums "$original")

copy="$work/copy"
cp -r "$original" "$copy"
# The copy's own state: a database already at 3.81 and another site id, so that
# what the run shows tells which database it read.
python3 - "$copy/db/ostra.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("INSERT INTO sys_version (cversion) VALUES ('3.81')")
db.execute("UPDATE sys_dict SET dcvalue = 'copysite' WHERE dcname = '45'")
db.commit()
PY
python3 - "$copy/db/velin.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE web_main SET wcid = 'copysite'")
db.commit()
PY

root=$copy
run copy --start --confirm yes
expect_status 0 "update of the copy"
check "the copy's database was read" 'row(1)["desc"] == "当前版本:3.81[copysite]" and row(2)["desc"] == "版本:3.81 -> 3.82 需要升级!"'
check "only the copy's missing script ran" 'sql("ostra", "select cversion from sys_version order by cversion") == [("3.80",), ("3.81",), ("3.82",)]'
check "the component was recorded in the copy" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(12,)]'
check "finished" 's["status_line"] == "★ Ostra 服务器系统升级更新完毕!"'
if [ "$before" = "$(checksums "$original")" ]; then passes=$((passes + 1)); else
  echo "FAIL: the original's databases changed"; failures=$((failures + 1)); fi
if ! grep -qF -- "$original" "$copy/odbc/odbc.ini"; then passes=$((passes + 1)); else
  echo "FAIL: the copy's odbc.ini names the original root"; failures=$((failures + 1)); fi

echo "== the original still reads its own databases"
root=$original
run original
check "the original's database was read" 'row(1)["desc"] == "当前版本:3.80[site]" and row(2)["desc"] == "版本:3.80 -> 3.82 需要升级!"'
check "nothing written to it" 'sql("ostra", "select max(cversion) from sys_version") == [("3.80",)] and sql("ostra", "select nn from sys_server_update where ii = 0") == [(10,)]'

echo "== the copy on its own, the original gone"
rm -rf "$original"
root=$copy
run alone
check "the copy's database was read" 'row(1)["desc"] == "当前版本:3.82[copysite]" and row(0)["status"] == "读取验证完成"'

finish
