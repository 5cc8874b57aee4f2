#!/usr/bin/python3
"""Reads the station window's tiles over the accessibility bus, as a screen
reader would: prints "NAME: DESCRIPTION" for each port named on the command
line, once every one of them says START (or after TIMEOUT seconds).

usage: read_tiles.py TIMEOUT START PORT...
"""
import sys
import time

import pyatspi


def tiles(node, names, found):
    """Every accessible under node whose name is one of names."""
    try:
        # The port list names the ports too; a tile also says its state.
        if node.name in names and node.description:
            found[node.name] = node.description
        for child in node:
            tiles(child, names, found)
    except Exception:  # a node that went away while being walked
        pass
    return found


def main():
    timeout, start, names = float(sys.argv[1]), sys.argv[2], sys.argv[3:]
    deadline = time.monotonic() + timeout
    found = {}
    while time.monotonic() < deadline:
        found = {}
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "isp-station":
                tiles(app, set(names), found)
        if len(found) == len(names) and all(d.startswith(start) for d in found.values()):
            break
        time.sleep(0.5)
    for name in names:
        print(f"{name}: {found.get(name, '(no such tile on the bus)')}")
    return 0 if len(found) == len(names) and all(d.startswith(start) for d in found.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
