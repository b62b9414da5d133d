#!/usr/bin/env python3
"""Puts a measured section into bench/RESULTS.md: `write-results.py NAME SECTION` replaces the
text between "<!-- NAME -->" and "<!-- /NAME -->" (markers included in SECTION) with SECTION
where it stands, or adds it at the end of the file."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchkit  # noqa: E402

benchkit.write_results(sys.argv[1], sys.argv[2])
