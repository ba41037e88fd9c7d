#!/usr/bin/env python3
"""Keeps the older names of docs/NAMES.md out of src/.

docs/NAMES.md is a two-line header and then one line per name, sorted,
exactly "old_name -> NewName". Each old name used again as an identifier in
a source file of src/ (string literals and comments do not count) fails with
the file and line; so does a line of the list out of format or out of order.
Exit status 1 on any."""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.normpath(os.path.join(here, ".."))
entry = re.compile(r"^([A-Za-z][A-Za-z0-9_]*) -> ([A-Za-z_][A-Za-z0-9_]*(::[A-Za-z_][A-Za-z0-9_]*)*)$")


def code_only(text):
    """The text with comments, string and character literals blanked out
    (line breaks kept, so that line numbers stay)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(" ")
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


bad = 0
names = set()
with open(os.path.join(repo, "docs", "NAMES.md"), encoding="utf-8") as f:
    lines = f.read().split("\n")
body = [(number, line) for number, line in enumerate(lines, 1) if number > 2 and line.strip()]
previous = ""
for number, line in body:
    m = entry.match(line)
    if not m:
        print(f"docs/NAMES.md:{number}: not 'old_name -> NewName': {line}")
        bad += 1
        continue
    if line <= previous:
        print(f"docs/NAMES.md:{number}: out of order or repeated: {line}")
        bad += 1
    previous = line
    names.add(m.group(1))

if names:
    word = re.compile(r"\b(" + "|".join(sorted(names)) + r")\b")
    src = os.path.join(repo, "src")
    for dirpath, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8") as f:
                code = code_only(f.read())
            for number, line in enumerate(code.split("\n"), 1):
                for m in word.finditer(line):
                    print(f"{os.path.relpath(path, repo)}:{number}: '{m.group(1)}' is an older name (docs/NAMES.md)")
                    bad += 1
print(f"{len(names)} older names, {bad} problems")
sys.exit(1 if bad else 0)
