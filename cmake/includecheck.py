#!/usr/bin/env python3
"""Fails when a source folder includes another folder its README does not allow.

Each top-level folder with sources has a README.md with one line
    May include: a/, b/c.h, Qt, the C++ standard library
Entries ending in "/" allow a whole folder, entries with a "/" and a file name allow that file,
anything else (Qt, system libraries) is ignored here. Only quoted includes whose first part is a
top-level folder of the tree are checked; a folder always may include itself.

usage: includecheck.py SOURCE_ROOT
"""
import os
import re
import sys

SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SKIP = {"build", "data", "resources", "scripts", "cmake"}


def rules(root, folder):
    readme = os.path.join(root, folder, "README.md")
    if not os.path.isfile(readme):
        return None
    with open(readme, encoding="utf-8") as f:
        for line in f:
            if line.startswith("May include:"):
                items = [i.strip().strip("`").rstrip(".") for i in line[len("May include:"):].split(",")]
                return [i for i in items if "/" in i]
    return None


def allowed(include, entries):
    for e in entries:
        if e.endswith("/") and include.startswith(e):
            return True
        if include == e:
            return True
    return False


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    folders = sorted(d for d in os.listdir(root)
                     if os.path.isdir(os.path.join(root, d)) and not d.startswith(".") and d not in SKIP)
    errors = []
    for folder in folders:
        entries = None
        for base, dirs, files in os.walk(os.path.join(root, folder)):
            dirs[:] = [d for d in dirs if not d.startswith(".")]
            for name in files:
                if not SOURCE.search(name):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for inc in INCLUDE.findall(text):
                    first = inc.split("/")[0]
                    if "/" not in inc or first == folder or first not in folders:
                        continue
                    if entries is None:
                        entries = rules(root, folder)
                        if entries is None:
                            errors.append(f"{folder}/README.md: no 'May include:' line")
                            entries = []
                    if not allowed(inc, entries):
                        errors.append(f"{os.path.relpath(path, root)}: includes \"{inc}\", "
                                      f"which {folder}/README.md does not allow")
    for e in errors:
        print(e)
    print("include rules: " + ("FAILED" if errors else "ok"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
