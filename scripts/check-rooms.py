#!/usr/bin/env python3
"""Fails on an include that the room table of docs/architecture.md does not allow.

Usage: check-rooms.py [repository root]. Reads the table under "## Rooms"
(rows "| `room/` | what | may include |"), then every .cpp and .h of every
room it names: an include of another room's file must be one that room's row
allows. A bare "resource.h" is the res/ room's. tests/ and bench/ include
what they test. Exit 1 with one line per offending include; 0 otherwise.
"""
import os
import re
import subprocess
import sys

ROW = re.compile(r"^\|\s*`([a-z_/]+)/`\s*\|.*\|\s*([^|]*?)\s*\|\s*$")
ROOM_NAME = re.compile(r"`([a-z_/]+)/`")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table(root):
    """{room: set of rooms it may include}, from the Rooms section."""
    table = {}
    in_rooms = False
    with open(os.path.join(root, "docs", "architecture.md"), encoding="utf-8") as doc:
        for line in doc:
            if line.startswith("## "):
                in_rooms = line.strip() == "## Rooms"
                continue
            m = ROW.match(line) if in_rooms else None
            if m:
                table[m.group(1)] = set(ROOM_NAME.findall(m.group(2)))
    return table


def room_of_path(path, rooms):
    """The longest room that holds path (tools/agent before tools)."""
    best = None
    for room in rooms:
        if path == room or path.startswith(room + "/"):
            if best is None or len(room) > len(best):
                best = room
    return best


def included_room(source, target, root, rooms):
    """The room of an include's target, or None when it is the source's own or unknown."""
    if "/" not in target:
        if os.path.exists(os.path.join(root, os.path.dirname(source), target)):
            return None
        if os.path.exists(os.path.join(root, "res", target)):
            return "res"
        return None
    room = room_of_path(target, rooms)
    if room is None and os.path.isdir(os.path.join(root, target.split("/")[0])):
        return target.split("/")[0]  # tests/, bench/...: no room may include them
    return room


def sources(root):
    listed = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard"],
                            capture_output=True, text=True, check=True).stdout.split()
    return [f for f in listed if f.endswith((".cpp", ".h", ".c", ".rc"))]


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.getcwd()
    table = read_table(root)
    if not table:
        print("check-rooms: no room table under '## Rooms' in docs/architecture.md")
        return 1
    rooms = set(table)
    faults = []
    for source in sources(root):
        own = room_of_path(source, rooms)
        if own is None or not os.path.exists(os.path.join(root, source)):
            continue
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = included_room(source, m.group(1), root, rooms)
                if target is None or target == own or target in table[own]:
                    continue
                faults.append(f"{source}:{number}: {own}/ may not include {m.group(1)} ({target}/)")
    for fault in faults:
        print(fault)
    print(f"check-rooms: {len(rooms)} rooms, {len(faults)} includes against the table")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
