#!/usr/bin/env python3
"""Lists which folders of src/ include which, and any include cycle between them.

Exit status 1 when a cycle exists or when a folder other than app/ includes app/."""
import os
import re
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
inc = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')
deps = {}
for folder in sorted(os.listdir(root)):
    path = os.path.join(root, folder)
    if not os.path.isdir(path):
        continue
    found = set()
    for dirpath, _, files in os.walk(path):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                for line in f:
                    m = inc.match(line)
                    if m and m.group(1) != folder and os.path.isdir(os.path.join(root, m.group(1))):
                        found.add(m.group(1))
    deps[folder] = found

for folder, found in deps.items():
    print(f"{folder} -> {' '.join(sorted(found))}")

bad = False
for folder, found in deps.items():
    if "app" in found:
        print(f"error: {folder} includes app/")
        bad = True


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


for folder in deps:
    c = cycle_from(folder)
    if c:
        print("cycle: " + " -> ".join(c))
        bad = True
        break
if not bad:
    print("no cycle")
sys.exit(1 if bad else 0)
