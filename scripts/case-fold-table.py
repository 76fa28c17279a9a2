#!/usr/bin/env python3
"""Writes readers/case_fold_table.inc: every code point that Unicode's full
case folding changes (Python's str.casefold), with the one to three code
points it folds to. Run it again when the Unicode version moves on."""

import os
import sys
import unicodedata

rows = []
for code in range(0x110000):
    if 0xD800 <= code <= 0xDFFF:
        continue
    folded = chr(code).casefold()
    if folded != chr(code):
        points = [ord(c) for c in folded] + [0] * (3 - len(folded))
        rows.append("    {0x%04X, {0x%04X, 0x%04X, 0x%04X}}," % tuple([code] + points))
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "readers", "case_fold_table.inc")
with open(out, "w") as f:
    f.write("// Written by scripts/case-fold-table.py from Unicode %s; do not edit.\n" % unicodedata.unidata_version)
    f.write("\n".join(rows) + "\n")
sys.stdout.write("%d code points\n" % len(rows))
