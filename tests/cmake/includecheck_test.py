#!/usr/bin/env python3
"""The include check on small trees of its own: what it must reject and what it must let pass.

usage: includecheck_test.py [PATH_TO_INCLUDECHECK]
"""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv.pop(1) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "includecheck.py")


def rule(*entries):
    return "# folder\n\nMay include: " + ", ".join(entries) + "\n"


# name, files of the tree, passes, words its output must hold
CASES = [
    ("allowed folder include", {
        "a/README.md": rule("b/", "Qt"),
        "b/README.md": rule("nothing"),
        "a/x.cpp": '#include "b/y.h"\n',
        "b/y.h": "",
    }, True, "include rules: ok"),
    ("two folders allowing each other", {
        "a/README.md": rule("b/"),
        "b/README.md": rule("a/"),
    }, False, "README rules loop: a/ -> b/ -> a/"),
    ("longer loop through a file entry", {
        "a/README.md": rule("b/"),
        "b/README.md": rule("c/z.h"),
        "c/README.md": rule("a/"),
        "d/README.md": rule("a/"),
    }, False, "README rules loop: a/ -> b/ -> c/ -> a/"),
    ("a folder naming itself is no loop", {
        "a/README.md": rule("a/", "b/"),
        "b/README.md": rule("nothing"),
    }, True, "include rules: ok"),
    ("include by file name from a folder not allowed", {
        "a/README.md": rule("b/"),
        "a/x.cpp": '#include "y.h"\n',
        "c/y.h": "",
    }, False, '"y.h" (found as c/y.h), which a/README.md does not allow'),
    ("include by file name from an allowed folder", {
        "a/README.md": rule("b/sub/"),
        "a/x.cpp": '#include "y.h"\n',
        "b/sub/y.h": "",
    }, True, "include rules: ok"),
    ("the file next to the includer comes first", {
        "a/README.md": rule("nothing"),
        "a/sub/x.cpp": '#include "w.h"\n#include "../v.h"\n',
        "a/sub/w.h": "",
        "a/v.h": "",
        "c/w.h": "",
    }, True, "include rules: ok"),
    ("relative path into another folder", {
        "a/README.md": rule("nothing"),
        "a/x.cpp": '#include "../c/y.h"\n',
        "c/y.h": "",
    }, False, '"../c/y.h" (found as c/y.h), which a/README.md does not allow'),
    ("generated files are not judged", {
        "a/README.md": rule("nothing"),
        "a/x.cpp": '#include "x.moc"\n#include "ui_x.h"\n',
    }, True, "include rules: ok"),
    ("folder without rules including another", {
        "a/x.cpp": '#include "b/y.h"\n',
        "b/y.h": "",
    }, False, "a/README.md: no 'May include:' line"),
]


class IncludeCheck(unittest.TestCase):
    def test_cases(self):
        for name, files, passes, words in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                for relative, text in files.items():
                    path = os.path.join(root, relative)
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(text)
                run = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
                self.assertEqual(run.returncode == 0, passes, run.stdout + run.stderr)
                self.assertIn(words, run.stdout)


if __name__ == "__main__":
    unittest.main()
