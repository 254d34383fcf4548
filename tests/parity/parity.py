#!/usr/bin/env python3
"""The parity harness's descriptions and comparisons (tests/parity/run.sh drives it).

  parity.py names SCENARIOS [all]
      the scenarios' names, one a line (those marked extra only with "all")
  parity.py layout SCENARIOS NAME DIR SANDBOX WINSVC PORT PORT2
      lays out DIR/template, the machine root both builds start from: ost-sandbox init
      and publish as described, the service programs real Windows programs (the stand-in
      service program with the marker the Linux stand-in's components hold); prints the
      run's settings as shell assignments
  parity.py selfcheck SCENARIOS NAME DIR
      compares once more with the Windows run's end spoiled in three places (a row's
      colour in the snapshot, a database row, a file's byte): passes when the comparison
      names all three
  parity.py compare SCENARIOS NAME DIR
      compares the Linux run (DIR/linux*) with the Windows run (DIR/windows*): exit
      status, snapshot field by field, printed lines, requests to the update hosts, and
      the machine root afterwards (files, database rows, service states)
"""
import hashlib
import json
import os
import re
import shlex
import sqlite3
import subprocess
import sys

# The machine root's databases and backup records are read as the golden files read them.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from golden import backup_record, database_rows  # noqa: E402

# Service components: the key ost-sandbox takes, the program's file name.
SERVICE_PROGRAMS = {"Server": "CSOstraServer.exe", "Agent": "CSOstraAgent.exe",
                    "Message": "CSOstraMessage.exe", "Tuyom": "CSTuyoMess.exe"}
MARKER = re.compile(rb"^MZ sandbox component (\S+) update (\d+)\n?$")

# What differs between the two runs by the nature of the platforms, not by what the
# tool does; each with its reason. Paths are relative to the machine root.
PLATFORM_DIFFERENCES = {
    "program/OstServerUpdate.exe":
        "the Windows executable runs from the tool's folder, as it is installed; the "
        "Linux build runs from its build folder",
    "drives/c/OSTRA/ost-winsvc.log":
        "the log of the Windows stand-in service program (its starts and stops); the "
        "Linux stand-in has no programs that run",
    "services.json":
        "the Linux stand-in's service manager; under Wine the service manager is Wine's, "
        "and the services' states are compared instead",
    "services.log":
        "the Linux stand-in's log of every state its services took, for the downtime "
        "benchmark; Wine's service manager keeps none",
    "program/OstServerUpdate.log":
        "the run's journal: its lines carry the times, the run id, the machine's name and "
        "each platform's own paths; what it records is the run compared here",
}
# A backup's folder is named after its run: compared under one name, with the run id
# in its record left out.
BACKUP = re.compile(r"^program/backup/[^/]+/")
# Inputs of the run, the same in both roots and not the tool's to change.
INPUT_DIRS = {"host", "odbc"}


def scenario(path, name):
    with open(path, encoding="utf-8") as f:
        for entry in json.load(f)["scenarios"]:
            if entry["name"] == name:
                return entry
    sys.exit(f"no scenario {name} in {path}")


def service_program(winsvc, file_name, number):
    with open(winsvc, "rb") as f:
        image = f.read()
    return image + b"\nMZ sandbox component " + file_name.encode() + b" update " + \
        str(number).encode() + b"\n"


def layout(path, name, folder, sandbox, winsvc, port, port2):
    entry = scenario(path, name)
    template = os.path.join(folder, "template")
    subprocess.run([sandbox, "init", template, "--update-host", f"127.0.0.1:{port}",
                    "--update-host2", f"127.0.0.1:{port2}"] + entry["init"],
                   check=True, stdout=subprocess.DEVNULL)
    # The installed service programs: the ones the Linux stand-in lays out hold only
    # their marker; Windows must be able to run them.
    programs = os.path.join(template, "drives", "c", "OSTRA")
    for file_name in sorted(os.listdir(programs)):
        file_path = os.path.join(programs, file_name)
        with open(file_path, "rb") as f:
            found = MARKER.match(f.read())
        if found:
            with open(file_path, "wb") as f:
                f.write(service_program(winsvc, found.group(1).decode(), found.group(2).decode()))
    # Published service programs likewise: --component KEY=N of a service becomes a
    # release entry whose content is that program.
    options, release, rest = entry["publish"], {"components": {}}, []
    i = 0
    while i < len(options):
        if options[i] == "--component" and options[i + 1].split("=")[0] in SERVICE_PROGRAMS:
            key, number = options[i + 1].split("=")
            content = os.path.join(folder, f"{key}-{number}.exe")
            with open(content, "wb") as f:
                f.write(service_program(winsvc, SERVICE_PROGRAMS[key], number))
            release["components"][key] = {"version": int(number), "contentFile": content}
            i += 2
            continue
        rest.append(options[i])
        i += 1
    release_file = os.path.join(folder, "release.json")
    with open(release_file, "w", encoding="utf-8") as f:
        json.dump(release, f)
    subprocess.run([sandbox, "publish", template, "--release", release_file] + rest,
                   check=True, stdout=subprocess.DEVNULL)
    os.makedirs(os.path.join(template, "host"), exist_ok=True)
    print("run_args=(" + " ".join(shlex.quote(a) for a in entry["run"]) + ")")
    print("faults=(" + " ".join(shlex.quote(a) for a in entry.get("faults", [])) + ")")
    print(f"expected_status={entry['status']}")


# --- comparison -------------------------------------------------------------------


def machine(root):
    state = {}
    for folder, dirs, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        if relative == ".":
            dirs[:] = [d for d in dirs if d not in INPUT_DIRS]
        for name in files:
            key = os.path.normpath(os.path.join(relative, name))
            if key in PLATFORM_DIFFERENCES:
                continue
            path = os.path.join(folder, name)
            key = BACKUP.sub("program/backup/RUN/", key)
            if key.startswith("db") and name.endswith(".sqlite"):
                state[key] = database_rows(path)
            elif key == "program/backup/RUN/backup.json":
                state[key] = backup_record(path)
            else:
                with open(path, "rb") as f:
                    state[key] = hashlib.sha256(f.read()).hexdigest()
    return state


def lines(path):
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        text = f.read().replace("\r\n", "\n")
    return [line for line in text.split("\n") if line and not line.startswith("time | ")]


def diff_values(where, a, b, out):
    """Appends "where: linux ... / windows ..." for every field that differs."""
    if isinstance(a, dict) and isinstance(b, dict):
        for key in sorted(set(a) | set(b)):
            diff_values(f"{where}.{key}" if where else key, a.get(key, "<absent>"),
                        b.get(key, "<absent>"), out)
    elif isinstance(a, list) and isinstance(b, list) and not (
            a and not isinstance(a[0], (dict, list))):
        for i in range(max(len(a), len(b))):
            diff_values(f"{where}[{i}]", a[i] if i < len(a) else "<absent>",
                        b[i] if i < len(b) else "<absent>", out)
    elif a != b:
        out.append(f"{where}: linux {json.dumps(a, ensure_ascii=False)}"
                   f" / windows {json.dumps(b, ensure_ascii=False)}")


def read(path, default=""):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read().strip()
    except OSError:
        return default


def compare(path, name, folder):
    entry = scenario(path, name)
    problems = []
    at = lambda build, what: os.path.join(folder, f"{build}{what}")
    status = {b: read(at(b, ".status"), "none") for b in ("linux", "windows")}
    for build in ("linux", "windows"):
        if status[build] != str(entry["status"]):
            problems.append(f"{build} exit status {status[build]}, expected {entry['status']}")

    snapshots = {}
    for build in ("linux", "windows"):
        try:
            with open(at(build, ".json"), encoding="utf-8") as f:
                snapshots[build] = json.load(f)
        except (OSError, ValueError) as e:
            problems.append(f"{build}: no snapshot ({e})")
    if len(snapshots) == 2:
        diff_values("snapshot", snapshots["linux"], snapshots["windows"], problems)

    printed = {b: lines(at(b, ".out")) for b in ("linux", "windows")}
    if printed["linux"] != printed["windows"]:
        import difflib
        problems.append("printed lines differ:")
        problems += ["    " + l for l in difflib.unified_diff(
            printed["linux"], printed["windows"], "linux", "windows", lineterm="", n=1)][:40]

    requests = {b: read(at(b, ".requests")).splitlines() for b in ("linux", "windows")}
    if requests["linux"] != requests["windows"]:
        problems.append(f"requests to the update hosts: linux {requests['linux']}"
                        f" / windows {requests['windows']}")

    roots = {b: machine(os.path.join(folder, b)) for b in ("linux", "windows")}
    diff_values("root", roots["linux"], roots["windows"], problems)

    with open(os.path.join(folder, "linux", "services.json"), encoding="utf-8") as f:
        linux_states = {k: v["state"] for k, v in json.load(f)["services"].items()}
    words = read(at("windows", ".states")).split()
    windows_states = {words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)}
    diff_values("services", linux_states, windows_states, problems)

    if problems:
        print(f"FAIL: {name}: the builds differ")
        for problem in problems:
            print("  " + problem)
        return 1
    rows = len(snapshots["linux"]["rows"])
    print(f"ok: {name}: status {status['linux']}, {rows} rows, "
          f"{len(printed['linux'])} lines, {len(roots['linux'])} files and databases, "
          f"{len(requests['linux'])} requests alike")
    return 0


def selfcheck(path, name, folder):
    import contextlib
    import io
    import shutil
    spoiled = folder + "-spoiled"
    shutil.rmtree(spoiled, ignore_errors=True)
    os.makedirs(spoiled)
    for entry in os.listdir(folder):
        source = os.path.join(folder, entry)
        if entry.startswith("linux"):
            os.symlink(source, os.path.join(spoiled, entry))
        elif entry.startswith("windows") and os.path.isdir(source):
            shutil.copytree(source, os.path.join(spoiled, entry), symlinks=True)
        elif entry.startswith("windows"):
            shutil.copy2(source, os.path.join(spoiled, entry))
    with open(os.path.join(spoiled, "windows.json"), encoding="utf-8") as f:
        snapshot = json.load(f)
    snapshot["rows"][-1]["text"] = [1, 2, 3]
    with open(os.path.join(spoiled, "windows.json"), "w", encoding="utf-8") as f:
        json.dump(snapshot, f)
    connection = sqlite3.connect(os.path.join(spoiled, "windows", "db", "ostra.sqlite"))
    connection.execute("UPDATE sys_version SET cversion = cversion || 'x' WHERE rowid = 1")
    connection.commit()
    connection.close()
    with open(os.path.join(spoiled, "windows", "drives", "c", "OSTRA", "CSTuyoMess.exe"), "ab") as f:
        f.write(b"!")
    report = io.StringIO()
    with contextlib.redirect_stdout(report):
        status = compare(path, name, spoiled)
    text = report.getvalue()
    shutil.rmtree(spoiled)
    named = [where for where in ("snapshot.rows[", "root.db/ostra.sqlite.sys_version",
                                 "root.drives/c/OSTRA/CSTuyoMess.exe") if where in text]
    if status == 0 or len(named) != 3:
        print(f"FAIL: the comparison does not see a spoiled end (it named {named}):")
        print(text, end="")
        return 1
    print(f"ok: the comparison names a spoiled snapshot row, database row and file")
    return 0


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "names":
        with open(path, encoding="utf-8") as f:
            for entry in json.load(f)["scenarios"]:
                if not entry.get("extra") or sys.argv[3:] == ["all"]:
                    print(entry["name"])
        return 0
    if command == "layout":
        layout(path, *sys.argv[3:9])
        return 0
    if command == "compare":
        return compare(path, sys.argv[3], sys.argv[4])
    if command == "selfcheck":
        return selfcheck(path, sys.argv[3], sys.argv[4])
    if command == "differences":
        for key, reason in PLATFORM_DIFFERENCES.items():
            print(f"  {key}: {reason}")
        return 0
    sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    sys.exit(main())
