#!/usr/bin/env python3
"""Prints which program folder includes which, and fails on a circle between
folders or between files.

Every edge "a -> b" means a file in a/ includes "b/...". Edges inside a
circle must be listed in tools/include-cycles.allowed (the known ones, to be
cut); a new circle, or a listed edge that no longer exists, fails the check,
so the list can only shrink.

Between files there is no allowance: a file and its header are one unit
(Name.h with Name.cpp), and no unit may reach itself through the units it
includes. A class spread over several files (TMainForm's MainForm*.cpp)
declares everything in its own header, so those files only include it.
"""
import pathlib
import re
import subprocess
import sys

FOLDERS = ["device", "dsp", "settings", "acquisition", "discovery", "ui", "record", "trend", "trendwindow", "app", "store", "measure",
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
# one node lies on a circle.
def components(graph):
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
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return comps
comps = components(graph)
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

# Units: which file includes which, by the header's own path ("folder/Name.h")
# or beside the including file ("Name.h").
sources = [n for n in files if n.endswith((".h", ".cpp", ".c"))]
known = set(sources)
QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
unit = lambda name: name.rsplit(".", 1)[0]
units = {unit(n): set() for n in sources}
for name in sources:
    here = name.rsplit("/", 1)[0]
    for target in QUOTED.findall((root / name).read_text(encoding="utf-8", errors="replace")):
        for path in (target, f"{here}/{target}"):
            if path in known:
                if unit(path) != unit(name):
                    units[unit(name)].add(unit(path))
                break
sys.setrecursionlimit(10000)
circles = [sorted(c) for c in components(units) if len(c) > 1]
for c in circles:
    print("circle between files: " + " <-> ".join(c))
    failed = True
if not circles:
    print(f"no circle between files ({len(units)} units)")
sys.exit(1 if failed else 0)
