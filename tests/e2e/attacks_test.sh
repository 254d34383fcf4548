#!/usr/bin/env bash
# The real binary attacked as a careless operator, a failing machine and a hostile
# host would: two runs at once, no thread for a download, a link planted beside a
# component, configured paths that lead out of the machine root, an empty package, a
# host that answers without end or trickles. Each case compares the machine root
# before and after, checks that nothing outside it changed, and that no run that did
# not finish says it did.
# usage: attacks_test.sh OST-SERVER-UPDATE OST-SANDBOX FAIL-THREADS-LIBRARY
set -euo pipefail
tool=$(realpath "$1")
sandbox=$(realpath "$2")
fail_threads=$(realpath "$3")
# A sanitizer build wants its runtime first among the preloaded libraries.
asan_runtime=$(ldd "$tool" 2>/dev/null | awk '/libasan/ { print $3 }')
[ -z "$asan_runtime" ] || fail_threads="$asan_runtime:$fail_threads"
golden_set=attacks
. "$(dirname "$0")/lib.sh"

# Files of the host that configured paths might point at.
outside="$work/outside"
mkdir -p "$outside"
echo "a file of the host" >"$outside/victim"
printf 'MZ a program of the host' >"$outside/CSOstraServer.exe"
mkdir -p "$outside/site/cgi-bin"
echo "web file of the host" >"$outside/site/cgi-bin/Velin.dll"
echo "detail file of the host" >"$outside/site/cgi-bin/index.htm"

# Every file of the machine root but the host's folder and log, and the service
# manager's file, with its checksum; links as links.
# Everything in the work folder outside the machine roots and their logs.
host_files() {
  (cd "$work" && find . -path './m-*' -prune -o -path ./second -prune -o -type f ! -name '*.out' \
     ! -name '*.json' ! -name '*.log' -print0 | sort -z | xargs -0 -r sha256sum)
}

host_before=$(host_files)

echo "== two runs at once"
for pair in 1 2 3; do
  machine "m-twice$pair" --service CSOstraServer:stopPendingMs=800
  publish --ostra 3.81 --component Server=12
  set +e
  for side in a b; do
    "$tool" --root "$root" --headless --start --confirm yes --snapshot "$work/twice$pair$side.json" \
      >"$work/twice$pair$side.out" 2>&1 &
    eval "pid_$side=\$!"
    [ "$pair" = 3 ] && sleep 0.3  # the last pair one after the other, while the first runs
  done
  wait "$pid_a"; status_a=$?
  wait "$pid_b"; status_b=$?
  set -e
  if [ "$pair" = 3 ]; then winner=a; loser=b; elif [ "$status_a" = 0 ]; then winner=a; loser=b; else winner=b; loser=a; fi
  snapshot="$work/twice$pair$winner.json"
  check "pair $pair: one run finished" 's["status_line"] == "★ Ostra 服务器系统升级更新完毕!"'
  snapshot="$work/twice$pair$loser.json"
  check "pair $pair: the other was refused before its window" \
    '[b["text"] for b in s["message_boxes"]] == ["本机已有一个升级程序正在运行,不能同时运行!"] and s["rows"] == [] and s["end"] == "quit"'
  eval "status=\$status_$loser"
  expect_status 1 "pair $pair: the refused run"
  check "pair $pair: the script ran once" 'sql("ostra", "select count(*) from sys_version where cversion = '"'"'3.81'"'"'") == [(1,)]'
  check "pair $pair: the component was written once and its service runs" \
    '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and services()["CSOstraServer"] == 4'
done

echo "== no thread can be started for a download"
machine m-nothread
publish --component Server=12
before=$(root_files)
services_before=$(states)
tool_env=(LD_PRELOAD="$fail_threads" OST_FAIL_THREADS_FROM=1)
run nothread-manifest --start --confirm yes
not_finished "the manifest's download"
check "the manifest row says so" 'row(2)["status"] == "与岚汐服务器通讯失败(12)..." and s["end"] == "close"'
same "nothing changed" "$before" "$(root_files)"
same "no service touched" "$services_before" "$(states)"
tool_env=(LD_PRELOAD="$fail_threads" OST_FAIL_THREADS_FROM=2)
run nothread-package --start --confirm yes
not_finished "the package's download"
check "its row says so, the window could close" 'row(4)["status"] == "与岚汐服务器通讯失败(12)..." and s["end"] == "close" and s["update_running"] == 0'
same "no file changed" "$before" "$(root_files)"
check "the stopped service stays stopped, as after any failed download" 'services()["CSOstraServer"] == 1'
tool_env=()

echo "== a link planted where the temporary file once went"
machine m-planted
python3 -c 'import json; print(json.dumps({"components": {"Server": {"version": 12, "content": "MZ update 12 " + "p" * 8000000}}}))' \
  >"$work/planted.json"
publish --release "$work/planted.json"
ln -s "$outside/victim" "$root/drives/c/OSTRA/CSOstraServer.exe.ost-new"
run planted --start --confirm yes
expect_status 0 "planted link"
check "the component is a file of its own with the new content" \
  'not os.path.islink(os.path.join(root, "drives/c/OSTRA/CSOstraServer.exe")) and file("drives/c/OSTRA/CSOstraServer.exe").startswith("MZ update 12 ppp")'
check "the link is left alone" 'os.path.islink(os.path.join(root, "drives/c/OSTRA/CSOstraServer.exe.ost-new"))'

echo "== configured paths that lead out of the machine root"
machine m-outside
set_binary_path CSOstraServer "$outside/CSOstraServer.exe"
set_binary_path CSOstraAgent 'CSOstraAgent.exe'
publish --component Server=12 --component Agent=12
before=$(root_files)
# From the work folder, where a relative path would land.
pushd "$work" >/dev/null
run outside-service --start --confirm yes
popd >/dev/null
not_finished "a host path as the service's program"
check "the write is refused" 'row(4)["status"] == "写文件错误，异常终止！"'
same "no file of the root changed" "$before" "$(root_files)"
if [ -e "$work/CSOstraAgent.exe" ]; then echo "FAIL: a relative path was written"; failures=$((failures + 1)); else passes=$((passes + 1)); fi
machine m-outside-web --web-root "$outside/site"
publish --component Velin=15 --detail index.htm=new
before=$(root_files)
run outside-web --start --confirm yes
expect_status 0 "a host path as the web root"
# A web root that is no folder on a drive letter is no web platform: nothing planned
# for it, nothing written, nothing looked for there.
check "the web platform counts as absent" 's["status_line"] == "◎共需进行 0 项更新,预计所需时间 0 秒。"'
same "no file of the root changed" "$before" "$(root_files)"
check "no detail file was fetched for it" '"index.htm" not in open(os.path.join(root, "http.log")).read()'
# A web root on the drive whose cgi-bin is a link (a junction on Windows) to a folder
# of the host: the same.
machine m-linked-web
rm -rf "$root/drives/d/wwwroot/cgi-bin"
ln -s "$outside/site/cgi-bin" "$root/drives/d/wwwroot/cgi-bin"
publish --component Velin=15 --detail index.htm=new
before=$(root_files)
run linked-web --start --confirm yes
expect_status 0 "a linked cgi-bin"
check "the web platform counts as absent" 's["status_line"] == "◎共需进行 0 项更新,预计所需时间 0 秒。"'
same "no file of the root changed" "$before" "$(root_files)"

echo "== a service whose process goes on after it reported stopped"
# Its program stays held until the process ends, 1.5 s later: more than the retries of
# a rename wait, so only a wait for the process lets the update through.
machine m-linger --service CSOstraServer:processLingerMs=1500
publish --component Server=12
nogolden=1 run linger --start --confirm yes
expect_status 0 "a lingering process"
check "the program was replaced once its process ended" \
  '"update 12" in file("drives/c/OSTRA/CSOstraServer.exe") and services()["CSOstraServer"] == 4'

echo "== an empty package"
machine m-empty
publish --component Server=12
# A valid zlib stream of nothing at all.
python3 -c 'import sys, zlib; open(sys.argv[1], "wb").write(zlib.compress(b""))' \
  "$root/host/ostra/update1/CSOstraServer.exe.zip"
before=$(root_files)
run empty --start --confirm yes
not_finished "an empty component"
check "an unpack failure" 'row(4)["status"] == "文件解压错误，异常终止！" and s["failed"] == 1'
same "the component is untouched" "$before" "$(root_files)"

echo "== a host that answers \"100 Continue\" without end"
faults=(--interim /ostra/update1/CSOstraServer.exe.zip)
machine m-interim
publish --component Server=12
before=$(root_files)
run interim --start --confirm yes
not_finished "endless interim answers"
check "refused with its code" 'row(4)["status"] == "与岚汐服务器通讯失败(13)..."'
same "nothing written" "$before" "$(root_files)"

echo "== a host that trickles a byte a second (about two minutes: the floor's, and one resume's)"
faults=(--trickle /ostra/update1/CSOstraServer.exe.zip)
machine m-trickle
publish --component Server=12
# 5 KB, which at a byte a second would take well over an hour.
python3 -c 'import random, sys, zlib; random.seed(7); open(sys.argv[1], "wb").write(zlib.compress(random.randbytes(5000)))' \
  "$root/host/ostra/update1/CSOstraServer.exe.zip"
before=$(root_files)
run_timeout=240 run trickle --start --confirm yes
not_finished "a trickled body"
check "refused with its code" 'row(4)["status"] == "与岚汐服务器通讯失败(14)..."'
same "nothing written" "$before" "$(root_files)"

same "nothing outside the machine roots changed" "$host_before" "$(host_files)"
finish
