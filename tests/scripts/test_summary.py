#!/usr/bin/env python3
"""scripts/test-summary.py on made-up runs: what a run of scripts/test.sh says
it covered, and its exit status."""
import os
import subprocess
import sys
import tempfile
import unittest

SUMMARY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "test-summary.py")
NO_KERNEL = "SKIPPED: the end-to-end suite: this kernel cannot run /usr/lib/wine/wine (Exec format error)\n"


def junit(*cases):
    """ctest --output-junit text for (name, status, output) cases, as CMake 3.25 writes it."""
    body = []
    for name, status, output in cases:
        inner = {"run": "", "fail": '<failure message=""/>',
                 "notrun": '<skipped message="SKIP_RETURN_CODE=77"/>'}[status]
        body.append('<testcase name="%s" classname="%s" time="1" status="%s">%s<system-out>%s</system-out></testcase>'
                    % (name, name, status, inner, output))
    return '<?xml version="1.0" encoding="UTF-8"?>\n<testsuite name="launcher">%s</testsuite>\n' % "".join(body)


# (what, steps as (label, exit status, junit text or None), expected lines, expected exit status)
RUNS = [
    ("every suite passed",
     [("native", 0, junit(("unit", "run", ""), ("e2e", "run", ""))), ("fuzz", 0, None),
      ("win32", 0, junit(("windows.e2e_wine32", "run", "")))],
     ["passed: all 4 suites ran: 4 passed, 0 failed, 0 skipped"], 0),
    ("a failed tree does not hide the later ones",
     [("native", 8, junit(("unit", "fail", "boom"), ("e2e", "run", ""))), ("fuzz", 1, None),
      ("win32 (build)", 2, None), ("win64", 8, junit(("windows.seticon_wine", "fail", "")))],
     ["failed: native unit", "failed: fuzz (exit status 1)", "failed: win32 (build) (exit status 2)",
      "failed: win64 windows.seticon_wine", "FAILED: 1 passed, 4 failed, 0 skipped"], 1),
    ("the shipped exe's suites skipped: green, but not a full run",
     [("native", 0, junit(("unit", "run", ""),)),
      ("win32", 0, junit(("windows.pe_win32", "run", ""), ("windows.e2e_wine32", "notrun", NO_KERNEL),
                         ("windows.hostile_wine", "notrun", "SKIPPED: hostile: " + NO_KERNEL.split(": ", 2)[2]),
                         ("windows.desktop_wine32", "notrun", "")))],
     ["passed, but NOT a full run: 2 passed, 0 failed, 3 skipped; the shipped 32-bit exe's suites did not all run "
      "(skipped suites below)",
      "skipped: win32 windows.desktop_wine32 (it gave no reason)",
      "skipped: win32 windows.e2e_wine32, windows.hostile_wine "
      "(this kernel cannot run /usr/lib/wine/wine (Exec format error))"], 0),
    ("a skip in another tree is named but does not blame the shipped exe",
     [("win64", 0, junit(("windows.desktop_wine64", "notrun", "SKIPPED: desktop: Xvfb missing\n")))],
     ["passed, but NOT a full run: 0 passed, 0 failed, 1 skipped (skipped suites below)",
      "skipped: win64 windows.desktop_wine64 (Xvfb missing)"], 0),
    ("ctest failing without a failed case, or without results, is a failure",
     [("native", 8, junit(("unit", "run", ""),)), ("asan", 8, "")],
     ["failed: native (ctest exited with 8)", "failed: asan (ctest exited with 8 and wrote no results)",
      "FAILED: 1 passed, 2 failed, 0 skipped"], 1),
]


class Summary(unittest.TestCase):
    def test_runs(self):
        for what, steps, expected, status in RUNS:
            with self.subTest(what), tempfile.TemporaryDirectory() as results:
                with open(os.path.join(results, "steps"), "w") as f:
                    for label, exitStatus, text in steps:
                        path = ""
                        if text is not None:
                            path = os.path.join(results, label + ".xml")
                            if text:
                                with open(path, "w") as out:
                                    out.write(text)
                        f.write("%s\t%d\t%s\n" % (label, exitStatus, path))
                result = subprocess.run([sys.executable, SUMMARY, results], capture_output=True, text=True)
                self.assertEqual(result.stdout.splitlines(), expected, result.stderr)
                self.assertEqual(result.returncode, status)


if __name__ == "__main__":
    unittest.main()
