#!/usr/bin/env bash
# scripts/demo on a machine where every package looks missing: apt-get, dpkg, dpkg-query
# and sudo are recorders that say "not installed" and install nothing (the real packages
# being present, the demo still builds). The demo must ask for none of the tests' tools,
# add no dpkg architecture, and still finish its update.
# Usage: demo_packages_test.sh DEMO
set -uo pipefail
demo=$(realpath "$1")
work=$(mktemp -d /tmp/ost-demo-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
passes=0
failures=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}

mkdir "$work/bin"
record=$work/calls
: >"$record"
cat >"$work/bin/apt-get" <<EOF
#!/bin/sh
echo "apt-get \$*" >>"$record"
EOF
cat >"$work/bin/dpkg-query" <<EOF
#!/bin/sh
echo "dpkg-query \$*" >>"$record"
exit 1
EOF
cat >"$work/bin/dpkg" <<EOF
#!/bin/sh
case "\$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) ;;
  *) echo "dpkg \$*" >>"$record" ;;
esac
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/bin/sh
exec "$@"
EOF
chmod +x "$work/bin"/*

PATH=$work/bin:$PATH OST_APT_PAUSE=0 timeout 600 "$demo" "$work/root" >"$work/out" 2>&1 </dev/null
status=$?
check "the demo ends with status 0 ($status)" [ "$status" -eq 0 ]
check "the demo asked whether packages are installed" grep -q '^dpkg-query ' "$record"
check "the demo asked to install what looked missing" grep -q '^apt-get install ' "$record"
installs=$(grep '^apt-get install ' "$record" | tr ' ' '\n')
unwanted=$(grep -E 'wine|mingw|clang|llvm|nginx|ansible|tinyproxy|xvfb|xdotool|imagemagick|gtest|:i386' <<<"$installs" | sort -u | tr '\n' ' ')
check "no package of the tests asked for (${unwanted:-none})" [ -z "$unwanted" ]
check "no dpkg architecture added" sh -c "! grep -q -- '--add-architecture' '$record'"
check "the update finished on the sandbox" python3 -c "
import json, sys
s = json.load(open(sys.argv[1]))
sys.exit(0 if s['end'] == 'close' and s['failed'] == 0 and s['progress'] == 100 else 1)
" "$work/root/snapshot.json"
if [ "$failures" -ne 0 ]; then
  echo "--- recorded calls"
  cat "$record"
  echo "--- demo output (last lines)"
  tail -n 20 "$work/out"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
