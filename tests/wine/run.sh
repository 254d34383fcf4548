#!/usr/bin/env bash
# The real Windows build under Wine, end to end: a fresh 64-bit Wine prefix laid out as
# the product's server on 64-bit Windows (registry, services, drives C: and D:, ODBC
# through Wine's odbc32 to the host's unixODBC and the stand-in driver), a local update
# host, and the dialog driven through X as a person would: start, confirm, wait for the
# end, close.
#   1. a whole update: scripts, service programs, the web DLL and a detail file, with a
#      DLL planted under the name ODBC32.dll in the tool's folder (and the tool's
#      fallback for systems without SetDefaultDllDirectories, run by the probe);
#   2. a close request while updating is refused, and the update still finishes;
#   3. a close request while the manifest downloads ends the program cleanly;
#   4. the database refuses the configured password: both boxes answered through the
#      window, nothing changed;
#   5. a whole update at 144 DPI: the dialog, its fonts and list columns scale by half
#      again, and nothing is clipped.
#   6. CNG's SHA-256 and ECDSA P-256 against known answers, and signatures made by
#      OpenSSL verified by CNG and the reverse;
#   7. a release signed by ost-release applied whole with UpdateKey set, and one with a
#      tampered package refused before anything is stopped or written;
#   8. a staged update without a window, then its rollback, and a second one refused;
#      the run lock's name taken first by another program (an event, a held mutex):
#      counted as locked, nothing applied.
#   9. Chinese text on a server whose system code page is Western (1252), its driver
#      reading narrow text in that code page: a script's text and a description arrive
#      whole, through the wide ODBC calls.
#  10. a service whose process goes on after it reported stopped: its program is
#      replaced once the process has ended.
#  11. an update through tinyproxy named only by the machine's WinHTTP setting (what
#      "netsh winhttp set proxy" stores), and --net-check over it.
#  12. a server program that stops by itself 2 s after its start, with AutoRollback = 1
#      and HealthSeconds = 5: the run ends with exit status 3, the former program and
#      update number back, the service running.
#  13. the same run killed while it waits on the new build, the update host then gone:
#      a plain start refuses, --recover puts the program, the number and the service
#      back, and a second --recover finds nothing to recover.
#
# The executable that ships is 32-bit. It runs as on 64-bit Windows: the product's key
# in the 32-bit registry view and its services registered by 32-bit programs, as the
# product's 32-bit setup leaves them; the web server a 64-bit service in the system
# folder, as Windows' own; ODBC through Wine's 32-bit odbc32 to the host's 32-bit
# unixODBC and the stand-in driver built for i386. Where this machine cannot run 32-bit
# programs at all, the 64-bit build is tested instead, all 64-bit, and the summary says
# so (OST_WINE_REQUIRE_32=1 makes that a failure).
#
# usage: tests/wine/run.sh [LINUX_BUILD [WINDOWS_BUILD [WINDOWS64_BUILD [ODBC_I386_BUILD]]]]
#        (default build/linux, build/windows, build/windows64, build/odbc-i386)
# env:   OST_WINE_SHOTS=DIR  keep the screenshots there (wine-finished.png at 96 DPI,
#                            wine-finished-144dpi.png, wine-refused.png, wine-login.png)
#        OST_WINE_KEEP=1     keep the work folder (prefix, machine root, logs)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$(cd "${1:-$repo/build/linux}" && pwd)
windows_build=$(cd "${2:-$repo/build/windows}" && pwd)
windows64_build=$(realpath -m "${3:-$repo/build/windows64}")
odbc_i386_build=$(realpath -m "${4:-$repo/build/odbc-i386}")
sandbox=$linux_build/sandbox/ost-sandbox
release=$linux_build/tools/ost-release/ost-release
crypto_linux=$linux_build/tests/crypto/ost-cryptocheck
[ -x "$release" ] && [ -x "$crypto_linux" ] ||
  { echo "FAIL: no ost-release or ost-cryptocheck in $linux_build"; exit 1; }
started=$SECONDS

say() { echo "[$((SECONDS - started))s] $*"; }

passes=0
failures=0
closing=
pids=()
xvfb_pid=
tool_pid=

pass() { passes=$((passes + 1)); }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# die MESSAGE: a failure the rest cannot go on from.
die() {
  fail "$*"
  closing=1
  echo "$passes passed, $failures failed"
  exit 1
}
# check NAME COMMAND...: passes when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}

for program in Xvfb xdotool import convert; do
  command -v "$program" >/dev/null || die "$program is not installed"
done
[ -x "$sandbox" ] || die "no ost-sandbox in $linux_build"

work=$(mktemp -d /tmp/ost-wine-XXXXXX)
root=$work/machine
. "$repo/tests/wine/server.sh"
wine_select_build
tested_note=$wine_note
say "testing $tested_note: $tool_exe"

cleanup() {
  local status=$?
  set +e
  if [ "$status" -ne 0 ] && [ -z "$closing" ]; then
    echo "FAIL: stopped early (status $status)"
    echo "$passes passed, $((failures + 1)) failed"
  fi
  [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null
  wine_cleanup
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ "${OST_WINE_KEEP:-0}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: polls until the command succeeds; false on time-out.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.3
  done
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# --- X server -----------------------------------------------------------------------
# Room for the dialog at 144 DPI.
Xvfb -displayfd 5 -screen 0 1600x1200x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for 20 test -s "$work/display" || die "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
say "X display $DISPLAY"

# --- the Wine prefix and the machine root --------------------------------------------
wine_make_prefix
say "prefix ready"
port=$(free_port)
"$sandbox" init "$root" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" \
  --stopped CSOstraMessage --web-file index.htm="old page" >/dev/null
# The data source reads narrow text in the machine root's code page (GBK); the tool's
# text goes through the wide calls, which that leaves alone (the last scenario changes it).
grep -q '^ClientCharset = GBK$' "$root/odbc/odbc.ini" || die "the data source speaks no GBK"
for name in CSOstraServer CSOstraAgent CSOstraMessage CSTuyoMess; do
  wine_component "$root/drives/c/OSTRA/$name.exe" "$name.exe" 10
done
# A DLL planted in the tool's folder under the name of one it uses: it must never be
# loaded (it logs to ost-plant.log beside itself if it is).
cp "$bin/ost-plant.dll" "$root/program/ODBC32.dll"
wine_lay_out "$root"
# has_key KEY: the key exists, as a 64-bit program sees the registry.
has_key() { w64 reg query "$1" >>"$work/wine.log" 2>&1; }
lacks_key() { ! has_key "$1"; }
if [ "$bits" = 32 ]; then
  check "the product's key is in the 32-bit registry view" has_key 'HKLM\Software\Wow6432Node\OSTRA'
  check "the product's key is not in the 64-bit registry view" lacks_key 'HKLM\Software\OSTRA'
fi
states() { wine_states; }
expected_states="CSOstraServer 4 CSOstraAgent 4 CSOstraMessage 1 CSTuyoMess 4 W3SVC 4 "
check "services running as laid out" test "$(states)" = "$expected_states"
say "services running: $(states)"

component() { wine_component "$@"; }
component "$work/server12.exe" CSOstraServer.exe 12
component "$work/message11.exe" CSOstraMessage.exe 11
component "$work/server13.exe" CSOstraServer.exe 13
cat >"$work/release1.json" <<EOF
{"ostra": "3.82", "velin": "7.1", "ostraScriptsFrom": 381, "velinScriptsFrom": 71,
 "components": {
   "Server": {"version": 12, "description": "修正：数据同步（服务器端）",
              "contentFile": "$work/server12.exe"},
   "Message": {"version": 11, "contentFile": "$work/message11.exe"},
   "Velin": {"version": 15}},
 "details": {"index.htm": {"content": "new page"}}}
EOF
"$sandbox" publish "$root" --release "$work/release1.json" >/dev/null

# The update host: a plain static server, except that while the file "hold" exists a
# request for the held path (the server's package, or the path the file names) waits (at
# most a minute) before its answer, and the file "held" says that it is waiting. With
# "trickle PATH" in the file, that path's body comes a byte every 100 ms meanwhile.
cat >"$work/serve.py" <<'PY'
import http.server, os, sys, time, functools
port, root, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def hold():
    try:
        words = open(os.path.join(work, "hold")).read().split()
    except OSError:
        return None, False
    if not words:
        return "/ostra/update1/CSOstraServer.exe.zip", False
    return words[-1], words[0] == "trickle"
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        path, trickle = hold()
        if self.path == path and trickle:
            body = open(os.path.join(root, self.path.lstrip("/")), "rb").read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            open(os.path.join(work, "held"), "w").close()
            sent, deadline = 0, time.time() + 60
            try:
                while hold()[0] and sent < len(body) - 1 and time.time() < deadline:
                    self.wfile.write(body[sent:sent + 1])
                    self.wfile.flush()
                    sent += 1
                    time.sleep(0.1)
                self.wfile.write(body[sent:])
            except OSError:
                pass
            return
        if self.path == path:
            open(os.path.join(work, "held"), "w").close()
            deadline = time.time() + 60
            while os.path.exists(os.path.join(work, "hold")) and time.time() < deadline:
                time.sleep(0.1)
        super().do_GET()
handler = functools.partial(Handler, directory=root)
http.server.ThreadingHTTPServer(("127.0.0.1", port), handler).serve_forever()
PY
python3 "$work/serve.py" "$port" "$root/host" "$work" >"$work/http.log" 2>&1 &
host_pid=$!
pids+=($!)
wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" \
  2>/dev/null || die "the update host did not start"

# --- driving the dialog -------------------------------------------------------------------
# From here on a failing step counts as a failure and the checks go on.
set +e
title="Ostra 服务器升级程序"
controls() { probe children "$1" | tr -d '\r'; }
# has_control PREFIX LINE: the window's control listing holds LINE (id, class, enabled, text).
has_control() { controls "$1" | grep -qxF "$2"; }
gone() { ! controls "$1" >/dev/null; }
# shot PREFIX FILE: a screenshot of the screen, cut to that window.
shot() {
  local rect left top right bottom
  rect=$(probe rect "$1" 0 | tr -d '\r') || return 1
  read -r left top right bottom <<<"$rect"
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$2"
}
# click PREFIX ID: a left click in the middle of the control, as a person would.
click() {
  local rect left top right bottom
  rect=$(probe rect "$1" "$2" | tr -d '\r') || return 1
  read -r left top right bottom <<<"$rect"
  xdotool mousemove "$(((left + right) / 2))" "$(((top + bottom) / 2))" sleep 0.2 click 1
}
# click_until SECONDS PREFIX ID COMMAND...: clicks the control until the command holds,
# clicking again every 3 seconds while it does not: on a loaded machine a box can be
# listed before it takes clicks, and a click given then is lost. Only for a click whose
# repetition does no harm (the control is gone once it has worked); false on time-out.
click_until() {
  local deadline=$((SECONDS + $1)) prefix=$2 id=$3
  shift 3
  while :; do
    click "$prefix" "$id" || true
    wait_for 3 "$@" && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
  done
}
# geometry FILE: the dialog's size, its controls' sizes and the list's column widths,
# one "what width height" line each.
geometry() {
  local id left top right bottom
  {
    while IFS=$'\t' read -r id _; do
      read -r left top right bottom <<<"$(probe rect "$title" "$id" | tr -d '\r')"
      echo "control$id $((right - left)) $((bottom - top))"
    done < <(controls "$title")
    probe columns "$title" 1002 | tr -d '\r' | awk -F'\t' '{print "column" NR, $1, 0}'
  } >"$1"
}
# unclipped PREFIX: every control of the window lies inside the window, and the list's
# columns fit the list.
unclipped() {
  local id left top right bottom wl wt wr wb columns
  read -r wl wt wr wb <<<"$(probe rect "$1" 0 | tr -d '\r')"
  while IFS=$'\t' read -r id _; do
    [ "$id" != 0 ] || continue
    read -r left top right bottom <<<"$(probe rect "$1" "$id" | tr -d '\r')"
    if [ "$left" -lt "$wl" ] || [ "$top" -lt "$wt" ] || [ "$right" -gt "$wr" ] ||
      [ "$bottom" -gt "$wb" ] || [ "$right" -le "$left" ] || [ "$bottom" -le "$top" ]; then
      echo "control $id at $left $top $right $bottom, outside the window $wl $wt $wr $wb"
      return 1
    fi
  done < <(controls "$1")
  read -r left top right bottom <<<"$(probe rect "$1" 1002 | tr -d '\r')"
  columns=$(probe columns "$1" 1002 | tr -d '\r' | awk -F'\t' '{s += $1} END {print s + 0}')
  if [ "$columns" -gt "$((right - left))" ]; then
    echo "the columns ($columns pixels) are wider than the list ($((right - left)))"
    return 1
  fi
}
start_button_ready="1001	Button	1	◆ 开始升级服务器..."
close_button="1001	Button	1	□□ 点击关闭 □□"
finished_line="1004	Static	1	★ Ostra 服务器系统升级更新完毕!"

# launch_tool NAME [ROOT]: the program from the tool's folder of ROOT (default $root).
launch_tool() {
  (cd "${2:-$root}/program" && exec timeout 300 "${wine[@]}" 'C:\OstUpdate\OstServerUpdate.exe') \
    >"$work/tool-$1.log" 2>&1 &
  tool_pid=$!
}
# Clicks the start button once the plan is offered and answers the confirmation with Yes.
start_update() {
  wait_for 40 has_control "$title" "$start_button_ready" || { fail "$1: no plan offered"; return 1; }
  pass
  click "$title" 1001 || true
  wait_for 30 controls "确认提示" >/dev/null || { fail "$1: no confirmation box"; return 1; }
  pass
  click_until 30 "确认提示" 6 gone "确认提示" || { fail "$1: the confirmation box stayed"; return 1; } # IDYES
}
finished() { has_control "$title" "$finished_line" && has_control "$title" "$close_button"; }
tool_ended() { ! kill -0 "$tool_pid" 2>/dev/null; }
# Clicks the close button and waits for the program to end with status 0.
close_tool() {
  local status=0
  if click_until 60 "$title" 1001 tool_ended; then
    wait "$tool_pid" || status=$?
    check "$1: the program ends at the close click with status 0 ($status)" test "$status" -eq 0
  else
    fail "$1: the program did not end at the close click"
    kill "$tool_pid" 2>/dev/null || true
  fi
  tool_pid=
}

# py NAME EXPR: a Python expression over the machine root (file, tail, sql, log helpers).
py() {
  if python3 - "$root" "$work" "$2" <<'PY'
import os, sqlite3, sys
root, work = sys.argv[1], sys.argv[2]
def raw(path): return open(os.path.join(root, path), "rb").read()
def file(path): return raw(path).decode("utf-8", "replace")
def tail(path): return raw(path)[-80:].decode("utf-8", "replace").strip()
def sql(db, q): return sqlite3.connect(os.path.join(root, "db", db + ".sqlite")).execute(q).fetchall()
def log(): return file("drives/c/OSTRA/ost-winsvc.log").splitlines()
def weblog(): return open(os.path.join(os.environ["WINEPREFIX"], "drive_c/windows/system32/inetsrv/ost-winsvc.log"), encoding="utf-8").read().splitlines()
try:
    sys.exit(0 if eval(sys.argv[3]) else 1)
except Exception as e:
    print(f"  {type(e).__name__}: {e}")
    sys.exit(1)
PY
  then pass; else fail "$1"; fi
}

# --- 1. a whole update -----------------------------------------------------------------
say "== a whole update"
launch_tool whole
if wait_for 40 controls "$title" >/dev/null; then
  pass
  if start_update whole; then
    if wait_for 120 finished; then
      pass
      sleep 1  # the finishing beeps, then the last paint
      shot "$title" "$work/wine-finished.png"
      geometry "$work/geometry-96.txt"
      # The finished rows are drawn green (0,128,0): the colour list works on a real list view.
      green=$(convert "$work/wine-finished.png" -fill black +opaque '#008000' -fill white \
        -opaque '#008000' -format '%[fx:round(mean*w*h)]' info:) || green=0
      check "finished dialog shows green rows ($green pixels)" test "$green" -gt 200
      check "status line shown" has_control "$title" "$finished_line"
    else
      fail "whole: the update did not finish"
      controls "$title" | sed 's/^/  /'
    fi
    close_tool whole
  fi
else
  fail "whole: no window"
fi

py "server file replaced by update 12" 'raw("drives/c/OSTRA/CSOstraServer.exe") == open(work + "/server12.exe", "rb").read()'
py "message file replaced by update 11" 'tail("drives/c/OSTRA/CSOstraMessage.exe").endswith("CSOstraMessage.exe update 11")'
py "untouched components stay" 'tail("drives/c/OSTRA/CSOstraAgent.exe").endswith("update 10") and tail("drives/c/OSTRA/CSTuyoMess.exe").endswith("update 10")'
py "web DLL on D: replaced" 'file("drives/d/wwwroot/cgi-bin/Velin.dll") == "MZ sandbox component Velin.dll update 15\n"'
py "detail file on D: replaced" 'file("drives/d/wwwroot/cgi-bin/index.htm") == "new page"'
py "no temporary files left" 'not any(n.endswith(".ost-new") for d, _, f in os.walk(root + "/drives") for n in f)'
py "database versions upgraded" 'sql("ostra", "select cversion from sys_version order by cversion") == [("3.80",), ("3.81",), ("3.82",)] and sql("velin", "select max(cversion) from sys_version") == [("7.1",)]'
py "component numbers recorded" 'sql("ostra", "select ii, nn from sys_server_update order by ii") == [(0, 12), (1, 10), (2, 15), (3, 11), (4, 10), (5, 10)]'
py "Chinese names recorded intact" 'sql("ostra", "select ii, cname, cdesc from sys_server_update_log order by ii") == [(0, "Ostra 服务器", "修正：数据同步（服务器端）"), (2, "Velin 网站后台", "Velin 网站后台 更新 15"), (3, "Ostra 短信服务", "Ostra 短信服务 更新 11")]'
check "services back in their former states" test "$(states)" = "$expected_states"
py "the new server program ran after the old one stopped" 'log().index("CSOstraServer stop MZ sandbox component CSOstraServer.exe update 10") < log().index("CSOstraServer start MZ sandbox component CSOstraServer.exe update 12")'
py "the stopped message service was not started" 'not any(l.startswith("CSOstraMessage start") for l in log())'
py "untouched services were not restarted" 'sum(l.startswith("CSOstraAgent ") for l in log()) == 1 and sum(l.startswith("CSTuyoMess ") for l in log()) == 1'
py "the web server was stopped and started again" '[l.split()[1] for l in weblog()] == ["start", "stop", "start"]'
py "the ODBC32.dll planted in the tool's folder was not loaded" 'not os.path.exists(root + "/program/ost-plant.log")'
# The planted DLL is taken by a program that does not restrict the search: the check
# above can fail.
cp "$bin/ost-plant.dll" "$bin/ODBC32.dll"
loaded=$(probe load ODBC32.dll | tr -d '\r' | tr '[:upper:]' '[:lower:]' || true)
rm -f "$bin/ODBC32.dll"
planted_taken() {
  [[ "$loaded" == *'\bin\odbc32.dll' ]] && grep -qi 'ost-winprobe\.exe' "$bin/ost-plant.log"
}
check "a program that does not restrict the search takes the planted DLL ($loaded)" planted_taken
# The tool's fallback where SetDefaultDllDirectories is missing (Wine has the call, so
# the tool itself never takes it here), run by the probe with the same DLL planted
# beside it: the load by name that follows, as the delay import's, gets the system's.
cp "$bin/ost-plant.dll" "$bin/ODBC32.dll"
rm -f "$bin/ost-plant.log"
sysloaded=$(probe sysload ODBC32.dll | tr -d '\r' | tr '[:upper:]' '[:lower:]' || true)
rm -f "$bin/ODBC32.dll"
system_copy_taken() {
  [[ "$sysloaded" == *'\system32\odbc32.dll' ]] && [ ! -e "$bin/ost-plant.log" ]
}
check "the fallback without SetDefaultDllDirectories takes the system's ODBC32.dll ($sysloaded)" \
  system_copy_taken
say "whole update checked"

# --- 2. a close request while updating -------------------------------------------------
say "== a close request while updating"
cat >"$work/release2.json" <<EOF
{"ostra": "3.82", "velin": "7.1", "ostraScriptsFrom": 381, "velinScriptsFrom": 71,
 "components": {"Server": {"version": 13, "contentFile": "$work/server13.exe"}}}
EOF
"$sandbox" publish "$root" --release "$work/release2.json" >/dev/null
touch "$work/hold"
launch_tool refused
if wait_for 40 controls "$title" >/dev/null && start_update refused; then
  if wait_for 30 test -e "$work/held"; then
    pass
    # Alt+F4 on the dialog (a click on its status line gives it the keyboard): the close
    # request that the close guard must refuse.
    click "$title" 1004 || true
    xdotool key alt+F4
    if wait_for 30 controls "提示" >/dev/null; then
      pass
      if controls "提示" | grep -qF "正在升级系统,不能退出程序!"; then pass; else
        fail "refused: the box does not say the program cannot exit"
        controls "提示" | sed 's/^/  /'
      fi
      shot "$title" "$work/wine-refused.png" || true
      click_until 30 "提示" 1 gone "提示" || fail "refused: the box stayed" # IDOK
      check "the dialog is still there" controls "$title" >/dev/null
    else
      fail "refused: no box after the close request"
    fi
    rm -f "$work/hold"
    if wait_for 90 finished; then pass; else
      fail "refused: the update did not finish after the refused close"
      controls "$title" | sed 's/^/  /'
    fi
    close_tool refused
  else
    fail "refused: the held download never started"
  fi
else
  fail "refused: no window or no start"
fi
rm -f "$work/hold"
py "the update went on: server 13 recorded" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(13,)]'
py "the update went on: server 13 ran" 'log()[-1] == "CSOstraServer start MZ sandbox component CSOstraServer.exe update 13"'
check "services back in their former states after the second update" test "$(states)" = "$expected_states"

# --- 3. a close request while the manifest downloads ---------------------------------
# The close is allowed then; the download goes on in its worker. The process must end
# at once, without waiting for the host and without touching what the window freed.
say "== a close request while the manifest downloads"
rm -f "$work/held"
echo trickle /ostra/update1/server.txt >"$work/hold"
(cd "$root/program" && WINEDEBUG=err+all exec timeout 300 "${wine[@]}" 'C:\OstUpdate\OstServerUpdate.exe') \
  >"$work/tool-early.log" 2>&1 &
tool_pid=$!
if wait_for 40 test -e "$work/held" && wait_for 20 controls "$title" >/dev/null; then
  pass
  click "$title" 1004 || true
  xdotool key alt+F4
  if wait_for 15 tool_ended; then
    status=0
    wait "$tool_pid" || status=$?
    check "early close: the program ends with status 0 ($status)" test "$status" -eq 0
  else
    fail "early close: the program did not end while its download waited"
    kill "$tool_pid" 2>/dev/null || true
  fi
else
  fail "early close: no window while the manifest was held"
fi
tool_pid=
rm -f "$work/hold"
if grep -qE "Unhandled (page fault|exception)|page fault on" "$work/tool-early.log"; then
  fail "early close: Wine reports a fault"
  grep -E "Unhandled|page fault" "$work/tool-early.log" | head -5 | sed 's/^/  /'
else
  pass
fi

# --- 4. the database refuses the configured password -----------------------------------
# Two boxes, the SQLSTATE and the driver's message, each answered with a click on OK;
# then the dialog waits with its start button disabled and closes at Alt+F4.
say "== the database refuses the password"
login=$work/login
"$sandbox" init "$login" --update-host "127.0.0.1:$port" --update-host2 "127.0.0.1:$port" \
  --dsn-password other >/dev/null
for name in CSOstraServer CSOstraAgent CSOstraMessage CSTuyoMess; do
  wine_component "$login/drives/c/OSTRA/$name.exe" "$name.exe" 10
done
wine_lay_out "$login"
login_states=$(states)
login_files() { (cd "$login" && find drives db -type f -exec md5sum {} + | sort); }
login_before=$(login_files)
# box_says TEXT: the tool's box is open and shows TEXT.
box_says() { controls OstServerUpdate | grep -qF "$1"; }
launch_tool login "$login"
if wait_for 40 box_says "28000"; then
  pass
  shot OstServerUpdate "$work/wine-login.png" || true
  click OstServerUpdate 1 || true # IDOK
  if wait_for 15 box_says "Login failed for user 'sa'."; then
    pass
    click OstServerUpdate 1 || true
    if wait_for 15 gone OstServerUpdate; then pass; else fail "login: the second box stayed"; fi
  else
    fail "login: no box with the driver's message after the first"
    controls OstServerUpdate | sed 's/^/  /'
  fi
  login_row=$(probe items "$title" 1002 | tr -d '\r' | sed -n 2p)
  check "login: the connection row says the login failed ($login_row)" \
    test "$login_row" = "2	连接查询数据库		数据库服务器连接失败。28000"
  check "login: the start button stays disabled" \
    has_control "$title" "1001	Button	0	◆ 开始升级服务器..."
  click "$title" 1004 || true
  xdotool key alt+F4
  if wait_for 15 tool_ended; then
    status=0
    wait "$tool_pid" || status=$?
    check "login: the program ends at the close with status 0 ($status)" test "$status" -eq 0
  else
    fail "login: the program did not end at the close"
    kill "$tool_pid" 2>/dev/null || true
  fi
else
  fail "login: no box with the SQLSTATE"
  probe windows | sed 's/^/  /'
  kill "$tool_pid" 2>/dev/null || true
fi
tool_pid=
check "login: no file or database changed" test "$(login_files)" = "$login_before"
check "login: the services as they were" test "$(states)" = "$login_states"

# --- 5. a whole update at 144 DPI -----------------------------------------------------
# Wine takes the DPI from HKCU\Control Panel\Desktop LogPixels when a program starts.
say "== a whole update at 144 DPI"
set_dpi() {
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:%08x\r\n' \
    "$1" >"$work/dpi.reg"
  wine_regedit 64 "$work/dpi.reg"
}
set_dpi 144
dpi=$(probe dpi | tr -d '\r')
check "the system DPI is 144 ($dpi)" test "$dpi" = 144
wine_lay_out "$root"
component "$work/server14.exe" CSOstraServer.exe 14
cat >"$work/release3.json" <<JSON
{"ostra": "3.82", "velin": "7.1", "ostraScriptsFrom": 381, "velinScriptsFrom": 71,
 "components": {"Server": {"version": 14, "contentFile": "$work/server14.exe"},
                "Velin": {"version": 16}},
 "details": {"index.htm": {"content": "newer page"}}}
JSON
"$sandbox" publish "$root" --release "$work/release3.json" >/dev/null
# green_at PNG: the pixels of the finished rows' green text.
green_at() {
  convert "$1" -fill black +opaque '#008000' -fill white -opaque '#008000' \
    -format '%[fx:round(mean*w*h)]' info: 2>/dev/null || echo 0
}
launch_tool dpi144
if wait_for 40 controls "$title" >/dev/null && start_update dpi144; then
  if wait_for 120 finished; then
    pass
    sleep 1
    shot "$title" "$work/wine-finished-144dpi.png"
    geometry "$work/geometry-144.txt"
    # The list's columns are sized in pixels for the window's DPI: half again at 144.
    # The dialog and its controls are laid out in dialog units, which follow the
    # dialog font's average character: half again in height, in width as much as the
    # font's characters grow (a little less than half again for this font).
    if scaled=$(python3 - "$work/geometry-96.txt" "$work/geometry-144.txt" <<'PY'
import sys
def sizes(path):
    with open(path) as f:
        return {l.split()[0]: [int(v) for v in l.split()[1:]] for l in f if l.strip()}
small, large = sizes(sys.argv[1]), sizes(sys.argv[2])
bad = []
if set(small) != set(large) or len(small) < 8:
    bad.append(f"not the same controls: {sorted(small)} / {sorted(large)}")
for what in sorted(set(small) & set(large)):
    for a, b in zip(small[what], large[what]):
        low, high = (1.5, 1.5) if what.startswith("column") else (1.38, 1.56)
        if a and not a * low - 2 <= b <= a * high + 2:
            bad.append(f"{what} {a} -> {b}")
print("; ".join(bad) if bad else f"{len(small)} controls and columns scaled: " +
      ", ".join(f"{w} {small[w][0]}x{small[w][1]} -> {large[w][0]}x{large[w][1]}"
                for w in ("control0", "control1002", "column4") if w in small))
sys.exit(1 if bad else 0)
PY
    ); then pass; else fail "144 DPI: sizes not scaled: $scaled"; fi
    say "144 DPI: $scaled"
    if clipped=$(unclipped "$title"); then pass; else fail "144 DPI: clipped: $clipped"; fi
    # The rows' text in the larger font: fewer rows than the first update's, yet more
    # than half again as many green pixels.
    green96=$(green_at "$work/wine-finished.png")
    green144=$(green_at "$work/wine-finished-144dpi.png")
    check "144 DPI: the rows' text larger ($green96 -> $green144 green pixels)" \
      test "$green144" -gt $((green96 * 3 / 2))
  else
    fail "dpi144: the update did not finish"
    controls "$title" | sed 's/^/  /'
  fi
  close_tool dpi144
else
  fail "dpi144: no window or no start"
fi
py "144 DPI: server 14 recorded" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(14,)]'
set_dpi 96

# --- 6. the crypto providers across the platforms --------------------------------------
say "== CNG and OpenSSL"
crypto_exe=$(find "$windows_build" -name ost-cryptocheck.exe -print -quit)
winpath() { echo "Z:${1//\//\\}"; }
if [ -n "$crypto_exe" ]; then
  cp "$crypto_exe" "$bin/ost-cryptocheck.exe"
  kat=$(w "$bin/ost-cryptocheck.exe" kat 2>/dev/null | tr -d '\r')
  check "CNG against the known answers: ${kat##*$'\n'}" grep -qx '10 passed, 0 failed' <<<"$kat"
  head -c 100000 /dev/urandom >"$work/message.bin"
  flip() { local x=$1 c=${1:0:1}; [ "$c" = 0 ] && c=1 || c=0; echo "$c${x:1}"; }
  # OpenSSL signs, CNG verifies.
  mapfile -t signed < <("$crypto_linux" sign "$work/message.bin")
  answer=$(w "$bin/ost-cryptocheck.exe" verify "${signed[0]}" "${signed[1]}" "$(winpath "$work/message.bin")" 2>/dev/null | tr -d '\r')
  check "CNG verifies OpenSSL's signature ($answer)" test "$answer" = valid
  answer=$(w "$bin/ost-cryptocheck.exe" verify "${signed[0]}" "$(flip "${signed[1]}")" "$(winpath "$work/message.bin")" 2>/dev/null | tr -d '\r')
  check "CNG refuses OpenSSL's signature with a changed byte ($answer)" test "$answer" = invalid
  # CNG signs, OpenSSL verifies.
  mapfile -t signed < <(w "$bin/ost-cryptocheck.exe" sign "$(winpath "$work/message.bin")" 2>/dev/null | tr -d '\r')
  answer=$("$crypto_linux" verify "${signed[0]:-none}" "${signed[1]:-none}" "$work/message.bin" || true)
  check "OpenSSL verifies CNG's signature ($answer)" test "$answer" = valid
  answer=$("$crypto_linux" verify "${signed[0]:-none}" "$(flip "${signed[1]:-0}")" "$work/message.bin" || true)
  check "OpenSSL refuses CNG's signature with a changed byte ($answer)" test "$answer" = invalid
else
  fail "no ost-cryptocheck.exe in $windows_build"
fi

# --- 7. a signed release ----------------------------------------------------------------
say "== a signed release"
"$release" keygen "$work/maker.pem" >"$work/keygen.out"
sed -n '/^REGEDIT4$/,$p' "$work/keygen.out" >"$work/update-key.reg"
wine_regedit "$bits" "$work/update-key.reg"
# signed_release DIR UPDATE: (the web DLL one update later, past the 144 DPI run's 16)
# a release folder of real files (the service program, a web
# DLL, scripts, two detail files), built and signed by ost-release, on the update host.
signed_release() {
  local src=$work/src-$2
  mkdir -p "$src/bin" "$src/web" "$src/sql"
  component "$src/bin/CSOstraServer.exe" CSOstraServer.exe "$2"
  { cat "$bin/ost-plant.dll"; printf '\nMZ sandbox component Velin.dll update %s\n' "$2"; } >"$src/web/Velin.dll"
  printf "UPDATE ostra.dbo.sys_dict SET dcvalue = dcvalue WHERE dcname = '29'\r\nGO\r\nINSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.83')\r\nGO\r\n" >"$src/sql/update383.sql"
  printf "INSERT INTO velin.dbo.sys_version (cversion) VALUES ('7.2')\r\nGO\r\n" >"$src/sql/v72.sql"
  printf 'signed page %s' "$2" >"$src/web/index.htm"
  printf 'signed menu %s' "$2" >"$src/web/menu.js"
  cat >"$src/release.json" <<JSON
{"ostra": "3.83", "velin": "7.2",
 "components": {"Server": {"update": $2, "label": "v$2", "description": "签名版本 $2", "file": "bin/CSOstraServer.exe"},
                "Velin": {"update": $(($2 + 1)), "label": "v$2", "description": "网站 $2", "file": "web/Velin.dll"}},
 "scripts": {"ostra": {"3.83": "sql/update383.sql"}, "velin": {"7.2": "sql/v72.sql"}},
 "details": {"index.htm": "web/index.htm", "menu.js": "web/menu.js"}}
JSON
  rm -rf "$1" "$root/host/ostra"
  "$release" build "$src" "$1" --key "$work/maker.pem" >"$1.log" 2>&1 || { cat "$1.log"; return 1; }
  cp -r "$1/ostra" "$root/host/"
}
# The tool replaces only the detail files the installation has.
printf 'old menu' >"$root/drives/d/wwwroot/cgi-bin/menu.js"
signed_release "$work/signed16" 16 || fail "signed: ost-release build failed"
launch_tool signed
if wait_for 40 controls "$title" >/dev/null && start_update signed; then
  if wait_for 120 finished; then pass; else
    fail "signed: the update did not finish"
    probe items "$title" 1002 | sed 's/^/  /'
  fi
  close_tool signed
else
  fail "signed: no window or no start"
fi
py "signed: the server program is the release's" 'raw("drives/c/OSTRA/CSOstraServer.exe") == open(work + "/src-16/bin/CSOstraServer.exe", "rb").read()'
py "signed: the web DLL is the release's" 'raw("drives/d/wwwroot/cgi-bin/Velin.dll") == open(work + "/src-16/web/Velin.dll", "rb").read()'
py "signed: both detail files written" 'file("drives/d/wwwroot/cgi-bin/index.htm") == "signed page 16" and file("drives/d/wwwroot/cgi-bin/menu.js") == "signed menu 16"'
py "signed: the scripts ran" 'sql("ostra", "select max(cversion) from sys_version") == [("3.83",)] and sql("velin", "select max(cversion) from sys_version") == [("7.2",)]'
py "signed: recorded" 'sql("ostra", "select ii, nn from sys_server_update where ii in (0, 2) order by ii") == [(0, 16), (2, 17)]'
py "signed: the new server program ran" 'log()[-1] == "CSOstraServer start MZ sandbox component CSOstraServer.exe update 16"'
py "signed: the index was fetched after the manifest" 'open(work + "/http.log").read().rfind("/server.sig") > open(work + "/http.log").read().rfind("/server.txt")'

say "== a tampered package"
signed_release "$work/signed17" 17 || fail "tampered: ost-release build failed"
# One byte of the server's package, after it was signed.
printf 'X' | dd of="$root/host/ostra/update1/CSOstraServer.exe.zip" bs=1 seek=200 conv=notrunc status=none
refused_row() { probe items "$title" 1002 | tr -d '\r' | grep -qP '\tOstra 服务器\t签名版本 17\t文件校验失败，异常终止！$'; }
launch_tool tampered
if wait_for 40 controls "$title" >/dev/null && start_update tampered; then
  if wait_for 90 refused_row; then pass; else
    fail "tampered: the server's row does not say the package was refused"
    probe items "$title" 1002 | sed 's/^/  /'
  fi
  sleep 1
  shot "$title" "$work/wine-tampered.png" || true
  # The run has stopped; the window closes.
  click "$title" 1004 || true
  xdotool key alt+F4
  if wait_for 30 tool_ended; then pass; else
    fail "tampered: the program did not end at the close request"
    kill "$tool_pid" 2>/dev/null || true
  fi
  tool_pid=
else
  fail "tampered: no window or no start"
fi
py "tampered: the server program is still update 16" 'raw("drives/c/OSTRA/CSOstraServer.exe") == open(work + "/src-16/bin/CSOstraServer.exe", "rb").read()'
py "tampered: update 17 never ran" 'not any("update 17" in l for l in log())'
py "tampered: nothing recorded" 'sql("ostra", "select nn from sys_server_update where ii = 0") == [(16,)]'
# A signed release is refused whole: every package is checked before any service stops.
check "tampered: the server's service was never stopped" \
  test "$(probe state CSOstraServer | tr -d '\r')" = "CSOstraServer 4"
py "tampered: the web DLL after it is untouched" 'raw("drives/d/wwwroot/cgi-bin/Velin.dll") == open(work + "/src-16/web/Velin.dll", "rb").read()'

# --- 8. a staged update and its rollback, headless -----------------------------------
say "== a staged update and its rollback"
wine_lay_out "$root"
probe_timeout=90 probe start CSOstraServer >/dev/null
component "$work/server18.exe" CSOstraServer.exe 18
cat >"$work/release4.json" <<JSON
{"ostra": "3.84", "ostraScriptsFrom": 384,
 "components": {"Server": {"version": 18, "contentFile": "$work/server18.exe"}}}
JSON
"$sandbox" publish "$root" --release "$work/release4.json" >/dev/null
server_before=$(sha256sum <"$root/drives/c/OSTRA/CSOstraServer.exe")
number_before=$(sqlite3 "$root/db/ostra.sqlite" "select nn from sys_server_update where ii = 0")
# windows_tool NAME ARGS...: the tool without a window; its lines in $work/NAME.out.
windows_tool() {
  local name=$1
  shift
  set +e
  (cd "$root/program" && wine_timeout=180 w 'C:\OstUpdate\OstServerUpdate.exe' "$@") \
    >"$work/$name.out" 2>"$work/$name.err"
  tool_status=$?
  set -e
  tr -d '\r' <"$work/$name.out" >"$work/$name.txt"
}
windows_tool staged --headless --start --confirm yes --stage
check "staged: the run finished (status $tool_status)" test "$tool_status" = 0
check "staged: every package was here before the update began" \
  grep -q '更新包已全部下载,开始更新...' "$work/staged.txt"
py "staged: the server program is update 18" '"update 18" in file("drives/c/OSTRA/CSOstraServer.exe")'
py "staged: the journal, UTF-8 with its mark, kept the packages before the first stop" \
  '(lambda j: j.startswith("\ufeff") and (lambda run: max(i for i, l in enumerate(run) if " kept in " in l) < min(i for i, l in enumerate(run) if " SERVICE  stop " in l))([l for l in j.splitlines() if l.split(" ")[2:3] == [l2.split(" ")[2] for l2 in j.splitlines() if " kept in " in l2][-1:]]))(raw("program/OstServerUpdate.log").decode("utf-8"))'
py "staged: nothing left in the staging folder" 'not os.path.exists(root + "/program/staging")'
windows_tool rollback --rollback
check "rollback: done (status $tool_status)" test "$tool_status" = 0
check "rollback: it says so" grep -q '回滚完成。' "$work/rollback.txt"
check "rollback: the server program as before, byte for byte" \
  test "$(sha256sum <"$root/drives/c/OSTRA/CSOstraServer.exe")" = "$server_before"
check "rollback: the former update number recorded" \
  test "$(sqlite3 "$root/db/ostra.sqlite" "select nn from sys_server_update where ii = 0")" = "$number_before"
check "rollback: the service runs again" test "$(probe state CSOstraServer | tr -d '\r')" = "CSOstraServer 4"
windows_tool again --rollback
check "rollback: a second one is refused (status $tool_status)" test "$tool_status" = 1
check "rollback: and says why" grep -q '已经回滚过,不能再次回滚。' "$work/again.txt"

# --- 8b. the run lock taken first by an ordinary program ------------------------------
say "== the run lock squatted"
# The rollback left update 18 to apply: a run that went on would apply it.
for kind in event mutex; do
  probe_timeout=40 probe squat "$kind" 15 >"$work/squat-$kind.out" &
  squatter=$!
  for _ in $(seq 100); do grep -q ready "$work/squat-$kind.out" 2>/dev/null && break; sleep 0.2; done
  windows_tool "squat-$kind" --headless --start --confirm yes
  check "squat $kind: the run counts it as locked (status $tool_status)" test "$tool_status" = 1
  check "squat $kind: and says so" grep -q '本机已有一个升级程序正在运行' "$work/squat-$kind.txt"
  py "squat $kind: nothing applied" '"update 18" not in file("drives/c/OSTRA/CSOstraServer.exe")'
  wait "$squatter" || true
done

# --- 8c. a journal past its limit, held open without delete sharing -------------------
say "== a journal held open by a viewer"
python3 - "$root/program/OstServerUpdate.log" <<'PY'
import sys
path = sys.argv[1]
size = len(open(path, "rb").read())
open(path, "ab").write(b"x" * max(0, 1000000 - size) + b"\r\n")
PY
probe_timeout=40 probe open 'C:\OstUpdate\OstServerUpdate.log' 15 >"$work/viewer.out" &
viewer=$!
for _ in $(seq 100); do grep -q ready "$work/viewer.out" 2>/dev/null && break; sleep 0.2; done
windows_tool viewed --headless --start --confirm no
py "viewed: the journal grew on, its mark only at its start" \
  '(lambda j: j.startswith(b"\xef\xbb\xbf") and j.count(b"\xef\xbb\xbf") == 1 and len(j) > 1000002)(raw("program/OstServerUpdate.log"))'
py "viewed: one line says the rotation was skipped" \
  'raw("program/OstServerUpdate.log").count(b"rotation skipped") == 1'
py "viewed: no old file made" 'not os.path.exists(root + "/program/OstServerUpdate.log.1")'
wait "$viewer" || true

# --- 9. Chinese text on a Western server, headless -----------------------------------
say "== Chinese text on a Western server"
# A Windows driver reads the ANSI calls' text in the system code page: so does the data
# source here, and the prefix's code page is the Western one. Only the wide calls keep
# Chinese whole.
sed -i 's/^ClientCharset = .*/ClientCharset = CP1252/' "$root/odbc/odbc.ini"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n"ACP"="1252"\r\n' \
  >"$work/acp.reg"
wine_regedit 64 "$work/acp.reg"
wine_lay_out "$root"
acp=$(LC_ALL=C.UTF-8 probe acp | tr -d '\r')
check "the system code page is 1252 ($acp)" test "$acp" = 1252
latin=$work/src-latin
mkdir -p "$latin/bin" "$latin/sql"
component "$latin/bin/CSOstraServer.exe" CSOstraServer.exe 19
printf -- "-- 升级脚本：中文说明\r\nINSERT INTO ostra.dbo.sys_dict (dcname, dcvalue) VALUES ('说明', N'升级脚本：中文说明')\r\nGO\r\nINSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.85')\r\nGO\r\n" |
  iconv -f UTF-8 -t GBK >"$latin/sql/update385.sql"
cat >"$latin/release.json" <<JSON
{"ostra": "3.85", "velin": "7.2",
 "components": {"Server": {"update": 19, "label": "v19", "description": "升级说明：中文描述（服务器）",
                           "file": "bin/CSOstraServer.exe"}},
 "scripts": {"ostra": {"3.85": "sql/update385.sql"}}}
JSON
rm -rf "$root/host/ostra"
if "$release" build "$latin" "$work/latin" --key "$work/maker.pem" >"$work/latin.log" 2>&1; then
  cp -r "$work/latin/ostra" "$root/host/"
else
  fail "latin: ost-release build failed"
  cat "$work/latin.log"
fi
: >"$work/odbc-trace.txt"
OST_ODBC_TRACE=$work/odbc-trace.txt LC_ALL=C.UTF-8 windows_tool latin --headless --start --confirm yes
check "latin: the run finished (status $tool_status)" test "$tool_status" = 0
py "latin: the script's Chinese text stored whole" 'dict(sql("ostra", "select dcname, dcvalue from sys_dict")).get("说明") == "升级脚本：中文说明" and sql("ostra", "select max(cversion) from sys_version") == [("3.85",)]'
py "latin: the description recorded whole" 'sql("ostra", "select cname, cdesc from sys_server_update_log where ii = 0 and nn = 19") == [("Ostra 服务器", "升级说明：中文描述（服务器）")]'
check "latin: the description shown whole" grep -q '升级说明：中文描述（服务器）' "$work/latin.txt"
# The driver's own record of the calls: the wide ones, and no narrow text call at all.
for call in SQLConnectW SQLExecDirectW; do
  check "latin: the tool called $call" grep -qx "$call" "$work/odbc-trace.txt"
done
narrow='SQL(Connect|DriverConnect|ExecDirect|Prepare|GetDiagRec)'
check "latin: no narrow text call ($(grep -xE "$narrow" "$work/odbc-trace.txt" | sort -u | tr '\n' ' '))" \
  test -z "$(grep -xE "$narrow" "$work/odbc-trace.txt")"

# --- 10. a process that goes on after its service stopped, headless ---------------------
say "== a process that goes on after its service stopped"
python3 - "$root/services.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
doc["services"]["CSOstraServer"]["processLingerMs"] = 2500
json.dump(doc, open(sys.argv[1], "w", encoding="utf-8"), indent=2)
PY
wine_lay_out "$root"
probe_timeout=90 probe start CSOstraServer >/dev/null
component "$work/server20.exe" CSOstraServer.exe 20
cat >"$work/release6.json" <<JSON
{"ostra": "3.86", "ostraScriptsFrom": 386,
 "components": {"Server": {"version": 20, "contentFile": "$work/server20.exe"}}}
JSON
"$sandbox" publish "$root" --release "$work/release6.json" >/dev/null
windows_tool linger --headless --start --confirm yes
check "linger: the run finished (status $tool_status)" test "$tool_status" = 0
py "linger: the server program is update 20" '"update 20" in file("drives/c/OSTRA/CSOstraServer.exe")'
# The old process logs its end with the marker of the file as it was then: the file was
# still the old one when the process ended, and only then replaced.
py "linger: replaced only after the old process ended" \
  '(lambda l, ended: ended and "update 20" not in l[ended[-1]] and ended[-1] < l.index("CSOstraServer start MZ sandbox component CSOstraServer.exe update 20"))(log(), [i for i, x in enumerate(log()) if x.startswith("CSOstraServer ended ")])'
python3 - "$root/services.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
del doc["services"]["CSOstraServer"]["processLingerMs"]
json.dump(doc, open(sys.argv[1], "w", encoding="utf-8"), indent=2)
PY

# --- 11. the machine's WinHTTP proxy, headless ---------------------------------------------
say "== the machine's WinHTTP proxy"
if command -v tinyproxy >/dev/null; then
  proxy_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nLogFile "%s"\nLogLevel Info\nPidFile "%s"\n' \
    "$proxy_port" "$work/tinyproxy.log" "$work/tinyproxy.pid" >"$work/tinyproxy.conf"
  tinyproxy -d -c "$work/tinyproxy.conf" >"$work/tinyproxy.out" 2>&1 &
  pids+=($!)
  wait_for 10 python3 -c "import socket; socket.create_connection(('127.0.0.1', $proxy_port), 0.2)" \
    2>/dev/null || fail "tinyproxy did not start"
  # The blob WinHTTP keeps: a version, a counter (Wine takes only 0), the flags (3: a named proxy), then the
  # proxy and the bypass list, each a length and its bytes.
  python3 - "127.0.0.1:$proxy_port" >"$work/winhttp.reg" <<'PY'
import struct, sys
proxy = sys.argv[1].encode()
blob = struct.pack("<IIII", 0x18, 0, 3, len(proxy)) + proxy + struct.pack("<I", 0)
print("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections]\r")
print('"WinHttpSettings"=hex:' + ",".join(f"{b:02x}" for b in blob) + "\r")
PY
  wine_regedit 64 "$work/winhttp.reg"
  [ "$bits" = 64 ] || wine_regedit 32 "$work/winhttp.reg"
  wine_lay_out "$root"
  probe_timeout=90 probe start CSOstraServer >/dev/null
  component "$work/server22.exe" CSOstraServer.exe 22
  cat >"$work/release7.json" <<JSON
{"ostra": "3.87", "ostraScriptsFrom": 387,
 "components": {"Server": {"version": 22, "contentFile": "$work/server22.exe"}}}
JSON
  "$sandbox" publish "$root" --release "$work/release7.json" >/dev/null
  windows_tool winhttp --headless --start --confirm yes
  check "winhttp: the run finished (status $tool_status)" test "$tool_status" = 0
  py "winhttp: the server program is update 22" '"update 22" in file("drives/c/OSTRA/CSOstraServer.exe")'
  check "winhttp: the package came through the proxy" \
    grep -q "GET http://127.0.0.1:$port/ostra/update1/CSOstraServer.exe.zip" "$work/tinyproxy.log"
  py "winhttp: the journal names the WinHTTP proxy" \
    '"through the proxy 127.0.0.1:'"$proxy_port"' (WinHTTP)" in raw("program/OstServerUpdate.log").decode("utf-8")'
  windows_tool netcheck --net-check
  check "net-check: a way reached the manifest (status $tool_status)" test "$tool_status" = 0
  check "net-check: one line per way" test "$(grep -c '^route [01] | ' "$work/netcheck.txt")" = 4
else
  fail "tinyproxy is not installed"
fi

# --- 12. a build that stops by itself, rolled back by the run, headless ------------------
say "== a build that stops 2 s after its start, with AutoRollback"
wine_lay_out "$root"
probe_timeout=90 probe start CSOstraServer >/dev/null
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]\r\n"AutoRollback"=dword:00000001\r\n"HealthSeconds"=dword:00000005\r\n' \
  >"$work/autoback.reg"
wine_regedit "$bits" "$work/autoback.reg"
component "$work/server24.exe" CSOstraServer.exe 24
printf 'OST-CRASH-AFTER-START\n' >>"$work/server24.exe"
# No script: nothing that a rollback leaves applied.
cat >"$work/release8.json" <<JSON
{"ostra": "$(sqlite3 "$root/db/ostra.sqlite" "select max(cversion) from sys_version")",
 "components": {"Server": {"version": 24, "contentFile": "$work/server24.exe"}}}
JSON
"$sandbox" publish "$root" --release "$work/release8.json" >/dev/null
server_before=$(sha256sum <"$root/drives/c/OSTRA/CSOstraServer.exe")
number_before=$(sqlite3 "$root/db/ostra.sqlite" "select nn from sys_server_update where ii = 0")
windows_tool autoback --headless --start --confirm yes
check "autoback: the run ended rolled back (status $tool_status)" test "$tool_status" = 3
check "autoback: it says so" grep -q '^status | 更新失败,已自动回滚到更新前的状态。' "$work/autoback.txt"
py "autoback: the new build ran and stopped by itself" \
  '"CSOstraServer crashed MZ sandbox component CSOstraServer.exe update 24" in log()'
check "autoback: the server program as before, byte for byte" \
  test "$(sha256sum <"$root/drives/c/OSTRA/CSOstraServer.exe")" = "$server_before"
check "autoback: the former update number recorded" \
  test "$(sqlite3 "$root/db/ostra.sqlite" "select nn from sys_server_update where ii = 0")" = "$number_before"
check "autoback: the service runs again" test "$(probe state CSOstraServer | tr -d '\r')" = "CSOstraServer 4"

# --- 13. a run killed half-way, put back by --recover ----------------------------------
say "== a run with AutoRollback killed half-way, then --recover"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]\r\n"HealthSeconds"=dword:0000001e\r\n' \
  >"$work/longhealth.reg"
wine_regedit "$bits" "$work/longhealth.reg"
# Killed while the health check waits on the new build: its file and number are written.
(cd "$root/program" && exec "${wine[@]}" 'C:\OstUpdate\OstServerUpdate.exe' --headless --start \
  --confirm yes >"$work/killed.out" 2>"$work/killed.err") &
killed_pid=$!
if wait_for 120 grep -q '检查运行' "$work/killed.out"; then
  kill -9 "$killed_pid" 2>/dev/null || true
  wait "$killed_pid" 2>/dev/null || true
  pass
else
  kill -9 "$killed_pid" 2>/dev/null || true
  fail "killed: the run never reached its health check"
fi
kill "$host_pid" 2>/dev/null  # the update host is gone
windows_tool refused --headless --start --confirm yes
check "refused: a plain start refuses (status $tool_status)" test "$tool_status" = 1
check "refused: it names the command" grep -q 'OstServerUpdate.exe --recover' "$work/refused.txt"
windows_tool recover --recover
check "recover: back as before (status $tool_status)" test "$tool_status" = 0
check "recover: the server program as before, byte for byte" \
  test "$(sha256sum <"$root/drives/c/OSTRA/CSOstraServer.exe")" = "$server_before"
check "recover: the former update number recorded" \
  test "$(sqlite3 "$root/db/ostra.sqlite" "select nn from sys_server_update where ii = 0")" = "$number_before"
check "recover: the service runs again" test "$(probe state CSOstraServer | tr -d '\r')" = "CSOstraServer 4"
windows_tool again --recover
check "recover again: nothing to recover (status $tool_status)" test "$tool_status" = 0
check "recover again: it says so" grep -q '没有需要恢复的中断更新。' "$work/again.txt"

if [ -n "${OST_WINE_SHOTS:-}" ]; then
  mkdir -p "$OST_WINE_SHOTS"
  cp "$work"/wine-*.png "$OST_WINE_SHOTS/" 2>/dev/null || true
fi
say "done: $tested_note"
closing=1
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
