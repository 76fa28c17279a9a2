#!/usr/bin/python3
"""Hostile boot files against the Windows launcher under Wine: nesting deeper
than the exe's stack survives, a NUL character in a wanted value, a file over
the size limit. Each must end in the one configuration-error box and exit 0,
with the exe's real stack (Windows exes reserve what their header says).

Usage: test_hostile_wine.py --wine WINE --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_launcher_wine as suite  # noqa: E402

MAX_BOOT_FILE_SIZE = 1024 * 1024


def nested(levels):
    """The main items in <boot>, and beside them a branch of levels-1 elements
    inside one another: levels element levels in all."""
    items = "".join('<item key="%s" value="%s"/>' % item for item in suite.MAIN_ITEMS)
    return "<boot>\n" + items + "<a>" * (levels - 1) + "</a>" * (levels - 1) + "</boot>\n"


def withValue(key, value):
    return suite.bootXml([(k, value if k == key else v) for k, v in suite.MAIN_ITEMS])


def oversized():
    valid = suite.bootXml(suite.MAIN_ITEMS)
    return valid + "<!--" + "x" * (MAX_BOOT_FILE_SIZE + 1 - len(valid) - 7) + "-->"


# More levels than either exe's stack survives without the limit (about 9,000
# for the 32-bit exe, 5,500 for the 64-bit one).
HOSTILE_BOOT_FILES = [
    ("nested 100,000 levels deep", nested(100000)),
    ("nested one level over the limit", nested(257)),
    ("&#0; in the java value", withValue("java", "${APP_DIR}java.exe&#0; x")),
    ("&#x; in the main value", withValue("main", "com.example.Main&#x;")),
    ("one byte over 1 MiB", oversized()),
]


class HostileBootFiles(suite.LauncherCase):
    def test_main_app_boot_file(self):
        for name, content in HOSTILE_BOOT_FILES:
            with self.subTest(bootFile=name):
                self.makeApp(mainBoot=content)
                lines, boxes = self.runLauncher()
                self.assertEqual(lines, suite.startLines() + suite.badBootLines())
                self.assertEqual(boxes, [suite.box(suite.CONFIG_ERROR % suite.MAIN_BOOT)])
                self.assertEqual(self.calls(), [])

    def test_updater_boot_file(self):
        name, content = HOSTILE_BOOT_FILES[0]
        self.makeApp(updaterBoot=content, exitCodes=[21])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, suite.startLines() + suite.launchLines(21) + suite.badBootLines(updater=True))
        self.assertEqual(boxes, [suite.box(suite.CONFIG_ERROR % suite.UPDATER_BOOT),
                                 suite.box(suite.UPDATE_ERROR % 1)])
        self.assertEqual(self.calls(), [suite.MAIN_CALL])

    def test_nesting_up_to_the_limit_reads_as_usual(self):
        self.makeApp(mainBoot=nested(256), exitCodes=[0])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, suite.startLines() + suite.launchLines(0))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [suite.MAIN_CALL])


if __name__ == "__main__":
    suite.main("the hostile boot files")
