#!/usr/bin/env python3
"""Checks tests/mutants.txt against the sources: each mutant's text must occur
exactly once in its file, so that a renamed or reworded line shows up here at
once instead of in the next mutation run. Exit status 1 on any stale entry."""
import os
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
stale = 0
count = 0
with open(os.path.join(root, "tests", "mutants.txt"), encoding="utf-8") as f:
    for number, line in enumerate(f, 1):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 5:
            print(f"tests/mutants.txt:{number}: {len(fields)} campos, se esperan 5")
            stale += 1
            continue
        path, text, replacement = fields[0], fields[1], fields[2]
        count += 1
        try:
            with open(os.path.join(root, path), encoding="utf-8") as src:
                found = src.read().count(text)
        except OSError:
            found = -1
        if found != 1:
            where = "el archivo no existe" if found < 0 else f"aparece {found} veces"
            print(f"tests/mutants.txt:{number}: {path}: «{text}» {where}")
            stale += 1
        elif text == replacement:
            print(f"tests/mutants.txt:{number}: el reemplazo es igual al texto")
            stale += 1
print(f"{count} mutantes, {stale} desactualizados")
sys.exit(1 if stale else 0)
