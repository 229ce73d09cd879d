#!/usr/bin/env python3
"""Fails when a source folder includes another folder its README does not allow, or when the
README rules themselves loop (a/ may include b/ and b/ may include a/, or a longer loop).

Each top-level folder with sources has a README.md with one line
    May include: a/, b/c.h, Qt, the C++ standard library
Entries ending in "/" allow a whole folder, entries with a "/" and a file name allow that file,
anything else (Qt, system libraries) is ignored here. A folder always may include itself.

Quoted includes are followed the way the compiler finds them: one whose first part is a
top-level folder names that folder's file; any other is looked for next to the including file
first, then anywhere in the tree (a folder on the include path). An include the tree does not
hold (generated files such as moc and uic output) is not judged.

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


def allowed(target, entries):
    for e in entries:
        if e.endswith("/") and target.startswith(e):
            return True
        if target == e:
            return True
    return False


def top(relative):
    return relative.split("/")[0]


def source_files(root, folders):
    """(folder, path relative to root) of every C/C++ file under the checked folders."""
    for folder in folders:
        for base, dirs, files in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            for name in sorted(files):
                if SOURCE.search(name):
                    path = os.path.join(base, name)
                    yield folder, os.path.relpath(path, root).replace(os.sep, "/")


def targets(root, path, inc, folders, by_name):
    """The files of the tree (relative to root) that an include of `path` may name."""
    if "/" in inc and top(inc) in folders:
        return [inc]
    local = os.path.normpath(os.path.join(root, os.path.dirname(path), inc))
    if os.path.isfile(local):
        relative = os.path.relpath(local, root).replace(os.sep, "/")
        return [] if relative.startswith("../") else [relative]
    return [f for f in by_name.get(os.path.basename(inc), []) if f.endswith("/" + inc)]


def include_errors(root, folders, rule_of):
    files = list(source_files(root, folders))
    by_name = {}
    for _, relative in files:
        by_name.setdefault(os.path.basename(relative), []).append(relative)
    errors = []
    for folder, path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for inc in INCLUDE.findall(text):
            found = [t for t in targets(root, path, inc, folders, by_name) if top(t) in folders]
            if not found or any(top(t) == folder for t in found):
                continue
            entries = rule_of(folder)
            if entries is None:
                errors.append(f"{folder}/README.md: no 'May include:' line")
                entries = []
            if any(allowed(t, entries) for t in found):
                continue
            named = "" if found == [inc] else f" (found as {', '.join(found)})"
            errors.append(f"{path}: includes \"{inc}\"{named}, which {folder}/README.md does not allow")
    return sorted(set(errors), key=errors.index)


def loops(graph):
    """One loop per group of folders that reach each other, as ["a", "b", "a"]."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = set()
            while True:
                w = stack.pop()
                on_stack.discard(w)
                group.add(w)
                if w == v:
                    break
            if len(group) > 1:
                groups.append(group)

    for v in sorted(graph):
        if v not in index:
            visit(v)
    found = []
    for group in groups:
        start = min(group)
        came_from = {start: None}
        queue = [start]
        while queue:
            v = queue.pop(0)
            for w in sorted(graph[v] & group):
                if w == start:
                    path = [v]
                    while came_from[path[-1]] is not None:
                        path.append(came_from[path[-1]])
                    found.append(list(reversed(path)) + [start])
                    queue = []
                    break
                if w not in came_from:
                    came_from[w] = v
                    queue.append(w)
    return sorted(found)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    folders = sorted(d for d in os.listdir(root)
                     if os.path.isdir(os.path.join(root, d)) and not d.startswith(".") and d not in SKIP)
    known = {f: rules(root, f) for f in folders}
    graph = {f: {top(e) for e in (known[f] or []) if top(e) in folders and top(e) != f} for f in folders}
    errors = [f"README rules loop: {' -> '.join(f + '/' for f in loop)}" for loop in loops(graph)]
    errors += include_errors(root, folders, known.get)
    for e in errors:
        print(e)
    print("include rules: " + ("FAILED" if errors else "ok"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
