#!/usr/bin/env bash
# The fleet playbook of docs/unattended.md (docs/fleet/update.yml), run by ansible-playbook
# over a local connection against sandbox machine roots with the Linux build.
# Round one: three runs that finish (one not cleanly): the play passes, reports that
# server and collects three snapshots. Round two: one server's database refuses its
# password: the play fails naming it; one with AutoRollback gets a build that stops 2 s
# after its start and is put back: reported apart, as rolled back, not failed; the other
# two are updated all the same.
#
# usage: tests/fleet/run.sh [LINUX_BUILD]     (OST_FLEET_KEEP=1 keeps the work folder)
# The playbook's output is saved in LINUX_BUILD/fleet-round-N.log.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build/linux}" && pwd)
tool=$build/src/ost-server-update
sandbox=$build/sandbox/ost-sandbox
playbook=$repo/docs/fleet/update.yml
command -v ansible-playbook >/dev/null || { echo "FAIL: ansible-playbook is not installed (ansible-core)"; exit 1; }
[ -x "$tool" ] && [ -x "$sandbox" ] || { echo "FAIL: no ost-server-update or ost-sandbox in $build"; exit 1; }

work=$(mktemp -d /tmp/ost-fleet-XXXXXX)
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ "${OST_FLEET_KEEP:-0}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
: >"$work/ansible.cfg"
passes=0
failures=0
check() {
  if eval "$2"; then passes=$((passes + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# Ansible keeps its temporary files and settings inside the work folder.
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_CONFIG=$work/ansible.cfg
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# set_dword ROOT NAME VALUE: a DWORD under the product's key of that machine root.
set_dword() {
  python3 - "$1/registry.reg" "$2" "$3" <<'PY'
import sys
path, name, value = sys.argv[1:]
data = open(path, "rb").read()
key = b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]"
nl = b"\r\n" if b"\r\n" in data else b"\n"
at = data.index(key) + len(key)
open(path, "wb").write(data[:at] + nl + b'"%s"=dword:%08x' % (name.encode(), int(value)) + data[at:])
PY
}
# server ROUND NAME INIT-OPTIONS -- PUBLISH-OPTIONS: a machine root with its update host.
server() {
  local round=$1 name=$2 init=() publish=() port root
  shift 2
  while [ "$1" != -- ]; do init+=("$1"); shift; done
  shift
  publish=("$@")
  root=$work/$round/$name
  port=$(free_port)
  "$sandbox" init "$root" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" \
    "${init[@]}" >/dev/null
  "$sandbox" publish "$root" "${publish[@]}" >/dev/null
  python3 -m http.server "$port" --bind 127.0.0.1 --directory "$root/host" >"$root.http.log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null &&
      break
    sleep 0.05
  done
  cat >>"$work/$round/inventory.yml" <<YAML
        $name:
          ost_update_command: ["$tool", "--root", "$root"]
          ost_snapshot: "$root.snapshot.json"
YAML
}
inventory_head() {
  mkdir -p "$work/$1"
  cat >"$work/$1/inventory.yml" <<'YAML'
all:
  hosts:
    localhost:
      ansible_connection: local
  children:
    ostra_servers:
      vars:
        ansible_connection: local
      hosts:
YAML
}
# play ROUND: the playbook's output in $build/fleet-ROUND.log, its status in $status.
play() {
  set +e
  timeout 300 ansible-playbook -i "$work/$1/inventory.yml" -e "ost_collect=$work/$1/collected" \
    "$playbook" >"$build/fleet-$1.log" 2>&1
  status=$?
  set -e
  sed 's/^/  | /' "$build/fleet-$1.log"
}
# version ROOT: the product database's version after the run.
version() { sqlite3 "$1/db/ostra.sqlite" "SELECT cversion FROM sys_version ORDER BY rowid DESC LIMIT 1"; }
boxes() { python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["message_boxes"]))' "$1"; }

echo "round 1: three servers, one finishing not cleanly"
inventory_head round-1
server round-1 alpha --stopped CSOstraMessage --web-file index.htm=old -- --ostra 3.82 --velin 7.1 --component Server=12 \
  --component Velin=15 --detail index.htm=new
server round-1 beta -- --ostra 3.80 --velin 7.0
server round-1 gamma -- --ostra 3.81 --failing-batch 381
play round-1
log=$build/fleet-round-1.log
check "round 1: the play passes (status $status)" '[ "$status" -eq 0 ]'
check "round 1: three snapshots collected" \
  '[ "$(ls "$work/round-1/collected" | sort | tr "\n" " ")" = "alpha.json beta.json gamma.json " ]'
check "round 1: gamma reported as needing a look" 'grep -q "gamma needs a look: \[.problem |" "$log"'
check "round 1: alpha and beta not reported" '! grep -Eq "(alpha|beta) needs a look" "$log"'
check "round 1: every server's status summed up" \
  'grep -q "alpha: exit status 0" "$log" && grep -q "beta: exit status 0" "$log" &&
   grep -q "gamma: exit status 2" "$log"'
# task NAME: the playbook's output for that task.
task() { sed -n "/^TASK \\[$1\\]/,/^TASK /p" "$log"; }
check "round 1: alpha's update changed it, beta's not" \
  'task "Run the update headless" | grep -qx "changed: \[alpha\]" &&
   task "Run the update headless" | grep -qx "ok: \[beta\]"'
check "round 1: the collected snapshot is the tool's" \
  'cmp -s "$work/round-1/collected/alpha.json" "$work/round-1/alpha.snapshot.json"'
check "round 1: alpha's database updated to 3.82 ($(version "$work/round-1/alpha"))" \
  '[ "$(version "$work/round-1/alpha")" = 3.82 ]'
check "round 1: the detail file written on alpha" \
  '[ "$(cat "$work/round-1/alpha/drives/d/wwwroot/cgi-bin/index.htm")" = new ]'

echo "round 2: one server's database refuses its password, one is rolled back"
inventory_head round-2
server round-2 alpha -- --ostra 3.81 --component Agent=12
server round-2 beta -- --ostra 3.81
server round-2 gamma --dsn-password other -- --ostra 3.81
cat >"$work/broken.json" <<'JSON'
{"ostra": "3.80", "components": {
  "Server": {"version": 12, "content": "MZ broken build OST-CRASH-AFTER-START"}}}
JSON
server round-2 delta -- --release "$work/broken.json"
set_dword "$work/round-2/delta" AutoRollback 1
set_dword "$work/round-2/delta" HealthSeconds 5
play round-2
log=$build/fleet-round-2.log
# ansible-playbook's status for a play with a failed host.
check "round 2: the play fails (status $status)" '[ "$status" -eq 2 ]'
check "round 2: gamma failed, as not finished" \
  'grep -q "gamma: the update did not finish (exit status 1); last box or status line: box .*Login failed" "$log" &&
   grep -Eq "^gamma +: .*failed=1 " "$log"'
check "round 2: alpha, beta and the rolled back delta did not fail" \
  'grep -Eq "^alpha +: .*failed=0 " "$log" && grep -Eq "^beta +: .*failed=0 " "$log" &&
   grep -Eq "^delta +: .*failed=0 " "$log"'
check "round 2: delta reported as rolled back, with its status line" \
  'task "Report a run that was rolled back" | grep -q "delta rolled back: .*status .*更新失败,已自动回滚到更新前的状态。" &&
   ! task "Report a run that was rolled back" | grep -Eq "(alpha|beta|gamma) rolled back"'
check "round 2: the fleet summed up by outcome" \
  'task "The fleet by outcome" | grep -q "\"updated: alpha, beta\"" &&
   task "The fleet by outcome" | grep -q "\"rolled back: delta\"" &&
   task "The fleet by outcome" | grep -q "\"failed: gamma\"" &&
   grep -q "delta: exit status 3" "$log"'
check "round 2: delta as before the run: its old server program, number and service" \
  'grep -q "update 10" "$work/round-2/delta/drives/c/OSTRA/CSOstraServer.exe" &&
   [ "$(sqlite3 "$work/round-2/delta/db/ostra.sqlite" "SELECT nn FROM sys_server_update WHERE ii = 0")" = 10 ] &&
   python3 -c "import json,sys; sys.exit(json.load(open(sys.argv[1]))[\"services\"][\"CSOstraServer\"][\"state\"] != 4)" "$work/round-2/delta/services.json"'
check "round 2: alpha and beta updated all the same" \
  '[ "$(version "$work/round-2/alpha")" = 3.81 ] && [ "$(version "$work/round-2/beta")" = 3.81 ]'
check "round 2: gamma's database untouched ($(version "$work/round-2/gamma"))" \
  '[ "$(version "$work/round-2/gamma")" = 3.80 ]'
check "round 2: gamma's snapshot collected, with the refused login's two boxes" \
  '[ "$(boxes "$work/round-2/collected/gamma.json")" = 2 ]'

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
