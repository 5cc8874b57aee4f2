#!/usr/bin/python3
"""Reads the station window's tiles over the accessibility bus, as a screen
reader would: prints "NAME: DESCRIPTION" for each port named on the command
line, once every one of them says START (or after TIMEOUT seconds).

usage: read_tiles.py TIMEOUT START PORT...
       read_tiles.py --setup TITLE [BUTTON]

--setup: the set-up's fields and buttons as shown in the window titled
TITLE (waiting up to 30 s for it): "edit", "read-only" or "editable" and
the field's name; "button" and its label. Then BUTTON, when given, is
pressed: the button whose label starts so.
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


def setup(node, out, press):
    """Every field and button shown under node; the button press pressed."""
    try:
        states = node.getState()
        if states.contains(pyatspi.STATE_SHOWING):
            role = node.getRole()
            if role in (pyatspi.ROLE_TEXT, pyatspi.ROLE_SPIN_BUTTON):
                editable = states.contains(pyatspi.STATE_EDITABLE) and not states.contains(pyatspi.STATE_READ_ONLY)
                out.append(f"edit\t{'editable' if editable else 'read-only'}\t{node.name}")
            elif role == pyatspi.ROLE_PUSH_BUTTON:
                out.append(f"button\t{node.name}")
                if press and node.name.startswith(press):
                    node.queryAction().doAction(0)
        for child in node:
            setup(child, out, press)
    except Exception:  # a node that went away while being walked
        pass
    return out


def window(title):
    """The station window titled so, once it is on the bus."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            for w in app or []:
                if app.name == "isp-station" and w.name == title:
                    return w
        time.sleep(0.5)
    return None


def main():
    if sys.argv[1] == "--setup":
        found = window(sys.argv[2])
        if found is None:
            return 1
        print("\n".join(setup(found, [], sys.argv[3] if len(sys.argv) > 3 else None)))
        return 0
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
