#!/usr/bin/env bash
# The terminal front end of the real binary, driven in tmux: keys go in with
# send-keys, the screen comes back with capture-pane.
# Usage: tui_test.sh OST-SERVER-UPDATE OST-SANDBOX
# With OST_TUI_CAPTURE=FILE the finished screen of the whole update is saved there.
set -euo pipefail
tool=$(realpath "$1")
sandbox=$(realpath "$2")
command -v tmux >/dev/null || { echo "tmux is not installed: skipped"; exit 77; }

work=$(mktemp -d /tmp/ost-tui-XXXXXX)
socket="$work/tmux.sock"
server_pid=
tm() { LANG=C.UTF-8 tmux -u -f /dev/null -S "$socket" "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1 || true
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
passes=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}

# What runs in the pane: the tool, with the terminal's modes recorded before and
# after, its pid (the subshell execs it) and its exit status.
cat >"$work/pane.sh" <<'PANE'
#!/usr/bin/env bash
name=$1
shift
trap : INT
ulimit -c 0
stty -g >"$name.before"
(echo "$BASHPID" >"$name.pid" && exec env LANG=C.UTF-8 "$@")
status=$?
# The modes first: the status file is what the test waits for before it compares them.
stty -g >"$name.after"
echo "$status" >"$name.status"
exec sleep 600
PANE
chmod +x "$work/pane.sh"

start() {  # start NAME ARGS...: a 120x40 tmux terminal running the tool with ARGS
  local name=$1
  shift
  tm new-session -d -x 120 -y 40 -s "$name" -c "$work" "$work/pane.sh" "$name" "$tool" "$@"
}
screen() { tm capture-pane -p -t "$1"; }
shows() { screen "$1" | grep -qF -- "$2"; }
hides() { ! shows "$@"; }
matches() { screen "$1" | grep -qE -- "$2"; }
line_has() { screen "$1" | sed -n "$2p" | grep -qF -- "$3"; }  # line_has NAME LINE TEXT
# poll SECONDS COMMAND...: true as soon as COMMAND is; the screen is shown on failure.
poll() {
  local i tenths=$(($1 * 10))
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  echo "  gave up on: $*"
  if tm has-session -t "$2" 2>/dev/null; then screen "$2" | sed '/^$/d; s/^/  | /'; fi
  return 1
}
wait_for() { poll "${3:-10}" shows "$1" "$2"; }  # wait_for NAME TEXT [SECONDS]
ended() { poll 10 test -s "$work/$1.status"; }
status_is() { [ "$(cat "$work/$1.status")" = "$2" ]; }
restored() {  # the terminal modes are back and the alternate screen is left
  cmp -s "$work/$1.before" "$work/$1.after" &&
    [ "$(tm display -p -t "$1" '#{alternate_on}')" = 0 ]
}
# The foreground colour the screen gives the line holding TEXT.
colour_of() { tm capture-pane -e -p -t "$1" | grep -F -- "$2" | grep -o $'\e\\[38;[0-9;]*m' | head -1; }
differs() { [ -n "$1" ] && [ "$1" != "$2" ]; }

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
serve() {  # serve DIR PORT: the update host, ready when this returns
  python3 -m http.server "$2" --bind 127.0.0.1 --directory "$1" >"$work/http.log" 2>&1 &
  server_pid=$!
  poll 5 python3 -c "import socket; socket.create_connection(('127.0.0.1', $2), 0.2)" 2>/dev/null
}

# --- A configured machine: the dialog, its keys, a resize; Esc closes it. -------
# Its update host is a port nobody listens on: the manifest download fails at once.
closed=$(free_port)
"$sandbox" init "$work/m1" --update-host "127.0.0.1:$closed" --update-host2 "127.0.0.1:$closed" \
  >/dev/null
# No --tui: in a terminal the terminal front end is the default.
start m1 --root "$work/m1"
check "m1: row 0 done" wait_for m1 "读取验证完成"
check "m1: title" shows m1 "Ostra 服务器升级程序(V5.0)--升级时请不要强制终止程序！"
check "m1: headings" shows m1 "步骤       项目名称              说明"
check "m1: status heading" shows m1 "执行状态..."
check "m1: row 0 cells" matches m1 "^1 +读取验证配置数据 +sa +读取验证完成"
check "m1: radios" shows m1 "(*) 走电信网络   ( ) 走网通网络"
check "m1: button" shows m1 "[ ◆ 开始升级服务器... ]"
check "m1: label" shows m1 "●服务器升级更新过程..."
check "m1: row 0 in its own colour" differs "$(colour_of m1 "读取验证完成")" \
  "$(colour_of m1 "执行状态...")"

tm send-keys -t m1 a
check "m1: a opens About" wait_for m1 "OstServerUpdate 5.0版"
check "m1: About line 2" shows m1 "Ostra 服务器端升级工具"
check "m1: About caption" shows m1 "关于 OstServerUpdate"
tm send-keys -t m1 Escape
check "m1: Esc closes About" poll 10 hides m1 "OstServerUpdate 5.0版"
tm send-keys -t m1 F1
check "m1: F1 opens About" wait_for m1 "OstServerUpdate 5.0版"
tm send-keys -t m1 Enter
check "m1: Enter closes About" poll 10 hides m1 "OstServerUpdate 5.0版"

tm send-keys -t m1 Right Space
check "m1: Right, Space checks route 1" wait_for m1 "( ) 走电信网络   (*) 走网通网络"
tm send-keys -t m1 Tab Enter
check "m1: Tab skips the disabled button" wait_for m1 "(*) 走电信网络   ( ) 走网通网络"

tm resize-window -t m1 -x 80 -y 24
check "m1: redrawn at 80x24" poll 10 line_has m1 24 "Tab/arrows"
check "m1: rows kept after resize" shows m1 "读取验证完成"

tm send-keys -t m1 Escape
check "m1: Esc ends the program" ended m1
check "m1: unfinished run exits 1" status_is m1 1
check "m1: terminal restored" restored m1

# --- A whole update: plan shown, start, Yes, finished. ---------------------------
port=$(free_port)
"$sandbox" init "$work/full" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" \
  --stopped CSOstraMessage >/dev/null
"$sandbox" publish "$work/full" --ostra 3.82 --velin 7.1 --component Server=12 \
  --component Velin=15 --component OstData=15 --component Message=11 >/dev/null
mkdir -p "$work/full/host"
serve "$work/full/host" "$port"
start full --root "$work/full"
check "full: plan shown" wait_for full "※检测结果※"
check "full: plan summary" wait_for full "◎共需进行 7 项更新"
check "full: stopped service in the plan" shows full "目前为停止状态"
# A list shorter than the rows, so that it has to follow the rows as they change.
tm resize-window -t full -x 120 -y 14
# Shift-Tab from the first radio reaches the button, now enabled.
tm send-keys -t full BTab Enter
check "full: confirmation" wait_for full "确认提示"
check "full: Yes and No" shows full "[ 是(Y) ]  [ 否(N) ]"
tm send-keys -t full Enter
check "full: finished" wait_for full "★ Ostra 服务器系统升级更新完毕!" 30
check "full: close button" wait_for full "[ □□ 点击关闭 □□ ]"
check "full: list followed to the last row" poll 10 matches full "rows [0-9]+-([0-9]+) of \1 *$"
check "full: last row in view" shows full "更新完成,服务已启动。"
tm send-keys -t full PPage
check "full: PgUp scrolls to the top" poll 10 matches full "rows 1-[0-9]+ of [0-9]+"
check "full: first row back in view" shows full "读取验证完成"
check "full: plan rows in the done colour of the check rows" \
  [ "$(colour_of full "升级完成。B:2/E:0")" = "$(colour_of full "读取验证完成")" ]
check "full: done colour is not the heading's" \
  differs "$(colour_of full "读取验证完成")" "$(colour_of full "执行状态...")"
tm send-keys -t full NPage
check "full: PgDn scrolls back down" poll 10 matches full "rows [0-9]+-([0-9]+) of \1 *$"
tm resize-window -t full -x 120 -y 40
check "full: whole list after resize" wait_for full "1          读取验证配置数据"
check "full: full bar" shows full "██ 100%"
if [ -n "${OST_TUI_CAPTURE:-}" ]; then screen full >"$OST_TUI_CAPTURE"; fi
tm send-keys -t full BTab Enter
check "full: the close button ends the program" ended full
check "full: finished run exits 0" status_is full 0
check "full: terminal restored" restored full

# --- A box opened mid-update: the update goes on underneath it. ----------------
# The server's slow start holds the loop while Esc waits; the refusal box then opens
# with three components still to come, and they come while it is shown.
port=$(free_port)
"$sandbox" init "$work/boxed" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" \
  --service CSOstraServer:startPendingMs=2500 >/dev/null
"$sandbox" publish "$work/boxed" --component Server=12 --component Velin=15 --component OstData=15 \
  --component Message=11 >/dev/null
kill "$server_pid" 2>/dev/null || true
serve "$work/boxed/host" "$port"
start boxed --root "$work/boxed"
check "boxed: plan shown" wait_for boxed "◎共需进行 4 项更新"
tm send-keys -t boxed BTab Enter
check "boxed: confirmation" wait_for boxed "确认提示"
tm send-keys -t boxed Enter
check "boxed: server starting" wait_for boxed "更新完成,启动服务..." 20
tm send-keys -t boxed Escape
check "boxed: refusal box" wait_for boxed "正在升级系统,不能退出程序!"
check "boxed: finished under the box" wait_for boxed "★ Ostra 服务器系统升级更新完毕!" 20
check "boxed: box still shown" shows boxed "正在升级系统,不能退出程序!"
check "boxed: close button under the box" wait_for boxed "[ □□ 点击关闭 □□ ]"
tm send-keys -t boxed Enter
check "boxed: Enter closes the box" poll 10 hides boxed "正在升级系统,不能退出程序!"
check "boxed: the last row done" matches boxed "^7 +OstData 数据接口 +OstData 数据接口 更新 15 +更新完成,服务已启动。"
tm send-keys -t boxed BTab Enter
check "boxed: the close button ends the program" ended boxed
check "boxed: finished run exits 0" status_is boxed 0
check "boxed: terminal restored" restored boxed

# --- No configuration: two boxes, answered with Enter, and the program ends. ----
"$sandbox" init "$work/m2" --no-registry >/dev/null
start m2 --root "$work/m2" --tui
check "m2: registry box" wait_for m2 "注册表读取失败！"
check "m2: no dialog behind the box" hides m2 "服务器升级程序(V5.0)"
tm send-keys -t m2 Enter
check "m2: verification box" wait_for m2 "服务器验证失败提示"
check "m2: box text split at CR LF" matches m2 "│ +不能确定本机为 Ostra 系统服务器。 +│"
tm send-keys -t m2 Enter
check "m2: program ends" ended m2
check "m2: exits 1" status_is m2 1
check "m2: terminal restored" restored m2

# --- Signals: Ctrl-C, SIGTERM and a crash all leave the terminal as found. ------
for sig in INT TERM SEGV; do
  name="s$sig"
  start "$name" --root "$work/m1"
  check "$name: dialog up" wait_for "$name" "执行状态..."
  if [ "$sig" = INT ]; then tm send-keys -t "$name" C-c; else kill -s "$sig" "$(cat "$work/$name.pid")"; fi
  check "$name: program ends" ended "$name"
  check "$name: killed by the signal" status_is "$name" "$((128 + $(kill -l "$sig")))"
  check "$name: terminal restored" restored "$name"
done

# Without a terminal and without --headless there is nothing to show on.
set +e
"$tool" --root "$work/m1" </dev/null >/dev/null 2>&1
s1=$?
set -e
check "no terminal: usage error" [ "$s1" -eq 64 ]

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
