#!/usr/bin/env python3
"""Prints the program's libraries and programs with the targets each links
directly, from a configured build tree (CMake's own graph of it).

    python3 tools/link_graph.py [build/test]
"""
import pathlib
import re
import subprocess
import sys
import tempfile

build = sys.argv[1] if len(sys.argv) > 1 else "build/test"
OURS = re.compile(r"^(km808_[a-z]+|km808api|qiraapi|qira_[a-z]+|KM808_Viza|km808-measure|km808-scpi|qira-emulator|qira-probe)$")
SKIP = re.compile(r"_(test|tests|bench|fuzz|support|spawn|window|version)$|^km808_gui|^km808_emulator")
EDGE = re.compile(r'^\s*"\w+" -> "\w+".*// (\S+) -> (\S+)$')

with tempfile.TemporaryDirectory() as tmp:
    dot = pathlib.Path(tmp) / "g.dot"
    subprocess.run(["cmake", f"--graphviz={dot}", build], check=True, capture_output=True)
    links = {}
    for line in dot.read_text().splitlines():
        m = EDGE.match(line)
        # moc and rcc are build tools, not links.
        if m and OURS.match(m.group(1)) and not SKIP.search(m.group(1)) and m.group(2) not in ("Qt6::moc", "Qt6::rcc"):
            links.setdefault(m.group(1), []).append(m.group(2))
for target in sorted(links, key=lambda t: (not t.startswith("km808_"), t)):
    print(f"{target:18} -> {', '.join(links[target])}")
