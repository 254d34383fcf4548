#!/usr/bin/env bash
# The tool's SQL runner (through unixODBC and the stand-in driver) against the sqlite3
# shell running the same statements on a copy of the same database, same run.
# Twice: autocommit, as documented, and each side in one transaction (ScriptTransaction = 1
# for the tool, BEGIN and COMMIT around the shell's statements).
# Usage: bench/sql_runner.sh [BUILD_DIR] [BATCHES]
set -euo pipefail
build=${1:-build/linux}
batches=${2:-2000}
# On a memory file system fsync costs nothing, so the figures compare the work each
# side does rather than the disk's flush latency.
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/ost-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/sandbox/ost-sandbox" init "$work/m" >/dev/null
python3 - "$batches" "$work" <<'PY'
import sys
n, work = int(sys.argv[1]), sys.argv[2]
rows = [f"INSERT INTO ostra.dbo.sys_dict (dcname, dcvalue) VALUES ('bench{i}', 'value {i}')" for i in range(n)]
open(f"{work}/script.sql", "w", newline="").write("".join(r + "\r\nGO\r\n" for r in rows))
open(f"{work}/shell.sql", "w").write("".join(r.replace("ostra.dbo.", "") + ";\n" for r in rows))
open(f"{work}/shell-tx.sql", "w").write("BEGIN;\n" + "".join(r.replace("ostra.dbo.", "") + ";\n" for r in rows) + "COMMIT;\n")
PY
cp "$work/m/db/ostra.sqlite" "$work/pristine.sqlite"
python3 - "$build/bench/ost-sql-bench" "$work" "$batches" <<'PY'
import shutil, subprocess, sys, time
tool, work, n = sys.argv[1], sys.argv[2], sys.argv[3]
for mode, shell_script, extra in (("autocommit", "shell.sql", []),
                                  ("one transaction", "shell-tx.sql", ["--transaction"])):
    shell_times, runner_times, status = [], [], ""
    for _ in range(3):
        shutil.copy(f"{work}/pristine.sqlite", f"{work}/shell.sqlite")
        start = time.perf_counter()
        subprocess.run(["sqlite3", f"{work}/shell.sqlite"], stdin=open(f"{work}/{shell_script}"),
                       check=True)
        shell_times.append(time.perf_counter() - start)
        shutil.copy(f"{work}/pristine.sqlite", f"{work}/m/db/ostra.sqlite")
        out = subprocess.run([tool, f"{work}/m", f"{work}/script.sql"] + extra, check=True,
                             capture_output=True, text=True).stdout
        status, _, seconds = out.strip().rpartition(" seconds ")
        runner_times.append(float(seconds))
    shell, runner = min(shell_times), min(runner_times)
    print(f"{n} batches, one INSERT each, {mode}, databases in {work.rsplit('/', 1)[0]}, best of 3")
    print(f"sqlite3 shell  {shell:.3f} s")
    print(f"SQL runner     {runner:.3f} s  ({status})")
    print(f"ratio runner/shell: {runner / shell:.2f}")
PY
