#!/usr/bin/env bash
# Parity of the two builds: every scenario of scenarios.json runs on the Linux build and
# on the Windows build under Wine (headless), each on its own copy of one machine root
# with the same update hosts, and the two ends are compared field by field: exit
# status, snapshot, printed lines, requests to the update hosts, and the machine root
# afterwards (files, database rows, service states). What differs by the nature of the
# platforms is listed, with its reason, in parity.py. One Wine prefix serves every
# scenario (tests/wine/server.sh lays each root out in it).
#
# usage: tests/parity/run.sh [LINUX_BUILD [WINDOWS_BUILD [WINDOWS64_BUILD [ODBC_I386_BUILD]]]]
#                            [-- NAME...]   only these scenarios
# env:   OST_PARITY_KEEP=1  keep the work folder
#        OST_PARITY_ALL=1   the scenarios marked extra too
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
here=$repo/tests/parity
builds=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do builds+=("$1"); shift; done
[ $# -eq 0 ] || shift
only=("$@")
linux_build=$(cd "${builds[0]:-$repo/build/linux}" && pwd)
windows_build=$(cd "${builds[1]:-$repo/build/windows}" && pwd)
windows64_build=$(realpath -m "${builds[2]:-$repo/build/windows64}")
odbc_i386_build=$(realpath -m "${builds[3]:-$repo/build/odbc-i386}")
tool=$linux_build/src/ost-server-update
sandbox=$linux_build/sandbox/ost-sandbox
scenarios=$here/scenarios.json
started=$SECONDS

say() { echo "[$((SECONDS - started))s] $*"; }
passes=0
failures=0
closing=
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
die() {
  fail "$*"
  closing=1
  echo "$passes passed, $failures failed"
  exit 1
}
[ -x "$tool" ] && [ -x "$sandbox" ] || die "no ost-server-update or ost-sandbox in $linux_build"

work=$(mktemp -d /tmp/ost-parity-XXXXXX)
servers=()
. "$repo/tests/wine/server.sh"
cleanup() {
  local status=$?
  set +e
  if [ "$status" -ne 0 ] && [ -z "$closing" ]; then
    echo "FAIL: stopped early (status $status)"
    echo "$passes passed, $((failures + 1)) failed"
  fi
  wine_cleanup
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  if [ "${OST_PARITY_KEEP:-0}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

wine_select_build
say "the Linux build against $wine_note: $tool_exe"
wine_make_prefix
say "prefix ready"

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# host DIR PORT LOG [FAULTS...]: an update host for DIR, ready when it returns.
host() {
  local dir=$1 port=$2 log=$3
  shift 3
  python3 "$repo/tests/e2e/faulty_server.py" --port "$port" --directory "$dir" "$@" >"$log" 2>&1 &
  servers+=($!)
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null &&
      return
    sleep 0.05
  done
  die "update host on port $port did not start"
}
stop_hosts() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  servers=()
}
# requests_since LINES...: the requests each host logged after the given line counts,
# as "host N GET PATH".
log_lines() { for log in "$@"; do wc -l <"$log"; done; }
requests_since() {
  local n=1 log from
  for log in "${host_logs[@]}"; do
    from=$1
    shift
    tail -n "+$((from + 1))" "$log" | sed -n 's/^"\(GET [^ ]*\) HTTP.*/host '"$n"' \1/p'
    n=$((n + 1))
  done
}
# windows_path PATH: the Unix path as Wine's Z: drive names it.
windows_path() { echo "Z:${1//\//\\}"; }

mapfile -t names < <(python3 "$here/parity.py" names "$scenarios" \
  "$([ "${OST_PARITY_ALL:-0}" = 1 ] && echo all)")
[ ${#only[@]} -eq 0 ] || names=("${only[@]}")
for name in "${names[@]}"; do
  dir=$work/$name
  mkdir -p "$dir"
  port=$(free_port)
  port2=$(free_port)
  layout=$(python3 "$here/parity.py" layout "$scenarios" "$name" "$dir" "$sandbox" \
    "$bin/ost-winsvc.exe" "$port" "$port2") || die "$name: cannot lay out its machine root"
  eval "$layout"
  # Two update hosts, as the registry names them; faults only on the first.
  host "$dir/template/host" "$port" "$dir/host1.log" "${faults[@]}"
  host "$dir/template/host" "$port2" "$dir/host2.log"
  host_logs=("$dir/host1.log" "$dir/host2.log")
  cp -a "$dir/template" "$dir/linux"
  cp -a "$dir/template" "$dir/windows"

  # The Linux build.
  mapfile -t marks < <(log_lines "${host_logs[@]}")
  set +e
  timeout 180 "$tool" --root "$dir/linux" --headless --snapshot "$dir/linux.json" "${run_args[@]}" \
    >"$dir/linux.out" 2>"$dir/linux.err"
  echo $? >"$dir/linux.status"
  set -e
  requests_since "${marks[@]}" >"$dir/linux.requests"

  # The Windows build, in the same prefix as every scenario before.
  wine_lay_out "$dir/windows"
  mapfile -t marks < <(log_lines "${host_logs[@]}")
  set +e
  (cd "$dir/windows/program" &&
    wine_timeout=180 w 'C:\OstUpdate\OstServerUpdate.exe' --headless \
      --snapshot "$(windows_path "$dir/windows.json")" "${run_args[@]}") \
    >"$dir/windows.out" 2>"$dir/windows.err"
  echo $? >"$dir/windows.status"
  set -e
  requests_since "${marks[@]}" >"$dir/windows.requests"
  wine_states >"$dir/windows.states"
  stop_hosts

  if python3 "$here/parity.py" compare "$scenarios" "$name" "$dir"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
  fi
  # Once: the comparison must see a difference where there is one.
  if [ -z "${selfchecked:-}" ]; then
    selfchecked=1
    if python3 "$here/parity.py" selfcheck "$scenarios" "$name" "$dir"; then
      passes=$((passes + 1))
    else
      failures=$((failures + 1))
    fi
  fi
done

wine_stop_services
say "done: ${#names[@]} scenarios on the Linux build and $wine_note"
echo "intended platform differences (not compared):"
python3 "$here/parity.py" differences "$scenarios"
closing=1
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
