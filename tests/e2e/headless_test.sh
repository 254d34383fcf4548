#!/usr/bin/env bash
# The real binaries on sandbox machine roots, checked through the snapshot.
set -euo pipefail
tool=$1
sandbox=$2
work=$(mktemp -d /tmp/ost-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

golden_dir="$(cd "$(dirname "$0")" && pwd)/golden"
golden() {  # golden NAME OUTPUT ROOT: the run's end against its recorded golden file
  cp "$work/s.json" "$work/$1.json"
  if python3 "$golden_dir.py" "headless-$1" "$work/$1.json" "$2" "$3" "$golden_dir"; then
    passes=$((passes + 1))
  else
    echo "FAIL: $1: not as recorded"
    failures=$((failures + 1))
  fi
}

check() {  # check NAME PYTHON-EXPRESSION-ON-s
  if python3 - "$work/s.json" "$2" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
  then passes=$((passes + 1)); else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# A configured machine: the configuration row is done and shows the user.
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$sandbox" init "$work/m1" --user ostadmin --password 'p@ss word' --dsn ostra \
  --update-host "127.0.0.1:$closed" >/dev/null
set +e
"$tool" --root "$work/m1" --headless --snapshot "$work/s.json" >"$work/out1.txt"
status=$?
set -e
golden configured "$work/out1.txt" "$work/m1"
check "configured: row 0 user" 's["rows"][0]["desc"] == "ostadmin"'
check "configured: row 0 status" 's["rows"][0]["status"] == "读取验证完成"'
check "configured: row 0 green" 's["rows"][0]["text"] == [0, 128, 0] and s["rows"][0]["back"] == [255, 255, 255]'
check "configured: no configuration boxes" 'all(b["caption"] != "服务器验证失败提示" for b in s["message_boxes"])'
check "configured: button" 's["button"] == {"text": "◆ 开始升级服务器...", "enabled": False}'
check "configured: database row" 's["rows"][1]["desc"] == "当前版本:3.80[site]" and s["rows"][1]["status"] == "连接查询完成" and s["rows"][1]["text"] == [0, 128, 0]'
check "configured: nothing listens on the update host" 's["rows"][2]["status"] == "与岚汐服务器通讯失败(6)..."'
grep -q '^row 0 | 1 | 读取验证配置数据 | ostadmin | 读取验证完成 | tag 0 | (0,128,0)$' "$work/out1.txt" \
  && passes=$((passes + 1)) || { echo "FAIL: configured: printed row"; failures=$((failures + 1)); }
[ "$status" -eq 1 ] && passes=$((passes + 1)) || { echo "FAIL: unfinished run must exit 1"; failures=$((failures + 1)); }

# No configuration: two boxes and the program quits.
"$sandbox" init "$work/m2" --no-registry --route 1 >/dev/null
set +e
"$tool" --root "$work/m2" --headless --snapshot "$work/s.json" >"$work/out2.txt"
status=$?
set -e
golden unconfigured "$work/out2.txt" "$work/m2"
check "unconfigured: two boxes" '[b["text"] for b in s["message_boxes"]][0] == "注册表读取失败！" and s["message_boxes"][1]["caption"] == "服务器验证失败提示" and len(s["message_boxes"]) == 2'
check "unconfigured: answered OK" 'all(b["answer"] == "OK" for b in s["message_boxes"])'
check "unconfigured: quit" 's["end"] == "quit"'
check "unconfigured: one row" 'len(s["rows"]) == 1 and s["rows"][0]["status"] == "开始读取..."'
check "route file read" 's["route_choice"] == 1'
[ "$status" -eq 1 ] && passes=$((passes + 1)) || { echo "FAIL: quit run must exit 1"; failures=$((failures + 1)); }

# The lines in a file of their own (--output), none on standard output; the same lines
# as on standard output.
set +e
"$tool" --root "$work/m1" --headless --output "$work/lines.txt" >"$work/stdout.txt" 2>&1
status=$?
set -e
if [ "$status" -eq 1 ] && [ ! -s "$work/stdout.txt" ] &&
   diff <(grep -v '^time | ' "$work/out1.txt") <(grep -v '^time | ' "$work/lines.txt") >/dev/null; then
  passes=$((passes + 1))
else
  echo "FAIL: --output: status $status, or the lines differ from those on standard output"
  failures=$((failures + 1))
fi
set +e
"$tool" --root "$work/m1" --headless --output "$work/no/such/folder/lines.txt" >/dev/null 2>"$work/err.txt"
status=$?
set -e
[ "$status" -eq 1 ] && grep -q "cannot write the output file" "$work/err.txt" && passes=$((passes + 1)) ||
  { echo "FAIL: an output file that cannot be written ($status)"; failures=$((failures + 1)); }

# Usage errors: a line on standard error, status 64, and nothing run.
set +e
"$tool" --headless >/dev/null 2>&1; s1=$?
"$tool" --root "$work/m1" --headless --route 2 >/dev/null 2>&1; s2=$?
"$tool" --root "$work/m1" --bogus >/dev/null 2>"$work/err.txt"; s3=$?
"$tool" --root "$work/m1" --output "$work/o.txt" >/dev/null 2>&1; s4=$?
"$tool" --root "$work/m1" --headless --snapshot >/dev/null 2>&1; s5=$?
"$tool" --root "$work/m1" --headless --confirm maybe >/dev/null 2>&1; s6=$?
set -e
[ "$s1$s2$s3$s4$s5$s6" = "646464646464" ] && passes=$((passes + 1)) ||
  { echo "FAIL: usage errors exit 64 ($s1 $s2 $s3 $s4 $s5 $s6)"; failures=$((failures + 1)); }
grep -q "^ost-server-update: unknown option --bogus$" "$work/err.txt" && passes=$((passes + 1)) ||
  { echo "FAIL: an unknown option is named"; failures=$((failures + 1)); }
[ ! -e "$work/o.txt" ] && passes=$((passes + 1)) ||
  { echo "FAIL: a usage error wrote the output file"; failures=$((failures + 1)); }
# --help lists the exit statuses.
"$tool" --help >"$work/help.txt"
grep -q "^  2   finished, but not cleanly" "$work/help.txt" && grep -q "^  64  usage error" "$work/help.txt" &&
  passes=$((passes + 1)) || { echo "FAIL: --help lists the exit statuses"; failures=$((failures + 1)); }

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
