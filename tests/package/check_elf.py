#!/usr/bin/env python3
"""Checks every ELF file under the given paths (files or directories):

- no empty RUNPATH or RPATH entry: the loader reads one as the working
  directory, so a program started elsewhere loads libraries from there;
- with --hardened, the marks of Debian's hardening flags: stack protector
  (__stack_chk_fail), _FORTIFY_SOURCE (some __*_chk call in a program), read-only
  relocations (GNU_RELRO), immediate binding (BIND_NOW), position
  independent executables, and stripped of the compiler's .comment.

    check_elf.py [--hardened] PATH...
"""

import argparse
import os
import re
import subprocess
import sys


def elf_files(paths):
    for path in paths:
        files = [path] if os.path.isfile(path) else [os.path.join(r, n) for r, _, ns in os.walk(path) for n in ns]
        for f in files:
            if not os.path.islink(f) and os.path.isfile(f):
                with open(f, "rb") as h:
                    if h.read(4) == b"\x7fELF":
                        yield f


def tool(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, env=dict(os.environ, LC_ALL="C")).stdout.decode()


def faults(path, hardened):
    dynamic = tool("readelf", "-d", "-W", path)
    for kind, value in re.findall(r"\((RUNPATH|RPATH)\)\s+Library \w+: \[(.*)\]", dynamic):
        if "" in value.split(":"):
            yield "%s with an empty entry: %r" % (kind, value)
    if not hardened:
        return
    symbols = {s.split("@")[0] for s in tool("nm", "-D", "--undefined-only", path).split()}
    if "__stack_chk_fail" not in symbols:
        yield "no stack protector (__stack_chk_fail)"
    # The libraries copy only into buffers of a size the compiler knows, so
    # it proves each call safe and leaves no checked call to find.
    executable = re.search(r"\bINTERP\b", tool("readelf", "-l", "-W", path))
    if executable and not any(re.fullmatch(r"__\w+_chk", s) for s in symbols):
        yield "no fortified call (__*_chk)"
    if "GNU_RELRO" not in tool("readelf", "-l", "-W", path):
        yield "no GNU_RELRO segment"
    if not re.search(r"\(FLAGS\)\s+.*\bBIND_NOW\b|\(FLAGS_1\)\s+.*\bNOW\b", dynamic):
        yield "not bound immediately (BIND_NOW)"
    if "Type:                              EXEC" in tool("readelf", "-h", "-W", path):
        yield "not position independent"
    if re.search(r"\] \.comment ", tool("readelf", "-S", "-W", path)):
        yield "the compiler's .comment section left in"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--hardened", action="store_true")
    p.add_argument("paths", nargs="+")
    a = p.parse_args()
    checked = 0
    failed = False
    for f in elf_files(a.paths):
        checked += 1
        for fault in faults(f, a.hardened):
            print("%s: %s" % (f, fault), file=sys.stderr)
            failed = True
    if checked == 0:
        print("check_elf.py: no ELF file in %s" % " ".join(a.paths), file=sys.stderr)
        return 1
    print("check_elf.py: %d ELF files%s" % (checked, ", hardened" if a.hardened else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
