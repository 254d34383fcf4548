#!/usr/bin/env python3
"""Compares the end of one end-to-end run with its recorded golden file.

usage: golden.py NAME SNAPSHOT OUTPUT ROOT GOLDEN_DIR

The end of a run is the headless snapshot, the lines the headless run printed (without
its timing line) and the machine root afterwards: the SHA-256 of every file the tool
may have touched, every row of the two databases and the service manager's file. With
OST_GOLDEN_UPDATE=1 the golden file is written instead of compared; that is done on
purpose only, when a change of behaviour is meant.
"""
import difflib
import hashlib
import json
import os
import re
import sqlite3
import sys

# Inputs of the run, or files whose content names this run's ports and folders.
SKIPPED_DIRS = {"host", "odbc"}
SKIPPED_FILES = {"http.log", "services.log"}
# The run's journal: its lines carry the time of day.
JOURNAL = re.compile(r"^program/OstServerUpdate\.log(\.\d)?$")


# When a row was written: the clock, not the tool.
TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(\.\d+)?$")


def plain(value):
    return "TIMESTAMP" if isinstance(value, str) and TIMESTAMP.match(value) else value


def database_rows(path):
    connection = sqlite3.connect(path)
    try:
        tables = [name for (name,) in connection.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")]
        dump = {}
        for table in tables:
            rows = connection.execute(f'SELECT * FROM "{table}"').fetchall()
            dump[table] = sorted(json.dumps([plain(v) for v in row], ensure_ascii=False) for row in rows)
        return dump
    finally:
        connection.close()


# A backup folder is named after its run, which the clock and chance name.
BACKUP = re.compile(r"^program/backup/([^/]+)/(.+)$")


def backup_record(path):
    with open(path, encoding="utf-8") as f:
        record = json.load(f)
    record["run"] = "RUN"
    if record.get("rolledBack"):
        record["rolledBack"] = "TIMESTAMP"
    return record


def machine_state(root):
    state = {}
    for folder, dirs, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        if relative == ".":
            dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS)
        else:
            dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            key = os.path.normpath(os.path.join(relative, name))
            if os.path.islink(path):
                # Where it points names this run's folders; that it is a link is enough.
                state[key] = "link"
                continue
            if key in SKIPPED_FILES or JOURNAL.match(key):
                continue
            backup = BACKUP.match(key)
            if backup:
                key = "program/backup/RUN/" + backup.group(2)
                if backup.group(2) == "backup.json":
                    state[key] = backup_record(path)
                    continue
            if key.startswith("db/") and name.endswith(".sqlite"):
                state[key] = database_rows(path)
            elif key == "services.json":
                with open(path, encoding="utf-8") as f:
                    state[key] = json.load(f)
            elif key == "registry.reg":
                with open(path, "rb") as f:
                    text = re.sub(rb"127\.0\.0\.1:\d+", b"127.0.0.1:PORT", f.read())
                # A signing key made for this run.
                text = re.sub(rb'"UpdateKey"="ecdsa-p256:[0-9a-f]+"', b'"UpdateKey"="KEY"', text)
                state[key] = hashlib.sha256(text).hexdigest()
            else:
                with open(path, "rb") as f:
                    state[key] = hashlib.sha256(f.read()).hexdigest()
    return state


def printed_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as f:
        return [line.rstrip("\n") for line in f if not line.startswith("time | ")]


def main():
    name, snapshot, output, root, golden_dir = sys.argv[1:6]
    with open(snapshot, encoding="utf-8") as f:
        snap = json.load(f)
    actual = {"snapshot": snap, "printed": printed_lines(output), "machine": machine_state(root)}
    text = json.dumps(actual, ensure_ascii=False, indent=1, sort_keys=True) + "\n"
    # Host paths the run was given name this run's temporary folder.
    text = text.replace(os.path.dirname(os.path.abspath(root)), "WORK")
    golden = os.path.join(golden_dir, name + ".json")
    if os.environ.get("OST_GOLDEN_UPDATE") == "1":
        os.makedirs(golden_dir, exist_ok=True)
        with open(golden, "w", encoding="utf-8") as f:
            f.write(text)
        return 0
    if not os.path.exists(golden):
        print(f"no golden file {golden} (record it with OST_GOLDEN_UPDATE=1)")
        return 1
    with open(golden, encoding="utf-8") as f:
        expected = f.read()
    if expected == text:
        return 0
    diff = difflib.unified_diff(expected.splitlines(), text.splitlines(), "golden", "this run",
                                lineterm="", n=2)
    print(f"{name}: differs from its golden file")
    for line in list(diff)[:80]:
        print("  " + line)
    return 1


if __name__ == "__main__":
    sys.exit(main())
