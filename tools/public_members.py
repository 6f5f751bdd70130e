#!/usr/bin/env python3
"""Counts the public data members of the main window (TMainForm) and fails
when there are more than tools/public-members.max allows.

The number may only fall: a member that only the window's own files use
belongs in its private part. Lower the file's number with the change that
makes members private. Static members and nested types do not count.
"""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
header = (root / "app" / "TMainForm.h").read_text(encoding="utf-8")
limit_file = root / "tools" / "public-members.max"

text = re.sub(r"//[^\n]*|/\*.*?\*/", " ", header, flags=re.S)
start = re.search(r"\bclass\s+TMainForm\b[^{;]*\{", text)
if not start:
    sys.exit("public_members: no class TMainForm in app/TMainForm.h")

LABEL = re.compile(r"\b(public|protected|private)\s*(?:slots\s*)?:(?!:)|\b(?:signals|Q_SIGNALS)\s*:")
access = "private"
members = []
statement = ""
depth = 1
i = start.end()
while i < len(text) and depth > 0:
    ch = text[i]
    if ch == "{" and depth == 1:
        head = LABEL.sub(" ", statement)
        if "(" in head or re.match(r"\s*(enum|struct|class|union)\b", head):
            # A function body or a nested type: skip it whole.
            level = 0
            while i < len(text):
                if text[i] == "{":
                    level += 1
                elif text[i] == "}":
                    level -= 1
                    if level == 0:
                        break
                i += 1
            if "(" in head:
                for m in LABEL.finditer(statement):
                    access = m.group(1) or "signals"
                statement = ""
            i += 1
            continue
        depth += 1
        statement += ch
    elif ch == "{":
        depth += 1
        statement += ch
    elif ch == "}":
        depth -= 1
        if depth > 0:
            statement += ch
    elif ch == ";" and depth == 1:
        labels = list(LABEL.finditer(statement))
        if labels:
            access = labels[-1].group(1) or "signals"
            statement = statement[labels[-1].end():]
        s = " ".join(statement.split())
        statement = ""
        declaration = re.split(r"[={]", s, 1)[0]
        if (s and "(" not in declaration
                and not re.match(r"(enum|struct|class|union|using|friend|typedef|static|template)\b", s)):
            name = re.findall(r"(\w+)\s*(?:\[[^\]]*\]\s*)*$", declaration.strip())
            members.append((access, name[0] if name else s))
    else:
        statement += ch
    i += 1

public = [n for a, n in members if a == "public"]
limit = int(limit_file.read_text().split()[0])
if "-v" in sys.argv:
    print("\n".join(public))
print(f"TMainForm: {len(public)} public data members (limit {limit}), {len(members) - len(public)} others")
if len(public) > limit:
    sys.exit(f"public_members: {len(public)} public data members, more than {limit}: keep the new ones "
             "private, or reach them through the views or the controls")
if len(public) < limit:
    print(f"public_members: fewer than the limit; lower tools/public-members.max to {len(public)}")
