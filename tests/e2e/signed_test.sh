#!/usr/bin/env bash
# Signed releases end to end: a release built by ost-release from a folder of real files
# (a Windows service program, a web DLL, scripts of several batches, two detail files),
# applied by whole updates with UpdateKey set; each tampering refused with the machine
# root compared before and after; and the same signed update served by nginx, through
# redirects that nginx answers from its configuration.
# usage: signed_test.sh OST-SERVER-UPDATE OST-SANDBOX OST-RELEASE
set -euo pipefail
tool=$(realpath "$1")
sandbox=$(realpath "$2")
release=$(realpath "$3")
golden_set=signed
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

# --- the release folder, from real files ----------------------------------------------
src=$work/src
mkdir -p "$src/bin" "$src/web" "$src/sql"
# The sandbox's Windows service program, and a web DLL, built for Windows here.
# The same bytes in every run, for the golden files: no time stamp, and paths that do not
# name this run's folder.
mkdir -p "$work/build"
cp "$here/../../sandbox/winsvc/ost_winsvc.cpp" "$work/build/"
printf '#include <windows.h>\nBOOL WINAPI DllMain(HINSTANCE i, DWORD r, LPVOID p) { (void)i; (void)r; (void)p; return TRUE; }\n__declspec(dllexport) int VelinVersion(void) { return 15; }\n' >"$work/build/velin.c"
(
  cd "$work/build"
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -s -static -municode -Wl,--no-insert-timestamp \
    -o CSOstraServer.exe ost_winsvc.cpp -ladvapi32
  x86_64-w64-mingw32-gcc-posix -O2 -s -shared -Wl,--no-insert-timestamp -o Velin.dll velin.c
)
cp "$work/build/CSOstraServer.exe" "$src/bin/"
cp "$work/build/Velin.dll" "$src/web/"
printf "UPDATE ostra.dbo.sys_dict SET dcvalue = dcvalue WHERE dcname = '29'\r\nGO\r\nUPDATE ostra.dbo.sys_dict SET dcvalue = dcvalue WHERE dcname = '45'\r\nGO\r\nINSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')\r\nGO\r\n" >"$src/sql/update381.sql"
printf "INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.82')\r\nGO\r\n" >"$src/sql/update382.sql"
printf "INSERT INTO velin.dbo.sys_version (cversion) VALUES ('7.1')\r\nGO\r\n" >"$src/sql/v71.sql"
printf '<html>新的首页</html>\n' >"$src/web/index.htm"
printf 'var menu = ["升级"];\n' >"$src/web/menu.js"
cat >"$src/release.json" <<'JSON'
{"ostra": "3.82", "velin": "7.1",
 "components": {
   "Server": {"update": 12, "label": "v12", "description": "修正：数据同步（服务器端）",
              "file": "bin/CSOstraServer.exe"},
   "Velin": {"update": 15, "label": "v15", "description": "网站后台 15", "file": "web/Velin.dll"}},
 "scripts": {"ostra": {"3.81": "sql/update381.sql", "3.82": "sql/update382.sql"},
             "velin": {"7.1": "sql/v71.sql"}},
 "details": {"index.htm": "web/index.htm", "menu.js": "web/menu.js"}}
JSON
"$release" keygen "$work/key.pem" >"$work/keygen.out"
key=$(grep '^ecdsa-p256:' "$work/keygen.out")
"$release" keygen "$work/other.pem" >/dev/null
# A fixed serial: the machine root keeps it, and the golden files see the machine root.
"$release" build "$src" "$work/release" --key "$work/key.pem" --serial 100 >"$work/build.out"
# Another release of the same names: its server program differs.
cp -r "$src" "$work/srcB"
printf 'release B' >>"$work/srcB/bin/CSOstraServer.exe"
"$release" build "$work/srcB" "$work/releaseB" --key "$work/key.pem" --serial 100 >/dev/null

# signed_machine NAME: a machine at 3.80 with UpdateKey set, the release on its host.
signed_machine() {
  machine "$1" --update-key "$key" --web-file index.htm="old page" --web-file menu.js="old menu"
  cp -r "$work/release/ostra" "$root/host/"
}
u1() { echo "$root/host/ostra/update1/$1"; }
# state FILE: the machine root as the golden files see it.
state() {
  python3 -c 'import json, sys; sys.path.insert(0, sys.argv[1]); import golden; json.dump(golden.machine_state(sys.argv[2]), open(sys.argv[3], "w"))' \
    "$here" "$root" "$1"
}
# changed_only NAME ALLOWED...: since the state saved before the run, nothing changed
# but the paths given (and the backups of what the run wrote over).
changed_only() {
  local name=$1
  shift
  state "$work/after.json"
  if python3 - "$work/before.json" "$work/after.json" "$@" <<'PY'
import json, sys
before, after = (json.load(open(p)) for p in sys.argv[1:3])
allowed = set(sys.argv[3:])
changed = {k for k in set(before) | set(after)
           if before.get(k) != after.get(k) and not k.startswith("program/backup/")}
if not changed <= allowed:
    print("  changed:", sorted(changed - allowed))
    sys.exit(1)
PY
  then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}
same_as_source() {  # same_as_source NAME MACHINE-PATH SOURCE-PATH
  if cmp -s "$root/$2" "$3"; then passes=$((passes + 1)); else
    echo "FAIL: $1"; failures=$((failures + 1)); fi
}

echo "== a signed release, applied whole"
signed_machine whole
run whole --start --confirm yes
expect_status 0 "signed whole update"
check "ends finished" 's["status_line"] == "★ Ostra 服务器系统升级更新完毕!" and s["end"] == "close"'
check "every plan row green" 'all(r["text"] == [0, 128, 0] for r in s["rows"][4:])'
check "script rows" 'statuses()[4:7] == ["升级完成。B:3/E:0", "升级完成。B:1/E:0", "升级完成。B:1/E:0"]'
same_as_source "the service program is the release's" drives/c/OSTRA/CSOstraServer.exe "$src/bin/CSOstraServer.exe"
same_as_source "the web DLL is the release's" drives/d/wwwroot/cgi-bin/Velin.dll "$src/web/Velin.dll"
same_as_source "the first detail file" drives/d/wwwroot/cgi-bin/index.htm "$src/web/index.htm"
same_as_source "the second detail file" drives/d/wwwroot/cgi-bin/menu.js "$src/web/menu.js"
check "untouched components" '"update 10" in file("drives/c/OSTRA/CSOstraAgent.exe")'
check "database versions" 'sql("ostra", "select cversion from sys_version order by cversion") == [("3.80",), ("3.81",), ("3.82",)] and sql("velin", "select max(cversion) from sys_version") == [("7.1",)]'
check "components recorded as released" 'sql("ostra", "select ii, nn, cname, cdesc from sys_server_update_log order by ii") == [(0, 12, "Ostra 服务器", "修正：数据同步（服务器端）"), (2, 15, "Velin 网站后台", "网站后台 15")]'
check "services back" 'services() == {"CSOstraServer": 4, "CSOstraAgent": 4, "CSOstraMessage": 4, "CSTuyoMess": 4, "W3SVC": 4}'
check "the index was asked for after the manifest" 'open(root + "/http.log").read().index("/server.txt") < open(root + "/http.log").read().index("/server.sig")'
check "the release's serial is kept" '"\"UpdateSerial\"=\"100\"" in file("registry.reg")'

# tampered NAME STATUS-TEXT ROW: after the tampering done by the caller, the run; the
# status text on that row says why.
tampered() {
  state "$work/before.json"
  run "$1" --start --confirm yes
  expect_status 1 "$1"
  check "$1: the row says why" "row($3)[\"status\"] == \"$2\""
  check "$1: failed with the download-failure beeps" 's["beeps"][-2:] == [[500, 500], [800, 500]] and s["update_running"] == 0'
}
# journal NAME FILE: the run's journal names FILE as refused.
journal() {
  if grep -Eq "SIGNATURE +(.*/)?$2: refused, " "$root/program/OstServerUpdate.log"; then
    passes=$((passes + 1))
  else
    echo "FAIL: $1: the journal does not name $2 as refused"; failures=$((failures + 1))
  fi
}
# The check ends on the manifest row: nothing planned, nothing stopped, nothing written.
check_refused() {
  check "$1: nothing planned" 'len(s["rows"]) == 3 and not s["button"]["enabled"]'
  changed_only "$1: the machine root is unchanged"
}
# A release refused whole: no file, database row, service or serial changed.
check_untouched() {
  changed_only "$1: the machine root is unchanged"
  check "$1: every service still runs" 'all(v == 4 for v in services().values())'
  check "$1: no staging folder left" 'not os.path.exists(os.path.join(root, "program/staging")) or not os.listdir(os.path.join(root, "program/staging"))'
}

echo "== one byte of a package changed"
signed_machine package
printf 'X' | dd of="$(u1 CSOstraServer.exe.zip)" bs=1 seek=100 conv=notrunc status=none
tampered package "文件校验失败，异常终止！" 7
journal package CSOstraServer.exe.zip
check_untouched package
check "package: the web DLL after it is not fetched" '"Velin.dll.zip" not in open(root + "/http.log").read()'

echo "== one byte of server.txt changed"
signed_machine manifest
python3 -c 'import sys; p = sys.argv[1]; b = open(p, "rb").read(); open(p, "wb").write(b.replace(b"12\tServer", b"13\tServer"))' "$(u1 server.txt)"
tampered manifest "升级信息与签名不符..." 2
journal manifest server.txt
check_refused manifest

echo "== one byte of server.sig changed"
signed_machine index
python3 -c 'import sys; p = sys.argv[1]; b = bytearray(open(p, "rb").read()); i = b.index(b"file ") + 5; b[i] = ord("9") if b[i] != ord("9") else ord("8"); open(p, "wb").write(b)' "$(u1 server.sig)"
tampered index "签名验证失败,升级信息不可信!" 2
journal index server.sig
check_refused index

echo "== a package swapped for another release's of the same name"
signed_machine swapped
cp "$work/releaseB/ostra/update1/CSOstraServer.exe.zip" "$(u1 CSOstraServer.exe.zip)"
tampered swapped "文件校验失败，异常终止！" 7
journal swapped CSOstraServer.exe.zip
check_untouched swapped

echo "== a package swapped, the staged order asked for as well"
signed_machine swapped-staged
python3 - "$root/registry.reg" <<'PY'
import sys
p = sys.argv[1]
t = open(p, "rb").read()
open(p, "wb").write(t.replace(b'"UpdateKey"=', b'"StageFirst"=dword:00000001\r\n"UpdateKey"=', 1))
PY
cp "$work/releaseB/ostra/update1/CSOstraServer.exe.zip" "$(u1 CSOstraServer.exe.zip)"
state "$work/before.json"
nogolden=1 run swapped-staged --start --confirm yes
expect_status 1 "swapped-staged"
check "swapped-staged: the row says why" 'row(7)["status"] == "文件校验失败，异常终止！"'
check_untouched swapped-staged

echo "== signed by another key"
signed_machine otherkey
"$release" sign "$root/host" --key "$work/other.pem" >/dev/null 2>&1 || true
tampered otherkey "签名验证失败,升级信息不可信!" 2
journal otherkey server.sig
check_refused otherkey

echo "== server.sig missing"
signed_machine nosig
rm "$(u1 server.sig)"
tampered nosig "签名文件下载失败(8)..." 2
journal nosig server.sig
check_refused nosig

echo "== an index that leaves one package out"
signed_machine omitted
mv "$(u1 Velin.dll.zip)" "$work/Velin.dll.zip"
"$release" sign "$root/host" --key "$work/key.pem" >/dev/null 2>&1 || true  # its own check finds the gap
mv "$work/Velin.dll.zip" "$(u1 Velin.dll.zip)"
tampered omitted "文件未经签名，异常终止！" 8
journal omitted Velin.dll.zip
check_untouched omitted
check "omitted: refused with the plan, nothing fetched after the index" '"update1/server.sig" in open(root + "/http.log").read().splitlines()[-1] and not s["button"]["enabled"]'

echo "== release 2 applied, then release 1 served"
# Release 2: the same files, a later serial. Its Server update is then lost again (the
# machine still behind on one component), so release 1 would plan it.
"$release" build "$src" "$work/release2" --key "$work/key.pem" --serial 200 >/dev/null
signed_machine older
rm -rf "$root/host/ostra"
cp -r "$work/release2/ostra" "$root/host/"
nogolden=1 run older-2 --start --confirm yes
expect_status 0 "older: release 2 applied"
check "older: release 2's serial kept" '"\"UpdateSerial\"=\"200\"" in file("registry.reg")'
python3 -c 'import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.execute("update sys_server_update set nn = 10 where ii = 0"); c.commit()' "$root/db/ostra.sqlite"
rm -rf "$root/host/ostra"
cp -r "$work/release/ostra" "$root/host/"
# A new process reads the serial back from the registry.
state "$work/before.json"
nogolden=1 run older-1 --start --confirm yes
expect_status 1 "older: release 1 refused"
check "older: the row says why" 'row(2)["status"] == "升级索引早于已应用的版本,拒绝降级!"'
check_refused older
journal older server.sig
grep -q "serial 100, the release applied here has 200" "$root/program/OstServerUpdate.log" &&
  passes=$((passes + 1)) || { echo "FAIL: older: the journal does not name both serials"; failures=$((failures + 1)); }

echo "== an expired index"
signed_machine expired
"$release" sign "$root/host" --key "$work/key.pem" --expires 0 >"$work/expired.out" 2>&1 || true
grep -q "server.sig: expired" "$work/expired.out" && passes=$((passes + 1)) ||
  { echo "FAIL: expired: ost-release did not say its index is expired"; failures=$((failures + 1)); }
state "$work/before.json"
nogolden=1 run expired --start --confirm yes
expect_status 1 "expired"
check "expired: the row says why" 'row(2)["status"] == "升级索引已过期,请发布方重新签名!"'
check_refused expired
journal expired server.sig

echo "== a key rotation"
third=$("$release" keygen "$work/third.pem" | grep '^ecdsa-p256:')
other=$("$release" keygen "$work/other2.pem" | grep '^ecdsa-p256:')
# The server knows three keys; the release is signed by the new one alone.
signed_machine rotation
"$sandbox" init "$root" --update-key "$key;$other ; $third" --update-host "127.0.0.1:$port" \
  --update-host2 "127.0.0.1:$port" --web-file index.htm="old page" --web-file menu.js="old menu" >/dev/null
"$release" sign "$root/host" --key "$work/other2.pem" >/dev/null
nogolden=1 run rotation --start --confirm yes
expect_status 0 "rotation: signed by the new key alone"
same_as_source "rotation: the service program is the release's" drives/c/OSTRA/CSOstraServer.exe "$src/bin/CSOstraServer.exe"
# The old key dropped from the server; the release signed by both during the change.
signed_machine rotation-dropped
"$sandbox" init "$root" --update-key "$other" --update-host "127.0.0.1:$port" \
  --update-host2 "127.0.0.1:$port" --web-file index.htm="old page" --web-file menu.js="old menu" >/dev/null
"$release" sign "$root/host" --key "$work/key.pem" --key "$work/other2.pem" >"$work/both.out"
grep -q "signed by 2 key(s)" "$work/both.out" && passes=$((passes + 1)) ||
  { echo "FAIL: rotation: sign with two keys"; failures=$((failures + 1)); }
nogolden=1 run rotation-dropped --start --confirm yes
expect_status 0 "rotation: signed by both, the server knows the new one"
# Signed by the old key alone: refused by the server that dropped it.
"$release" sign "$root/host" --key "$work/key.pem" >/dev/null
state "$work/before.json"
nogolden=1 run rotation-old --start --confirm yes
expect_status 1 "rotation: the dropped key is refused"
check "rotation: the row says why" 'row(2)["status"] == "签名验证失败,升级信息不可信!"'

echo "== the signed update served by nginx"
command -v nginx >/dev/null || { echo "FAIL: nginx is not installed (nginx-light)"; exit 1; }
nginx_port=$(free_port)
signed_machine nginx
"$sandbox" init "$root" --update-key "$key" --update-host "127.0.0.1:$nginx_port" \
  --update-host2 "127.0.0.1:$nginx_port" --web-file index.htm="old page" --web-file menu.js="old menu" >/dev/null
ngx=$work/nginx-server
mkdir -p "$ngx/tmp"
# Two of the files come by redirects that nginx answers itself, to a mirror folder.
cat >"$ngx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $ngx/nginx.pid;
error_log $ngx/error.log;
events { worker_connections 64; }
http {
  access_log $ngx/access.log;
  client_body_temp_path $ngx/tmp/body;
  proxy_temp_path $ngx/tmp/proxy;
  fastcgi_temp_path $ngx/tmp/fastcgi;
  uwsgi_temp_path $ngx/tmp/uwsgi;
  scgi_temp_path $ngx/tmp/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $root/host;
    location = /ostra/update1/server.sig { return 301 http://127.0.0.1:$nginx_port/mirror/server.sig; }
    location = /ostra/update1/CSOstraServer.exe.zip {
      return 302 http://127.0.0.1:$nginx_port/mirror/CSOstraServer.exe.zip;
    }
    location /mirror/ { alias $root/host/ostra/update1/; }
  }
}
EOF
# Unprivileged: as nobody when the test runs as root.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$work"
  chown -R 65534:65534 "$ngx"
fi
"${as_user[@]}" nginx -p "$ngx" -e "$ngx/error.log" -c "$ngx/nginx.conf" >"$ngx/stderr" 2>&1 &
servers+=($!)
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $nginx_port), 0.2)" 2>/dev/null && break
  sleep 0.05
done
run nginx --start --confirm yes
expect_status 0 "update served by nginx"
check "nginx: ends finished" 's["status_line"] == "★ Ostra 服务器系统升级更新完毕!"'
same_as_source "nginx: the service program is the release's" drives/c/OSTRA/CSOstraServer.exe "$src/bin/CSOstraServer.exe"
same_as_source "nginx: the web DLL is the release's" drives/d/wwwroot/cgi-bin/Velin.dll "$src/web/Velin.dll"
check "nginx: database upgraded" 'sql("ostra", "select max(cversion) from sys_version") == [("3.82",)]'
if python3 - "$ngx/access.log" <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines()
def status(path):
    return [l.split('"')[2].split()[0] for l in lines if f"GET {path} " in l]
assert status("/ostra/update1/server.sig") == ["301"], status("/ostra/update1/server.sig")
assert status("/mirror/server.sig") == ["200"]
assert status("/ostra/update1/CSOstraServer.exe.zip") == ["302"]
assert status("/mirror/CSOstraServer.exe.zip") == ["200"]
assert status("/ostra/update1/server.txt") == ["200"]
assert status("/ostra/update1/Velin.dll.zip") == ["200"]
PY
then passes=$((passes + 1)); else echo "FAIL: nginx: the requests and redirects not as configured"; failures=$((failures + 1)); fi
if [ "$(id -u)" -eq 0 ]; then
  [ "$(stat -c %U "$ngx/access.log")" = nobody ] && passes=$((passes + 1)) ||
    { echo "FAIL: nginx wrote its log as $(stat -c %U "$ngx/access.log")"; failures=$((failures + 1)); }
fi

finish
