#!/usr/bin/env python3
"""Writes the part of a compile database that the analysers look at.

Usage: compdb.py IN.json OUT.json ROOT [--mingw TRIPLE]

Keeps the entries of the product folders only (tests and test tooling are
not analysed), and drops the options that clang does not take: the CP932
execution character set (clang knows UTF-8 alone; the analysers never need
the bytes of a literal) and g++-only warnings. With --mingw the entries of a
mingw-w64 build are turned into clang commands for that target, with the
cross compiler's own include folders, so that clang-tidy reads the
Windows headers the product build uses.
"""
import json
import os
import shlex
import subprocess
import sys

PRODUCT_DIRS = ("updater", "probe", "text", "sysutil")
DROPPED = ("-fexec-charset=", "-finput-charset=", "-Wnull-dereference")


def system_includes(compiler):
    """The include folders that the cross compiler searches on its own."""
    out = subprocess.run([compiler, "-xc++", "-E", "-v", "-"], input="",
                         capture_output=True, text=True).stderr
    dirs, inside = [], False
    for line in out.splitlines():
        if line.startswith("#include <...> search starts here"):
            inside = True
        elif line.startswith("End of search list"):
            inside = False
        elif inside:
            d = os.path.normpath(line.strip())
            # g++'s own builtin headers (intrinsics, stddef.h) do not suit
            # clang, which brings its own.
            if "/gcc/" in d and d.endswith(("/include", "/include-fixed")):
                continue
            dirs.append(d)
    return dirs


def main():
    src, dst, root = sys.argv[1:4]
    triple = sys.argv[5] if len(sys.argv) > 5 and sys.argv[4] == "--mingw" else None
    root = os.path.realpath(root)
    entries = json.load(open(src))
    extra = []
    if triple:
        compiler = shlex.split(entries[0].get("command") or " ".join(entries[0]["arguments"]))[0]
        extra = ["--target=" + triple, "-nostdinc++", "-nostdlibinc"]
        for d in system_includes(compiler):
            extra += ["-isystem", d]
    kept = []
    for e in entries:
        rel = os.path.relpath(os.path.realpath(e["file"]), root)
        if rel.split(os.sep)[0] not in PRODUCT_DIRS:
            continue
        args = shlex.split(e["command"]) if "command" in e else list(e["arguments"])
        args = [a for a in args if not a.startswith(DROPPED)]
        if triple:
            args = ["clang++"] + extra + args[1:]
        kept.append({"directory": e["directory"], "file": e["file"],
                     "arguments": args})
    os.makedirs(os.path.dirname(os.path.abspath(dst)), exist_ok=True)
    json.dump(kept, open(dst, "w"), indent=1)
    print(f"compdb: {len(kept)} product files -> {dst}")


if __name__ == "__main__":
    main()
