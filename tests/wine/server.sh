# A Wine prefix laid out as the product's server on 64-bit Windows, for the tests that
# run the Windows build (tests/wine/run.sh, tests/parity/run.sh). Sourced, not run.
#
# The executable that ships is 32-bit. It runs as on 64-bit Windows: the product's key
# in the 32-bit registry view and its services registered by 32-bit programs, as the
# product's 32-bit setup leaves them; the web server a 64-bit service in the system
# folder, as Windows' own; ODBC through Wine's 32-bit odbc32 to the host's 32-bit
# unixODBC and the stand-in driver built for i386. Where this machine cannot run 32-bit
# programs at all, the 64-bit build is used instead, all 64-bit, and wine_note says so
# (OST_WINE_REQUIRE_32=1 makes that a failure).
#
# The caller sets repo, linux_build, windows_build, windows64_build, odbc_i386_build
# and work (an empty folder of its own), and defines die MESSAGE and fail MESSAGE. Then:
#   wine_select_build      bits, tool_exe, wine (the loader), wine_note; ODBC set-up
#   wine_make_prefix       the prefix in $work/prefix, helpers in $bin
#   wine_lay_out ROOT      the machine root ROOT as the server: drives, the tool's folder,
#                          the registry, the data source, the services and their states
#   w, w64, probe          a Wine program (of the tool's bitness, 64-bit, the probe)
#   wine_states NAME...    "NAME STATE ..." of the services, on one line
#   wine_stop_services     every service of the last laid-out root stopped
#   wine_cleanup           the prefix's processes ended

wine_services_all=(CSOstraServer CSOstraAgent CSOstraMessage CSTuyoMess W3SVC)

for program in wineserver python3 file; do
  command -v "$program" >/dev/null || die "$program is not installed"
done

# bits_of FILE: 32 or 64 for a Windows image, nothing otherwise.
bits_of() {
  case "$(file -b "$1")" in
    PE32+\ *) echo 64 ;;
    PE32\ *) echo 32 ;;
  esac
}

# Debian's wine wrapper runs everything through the 32-bit loader once wine32 is
# installed; that loader starts 64-bit programs with the 64-bit one.
wine64_loader=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
  [ -n "$wine64_loader" ] || { [ -x "$candidate" ] && wine64_loader=$candidate; }
done
wine32_loader=/usr/lib/wine/wine

# wine_runs_32bit: whether 32-bit Windows programs can run here; else says why on stdout.
wine_runs_32bit() {
  if ! command -v wine >/dev/null || [ ! -x "$wine32_loader" ] ||
    [ "$(file -b "$wine32_loader" | cut -d, -f1)" = "$(file -b "$wine64_loader" | cut -d, -f1)" ]; then
    echo "no 32-bit Wine is installed (Debian: wine32:i386)"
    return 1
  fi
  local error
  if ! error=$("$wine32_loader" --version 2>&1 >/dev/null); then
    echo "its 32-bit loader does not run: ${error##*: }; the kernel runs no 32-bit code"
    return 1
  fi
}

wine_select_build() {
  [ -n "$wine64_loader" ] || die "no 64-bit Wine (wine64) is installed"
  tool_exe=$(find "$windows_build" -name OstServerUpdate.exe -print -quit 2>/dev/null || true)
  [ -n "$tool_exe" ] || die "no OstServerUpdate.exe in $windows_build"
  local reason
  bits=$(bits_of "$tool_exe")
  wine_note=
  case "$bits" in
    32)
      if ! reason=$(wine_runs_32bit); then
        [ "${OST_WINE_REQUIRE_32:-0}" != 1 ] || die "the 32-bit executable cannot run here: $reason"
        echo "NOTE: the 32-bit executable cannot run on this machine: $reason."
        echo "NOTE: testing the 64-bit build from $windows64_build instead."
        windows_build=$(cd "$windows64_build" 2>/dev/null && pwd) ||
          die "no 64-bit build in $windows64_build"
        tool_exe=$(find "$windows_build" -name OstServerUpdate.exe -print -quit)
        [ -n "$tool_exe" ] && [ "$(bits_of "$tool_exe")" = 64 ] ||
          die "no 64-bit OstServerUpdate.exe in $windows_build"
        bits=64
        wine_note="the 64-bit build (this machine runs no 32-bit programs)"
      fi
      ;;
    64) ;;
    *) die "$tool_exe is no Windows executable: $(file -b "$tool_exe")" ;;
  esac
  wine_note=${wine_note:-"the $bits-bit build"}
  if [ "$bits" = 32 ]; then
    wine=(wine) # the wrapper: the 32-bit loader
    driver32=$(find "$odbc_i386_build" -name libostodbc.so -print -quit 2>/dev/null || true)
    # Named in the data source, which is read from other folders: absolute.
    [ -z "$driver32" ] || driver32=$(realpath "$driver32")
    [ -n "$driver32" ] && file -b "$driver32" | grep -q '^ELF 32-bit.*80386' ||
      die "no i386 stand-in ODBC driver in $odbc_i386_build" \
        "(cmake --preset odbc-i386 && cmake --build --preset odbc-i386)"
  else
    wine=("$wine64_loader")
    # Wine's own helper processes are started through this loader too.
    export WINELOADER=$wine64_loader
  fi
  export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer prompts in a fresh prefix. ODBC32.dll is taken from a
  # file found first, as Windows does, not from Wine's own copy whatever the path.
  export WINEDLLOVERRIDES="mscoree,mshtml=;odbc32=n,b"
  # Arguments and file names cross into Wine as UTF-8; a Chinese locale also gives the
  # prefix the code page of the product's servers (936) where the machine has one.
  if locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    export LC_ALL=zh_CN.UTF-8
  else
    export LC_ALL=C.UTF-8
  fi
  unset LANGUAGE
  bin=$work/bin
  mkdir -p "$bin"
}

# Every Wine run is bounded: a crash or a forgotten box must not hang the test.
w() { timeout "${wine_timeout:-60}" "${wine[@]}" "$@"; }
# w64 ...: through the 64-bit loader, for what 64-bit Windows itself would do.
w64() { timeout "${wine_timeout:-60}" "$wine64_loader" "$@"; }
probe() { wine_timeout=${probe_timeout:-20} w "$bin/ost-winprobe.exe" "$@" 2>/dev/null; }

# helper NAME BITS FILE: ost-NAME (.exe, or .dll for plant) of that bitness, to FILE,
# from the Windows builds or compiled here.
wine_helper() {
  local name=$1 helper_bits=$2 target=$3 build=$windows_build compiler suffix=exe
  [ "$name" = plant ] && suffix=dll
  [ "$helper_bits" = "$bits" ] || build=$windows64_build
  compiler=x86_64-w64-mingw32-g++-posix
  [ "$helper_bits" = 64 ] || compiler=i686-w64-mingw32-g++-posix
  local built
  built=$(find "$build" -name "ost-$name.$suffix" -print -quit 2>/dev/null || true)
  if [ -n "$built" ] && [ "$(bits_of "$built")" = "$helper_bits" ]; then
    cp "$built" "$target"
  elif [ "$suffix" = dll ]; then
    "$compiler" -std=c++17 -O2 -s -Wall -Wextra -Werror -static -shared \
      -o "$target" "$repo/sandbox/winsvc/ost_$name.cpp"
  else
    "$compiler" -std=c++17 -O2 -s -Wall -Wextra -Werror -static -municode \
      -o "$target" "$repo/sandbox/winsvc/ost_$name.cpp" -ladvapi32
  fi
}

# wine_component FILE NAME N [PROGRAM]: the service program carrying the marker of
# update N of NAME (the text the Linux stand-in's components hold).
wine_component() {
  { cat "${4:-$bin/ost-winsvc.exe}"; printf '\nMZ sandbox component %s update %s\n' "$2" "$3"; } >"$1"
}

# wine_regedit BITS FILE: imports FILE into the registry view of programs of that
# bitness, as a setup of that bitness would (the 32-bit view of HKLM\Software is its
# Wow6432Node).
wine_regedit() {
  # Tried again: under load a Wine program can miss its time-out once.
  local attempt
  for attempt in 1 2 3; do
    w64 reg import "Z:${2//\//\\}" "/reg:$1" >>"$work/wine.log" 2>&1 && return
    echo "reg import of $2, attempt $attempt, failed" >>"$work/wine.log"
    sleep 1
  done
  die "could not import $2 into the $1-bit registry view"
}

wine_make_prefix() {
  # The product's programs are of the tool's bitness (32-bit, as its setup); the web
  # server is Windows' own, 64-bit.
  wine_helper winsvc "$bits" "$bin/ost-winsvc.exe"
  wine_helper winsvc 64 "$bin/ost-winsvc64.exe"
  wine_helper winprobe "$bits" "$bin/ost-winprobe.exe"
  wine_helper plant "$bits" "$bin/ost-plant.dll"
  local file
  for file in ost-winsvc.exe ost-winprobe.exe ost-plant.dll; do
    [ "$(bits_of "$bin/$file")" = "$bits" ] || die "$file is not $bits-bit: $(file -b "$bin/$file")"
  done
  [ "$(bits_of "$bin/ost-winsvc64.exe")" = 64 ] || die "ost-winsvc64.exe is not 64-bit"

  wine_timeout=120 w64 wineboot --init >"$work/wineboot.log" 2>&1 || true
  timeout 60 wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || die "wineboot made no prefix"
  # No crash dialog waiting unseen; no window manager, so Wine places and decorates
  # the windows itself (and does not wait for one after the last window closes);
  # Chinese text in a font that has it.
  {
    printf '\xff\xfe'
    iconv -f UTF-8 -t UTF-16LE <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
REG
  } >"$work/wine.reg"
  wine_regedit 64 "$work/wine.reg"
  # A 32-bit program sees the font substitutes of its own view.
  [ "$bits" = 64 ] || wine_regedit 32 "$work/wine.reg"
  # The caption buttons are glyphs of Wine's Marlett font, which this Wine does not find
  # in its own data folder.
  local marlett
  marlett=$(find /usr/share/wine /usr/lib/wine -name marlett.ttf -print -quit 2>/dev/null || true)
  [ -z "$marlett" ] || cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"

  mkdir -p "$WINEPREFIX/drive_c/windows/system32/inetsrv"
  # The web server is Windows' own: a 64-bit program in the (64-bit) system folder. A
  # 32-bit process asking for system32 is sent to syswow64, where there is none.
  wine_component "$WINEPREFIX/drive_c/windows/system32/inetsrv/inetinfo.exe" inetinfo.exe 1 \
    "$bin/ost-winsvc64.exe"

  # Wine's services live only while an ordinary Wine process does.
  probe_timeout=3600 probe hold 3590 >/dev/null 2>&1 &
  wine_hold_pid=$!
  # The product's services are registered as its setup does it, by a program of the
  # tool's bitness; the web server by the 64-bit system. (A service registered by a
  # 32-bit program has its image path under system32 read as syswow64, as on Windows:
  # W3SVC registered so would never start.)
  local name
  declare -gA wine_paths
  for name in CSOstraServer CSOstraAgent CSOstraMessage CSTuyoMess; do
    wine_paths[$name]="C:\\OSTRA\\$name.exe"
    wine_sc "$bits" create "$name" binPath= "${wine_paths[$name]}"
  done
  wine_paths[W3SVC]='C:\Windows\system32\inetsrv\inetinfo.exe'
  wine_sc 64 create W3SVC binPath= "${wine_paths[W3SVC]}"
  wine_links=()
}

# wine_sc BITS ARGS...: sc.exe of that bitness.
wine_sc() {
  if [ "$1" = 32 ]; then
    shift
    w 'C:\windows\syswow64\sc.exe' "$@" >>"$work/wine.log" 2>&1
  else
    shift
    w64 'C:\windows\system32\sc.exe' "$@" >>"$work/wine.log" 2>&1
  fi
}

wine_states() { probe state "${@:-${wine_services_all[@]}}" | tr -d '\r' | tr '\n' ' '; }

wine_stop_services() {
  # Without knobs first: a service told to refuse its stop stops now.
  local name
  {
    printf 'REGEDIT4\r\n\r\n'
    for name in "${wine_services_all[@]}"; do
      printf '[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters]\r\n' "$name"
    done
  } >"$work/noknobs.reg"
  wine_regedit 64 "$work/noknobs.reg"
  # A running service takes up the changed knobs at its next report: asked again
  # while one still refuses.
  local states attempt
  for attempt in 1 2 3 4 5; do
    probe_timeout=90 probe stop "${wine_services_all[@]}" >/dev/null
    states=$(wine_states)
    [ "$states" != "$(printf '%s 1 ' "${wine_services_all[@]}")" ] || break
    sleep 1
  done
  [ "$states" = "$(printf '%s 1 ' "${wine_services_all[@]}")" ] || die "services did not stop: $states"
}

# wine_lay_out ROOT: the machine root as the prefix's server. Services of a root laid
# out before are stopped first; the services' states, executable paths and knobs are
# those of ROOT/services.json.
wine_lay_out() {
  local root=$1 link letter name
  wine_stop_services
  # Drives: C:'s top folders and every other drive of the root.
  for link in "${wine_links[@]}"; do rm -f "$link"; done
  wine_links=()
  for link in "$root"/drives/c/*; do
    [ -e "$link" ] || continue
    ln -sfn "$link" "$WINEPREFIX/drive_c/$(basename "$link")"
    wine_links+=("$WINEPREFIX/drive_c/$(basename "$link")")
  done
  for link in "$root"/drives/*; do
    letter=$(basename "$link")
    [ "$letter" != c ] || continue
    ln -sfn "$link" "$WINEPREFIX/dosdevices/$letter:"
    wine_links+=("$WINEPREFIX/dosdevices/$letter:")
  done
  # The tool runs from its own folder, where it keeps its route file.
  cp "$tool_exe" "$root/program/OstServerUpdate.exe"
  ln -sfn "$root/program" "$WINEPREFIX/drive_c/OstUpdate"

  # The product's key as its setup writes it, in the view of the tool's bitness, and
  # nothing of an earlier root's.
  # Not by importing "[-KEY]": Wine's reg import leaves the 32-bit view's key in place
  # (seen with Wine 8), and with it an earlier root's values.
  w64 reg delete 'HKLM\SOFTWARE\OSTRA' "/reg:$bits" /f >>"$work/wine.log" 2>&1 || true
  if w64 reg query 'HKLM\SOFTWARE\OSTRA' "/reg:$bits" >/dev/null 2>&1; then
    die "the product's key of an earlier root could not be removed"
  fi
  [ ! -f "$root/registry.reg" ] || wine_regedit "$bits" "$root/registry.reg"

  # The data source: Wine's odbc32 passes the tool's wide calls on to the host's
  # unixODBC as they are.
  if [ "$bits" = 32 ]; then
    # The same data source for the host's 32-bit unixODBC, with the driver built for
    # it; the database folder named as the root's odbc.ini names it.
    mkdir -p "$work/odbc32"
    sed "s|^Database *= *\.\./db *$|Database = $root/db|" "$root/odbc/odbc.ini" >"$work/odbc32/odbc.ini"
    sed "s|^Driver *=.*|Driver = $driver32|" "$root/odbc/odbcinst.ini" >"$work/odbc32/odbcinst.ini"
    export ODBCSYSINI=$work/odbc32
  else
    export ODBCSYSINI=$root/odbc
  fi

  # The services: executable paths, states, then knobs (DWORD values the stand-in
  # service program reads).
  python3 - "$root/services.json" "$work/knobs.reg" "$work/services.txt" <<'PY' ||
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))["services"]
knobs = {"startPendingMs": "StartPendingMs", "stopPendingMs": "StopPendingMs",
         "refuseStart": "RefuseStart", "refuseStop": "RefuseStop",
         "processLingerMs": "ProcessLingerMs"}
reg = ["REGEDIT4", ""]
lines = []
for name in ["CSOstraServer", "CSOstraAgent", "CSOstraMessage", "CSTuyoMess", "W3SVC"]:
    service = doc.get(name)
    if service is None:
        sys.exit(f"service {name} is absent: not laid out under Wine")
    reg.append("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + name + "\\Parameters]")
    for knob, value in service.items():
        if knob in ("state", "binaryPath"):
            continue
        if knob not in knobs:
            sys.exit(f"knob {knob} of {name} has no Windows stand-in")
        reg.append(f'"{knobs[knob]}"=dword:{int(value):08x}')
    reg.append("")
    lines.append(f'{name}\t{service["state"]}\t{service["binaryPath"]}')
open(sys.argv[2], "w", newline="\r\n").write("\n".join(reg) + "\n")
open(sys.argv[3], "w").write("\n".join(lines) + "\n")
PY
    die "services.json of $root cannot be laid out under Wine"
  local state path running=() expected=
  while IFS=$'\t' read -r name state path; do
    if [ "${path,,}" != "${wine_paths[$name],,}" ]; then
      [ "$name" != W3SVC ] || die "W3SVC runs $path"
      wine_sc "$bits" config "$name" binPath= "$path"
      wine_paths[$name]=$path
    fi
    [ "$state" != 4 ] || running+=("$name")
    expected+="$name $state "
  done <"$work/services.txt"
  [ ${#running[@]} -eq 0 ] || probe_timeout=90 probe start "${running[@]}" >/dev/null
  # The knobs once the services run, as a service refusing its next start ran before.
  wine_regedit 64 "$work/knobs.reg"
  local states
  states=$(wine_states)
  [ "$states" = "$expected" ] || die "services of $root did not come up as in services.json: $states"
}

wine_cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1
  [ -z "${wine_hold_pid:-}" ] || kill "$wine_hold_pid" 2>/dev/null
  wine_hold_pid=
}
