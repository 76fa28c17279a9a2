#!/usr/bin/python3
"""Smoke run of the shipped 32-bit launcher under Wine's 32-bit loader.

One launch of a stand-in java.exe that exits 0, one boot-file error. Where
this machine cannot run 32-bit Windows programs (no wine32:i386, or a kernel
without 32-bit x86 support and no qemu-user registered for it), the test
prints the reason and exits 77, which CTest reports as skipped. See
scripts/setup-win32-emulation.sh.

Usage: smoke_win32.py --wine WINE32 [--boot-wine WINE64] --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_launcher_wine as suite  # noqa: E402
import wine_env  # noqa: E402

SKIPPED = 77
WINE32_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"


class Smoke32(suite.LauncherCase):
    def test_launch_exiting_0(self):
        self.makeApp(exitCodes=[0])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, suite.startLines() + suite.launchLines(0))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [suite.MAIN_CALL])

    def test_missing_boot_file(self):
        self.makeApp(mainBoot=None)
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, suite.startLines() + suite.badBootLines())
        self.assertEqual(boxes, [suite.box(suite.CONFIG_ERROR % suite.MAIN_BOOT)])
        self.assertEqual(self.calls(), [])


def whyUnavailable(wine):
    """None when Wine's 32-bit loader runs here, else the reason it does not."""
    if not os.access(wine, os.X_OK):
        return "%s missing: wine32:i386 is not installed" % wine
    if not os.path.isdir(WINE32_DLLS):
        return "%s missing: wine32:i386 is not installed" % WINE32_DLLS
    try:
        result = subprocess.run([wine, "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=600)
    except OSError as error:
        return ("this kernel cannot run 32-bit x86 programs (%s) and no qemu-user is registered "
                "for them with binfmt_misc" % error)
    except subprocess.TimeoutExpired:
        return "%s --version did not finish within 600 s" % wine
    if result.returncode != 0:
        return "%s --version failed: %s" % (wine, result.stderr.decode(errors="replace").strip())
    return None


def emulated():
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


def main():
    options, rest = suite.parseOptions(withBootWine=True)
    reason = whyUnavailable(options.wine)
    if reason:
        print("SKIPPED: 32-bit smoke run: " + reason)
        sys.exit(SKIPPED)

    bootWine = options.boot_wine if options.boot_wine and os.access(options.boot_wine, os.X_OK) else None
    print("32-bit programs run " + ("under qemu-user emulation" if emulated() else "natively"))
    try:
        wine_env.preparePrefix(options.wine, options.prefix, bootWine)
    except subprocess.TimeoutExpired as timeout:
        # Seen under qemu-user: the 32-bit half of a new prefix never finishing.
        wine_env.stopServer(options.wine, options.prefix)
        print("SKIPPED: 32-bit smoke run: creating the Wine prefix did not finish: %s" % timeout)
        sys.exit(SKIPPED)
    sys.exit(suite.runTests(options, rest))


if __name__ == "__main__":
    main()
