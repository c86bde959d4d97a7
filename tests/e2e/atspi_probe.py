#!/usr/bin/python3
"""Reads the accessibility tree of a running application over AT-SPI.

Usage: atspi_probe.py APP_NAME [--press ROLE:NAME] [--timeout S]

Prints one JSON object: {"found": bool, "pressed": bool|null, "nodes": [...]}
where each node is {"path": "0/3/1", "role", "name", "description",
"showing", "children"}. With --press, the first node of that role and name
gets its first action (for a push button: "Press") before the tree is read.
The run of the end-to-end suite uses it for what the keyboard cannot reach.
"""

import argparse
import json
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

MAX_NODES = 2000
MAX_DEPTH = 10


def find_app(name, timeout):
    deadline = time.monotonic() + timeout
    while True:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name:
                return app
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.2)


def walk(root):
    nodes = []
    stack = [(root, "", 0)]
    while stack and len(nodes) < MAX_NODES:
        node, path, depth = stack.pop()
        try:
            count = node.get_child_count()
        except Exception:  # a node that went away meanwhile
            continue
        children = []
        for i in range(count):
            try:
                child = node.get_child_at_index(i)
            except Exception:
                child = None
            if child is not None:
                children.append((child, f"{path}/{i}" if path else str(i), depth + 1))
        if node is not root:
            try:
                nodes.append({
                    "path": path,
                    "role": node.get_role_name(),
                    "name": node.get_name() or "",
                    "description": node.get_description() or "",
                    "showing": node.get_state_set().contains(Atspi.StateType.SHOWING),
                    "children": len(children),
                })
            except Exception:
                continue
        if depth < MAX_DEPTH:
            stack.extend(reversed(children))
    return nodes


def press(root, role, name):
    stack = [(root, 0)]
    while stack:
        node, depth = stack.pop()
        try:
            if node is not root and node.get_role_name() == role and node.get_name() == name:
                action = node.get_action_iface()
                return bool(action is not None and action.get_n_actions() > 0 and action.do_action(0))
            if depth < MAX_DEPTH:
                for i in range(node.get_child_count()):
                    child = node.get_child_at_index(i)
                    if child is not None:
                        stack.append((child, depth + 1))
        except Exception:
            continue
    return False


def main():
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    parser = argparse.ArgumentParser()
    parser.add_argument("app")
    parser.add_argument("--press")
    parser.add_argument("--timeout", type=float, default=15.0)
    args = parser.parse_args()
    app = find_app(args.app, args.timeout)
    result = {"found": app is not None, "pressed": None, "nodes": []}
    if app is not None:
        if args.press:
            role, _, name = args.press.partition(":")
            result["pressed"] = press(app, role, name)
            time.sleep(0.5)
        result["nodes"] = walk(app)
    json.dump(result, sys.stdout, ensure_ascii=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
