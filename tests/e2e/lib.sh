# Shared by the end-to-end scripts: machine roots, a local update host, checks.
# Expects $tool and $sandbox to be set by the caller.
work=$(mktemp -d /tmp/ost-e2e-XXXXXX)
servers=()
passes=0
failures=0
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# serve DIR PORT LOG: a real HTTP server on 127.0.0.1 for DIR, ready when it returns.
serve() {
  python3 -m http.server "$2" --bind 127.0.0.1 --directory "$1" >"$3" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $2), 0.2)" 2>/dev/null && return
    sleep 0.05
  done
  echo "server on port $2 did not start"; exit 1
}

# serve_faulty DIR PORT LOG FAULTS...: the misbehaving update host of faulty_server.py.
serve_faulty() {
  local dir=$1 port=$2 log=$3
  shift 3
  python3 "$(dirname "${BASH_SOURCE[0]}")/faulty_server.py" --port "$port" --directory "$dir" "$@" \
    >"$log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && return
    sleep 0.05
  done
  echo "faulty server on port $port did not start"; exit 1
}

# machine NAME [init options...]: a machine root whose update host is a fresh server;
# with faults=(...) set, the misbehaving one of faulty_server.py.
faults=()
machine() {
  root="$work/$1"
  shift
  port=$(free_port)
  "$sandbox" init "$root" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" "$@" >/dev/null
  mkdir -p "$root/host"
  if [ ${#faults[@]} -gt 0 ]; then
    serve_faulty "$root/host" "$port" "$root/http.log" "${faults[@]}"
    faults=()
  else
    serve "$root/host" "$port" "$root/http.log"
  fi
}
publish() { "$sandbox" publish "$root" "$@" >/dev/null; }
# set_binary_path NAME PATH: the service's configured executable, as in services.json.
set_binary_path() {
  python3 - "$root/services.json" "$1" "$2" <<'PY'
import json, sys
path, name, binary = sys.argv[1:]
doc = json.load(open(path))
doc["services"][name]["binaryPath"] = binary
json.dump(doc, open(path, "w"), indent=2)
PY
}

# run NAME ARGS...: the tool, headless, on $root; status in $status, snapshot in
# $work/NAME.json. tool_env=(VAR=value ...) is the tool's environment on top; with
# nogolden set the end is not compared with a golden file; run_timeout (default 120)
# bounds the run in seconds.
tool_env=()
run() {
  local name=$1
  shift
  set +e
  env "${tool_env[@]}" timeout "${run_timeout:-120}" "$tool" --root "$root" --headless --snapshot "$work/$name.json" \
    "$@" >"$work/$name.out" 2>&1
  status=$?
  set -e
  snapshot="$work/$name.json"
  [ -n "${nogolden:-}" ] || golden "$name"
}

# golden NAME: the end of run NAME (snapshot, printed lines, machine root) against its
# recorded golden file; OST_GOLDEN_UPDATE=1 records it instead.
golden_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/golden"
golden() {
  if python3 "$golden_dir.py" "${golden_set:?}-$1" "$work/$1.json" "$work/$1.out" \
       "$root" "$golden_dir"; then
    passes=$((passes + 1))
  else
    echo "FAIL: $1: not as recorded"
    failures=$((failures + 1))
  fi
}

# check NAME EXPR: a Python expression over s (the snapshot), root (the machine root path).
check() {
  if python3 - "$snapshot" "$root" "$2" <<'PY'
import json, sqlite3, sys, os
s = json.load(open(sys.argv[1], encoding="utf-8"))
root = sys.argv[2]
def file(path): return open(os.path.join(root, path), encoding="utf-8", errors="replace").read()
def services(): return {k: v["state"] for k, v in json.load(open(os.path.join(root, "services.json")))["services"].items()}
def sql(db, q): return sqlite3.connect(os.path.join(root, "db", db + ".sqlite")).execute(q).fetchall()
def row(i): return s["rows"][i]
def statuses(): return [r["status"] for r in s["rows"]]
sys.exit(0 if eval(sys.argv[3]) else 1)
PY
  then
    passes=$((passes + 1))
  else
    echo "FAIL: $1"
    failures=$((failures + 1))
  fi
}

expect_status() {
  if [ "$status" -eq "$1" ]; then passes=$((passes + 1)); else
    echo "FAIL: $2: exit status $status, expected $1"; failures=$((failures + 1)); fi
}

same() {  # same NAME BEFORE AFTER
  if [ "$2" = "$3" ]; then passes=$((passes + 1)); else
    echo "FAIL: $1"; diff <(echo "$2") <(echo "$3") | head -10; failures=$((failures + 1)); fi
}
not_finished() {
  expect_status 1 "$1"
  check "$1: not reported as finished" \
    's["status_line"] != "★ Ostra 服务器系统升级更新完毕!" and s["button"]["text"] != "□□ 点击关闭 □□"'
}
# Every file of the machine root but the host's, the logs and the service manager's.
root_files() {
  (cd "$root" && find . -path ./host -prune -o -type f ! -name http.log \
     ! -name 'services.*' ! -name 'OstServerUpdate.log*' -print0 | sort -z | xargs -0 -r sha256sum
   find . -path ./host -prune -o -type l -printf '%p -> %l\n' | sort)
}
# The services' states, as the service manager's file holds them.
states() { python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))["services"]; print(sorted((k, v["state"]) for k, v in d.items()))' "$root/services.json"; }

finish() {
  echo "$passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
