"""Hostile boot files and file kinds, natively and under Wine (with the
exe's real stack: Windows exes reserve what their header says), and
natively a standard output nobody reads. Each hostile boot file ends in the
one configuration-error box, and the launcher exits with 0.

Usage: test_hostile_inputs.py --launcher EXE --java-stub EXE [--wine WINE --prefix DIR --work-dir DIR]
"""
import os
import shutil
import signal
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import app_dir  # noqa: E402
from app_dir import (BOTH, CONFIG_ERROR, MAIN_BOOT, MAIN_CALL, MAIN_ITEMS, NATIVE, UPDATE_ERROR,  # noqa: E402
                     UPDATER_CALL, UPDATER_ITEMS, AppDir, Row, RowTest, boot_xml, main, main_launch, only,
                     read_calls, refused, start)

MAX_BOOT_FILE_SIZE = 1024 * 1024


def nested(levels):
    """The main items in <boot>, and beside them a branch of levels-1 elements
    inside one another: levels element levels in all."""
    items = "".join('<item key="%s" value="%s"/>' % item for item in MAIN_ITEMS)
    return "<boot>\n" + items + "<a>" * (levels - 1) + "</a>" * (levels - 1) + "</boot>\n"


def with_value(key, value):
    return boot_xml([(k, value if k == key else v) for k, v in MAIN_ITEMS])


def oversized():
    return MAIN_BOOT + "<!--" + "x" * (MAX_BOOT_FILE_SIZE + 1 - len(MAIN_BOOT) - 7) + "-->"


def fifo(path):
    os.mkfifo(path)


def dev_zero(path):
    os.symlink("/dev/zero", path)


# (name, the boot file, where it runs as the main app's and as the updater's
# file). More levels than either exe's stack survives without the limit
# (about 9,000 for the 32-bit exe, 5,500 for the 64-bit one). The file kinds
# are POSIX ones; under Wine only the deepest file is also the updater's: the
# same reader, and each Wine start costs seconds.
HOSTILE_BOOT_FILES = [
    ("nested 100,000 levels deep", nested(100000), BOTH, BOTH),
    ("nested one level over the limit", nested(257), BOTH, NATIVE),
    ("&#0; in the java value", with_value("java", "${APP_DIR}java.exe&#0; x"), BOTH, NATIVE),
    ("&#x; in the main value", with_value("main", "com.example.Main&#x;"), BOTH, NATIVE),
    ("one byte over 1 MiB", oversized(), BOTH, NATIVE),
    ("a FIFO", fifo, NATIVE, NATIVE),
    ("a link to /dev/zero", dev_zero, NATIVE, NATIVE),
    ("a directory", os.mkdir, NATIVE, NATIVE),
]


class HostileBootFiles(RowTest):
    ROWS = [
        Row("main boot file " + name, main=content, on=on_main,
            lines=start() + refused(), boxes=[CONFIG_ERROR % "{main_boot}"])
        for name, content, on_main, _ in HOSTILE_BOOT_FILES
    ] + [
        Row("updater boot file " + name, updater=content, on=on_updater, exit_codes=(21,),
            lines=start() + main_launch(21) + refused(updater=True),
            boxes=[CONFIG_ERROR % "{updater_boot}", UPDATE_ERROR % 1], calls=[MAIN_CALL])
        for name, content, _, on_updater in HOSTILE_BOOT_FILES
    ] + [
        Row("nesting up to the limit reads as usual", main=nested(256),
            lines=start() + main_launch(0), calls=[MAIN_CALL]),
    ]


class DebugMarkerKinds(RowTest):
    ROWS = [
        Row("only a regular file is the marker, not " + name, on=NATIVE, debug=make,
            lines=start() + main_launch(0), calls=[MAIN_CALL])
        for name, make in (("a FIFO", fifo), ("a link to /dev/zero", dev_zero))
    ]


SIGPIPE_BIT = 1 << (signal.SIGPIPE - 1)
# Records whether SIGPIPE is ignored in the child, then is the stand-in java.
RECORDING_JAVA = """#!/bin/sh
here=$(dirname "$0")
grep '^SigIgn:' /proc/$$/status >> "$here/sigign.log"
exec "$here/java.exe" "$@"
"""


class ClosedStandardOutput(RowTest):
    ROWS = [
        Row("the update cycle runs to its end and exits 0", on=NATIVE, closed_stdout=True,
            exit_codes=(21, 0, 0), calls=[MAIN_CALL, UPDATER_CALL, MAIN_CALL]),
    ]

    @only(NATIVE)
    def test_children_get_the_sigpipe_disposition_the_launcher_was_given(self):
        java = "${APP_DIR}recording_java"
        row = Row("", main=boot_xml(dict(MAIN_ITEMS, java=java)), updater=boot_xml(dict(UPDATER_ITEMS, java=java)),
                  exit_codes=(21, 0, 0))
        runner = app_dir.RUNNER
        # Python ignores SIGPIPE itself; restore_signals gives the launcher the default.
        for given_ignored in (False, True):
            with self.subTest(launcherGivenIgnoredSigpipe=given_ignored):
                base = tempfile.mkdtemp(prefix="launcher-e2e-")
                self.addCleanup(shutil.rmtree, base, ignore_errors=True)
                places = runner.places(base, row.folder)
                app = AppDir.for_row(row, base, places, runner.launcher, "launcher", runner.java_stub).root
                app_dir.write(os.path.join(app, "recording_java"), RECORDING_JAVA)
                os.chmod(os.path.join(app, "recording_java"), 0o755)
                code, _, _, _ = runner.run(places["{exe}"], cwd=base, closed_stdout=True,
                                           restore_signals=not given_ignored)
                self.assertEqual(code, 0)
                with open(os.path.join(app, "sigign.log")) as log:
                    masks = [int(line.split()[1], 16) for line in log]
                self.assertEqual([bool(mask & SIGPIPE_BIT) for mask in masks], [given_ignored] * 3)
                self.assertEqual(len(read_calls(app)), 3)


if __name__ == "__main__":
    main("the hostile boot files")
