#!/usr/bin/env bash
# Prints, as one line, the lines of an apt-get output file that say why it
# failed: its errors and the dependencies it could not meet.
set -euo pipefail
grep -E '^(E: | .* : (Pre)?Depends: |  +(Pre)?Depends: | .* : (Conflicts|Breaks): )' "$1" |
    sed -E 's/^ +//; s/ +/ /g' | head -n 6 | paste -s -d ';' | sed 's/;/; /g' || true
