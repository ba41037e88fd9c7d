#!/usr/bin/env python3
"""Checks the include directions between the folders of src/.

The allowed directions are the table in docs/ARCHITECTURE.md (the block that
starts with "allowed includes"): each line names a folder (or main.cpp) and
the folders it may include; "everything" allows every folder. An include of
a folder its line does not name fails with the file and line, and so does any
include cycle between folders. The folder dependencies found are listed.

Exit status 1 on a forbidden include or a cycle."""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.normpath(os.path.join(here, "..", "src"))
doc = os.path.normpath(os.path.join(here, "..", "docs", "ARCHITECTURE.md"))
inc = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')


def allowed_table():
    """The table of docs/ARCHITECTURE.md: {folder: set of folders or None for all}."""
    table = {}
    inside = False
    with open(doc, encoding="utf-8") as f:
        for line in f:
            text = line.strip()
            if not inside:
                inside = text.startswith("allowed includes")
                continue
            if text.startswith("```"):
                break
            if not text:
                continue
            left, arrow, right = text.partition("->")
            if not arrow:
                sys.exit(f"{doc}: line without '->' in the table: {text}")
            targets = right.split()
            table[left.strip()] = None if targets == ["everything"] else set(targets)
    if not table:
        sys.exit(f"{doc}: no 'allowed includes' table")
    return table


table = allowed_table()
folders = sorted(d for d in os.listdir(root) if os.path.isdir(os.path.join(root, d)))
deps = {}
bad = False


def check(source, unit, path):
    global bad
    found = deps.setdefault(unit, set())
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            m = inc.match(line)
            if not m or m.group(1) == unit or m.group(1) not in folders:
                continue
            target = m.group(1)
            found.add(target)
            if unit not in table:
                print(f"{source}:{number}: {unit}/ has no line in the table of docs/ARCHITECTURE.md")
                bad = True
            elif table[unit] is not None and target not in table[unit]:
                print(f"{source}:{number}: {unit}/ may not include {target}/ (docs/ARCHITECTURE.md)")
                bad = True


for name in sorted(os.listdir(root)):
    if name.endswith((".h", ".cpp")):
        check(f"src/{name}", name, os.path.join(root, name))
for folder in folders:
    for dirpath, _, files in os.walk(os.path.join(root, folder)):
        for name in sorted(files):
            if name.endswith((".h", ".cpp")):
                path = os.path.join(dirpath, name)
                check(os.path.relpath(path, os.path.dirname(root)), folder, path)

for unit, found in deps.items():
    print(f"{unit} -> {' '.join(sorted(found))}")


def cycle_from(start):
    stack = [(start, [start])]
    while stack:
        node, trail = stack.pop()
        for nxt in sorted(deps.get(node, ())):
            if nxt == start:
                return trail + [start]
            if nxt not in trail:
                stack.append((nxt, trail + [nxt]))
    return None


for folder in folders:
    c = cycle_from(folder)
    if c:
        print("cycle: " + " -> ".join(c))
        bad = True
        break
print("forbidden include or cycle" if bad else "every include points the allowed way; no cycle")
sys.exit(1 if bad else 0)
