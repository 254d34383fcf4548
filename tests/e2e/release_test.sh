#!/usr/bin/env bash
# ost-release on real folders: the key, a release built, signed and verified, and every
# release the tool would misread refused with a message naming its field and file.
set -euo pipefail
release=$1
work=$(mktemp -d /tmp/ost-release-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
passes=0
failures=0
pass() { passes=$((passes + 1)); }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A release folder: two components, scripts of two Ostra steps (several batches) and
# one Velin step, two detail files.
make_source() {
  local src=$1
  rm -rf "$src"
  mkdir -p "$src/bin" "$src/sql" "$src/web"
  printf 'MZ server program 12\n' >"$src/bin/CSOstraServer.exe"
  printf 'MZ web DLL 15\n' >"$src/web/Velin.dll"
  printf 'MZ web DLL 15 for libxl\n' >"$src/web/Velinx.dll"
  printf "UPDATE ostra.dbo.sys_dict SET dcvalue = dcvalue\r\nGO\r\nINSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')\r\nGO\r\n" >"$src/sql/update381.sql"
  printf "INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.82')\r\nGO\r\n" >"$src/sql/update382.sql"
  printf "INSERT INTO velin.dbo.sys_version (cversion) VALUES ('7.1')\r\nGO\r\n" >"$src/sql/v71.sql"
  printf 'new page' >"$src/web/index.htm"
  printf '新的说明' >"$src/web/说明.htm"
  cat >"$src/release.json" <<'JSON'
{"ostra": "3.82", "velin": "7.1",
 "components": {
   "Server": {"update": 12, "label": "v12", "description": "修正：数据同步", "file": "bin/CSOstraServer.exe"},
   "Velin": {"update": 15, "label": "v15", "description": "网站后台", "file": "web/Velin.dll",
             "xFile": "web/Velinx.dll"}},
 "scripts": {"ostra": {"3.81": "sql/update381.sql", "3.82": "sql/update382.sql"},
             "velin": {"7.1": "sql/v71.sql"}},
 "details": {"index.htm": "web/index.htm", "说明.htm": "web/说明.htm"}}
JSON
}
# edit SRC PYTHON: changes release.json (as d) with a Python statement.
edit() {
  python3 - "$1/release.json" "$2" <<'PY'
import json, sys
path = sys.argv[1]
d = json.load(open(path, encoding="utf-8"))
exec(sys.argv[2])
json.dump(d, open(path, "w", encoding="utf-8"), ensure_ascii=False)
PY
}
# refused NAME MESSAGE: the last build was refused, said MESSAGE and wrote nothing.
refused() {
  if [ "$status" -eq 1 ] && grep -qF -- "$2" "$work/out" && [ ! -e "$work/host/ostra/update1/server.txt" ]; then
    pass
  else
    fail "$1: status $status, expected the refusal: $2"
    sed 's/^/  /' "$work/out"
  fi
}
build() {
  rm -rf "$work/host"
  set +e
  "$release" build "$work/src" "$work/host" "$@" >"$work/out" 2>&1
  status=$?
  set -e
}

echo "== keygen"
"$release" keygen "$work/key.pem" >"$work/keygen.out"
key=$(grep '^ecdsa-p256:' "$work/keygen.out")
[ "$(stat -c %a "$work/key.pem")" = 600 ] && pass || fail "key file mode $(stat -c %a "$work/key.pem")"
grep -q 'BEGIN PRIVATE KEY' "$work/key.pem" && pass || fail "no PEM private key"
[ ${#key} -eq 141 ] && pass || fail "public key text: $key"
grep -qxF "\"UpdateKey\"=\"$key\"" "$work/keygen.out" && grep -qxF '[HKEY_LOCAL_MACHINE\SOFTWARE\OSTRA]' "$work/keygen.out" &&
  pass || fail "no .reg snippet"
cp "$work/key.pem" "$work/key.before"
if "$release" keygen "$work/key.pem" >/dev/null 2>&1; then fail "keygen overwrote a key"; else pass; fi
cmp -s "$work/key.pem" "$work/key.before" && pass || fail "the existing key changed"
"$release" keygen "$work/other.pem" >"$work/other.out"
other=$(grep '^ecdsa-p256:' "$work/other.out")

echo "== build, sign, verify"
make_source "$work/src"
build --key "$work/key.pem"
[ "$status" -eq 0 ] && pass || { fail "build: status $status"; cat "$work/out"; }
dir=$work/host/ostra/update1
for f in server.txt server.sig CSOstraServer.exe.zip Velin.dll.zip Velin.dllx.zip sql/update381.sql.zip \
  sql/update382.sql.zip sql/v71.sql.zip index.htm.zip; do
  [ -f "$dir/$f" ] && pass || fail "no $f"
done
# The detail file's package under its GBK name, as the tool requests it.
[ -f "$dir/$(printf '说明.htm' | iconv -f UTF-8 -t GBK).zip" ] && pass || fail "no GBK-named detail package"
python3 - "$dir" "$work/src" <<'PY' && pass || fail "server.txt or packages not as described"
import sys, zlib, hashlib
d, src = sys.argv[1:]
m = open(d + "/server.txt", "rb").read()
assert m.startswith(b"3.82 7.1\n--BEGIN--\n12\tServer\tv12\t" + "修正：数据同步".encode("gbk") + b"\n0\tAgent\t\t\n15\tVelin\tv15\t"), m
md5 = hashlib.md5("新的说明".encode()).hexdigest()
assert ("说明.htm".encode("gbk") + b".zip+12=" + md5.encode() + b"\r\n") in m, m
assert zlib.decompress(open(d + "/Velin.dllx.zip", "rb").read()) == open(src + "/web/Velinx.dll", "rb").read()
assert zlib.decompress(open(d + "/sql/update381.sql.zip", "rb").read()) == open(src + "/sql/update381.sql", "rb").read()
PY
"$release" verify "$work/host" --public "$key" >"$work/out" 2>&1 && pass || { fail "verify"; cat "$work/out"; }
echo "$key" >"$work/key.pub"
"$release" verify "$work/host" --public "$work/key.pub" >/dev/null 2>&1 && pass || fail "verify with a key file"
if "$release" verify "$work/host" --public "$other" >"$work/out" 2>&1; then fail "verified with another key"; else
  grep -q 'server.sig: bad signature' "$work/out" && pass || { fail "other key: $(cat "$work/out")"; }
fi
# One byte of a package changed: verify names it.
cp -r "$work/host" "$work/tampered"
printf 'X' | dd of="$work/tampered/ostra/update1/Velin.dll.zip" bs=1 seek=5 conv=notrunc status=none
if "$release" verify "$work/tampered" --public "$key" >"$work/out" 2>&1; then fail "verified a changed package"; else
  grep -q '^error: Velin.dll.zip: SHA-256 differs' "$work/out" && pass || fail "changed package: $(cat "$work/out")"
fi
# A file the index does not list.
cp "$work/host/ostra/update1/index.htm.zip" "$work/tampered/ostra/update1/extra.zip"
"$release" verify "$work/tampered" --public "$key" >"$work/out" 2>&1 || true
grep -q '^error: extra.zip: not in the index' "$work/out" && pass || fail "unlisted file: $(cat "$work/out")"
# sign lists the tree as it stands, and says what the tool would refuse in it: the
# package that does not unpack and the file the tool never asks for, each by name.
for command in sign verify; do
  if [ $command = sign ]; then args=(--key "$work/key.pem"); else args=(--public "$key"); fi
  if "$release" $command "$work/tampered" "${args[@]}" >"$work/out" 2>&1; then fail "$command passed a broken tree"; else
    grep -q '^error: Velin.dll.zip: does not unpack' "$work/out" &&
      grep -q '^error: extra.zip: the tool never asks for it' "$work/out" && pass ||
      fail "$command of a broken tree: $(cat "$work/out")"
  fi
done
# A script of a version step missing, signed as the tree stands.
cp -r "$work/host" "$work/noscript"
rm "$work/noscript/ostra/update1/sql/update382.sql.zip"
"$release" sign "$work/noscript" --key "$work/key.pem" >/dev/null 2>&1 || true
if "$release" verify "$work/noscript" --public "$key" >"$work/out" 2>&1; then fail "verified a missing script"; else
  grep -q '^error: sql/update382.sql.zip: missing' "$work/out" && pass || fail "missing script: $(cat "$work/out")"
fi
# Rotation: signed by two keys, verified by either, or by both as UpdateKey holds them.
"$release" sign "$work/host" --key "$work/key.pem" --key "$work/other.pem" >/dev/null && pass || fail "sign with two keys"
for k in "$key" "$other" "$other;$key"; do
  "$release" verify "$work/host" --public "$k" >/dev/null 2>&1 && pass || fail "verify a two-key index with $k"
done
[ "$(grep -c '^signature ' "$work/host/ostra/update1/server.sig")" -eq 2 ] && pass || fail "two signature lines"
# Expiry: verify warns within 30 days, fails once expired.
"$release" sign "$work/host" --key "$work/key.pem" --expires 10 >/dev/null 2>&1
"$release" verify "$work/host" --public "$key" >"$work/out" 2>&1 && grep -q '^warning: server.sig: expires .* within 30 days' "$work/out" &&
  pass || fail "no warning 10 days before expiry: $(cat "$work/out")"
"$release" sign "$work/host" --key "$work/key.pem" --serial 42 >/dev/null 2>&1
"$release" verify "$work/host" --public "$key" >"$work/out" 2>&1 && ! grep -q 'warning' "$work/out" &&
  grep -q '^serial 42$' "$work/host/ostra/update1/server.sig" && pass || fail "serial 42, 180 days: $(cat "$work/out")"
# A key file others may read: used, with a warning.
chmod 644 "$work/key.pem"
"$release" sign "$work/host" --key "$work/key.pem" >"$work/out" 2>&1 && grep -q "^warning: .*key.pem: others than its owner may read it" "$work/out" &&
  pass || fail "no warning for a readable key: $(cat "$work/out")"
chmod 600 "$work/key.pem"
build --key "$work/key.pem"
mkdir -p "$work/host/ostra/update1" && touch "$work/host/ostra/update1/old.zip"
set +e; "$release" build "$work/src" "$work/host" >"$work/out" 2>&1; status=$?; set -e
[ "$status" -eq 1 ] && grep -q 'holds files already' "$work/out" && pass || fail "built into a full folder"

echo "== refusals"
# case NAME MESSAGE PYTHON [SHELL]: a change to the release folder and the refusal it gets.
case_() {
  make_source "$work/src"
  edit "$work/src" "$3"
  [ -z "${4:-}" ] || (cd "$work/src" && eval "$4")
  build
  refused "$1" "$2"
}
label16=$(python3 -c 'print("版" * 16)')
case_ "label too long in GBK" \
  'release.json: components.Server.label: is 32 bytes in GBK; the tool reads 31' \
  "d['components']['Server']['label'] = '$label16'"
case_ "description too long in GBK" \
  'release.json: components.Velin.description: is 256 bytes in GBK; the tool reads 255' \
  "d['components']['Velin']['description'] = '说' * 128"
case_ "a character GBK lacks" \
  'release.json: components.Server.description: holds characters that GBK cannot write' \
  "d['components']['Server']['description'] = '\U0001F600 smile'"
case_ "a tab in a label" \
  'release.json: components.Server.label: holds a control character' \
  "d['components']['Server']['label'] = 'v\t12'"
case_ "Ostra above 99.99" 'release.json: ostra: is above 99.99' "d['ostra'] = '100.00'"
case_ "Velin from 30.0" 'release.json: velin: is 30.0 or above' "d['velin'] = '30.0'"
case_ "Ostra beyond the four characters" \
  'release.json: ostra: cannot be written in the four characters the tool reads' \
  "d['ostra'] = '12.34'; d['scripts'] = {}"
case_ "not a version" 'release.json: velin: is not a version with at most 1 decimals' "d['velin'] = '7.15'"
case_ "a missing script step" 'release.json: scripts.ostra: has no script for the step to 3.82' \
  "del d['scripts']['ostra']['3.82']"
case_ "a gap in the script steps" 'release.json: scripts.ostra: has no script for the step to 3.81' \
  "d['scripts']['ostra'] = {'3.80': 'sql/update381.sql', '3.82': 'sql/update382.sql'}"
case_ "a script the tool never asks for" 'release.json: scripts.velin.7.2: is above the announced version' \
  "d['scripts']['velin']['7.2'] = 'sql/v71.sql'"
case_ "a last batch without its GO line" \
  'release.json: scripts.ostra.3.82 (sql/update382.sql): its last batch has no "GO" line after it; the tool would drop it' \
  "" "printf \"INSERT INTO x VALUES (1)\r\nGO\r\nINSERT INTO x VALUES (2)\r\n\" >sql/update382.sql"
case_ "GO lines ending in LF alone" \
  'release.json: scripts.velin.7.1 (sql/v71.sql): has no "GO" line (GO and CR LF); the tool would run none of it' \
  "" "printf 'INSERT INTO x VALUES (1)\nGO\n' >sql/v71.sql"
case_ "a zero byte in a script" \
  'release.json: scripts.ostra.3.81 (sql/update381.sql): holds a zero byte at offset 6' \
  "" "printf 'UPDATE\0x\r\nGO\r\n' >sql/update381.sql"
case_ "a detail name climbing out" 'release.json: details...\x.htm: is no plain file name of the web folder' \
  "d['details']['..\\\\x.htm'] = 'web/index.htm'"
case_ "a device name" 'release.json: details.con.htm: is no plain file name of the web folder' \
  "d['details']['con.htm'] = 'web/index.htm'"
case_ "a name the tool reads otherwise" 'release.json: details.a.zip.htm: would be read as "a"' \
  "d['details']['a.zip.htm'] = 'web/index.htm'"
case_ "a plus in a detail name" 'release.json: details.a+b.htm: cannot be read back from its detail line' \
  "d['details']['a+b.htm'] = 'web/index.htm'"
case_ "a space in a detail name" 'release.json: details.my page.htm: holds a character that a request line cannot carry' \
  "d['details']['my page.htm'] = 'web/index.htm'"
case_ "a detail line over 255 bytes" 'makes a detail line longer than 255 bytes' \
  "d['details']['x' * 220 + '.htm'] = 'web/index.htm'"
case_ "an empty component" \
  'release.json: components.Server.file (bin/CSOstraServer.exe): is empty; the tool refuses an empty component' \
  "" ": >bin/CSOstraServer.exe"
case_ "a component over the unpack buffer" \
  'release.json: components.Velin.file (web/Velin.dll): is 50000001 bytes; the tool unpacks at most 50000000' \
  "" "head -c 50000001 /dev/zero >web/Velin.dll"
case_ "a package over the receive buffer" \
  'release.json: components.Server.file (bin/CSOstraServer.exe): packs to ' \
  "" "head -c 24100000 /dev/urandom >bin/CSOstraServer.exe"
case_ "a missing file" 'release.json: details.index.htm (web/gone.htm): cannot be read' \
  "d['details']['index.htm'] = 'web/gone.htm'"
case_ "an unknown component" 'release.json: components.Sever: is no component' \
  "d['components']['Sever'] = d['components']['Server']"
case_ "an unknown field" 'release.json: components.Server.updat: is no field of a release' \
  "d['components']['Server']['updat'] = 12"
case_ "an x variant of a service" 'release.json: components.Server.xFile: only the web DLL (Velin) has an x variant' \
  "d['components']['Server']['xFile'] = 'bin/CSOstraServer.exe'"
case_ "update 0" 'release.json: components.Server.update: must be an update number from 1' \
  "d['components']['Server']['update'] = 0"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
