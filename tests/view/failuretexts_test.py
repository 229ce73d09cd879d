#!/usr/bin/env python3
"""The page tells the program's failure answers in words by their exact text (FAILURES in
data/view/js/ui.js). A text the program no longer answers, or answers spelt otherwise, would
silently fall back to "The program reported a failure": each one must still stand, letter for
letter, as a string literal in the program's sources, and name a text of the page's table.

usage: failuretexts_test.py [SOURCE_ROOT]
"""
import os
import re
import sys
import unittest

ROOT = sys.argv.pop(1) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..")
# Folders that are not the program: their texts do not reach the page.
NOT_PROGRAM = {"build", "tests", "bench", "fuzz", "tools", "driver", "data", "scripts", "cmake"}
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
JS_STRING = r"'(?:[^'\\\n]|\\.)*'|\"(?:[^\"\\\n]|\\.)*\""
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", "'": "'", '"': '"', "?": "?"}


def unescape(body):
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), body)


def cpp_literals(text):
    """The string literals of one C/C++ source, adjacent ones joined, comments left out."""
    out, i, n, joined = [], 0, len(text), False
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif c == "'":
            m = re.compile(r"'(?:[^'\\\n]|\\.)*'").match(text, i)
            i = m.end() if m else i + 1
            joined = False
        elif c == '"':
            raw = re.compile(r'R"([^(\s]*)\(').match(text, i - 1) if i else None
            if raw:
                end = text.find(")" + raw.group(1) + '"', raw.end())
                end = n if end < 0 else end
                value, i = text[raw.end():end], end + len(raw.group(1)) + 2
            else:
                m = re.compile(r'"((?:[^"\\\n]|\\.)*)"').match(text, i)
                if not m:
                    i += 1
                    continue
                value, i = unescape(m.group(1)), m.end()
            if joined:
                out[-1] += value
            else:
                out.append(value)
            joined = True
        else:
            joined = joined and c.isspace()
            i += 1
    return out


def program_literals(root):
    found = set()
    for folder in sorted(os.listdir(root)):
        if folder.startswith(".") or folder in NOT_PROGRAM or not os.path.isdir(os.path.join(root, folder)):
            continue
        for base, dirs, files in os.walk(os.path.join(root, folder)):
            dirs[:] = [d for d in dirs if not d.startswith(".")]
            for name in files:
                if SOURCE.search(name):
                    with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                        found.update(cpp_literals(f.read()))
    return found


def block(text, opening):
    """The lines between `opening` and the "};" that closes it."""
    start = text.index(opening) + len(opening)
    return text[start:text.index("};", start)].splitlines()


def page_failures(root):
    """FAILURES of ui.js as (program's text, page text key); a line it cannot read is an error."""
    with open(os.path.join(root, "data", "view", "js", "ui.js"), encoding="utf-8") as f:
        lines = block(f.read(), "var FAILURES = {")
    entry = re.compile(r"^\s*(" + JS_STRING + r")\s*:\s*'([\w.]+)',?\s*$")
    pairs = []
    for line in lines:
        if not line.strip() or line.strip().startswith("//"):
            continue
        m = entry.match(line)
        if not m:
            raise ValueError("ui.js FAILURES: cannot read " + line.strip())
        pairs.append((unescape(m.group(1)[1:-1]), m.group(2)))
    return pairs


def page_text_keys(root):
    with open(os.path.join(root, "data", "view", "js", "i18n.js"), encoding="utf-8") as f:
        return set(re.findall(r"^\s*'([\w.]+)':\s*\[", f.read(), re.M))


class FailureTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.failures = page_failures(ROOT)
        cls.literals = program_literals(ROOT)

    def test_literals_read_as_the_compiler_reads_them(self):
        cases = [
            ('f(QStringLiteral("can\'t find conf name"));', ["can't find conf name"]),
            ('const char k[] = "a \\"quoted\\" " "joined";', ['a "quoted" joined']),
            ('x = "one"; y = "two"; // "comment"', ["one", "two"]),
            ('/* "gone" */ c = \'"\'; s = "kept";', ["kept"]),
            ('r = R"x(raw "text")x";', ['raw "text"']),
        ]
        for source, literals in cases:
            with self.subTest(source):
                self.assertEqual(cpp_literals(source), literals)

    def test_every_retyped_text_is_answered_by_the_program(self):
        self.assertGreater(len(self.failures), 20)
        gone = [text for text, _ in self.failures if text not in self.literals]
        self.assertEqual(gone, [], "failure texts in ui.js that the program's sources no longer hold")

    def test_every_failure_has_words_on_the_page(self):
        keys = page_text_keys(ROOT)
        missing = sorted({key for _, key in self.failures if key not in keys})
        self.assertEqual(missing, [], "page texts named by ui.js FAILURES but missing from i18n.js")


if __name__ == "__main__":
    unittest.main()
