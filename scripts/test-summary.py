#!/usr/bin/env python3
"""Says what a run of scripts/test.sh covered: each failed suite, then the
verdict, and last each skipped suite with the reason it gave.

Usage: test-summary.py RESULTS_DIR
RESULTS_DIR/steps holds one line per step, "LABEL<tab>EXIT STATUS<tab>JUNIT",
JUNIT being the ctest --output-junit file of a tree's tests or empty. Exits 1
when a step or a suite failed, else 0.
"""
import os
import sys
import xml.etree.ElementTree as ElementTree

# The tree of the exe that ships: a run that skipped its suites says so.
SHIPPED_TREE = "win32"


def skipReason(output):
    """The reason a skipped suite printed ("SKIPPED: what: reason"), else a default."""
    for line in (output or "").splitlines():
        if line.startswith("SKIPPED: "):
            text = line[len("SKIPPED: "):].strip()
            return text.split(": ", 1)[-1]
    return "it gave no reason"


def readSteps(resultsDir):
    steps = []
    with open(os.path.join(resultsDir, "steps")) as f:
        for line in f:
            label, status, junit = (line.rstrip("\n").split("\t") + ["", ""])[:3]
            steps.append((label, int(status), junit))
    return steps


def summarise(resultsDir):
    """(lines to print, exit status)."""
    failed, skipped, lines = [], {}, []
    passed = 0
    for label, status, junit in readSteps(resultsDir):
        if not junit:
            if status != 0:
                failed.append("%s (exit status %d)" % (label, status))
            else:
                passed += 1
            continue
        if not os.path.exists(junit):
            failed.append("%s (ctest exited with %d and wrote no results)" % (label, status))
            continue
        cases = ElementTree.parse(junit).getroot().iter("testcase")
        failures = 0
        for case in cases:
            name = case.get("name")
            if case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
                skipped.setdefault((label, skipReason(case.findtext("system-out"))), []).append(name)
            elif case.find("failure") is not None or case.get("status") == "fail":
                failures += 1
                failed.append("%s %s" % (label, name))
            else:
                passed += 1
        if status != 0 and failures == 0:
            failed.append("%s (ctest exited with %d)" % (label, status))
    skippedCount = sum(len(names) for names in skipped.values())
    lines += ["failed: " + suite for suite in failed]
    counts = "%d passed, %d failed, %d skipped" % (passed, len(failed), skippedCount)
    if failed:
        verdict = "FAILED: " + counts
    elif skipped:
        verdict = "passed, but NOT a full run: " + counts
    else:
        verdict = "passed: all %d suites ran: %s" % (passed, counts)
    if any(label == SHIPPED_TREE for label, _ in skipped):
        verdict += "; the shipped 32-bit exe's suites did not all run"
    if skipped:
        verdict += " (skipped suites below)"
    lines.append(verdict)
    for (label, reason), names in sorted(skipped.items()):
        lines.append("skipped: %s %s (%s)" % (label, ", ".join(names), reason))
    return lines, 1 if failed else 0


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    lines, status = summarise(sys.argv[1])
    print("\n".join(lines))
    return status


if __name__ == "__main__":
    sys.exit(main())
