#!/usr/bin/env python3
"""Every text of the program's own windows has its English translation: lupdate, run over the
sources into a copy of translations/tavix_en.ts, finds nothing new to translate and nothing the
sources no longer hold.

usage: nativetexts_test.py LUPDATE SOURCE_ROOT
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

LUPDATE, ROOT = sys.argv[1], sys.argv[2]
del sys.argv[1:3]
FOLDERS = ["app", "browser", "online", "tools"]


class NativeTexts(unittest.TestCase):
    def test_sources_and_translation_agree(self):
        with tempfile.TemporaryDirectory() as tmp:
            ts = os.path.join(tmp, "tavix_en.ts")
            shutil.copy(os.path.join(ROOT, "translations", "tavix_en.ts"), ts)
            subprocess.run([LUPDATE, "-silent", "-locations", "none", "-source-language", "zh_CN",
                            "-target-language", "en"] + FOLDERS + ["-ts", ts],
                           cwd=ROOT, check=True)
            untranslated, gone = [], []
            for context in ET.parse(ts).getroot().iter("context"):
                for message in context.iter("message"):
                    source = context.findtext("name") + ": " + (message.findtext("source") or "")
                    kind = message.find("translation").get("type")
                    if kind == "unfinished" or not (message.findtext("translation") or "").strip():
                        untranslated.append(source)
                    elif kind in ("obsolete", "vanished"):
                        gone.append(source)
            self.assertEqual(untranslated, [], "texts without an English translation")
            self.assertEqual(gone, [], "translations of texts the sources no longer hold")


if __name__ == "__main__":
    unittest.main()
