#!/usr/bin/python3
"""Share of a window's visible texts that an outline holds.

Walks the focused window of the application with the given pid as a plain
reference (names, Text contents and values of VISIBLE and SHOWING objects),
then looks each text up in the outline (the .txt file that --debug-capture
writes) and prints the share found and the missing texts.

    /usr/bin/python3 bench/ax/outline_coverage.py PID OUTLINE.txt [--all]

--all also takes objects that are VISIBLE but not SHOWING (web documents keep
scrolled-away content). The walk is bounded so that a million-row table does
not hang it: it reads at most MAX_CHILDREN children per object.
"""

import argparse
import re
import sys

import pyatspi

MAX_CHILDREN = 400
MAX_NODES = 20000
MAX_TEXT = 4000


def normalized(text):
    return re.sub(r"\s+", " ", text.replace("\u00a0", " ")).strip()


def focused_window(app):
    windows = []
    for index in range(app.childCount):
        child = app.getChildAtIndex(index)
        if child is not None:
            windows.append(child)
    for window in windows:
        if window.getState().contains(pyatspi.STATE_ACTIVE):
            return window
    showing = [w for w in windows if w.getState().contains(pyatspi.STATE_SHOWING)]
    return (showing or windows or [None])[0]


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def own_texts(node):
    texts = []
    try:
        if node.name:
            texts.append(node.name)
    except Exception:
        pass
    interfaces = pyatspi.listInterfaces(node)
    if "Text" in interfaces:
        try:
            text = node.queryText()
            texts.extend(text.getText(0, min(text.characterCount, MAX_TEXT)).split("\n"))
        except Exception:
            pass
    if "Value" in interfaces:
        try:
            texts.append("%g" % node.queryValue().currentValue)
        except Exception:
            pass
    return texts


def reference_texts(window, keep_hidden):
    found = []
    stack = [window]
    visited = 0
    while stack and visited < MAX_NODES:
        node = stack.pop()
        visited += 1
        try:
            state = node.getState()
        except Exception:
            continue
        if not state.contains(pyatspi.STATE_VISIBLE):
            continue
        if not keep_hidden and not state.contains(pyatspi.STATE_SHOWING):
            continue
        found.extend(own_texts(node))
        try:
            count = min(node.childCount, MAX_CHILDREN)
        except Exception:
            continue
        children = []
        for index in range(count):
            try:
                child = node.getChildAtIndex(index)
            except Exception:
                child = None
            if child is not None:
                children.append(child)
        stack.extend(reversed(children))
    unique = []
    seen = set()
    for text in map(normalized, found):
        # Lone characters and digits match anywhere: they say nothing.
        if len(text) < 2 or text in seen:
            continue
        seen.add(text)
        unique.append(text)
    return unique


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("pid", type=int)
    parser.add_argument("outline")
    parser.add_argument("--all", action="store_true", help="keep VISIBLE but not SHOWING objects")
    args = parser.parse_args()

    app = application(args.pid)
    if app is None:
        sys.exit("no application with pid %d on the accessibility bus" % args.pid)
    window = focused_window(app)
    if window is None:
        sys.exit("the application has no window")
    with open(args.outline, encoding="utf-8", errors="replace") as file:
        outline = normalized(file.read())

    texts = reference_texts(window, args.all)
    missing = [text for text in texts if text not in outline]
    share = 1.0 if not texts else (len(texts) - len(missing)) / len(texts)
    print("window: %s" % window.name)
    print("coverage: %.2f (%d of %d texts)" % (share, len(texts) - len(missing), len(texts)))
    for text in missing:
        print("missing: %s" % (text if len(text) <= 120 else text[:117] + "..."))


if __name__ == "__main__":
    main()
