"""The app folder D:\\app\\ and its expected lines for the Wine suites that
start the launcher themselves (the desktop and the DLL-loading tests): the
rows' layout and templates (tests/e2e/app_dir.py) with Wine's paths.

Usage of a suite: --wine WINE --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]
"""
import argparse
import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import app_dir  # noqa: E402
import wine_env  # noqa: E402
from app_dir import CONFIG_ERROR, MAIN_ITEMS, UPDATE_ERROR, boot_xml as bootXml  # noqa: E402,F401

OPTIONS = None
PLACES = app_dir.WineRunner.places("app")
APP, MAIN_BOOT, UPDATER_BOOT = PLACES["{app}"], PLACES["{main_boot}"], PLACES["{updater_boot}"]
JAVA = APP + "java.exe"
MAIN_COMMAND = app_dir.expand(app_dir.MAIN_COMMAND, PLACES)
MAIN_CALL = app_dir.expand(app_dir.MAIN_CALL, PLACES)
PID = "{pid}"  # in a masked execute:processId== line


def startLines(argc=1, debug=0):
    return app_dir.expand(app_dir.start(argc, debug), PLACES)


def launchLines(retCode, command=MAIN_COMMAND):
    return app_dir.expand(app_dir.main_launch(retCode, command), PLACES)


def badBootLines(updater=False):
    return app_dir.expand(app_dir.refused(updater), PLACES)


def box(text):
    """A box shown through MessageBoxW: no owner, caption "Error", MB_OK."""
    return ("W", 0, "Error", text, 0)


class LauncherCase(unittest.TestCase):
    def makeApp(self, mainBoot=app_dir.MAIN_BOOT, updaterBoot=app_dir.UPDATER_BOOT, exitCodes=(), debug=None,
                java=True):
        """Lays out D:\\app\\ with the launcher, java.exe (unless java is
        False) and the boot files (None: leave that one out); debug: "file"
        or "directory"."""
        row = app_dir.Row("", main=mainBoot, updater=updaterBoot, exit_codes=tuple(exitCodes), stub=java,
                          debug={"file": "", "directory": app_dir.DIR}.get(debug))
        root = os.path.join(OPTIONS.work_dir, self.id().split(".")[-1])
        shutil.rmtree(root, ignore_errors=True)
        self.app = app_dir.AppDir.for_row(row, root, PLACES, OPTIONS.launcher, "launcher.exe", OPTIONS.java_stub).root
        wine_env.mapDrive(OPTIONS.prefix, "d", root)

    def maskPid(self, lines):
        return app_dir.mask_pid(self, lines)

    def calls(self):
        """[(working directory, argv)] of the stand-in java, in call order."""
        return [(call.cwd, call.argv) for call in app_dir.read_calls(self.app, errors="strict")]


def parseOptions(*extraOptions):
    """The suite's options and the remaining arguments for unittest."""
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--launcher", "--java-stub", "--work-dir") + extraOptions:
        parser.add_argument(option, required=True)
    parser.add_argument("--prefix", help="Wine prefix (default: WORK_DIR/wineprefix)")
    options, rest = parser.parse_known_args()
    options.work_dir = os.path.abspath(options.work_dir)
    options.prefix = os.path.abspath(options.prefix or os.path.join(options.work_dir, "wineprefix"))
    return options, rest


def runTests(options, rest):
    """Runs the running script's tests in the prepared prefix, then ends its
    wine server. Returns the exit code."""
    global OPTIONS
    OPTIONS = options
    return wine_env.runTests(options.wine, options.prefix, [sys.argv[0]] + rest)
