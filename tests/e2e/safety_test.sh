#!/usr/bin/env bash
# The safety net when things already went wrong: a program that cannot be read, a run
# or a rollback killed midway, rollbacks asked for in the wrong order, links and
# records planted in the program folder and the web folder. Each case compares the
# product's files, update numbers and services before and after, and checks that no
# rollback says "回滚完成" over a state that never was.
# usage: safety_test.sh OST-SERVER-UPDATE OST-SANDBOX FAIL-FILES-LIBRARY
set -euo pipefail
tool=$(realpath "$1")
sandbox=$(realpath "$2")
fail_files=$(realpath "$3")
asan_runtime=$(ldd "$tool" 2>/dev/null | awk '/libasan/ { print $3 }')
[ -z "$asan_runtime" ] || fail_files="$asan_runtime:$fail_files"
nogolden=1
. "$(dirname "$0")/lib.sh"

log() { cat "$root/program/OstServerUpdate.log"; }
has() {  # has NAME PATTERN: the journal has a line matching the extended regular expression
  if log | grep -Eq -- "$2"; then passes=$((passes + 1)); else
    echo "FAIL: journal: $1"; failures=$((failures + 1)); fi
}
# The product's files (links as links) and update numbers: what a rollback answers for.
product() {
  (cd "$root/drives" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum
   find . -type l -printf '%p -> %l\n' | sort)
  sqlite3 "$root/db/ostra.sqlite" "select ii, nn from sys_server_update order by ii"
}
rollback() {  # rollback NAME [ARGS...]: lines in $work/NAME.out, status in $status
  local name=$1
  shift
  set +e
  env "${tool_env[@]}" timeout 120 "$tool" --root "$root" --rollback "$@" >"$work/$name.out" 2>&1
  status=$?
  set -e
  tool_env=()
}
said() {  # said NAME TEXT: the rollback NAME printed a line holding TEXT
  if grep -qF -- "$2" "$work/$1.out"; then passes=$((passes + 1)); else
    echo "FAIL: $1 did not say: $2"; sed 's/^/  | /' "$work/$1.out"; failures=$((failures + 1)); fi
}
holds() {  # holds NAME FILE TEXT: the file of the machine root holds TEXT
  if grep -qF -- "$3" "$root/$2"; then passes=$((passes + 1)); else
    echo "FAIL: $1"; failures=$((failures + 1)); fi
}
not_said() {
  if ! grep -qF -- "$2" "$work/$1.out"; then passes=$((passes + 1)); else
    echo "FAIL: $1 said: $2"; sed 's/^/  | /' "$work/$1.out"; failures=$((failures + 1)); fi
}
# Files of the host, outside every machine root.
outside="$work/outside"
mkdir -p "$outside"
host_files() { (cd "$outside" && find . -print0 | sort -z | xargs -0 -r ls -ld --time-style=+ | awk '{print $1, $5, $NF}'; find . -type f -print0 | sort -z | xargs -0 -r sha256sum); }

echo "== a program that exists but cannot be read is not written over"
machine unreadable
publish --component Server=12
before=$(product)
tool_env=(LD_PRELOAD="$fail_files" OST_DENY_READ=/drives/c/OSTRA/CSOstraServer.exe)
run unreadable --start --confirm yes
tool_env=()
not_finished "the run that could not keep the program"
check "the row says the write failed" 'any(r["status"] == "写文件错误，异常终止！" for r in s["rows"])'
check "the program is as it was" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'
has "the journal says why" 'CSOstraServer.exe not written: what is there could not be kept in the backup.*cannot be read'
rollback unreadable-rollback
check "the rollback left the program in place" '"update 10" in file("drives/c/OSTRA/CSOstraServer.exe")'
not_said unreadable-rollback "已删除"
same "the product's files and numbers as before" "$before" "$(product)"

echo "== killed between the rename and the record"
machine killed
publish --component Server=12
before=$(product)
states_before=$(states)
tool_env=(LD_PRELOAD="$fail_files" OST_KILL_AFTER_RENAME=/drives/c/OSTRA/CSOstraServer.exe)
run killed --start --confirm yes
tool_env=()
holds "the new program was in place when the run died" drives/c/OSTRA/CSOstraServer.exe "update 12"
rollback killed-rollback
expect_status 0 "the rollback of the killed run"
said killed-rollback "已恢复: C:\\OSTRA\\CSOstraServer.exe"
same "the product's files and numbers as before the run" "$before" "$(product)"
same "the services as before the run" "$states_before" "$(states)"

echo "== rollbacks in the wrong order, and a clock set back"
machine order
before=$(product)
publish --component Server=11
run order-a --start --confirm yes
run_a=$(ls "$root/program/backup")
publish --component Server=12
run order-b --start --confirm yes
run_b=$(ls "$root/program/backup" | grep -v "$run_a")
after_b=$(product)
rollback order-a-first "$run_a"
expect_status 1 "the rollback of a run a later run wrote over"
said order-a-first "之后的更新 $run_b 又改写了同样的文件"
not_said order-a-first "回滚完成"
same "nothing changed" "$after_b" "$(product)"
# The clock was set back: the later run's id now sorts first.
mv "$root/program/backup/$run_b" "$root/program/backup/20000101-000000-0000"
rollback order-latest
expect_status 0 "the rollback of the latest run"
said order-latest "回滚更新 20000101-000000-0000"
check "back at update 11" '"update 11" in file("drives/c/OSTRA/CSOstraServer.exe") and sql("ostra", "select nn from sys_server_update where ii = 0") == [(11,)]'
rollback order-again
expect_status 1 "the latest run once more"
said order-again "更新 20000101-000000-0000 已经回滚过,不能再次回滚。"
rollback order-next "$run_a"
expect_status 0 "then the rollback of the run before"
said order-next "回滚更新 $run_a"
same "the product's files and numbers as before both runs" "$before" "$(product)"

echo "== a rollback killed after it stopped the services"
machine killed-rollback
publish --component Server=12 --component Agent=12 --component Message=11
before=$(product)
states_before=$(states)
run killed-rollback-update --start --confirm yes
expect_status 0 "the update"
tool_env=(LD_PRELOAD="$fail_files" OST_KILL_AFTER_RENAME=/drives/c/OSTRA/CSOstraAgent.exe)
rollback killed-rollback-first
check "the first rollback died with services stopped" 'services()["CSOstraAgent"] != 4'
rollback killed-rollback-second
expect_status 0 "the second rollback"
said killed-rollback-second "回滚完成。"
same "the product's files and numbers as before the update" "$before" "$(product)"
same "every service that ran before the update runs again" "$states_before" "$(states)"

echo "== a link in the web folder to a secret of the host"
machine weblink --web-file index.htm="old page"
echo "password=never-publish-me" >"$outside/secret.ini"
rm "$root/drives/d/wwwroot/cgi-bin/index.htm"
ln -s "$outside/secret.ini" "$root/drives/d/wwwroot/cgi-bin/index.htm"
publish --ostra 3.80 --component Velin=15 --detail index.htm="new page"
before=$(product)
outside_before=$(host_files)
run weblink --start --confirm yes
check "the secret was not copied into the backup" \
  '(lambda b: not os.path.exists(b) or all(b"never-publish-me" not in open(os.path.join(d, f), "rb").read() for d, _, fs in os.walk(b) for f in fs))(os.path.join(root, "program/backup"))'
check "the link is still the link" 'os.path.islink(os.path.join(root, "drives/d/wwwroot/cgi-bin/index.htm"))'
has "the journal says why" 'index.htm is a link'
rollback weblink-rollback
same "the web folder as before" "$before" "$(product)"
same "the host's files as before" "$outside_before" "$(host_files)"

echo "== links and records planted in the program folder"
machine planted
publish --component Server=12
# A backup folder that is a link to a folder of the host holding "old runs".
for old in 20200101-000000-0001 20200101-000000-0002 20200101-000000-0003; do
  mkdir -p "$outside/kept/$old" && echo "data of the host" >"$outside/kept/$old/file"
done
ln -s "$outside/kept" "$root/program/backup"
# A journal that is a link to a file of the host.
echo "a file of the host" >"$outside/journal-victim"
ln -s "$outside/journal-victim" "$root/program/OstServerUpdate.log"
before=$(product)
outside_before=$(host_files)
run planted-link --start --confirm yes
not_finished "a run without a backup folder of its own"
same "nothing of the host pruned, written or appended to" "$outside_before" "$(host_files)"
same "the program was not written over" "$before" "$(product)"
rm "$root/program/backup" "$root/program/OstServerUpdate.log"
# A backup folder others may write to.
mkdir -m 0777 "$root/program/backup"
run planted-open --start --confirm yes
not_finished "a run with a backup folder open to others"
has "the journal says why" 'BACKUP +no backup can be kept: .*backup is not the tool.s own'
same "the program was not written over" "$before" "$(product)"
rmdir "$root/program/backup"
run planted-update --start --confirm yes
expect_status 0 "an update with a folder of its own"
check "the backup folder is the tool's own" \
  '(os.stat(os.path.join(root, "program/backup")).st_mode & 0o777) == 0o700'
after=$(product)
# A record planted as the latest run names files the tool never wrote.
mkdir -p "$root/drives/c/Windows"
echo "[fonts]" >"$root/drives/c/Windows/win.ini"
planted="$root/program/backup/99999999-999999-ffff"
mkdir "$planted"
printf 'MZ planted' >"$planted/1-CSOstraServer.exe"
cp "$planted/1-CSOstraServer.exe" "$planted/../x.dll"
python3 - "$planted/backup.json" <<'PY'
import json, sys, hashlib
data = b"MZ planted"
sha = hashlib.sha256(data).hexdigest()
entry = lambda original, copy, slot, component: {
    "original": original, "copy": copy, "existed": True, "size": len(data), "sha256": sha,
    "service": "CSOstraServer", "slot": slot, "component": component, "oldNumber": 3,
    "newNumber": 12, "replaced": True, "written": ""}
json.dump({"run": "99999999-999999-ffff", "sequence": 99, "rolledBack": "", "scripts": [],
           "files": [entry("C:\\Windows\\win.ini", "1-CSOstraServer.exe", 0, "Ostra 服务器"),
                     entry("C:\\OSTRA\\CSOstraServer.exe", "..\\x.dll", 0, "Ostra 服务器"),
                     entry("C:\\Windows\\System32\\planted.dll", "1-CSOstraServer.exe", -1, "")]},
          open(sys.argv[1], "w"))
PY
windows_before=$(cd "$root/drives/c/Windows" && find . | sort; sha256sum win.ini)
rollback planted-record
expect_status 1 "a rollback of a planted record"
not_said planted-record "回滚完成"
same "nothing written where the record pointed" "$windows_before" "$(cd "$root/drives/c/Windows" && find . | sort; sha256sum win.ini)"
same "the product's files as the update left them" "$after" "$(product | grep -v 'Windows')"

finish
