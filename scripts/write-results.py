#!/usr/bin/env python3
"""Puts a measured section into bench/RESULTS.md: `write-results.py NAME SECTION` replaces the
text between "<!-- NAME -->" and "<!-- /NAME -->" (markers included in SECTION) with SECTION,
moved to the end of the file."""
import re
import sys

name, section = sys.argv[1], sys.argv[2]
path = "bench/RESULTS.md"
text = open(path, encoding="utf-8").read()
pattern = re.compile(r"<!-- %s -->.*?<!-- /%s -->\n?" % (re.escape(name), re.escape(name)), re.S)
text = pattern.sub("", text).rstrip("\n") + "\n\n" + section + "\n"
open(path, "w", encoding="utf-8").write(text)
