#!/usr/bin/python3
"""End-to-end tests of the Windows launcher under Wine.

The launcher runs from D:\\app\\ (drive D: mapped onto a fresh folder per
case) with a stand-in java.exe that records its calls in calls.log and exits
with the codes queued in exit_codes. Checked: the exact diagnostic lines, the
children's command lines and working directories, the message boxes (kind,
caption, text, order) and the launcher's exit code.

Usage: test_launcher_wine.py --wine WINE --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]

Exits 77 (skipped), saying why, where WINE cannot run: 32-bit Wine needs
wine32:i386 and a kernel that runs 32-bit x86 code, or qemu-user registered
for it (scripts/setup-win32-emulation.sh).
"""

import argparse
import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_env  # noqa: E402

OPTIONS = None

APP = "D:\\app\\"
MAIN_BOOT = APP + "config\\boot.xml"
UPDATER_DIR = APP + "updater"
UPDATER_BOOT = UPDATER_DIR + "\\config\\boot.xml"
JAVA = APP + "java.exe"

MAIN_ITEMS = [("java", "${APP_DIR}java.exe"), ("-Xmn", "16m"), ("-Xms", "32m"), ("-Xmx", "64m"),
              ("-cp", "lib\\app.jar;lib\\util.jar"), ("args", "-Dapp.mode=demo"),
              ("main", "com.example.Main")]
MAIN_COMMAND = JAVA + " -Xmn16m -Xms32m -Xmx64m -cp lib\\app.jar;lib\\util.jar -Dapp.mode=demo com.example.Main"
MAIN_ARGS = [JAVA, "-Xmn16m", "-Xms32m", "-Xmx64m", "-cp", "lib\\app.jar;lib\\util.jar",
             "-Dapp.mode=demo", "com.example.Main"]

# The updater's java lies in the launcher's directory: ${PARENT_DIR} is the
# launcher's directory for both boot files.
UPDATER_ITEMS = [("java", "${PARENT_DIR}java.exe"), ("-Xmx", "32m"), ("-cp", "updater.jar"),
                 ("args", ""), ("main", "com.example.Updater")]
UPDATER_COMMAND = JAVA + " -Xmn -Xms -Xmx32m -cp updater.jar  com.example.Updater"
UPDATER_ARGS = [JAVA, "-Xmn", "-Xms", "-Xmx32m", "-cp", "updater.jar", "com.example.Updater"]

CONFIG_ERROR = "設定ファイル %s の解析に失敗しました。"
UPDATE_ERROR = "更新で例外が発生しました。戻り値= %d"
PID = "<launcher pid>"


def bootXml(items):
    rows = "".join('  <item key="%s" value="%s"/>\n' % item for item in items)
    return '<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n%s</boot>\n' % rows


def startLines(argc=1, debug=0):
    return ["argc=%d" % argc, "argv[0]=" + APP + "launcher.exe", "debugFileExists=%d" % debug]


def launchLines(retCode, command=MAIN_COMMAND, updater=False, result="result=WAIT_OBJECT_0"):
    """Lines of one launch whose boot file was read."""
    boot, label, cwd = (UPDATER_BOOT, "configPath2=", UPDATER_DIR) if updater else (MAIN_BOOT, "configPath=", APP)
    lines = [label + boot, boot, "currentDir=" + cwd, "javaCommandLine=" + command]
    if result:
        lines += ["execute:processId==" + PID, result]
    else:
        lines += ["execute:createProcessResult==0"]
    return lines + ["launchJava:retCode=%d" % retCode]


def badBootLines(updater=False):
    boot, label = (UPDATER_BOOT, "configPath2=") if updater else (MAIN_BOOT, "configPath=")
    return [label + boot, boot]


def box(text):
    """A box shown through MessageBoxW: no owner, caption "Error", MB_OK."""
    return ("W", 0, "Error", text, 0)


MAIN_CALL = ("D:\\app", MAIN_ARGS)
UPDATER_CALL = ("D:\\app\\updater", UPDATER_ARGS)


class LauncherCase(unittest.TestCase):
    def makeApp(self, mainBoot=bootXml(MAIN_ITEMS), updaterBoot=bootXml(UPDATER_ITEMS),
                exitCodes=(), debug=None, java=True, driveRoot=False):
        """Lays out D:\\app\\ (or D:\\ itself) with the launcher, java.exe and
        the boot files (None: leave that boot file out)."""
        root = os.path.join(OPTIONS.work_dir, self.id().split(".")[-1])
        shutil.rmtree(root, ignore_errors=True)
        app = os.path.join(root, "app")
        os.makedirs(os.path.join(app, "updater"))
        shutil.copy(OPTIONS.launcher, os.path.join(app, "launcher.exe"))
        if java:
            shutil.copy(OPTIONS.java_stub, os.path.join(app, "java.exe"))
        for boot, folder in ((mainBoot, app), (updaterBoot, os.path.join(app, "updater"))):
            if boot is not None:
                os.makedirs(os.path.join(folder, "config"))
                with open(os.path.join(folder, "config", "boot.xml"), "wb") as f:
                    f.write(boot.encode("utf-8"))
        with open(os.path.join(app, "exit_codes"), "w") as f:
            f.write("".join("%d\n" % code for code in exitCodes))
        if debug == "file":
            open(os.path.join(app, "debug"), "w").close()
        elif debug == "directory":
            os.mkdir(os.path.join(app, "debug"))
        wine_env.mapDrive(OPTIONS.prefix, "d", app if driveRoot else root)
        self.app = app

    def runLauncher(self, *args, exe=APP + "launcher.exe"):
        code, lines, boxes = wine_env.runWindows(OPTIONS.wine, OPTIONS.prefix, [exe] + list(args))
        self.assertEqual(code, 0, "launcher exit code")
        return self.maskPid(lines), boxes

    def maskPid(self, lines):
        """The launcher logs its own process id: the same number for every child."""
        pids = set()
        masked = []
        for line in lines:
            match = re.fullmatch(r"execute:processId==(\d+)", line)
            if match:
                pids.add(int(match.group(1)))
                line = "execute:processId==" + PID
            masked.append(line)
        self.assertLessEqual(len(pids), 1, "process id differs between launches")
        self.assertNotIn(0, pids)
        return masked

    def calls(self):
        """[(working directory, argv)] of the stand-in java, in call order."""
        path = os.path.join(self.app, "calls.log")
        if not os.path.exists(path):
            return []
        calls = []
        with open(path, encoding="utf-8", newline="\n") as f:
            for line in f.read().splitlines():
                if line == "call":
                    calls.append([None, []])
                elif line.startswith("cwd="):
                    calls[-1][0] = line[4:]
                elif line.startswith("arg="):
                    calls[-1][1].append(line[4:])
        return [tuple(call) for call in calls]


class DiagnosticLines(LauncherCase):
    def test_one_launch_writes_the_documented_lines(self):
        self.makeApp(exitCodes=[0])
        lines, boxes = self.runLauncher("--ignored", "two words")
        self.assertEqual(lines, startLines(argc=3) + launchLines(0))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [MAIN_CALL])

    def test_exit_codes_other_than_21_and_1_end_quietly(self):
        for code in (0, 2, 20, 22, 255):
            with self.subTest(exitCode=code):
                self.makeApp(exitCodes=[code])
                lines, boxes = self.runLauncher()
                self.assertEqual(lines, startLines() + launchLines(code))
                self.assertEqual(boxes, [])
                self.assertEqual(self.calls(), [MAIN_CALL])

    def test_launcher_at_a_drive_root(self):
        # Both directory placeholders stand for D:\ itself there.
        items = [("java", "${PARENT_DIR}java.exe"), ("-cp", "${APP_DIR}app.jar"), ("main", "Main")]
        self.makeApp(mainBoot=bootXml(items), exitCodes=[0], driveRoot=True)
        lines, boxes = self.runLauncher(exe="D:\\launcher.exe")
        self.assertEqual(lines, [
            "argc=1", "argv[0]=D:\\launcher.exe", "debugFileExists=0",
            "configPath=D:\\config\\boot.xml", "D:\\config\\boot.xml", "currentDir=D:\\",
            "javaCommandLine=D:\\java.exe -Xmn -Xms -Xmx -cp ${APP_DIR}app.jar  Main",
            "execute:processId==" + PID, "result=WAIT_OBJECT_0", "launchJava:retCode=0"])
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [("D:\\", ["D:\\java.exe", "-Xmn", "-Xms", "-Xmx", "-cp",
                                                  "${APP_DIR}app.jar", "Main"])])


class UpdateCycle(LauncherCase):
    def test_update_then_restart(self):
        self.makeApp(exitCodes=[21, 0, 21, 0, 0])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines() + launchLines(21) + launchLines(0, UPDATER_COMMAND, updater=True)
                         + launchLines(21) + launchLines(0, UPDATER_COMMAND, updater=True) + launchLines(0))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [MAIN_CALL, UPDATER_CALL, MAIN_CALL, UPDATER_CALL, MAIN_CALL])

    def test_failed_update_shows_its_result(self):
        for code in (5, -3, 21):
            with self.subTest(updaterExitCode=code):
                self.makeApp(exitCodes=[21, code])
                lines, boxes = self.runLauncher()
                self.assertEqual(lines, startLines() + launchLines(21)
                                 + launchLines(code, UPDATER_COMMAND, updater=True))
                self.assertEqual(boxes, [box(UPDATE_ERROR % code)])
                self.assertEqual(self.calls(), [MAIN_CALL, UPDATER_CALL])

    def test_updater_exit_1_shows_its_boot_file_then_the_result(self):
        self.makeApp(exitCodes=[21, 1])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines() + launchLines(21) + launchLines(1, UPDATER_COMMAND, updater=True))
        self.assertEqual(boxes, [box(UPDATER_BOOT), box(UPDATE_ERROR % 1)])
        self.assertEqual(self.calls(), [MAIN_CALL, UPDATER_CALL])

    def test_main_app_exit_1_shows_its_boot_file(self):
        self.makeApp(exitCodes=[1])
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines() + launchLines(1))
        self.assertEqual(boxes, [box(MAIN_BOOT)])
        self.assertEqual(self.calls(), [MAIN_CALL])


BROKEN_BOOT_FILES = [
    ("missing", None),
    ("empty", ""),
    ("unterminated element", "<boot><item key=\"java\" value=\"java.exe\"/>"),
    ("no boot element", "<config><item key=\"main\" value=\"Main\"/></config>"),
    ("item without key", bootXml(MAIN_ITEMS).replace("</boot>", "<item value=\"x\"/></boot>")),
    ("wanted key without value", bootXml(MAIN_ITEMS).replace('<item key="main"', '<item key="main"/><item key="other"')),
]


class BadBootFiles(LauncherCase):
    def test_main_app_boot_file(self):
        for name, content in BROKEN_BOOT_FILES:
            with self.subTest(bootFile=name):
                self.makeApp(mainBoot=content)
                lines, boxes = self.runLauncher()
                self.assertEqual(lines, startLines() + badBootLines())
                self.assertEqual(boxes, [box(CONFIG_ERROR % MAIN_BOOT)])
                self.assertEqual(self.calls(), [])

    def test_updater_boot_file(self):
        for name, content in BROKEN_BOOT_FILES:
            with self.subTest(bootFile=name):
                self.makeApp(updaterBoot=content, exitCodes=[21])
                lines, boxes = self.runLauncher()
                self.assertEqual(lines, startLines() + launchLines(21) + badBootLines(updater=True))
                self.assertEqual(boxes, [box(CONFIG_ERROR % UPDATER_BOOT), box(UPDATE_ERROR % 1)])
                self.assertEqual(self.calls(), [MAIN_CALL])


class MissingJava(LauncherCase):
    def test_main_app_java_missing(self):
        self.makeApp(java=False)
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines() + launchLines(1, result=None))
        self.assertEqual(boxes, [box(MAIN_BOOT)])

    def test_updater_java_missing(self):
        items = [(k, "${APP_DIR}nojava.exe" if k == "java" else v) for k, v in UPDATER_ITEMS]
        self.makeApp(updaterBoot=bootXml(items), exitCodes=[21])
        lines, boxes = self.runLauncher()
        command = UPDATER_COMMAND.replace("java.exe", "nojava.exe")
        self.assertEqual(lines, startLines() + launchLines(21)
                         + launchLines(1, command, updater=True, result=None))
        self.assertEqual(boxes, [box(UPDATER_BOOT), box(UPDATE_ERROR % 1)])
        self.assertEqual(self.calls(), [MAIN_CALL])


class DebugMarker(LauncherCase):
    def test_directory_named_debug_is_no_marker(self):
        self.makeApp(exitCodes=[0], debug="directory")
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines(debug=0) + launchLines(0))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [MAIN_CALL])

    def test_marker_file_opens_the_console(self):
        # Once the console exists, later lines go to it, not to our stdout;
        # the launch itself goes on.
        self.makeApp(exitCodes=[0], debug="file")
        lines, boxes = self.runLauncher()
        self.assertEqual(lines, startLines(debug=1))
        self.assertEqual(boxes, [])
        self.assertEqual(self.calls(), [MAIN_CALL])


def parseOptions(*extraOptions):
    """The suite's options and the remaining arguments for unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--prefix", help="Wine prefix (default: WORK_DIR/wineprefix)")
    for option in extraOptions:
        parser.add_argument(option, required=True)
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


def main(suiteName="the end-to-end suite"):
    """Runs the running script's tests, or skips them (77) where Wine cannot run."""
    options, rest = parseOptions()
    what = suiteName + " under " + options.wine
    wine_env.exitUnlessRuns(options.wine, what)
    wine_env.preparePrefixOrSkip(options.wine, options.prefix, what)
    sys.exit(runTests(options, rest))


if __name__ == "__main__":
    main()
