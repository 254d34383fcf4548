#!/usr/bin/env python3
"""A whole update killed with SIGKILL at every point where it changes a file of the
machine root (each write, positioned write, truncation, rename, unlink and sync, as the
run itself makes them: a preloaded library counts them), then run again. Every point
must end updated, with the services running as before the killed run; with
ScriptTransaction no batch may be applied twice.

With --recover the update runs with AutoRollback and ScriptTransaction, and each killed
run is followed by --recover instead: every point must end exactly as before the run
(the product's files, update numbers, the script's rows, the services running), or, when
the run was killed after its database commit or after its record was removed, finished.

With --stage the update runs in the staged mode.

usage: kill_sweep.py [--recover] [--stage] OST-SERVER-UPDATE OST-SANDBOX KILL-AT-LIBRARY"""
import hashlib
import json
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import zlib

flags = [a for a in sys.argv[1:] if a in ("--recover", "--stage")]
recover_mode = "--recover" in flags
tool, sandbox, kill_at = (os.path.realpath(p) for p in sys.argv[1 + len(flags):4 + len(flags)])
asan = [line.split()[2] for line in subprocess.run(["ldd", tool], capture_output=True,
        text=True).stdout.splitlines() if "libasan" in line and len(line.split()) > 2]
preload = ":".join(asan + [kill_at])
work = tempfile.mkdtemp(prefix="ost-sweep-")
server = None

SCRIPT = ("UPDATE ostra.dbo.kill_counter SET n = n * 2\r\nGO\r\n"
          "INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81')\r\nGO\r\n")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def pristine(name, transaction, auto_rollback=False):
    """A machine root with its release published; the update host is shared."""
    root = os.path.join(work, name)
    subprocess.run([sandbox, "init", root, "--update-host", f"127.0.0.1:{port}",
                    "--update-host2", f"127.0.0.1:{port}"], check=True, capture_output=True)
    for value, wanted in (("ScriptTransaction", transaction), ("AutoRollback", auto_rollback)):
        if not wanted:
            continue
        with open(os.path.join(root, "registry.reg"), "rb") as f:
            data = f.read()
        key = b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA]"
        nl = b"\r\n" if b"\r\n" in data else b"\n"
        at = data.index(key) + len(key)
        data = data[:at] + nl + b'"%s"=dword:00000001' % value.encode() + data[at:]
        with open(os.path.join(root, "registry.reg"), "wb") as f:
            f.write(data)
    db = sqlite3.connect(os.path.join(root, "db", "ostra.sqlite"))
    db.execute("CREATE TABLE kill_counter (n INTEGER)")
    db.execute("INSERT INTO kill_counter VALUES (1002)")
    db.commit()
    db.close()
    return root


def run(root, env):
    merged = dict(os.environ, LD_PRELOAD=preload, OST_KILL_QUICK_SLEEP="1", **env)
    return subprocess.run([tool, "--root", root, "--headless", "--start", "--confirm", "yes"]
                          + (["--stage"] if "--stage" in flags else []),
                          env=merged, capture_output=True, text=True, timeout=120).returncode


def copy(source, target):
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target, symlinks=True, ignore=lambda d, n: ["host"] if d == source else [])


def state(root):
    def read(path):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            return f.read()
    db = sqlite3.connect(os.path.join(root, "db", "ostra.sqlite"))
    try:
        version = db.execute("SELECT MAX(cversion) FROM sys_version").fetchone()[0]
        numbers = dict(db.execute("SELECT ii, nn FROM sys_server_update WHERE ii IN (0, 2)"))
        counter = db.execute("SELECT n FROM kill_counter").fetchone()[0]
    finally:
        db.close()
    with open(os.path.join(root, "services.json"), encoding="utf-8") as f:
        services = {k: v["state"] for k, v in json.load(f)["services"].items()}
    files = {}
    for folder, _, names in os.walk(os.path.join(root, "drives")):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                files[os.path.relpath(os.path.join(folder, name), root)] = \
                    hashlib.sha256(f.read()).hexdigest()
    return {"files": files,"server": "update 12" in read("drives/c/OSTRA/CSOstraServer.exe"),
            "velin": "update 15" in read("drives/d/wwwroot/cgi-bin/Velin.dll"),
            "version": version, "numbers": numbers, "counter": counter, "services": services}


def sweep(name, transaction):
    source = pristine(name, transaction)
    services_before = state(source)["services"]
    counting = os.path.join(work, name + "-count")
    copy(source, counting)
    log = os.path.join(work, name + ".points")
    if run(counting, {"OST_KILL_ROOT": counting + "/", "OST_KILL_LOG": log}) != 0:
        sys.exit(f"{name}: the whole update did not finish cleanly")
    with open(log, encoding="utf-8") as f:
        points = [line.split(" ", 2)[1:] for line in f]
    shutil.rmtree(counting)
    figures = {"points": len(points), "killed": 0, "updated": 0, "twice": 0, "differing": []}
    target = os.path.join(work, name + "-point")
    for n in range(1, len(points) + 1):
        copy(source, target)
        killed = run(target, {"OST_KILL_ROOT": target + "/", "OST_KILL_AT": str(n)}) == -9
        figures["killed"] += killed
        status = run(target, {})
        end = state(target)
        wanted = (status == 0 and end["server"] and end["velin"] and end["version"] == "3.81"
                  and end["numbers"] == {0: 12, 2: 15} and end["services"] == services_before)
        if end["counter"] != 2004:
            figures["twice"] += 1
            if transaction:
                wanted = False
        if wanted and killed:
            figures["updated"] += 1
        else:
            figures["differing"].append(
                f"point {n} ({' '.join(points[n - 1]).strip()}): killed {killed}, "
                f"rerun exit {status}, {end}")
    shutil.rmtree(target, ignore_errors=True)
    return figures


def recover(root):
    done = subprocess.run([tool, "--root", root, "--recover"], capture_output=True, text=True,
                          timeout=120)
    return done.returncode, done.stdout


def sweep_recover(name):
    source = pristine(name, True, auto_rollback=True)
    before = state(source)
    counting = os.path.join(work, name + "-count")
    copy(source, counting)
    log = os.path.join(work, name + ".points")
    if run(counting, {"OST_KILL_ROOT": counting + "/", "OST_KILL_LOG": log}) != 0:
        sys.exit(f"{name}: the whole update did not finish cleanly")
    updated = state(counting)
    with open(log, encoding="utf-8") as f:
        points = [line.split(" ", 2)[1:] for line in f]
    shutil.rmtree(counting)
    figures = {"points": len(points), "killed": 0, "recovered": 0, "finished": 0,
               "differing": []}
    target = os.path.join(work, name + "-point")
    for n in range(1, len(points) + 1):
        copy(source, target)
        killed = run(target, {"OST_KILL_ROOT": target + "/", "OST_KILL_AT": str(n)}) == -9
        figures["killed"] += killed
        status, said = recover(target)
        end = state(target)
        again, _ = recover(target)
        left = os.path.exists(os.path.join(target, "program", "recovery", "run.json"))
        if killed and status == 0 and again == 0 and not left and end == before:
            figures["recovered"] += 1
        elif (killed and status == 0 and not left and end == updated
              and ("已提交数据库事务" in said or "没有需要恢复" in said)):
            # Killed after its commit (every change was made), or after its record went
            # (the run had ended): nothing is left to put back.
            figures["finished"] += 1
        else:
            figures["differing"].append(
                f"point {n} ({' '.join(points[n - 1]).strip()}): killed {killed}, "
                f"recover exit {status} {said.splitlines()[-1:]}, record left {left}, {end}")
    shutil.rmtree(target, ignore_errors=True)
    return figures


try:
    port = free_port()
    host = os.path.join(work, "host")
    root = pristine("publisher", False)
    subprocess.run([sandbox, "publish", root, "--ostra", "3.81", "--component", "Server=12",
                    "--component", "Velin=15"], check=True, capture_output=True)
    shutil.copytree(os.path.join(root, "host"), host)
    with open(os.path.join(host, "ostra/update1/sql/update381.sql.zip"), "wb") as f:
        f.write(zlib.compress(SCRIPT.encode()))
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind",
                               "127.0.0.1", "--directory", host],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            break
        except OSError:
            time.sleep(0.05)
    failed = False
    started = time.monotonic()
    if recover_mode:
        figures = sweep_recover("recover")
        print(f"recover: {figures['points']} points, {figures['killed']} killed, "
              f"{figures['recovered']} recovered to the state before the run, "
              f"{figures['finished']} finished (killed after the commit or the run's end), "
              f"{len(figures['differing'])} differing")
        for line in figures["differing"][:10]:
            print("  DIFFERS:", line)
        print(f"{time.monotonic() - started:.0f} s")
        sys.exit(1 if figures["points"] < 50 or figures["differing"] else 0)
    for name, transaction in (("plain", False), ("transaction", True)):
        figures = sweep(name, transaction)
        print(f"{name}: {figures['points']} points, {figures['killed']} killed, "
              f"{figures['updated']} updated with the services as before, "
              f"{figures['twice']} with a batch applied twice")
        for line in figures["differing"][:10]:
            print("  DIFFERS:", line)
        # Too few points would mean the library no longer sees the run's changes.
        if figures["points"] < 50 or figures["differing"]:
            failed = True
    print(f"{time.monotonic() - started:.0f} s")
    sys.exit(1 if failed else 0)
finally:
    if server:
        server.kill()
    shutil.rmtree(work, ignore_errors=True)
