#!/usr/bin/env python3
"""Prints which program folder includes which, and fails on a circle.

Every edge "a -> b" means a file in a/ includes "b/...". Edges inside a
circle must be listed in tools/include-cycles.allowed (the known ones, to be
cut); a new circle, or a listed edge that no longer exists, fails the check,
so the list can only shrink.
"""
import pathlib
import re
import subprocess
import sys

FOLDERS = ["device", "dsp", "settings", "acquisition", "discovery", "ui", "trend", "trendwindow", "app", "store", "measure",
           "scpi"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.M)

root = pathlib.Path(__file__).resolve().parent.parent
files = subprocess.run(["git", "ls-files", "--", *[f + "/" for f in FOLDERS]], cwd=root, check=True,
                       capture_output=True, text=True).stdout.split()
edges = {}
for name in files:
    if not name.endswith((".h", ".cpp", ".c")):
        continue
    src = name.split("/", 1)[0]
    for target in INCLUDE.findall((root / name).read_text(encoding="utf-8", errors="replace")):
        if target in FOLDERS and target != src:
            edges.setdefault((src, target), []).append(name)

graph = {f: {b for (a, b) in edges if a == f} for f in FOLDERS}

# Strongly connected components (Tarjan): every edge inside one with more than
# one folder lies on a circle.
index, low, stack, on, comps = {}, {}, [], set(), []
def visit(v):
    index[v] = low[v] = len(index)
    stack.append(v); on.add(v)
    for w in graph[v]:
        if w not in index:
            visit(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        comp = set()
        while True:
            w = stack.pop(); on.discard(w); comp.add(w)
            if w == v:
                break
        comps.append(comp)
for f in FOLDERS:
    if f not in index:
        visit(f)
component = {f: i for i, c in enumerate(comps) for f in c}

for f in FOLDERS:
    print(f"{f:12} -> {', '.join(sorted(graph[f])) or '-'}")
circular = sorted(e for e in edges if component[e[0]] == component[e[1]])
allowed_file = root / "tools" / "include-cycles.allowed"
allowed = set()
if allowed_file.exists():
    for line in allowed_file.read_text().splitlines():
        line = line.split("#", 1)[0].split()
        if len(line) == 3 and line[1] == "->":
            allowed.add((line[0], line[2]))
failed = False
for e in circular:
    mark = "known" if e in allowed else "NEW"
    failed |= e not in allowed
    print(f"circle edge ({mark}): {e[0]} -> {e[1]}  e.g. {edges[e][0]}")
for e in sorted(allowed - set(circular)):
    print(f"listed circle edge gone, remove it from {allowed_file.name}: {e[0]} -> {e[1]}")
    failed = True
if not circular:
    print("no circle between folders")
sys.exit(1 if failed else 0)
