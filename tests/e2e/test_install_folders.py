"""End-to-end runs of the launcher in the folders users install it in:
blanks in the path, a folder path over 300 characters, and boot files in
ancestor folders that must never run."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import APP_ITEMS, AppDir, boot_xml, launcher_options  # noqa: E402

LAUNCHER = JAVA_STUB = None
OPTIONS_TEXT = " -Xmn16m -Xms32m -Xmx64m -cp lib/app.jar -Ddemo.mode=test demo.App"
OPTIONS_ARGS = ["-Xmn16m", "-Xms32m", "-Xmx64m", "-cp", "lib/app.jar", "-Ddemo.mode=test", "demo.App"]


def decoy_calls(folder):
    """How often a decoy java in folder ran (it records its calls next to itself)."""
    path = os.path.join(folder, "calls.log")
    if not os.path.exists(path):
        return 0
    with open(path, encoding="utf-8", errors="replace") as log:
        return log.read().count("call\n")


class FolderWithBlank(unittest.TestCase):
    # The java value (@ stands for the app folder with its separator), the
    # first word of the command line, and the child's arguments.
    ROWS = [
        ("unquoted ${APP_DIR}", "${APP_DIR}java_stub", '"@java_stub"', ["@java_stub"] + OPTIONS_ARGS),
        ("quoted in the boot file", "&quot;${APP_DIR}java_stub&quot;", '"@java_stub"',
         ["@java_stub"] + OPTIONS_ARGS),
        ("option after the quoted path", "&quot;${APP_DIR}java_stub&quot; -Xss2m",
         '"@java_stub" -Xss2m', ["@java_stub", "-Xss2m"] + OPTIONS_ARGS),
    ]

    def setUp(self):
        self.app = AppDir(LAUNCHER, JAVA_STUB, "My Apps")
        self.addCleanup(self.app.remove)
        # What an unquoted path would start first: the part before the blank.
        shutil.copy2(JAVA_STUB, os.path.join(self.app.base, "My"))

    def test_java_path_with_a_blank_starts_the_right_program(self):
        for name, value, first_word, argv in self.ROWS:
            with self.subTest(name):
                self.app.write_boots(app=dict(APP_ITEMS, java=value))
                self.app.forget_calls()
                if os.path.exists(os.path.join(self.app.base, "calls.log")):
                    os.remove(os.path.join(self.app.base, "calls.log"))
                outcome = self.app.run()
                expand = lambda text: text.replace("@", self.app.app_dir)
                self.assertEqual(outcome.stdout[6], "javaCommandLine=" + expand(first_word) + OPTIONS_TEXT)
                self.assertEqual(outcome.stdout[-1], "launchJava:retCode=0")
                self.assertEqual(outcome.boxes, [])
                self.assertEqual([call.argv for call in self.app.calls()], [[expand(a) for a in argv]])
                self.assertEqual(decoy_calls(self.app.base), 0, "the decoy before the blank ran")

    # Values that begin with a placeholder but as a whole name no file: the
    # program part (folder and the value up to its next blank) is quoted.
    UNNAMED_ROWS = [
        ("option after the path", "${APP_DIR}java_stub -Xss2m", '"@java_stub" -Xss2m',
         [["@java_stub", "-Xss2m"] + OPTIONS_ARGS]),
        ("trailing blank", "${PARENT_DIR}java_stub ", '"@java_stub" ', [["@java_stub"] + OPTIONS_ARGS]),
        ("java missing", "${APP_DIR}jre/bin/java", '"@jre/bin/java"', []),
        ("java missing, option after it", "${APP_DIR}jre/bin/java -Xss2m", '"@jre/bin/java" -Xss2m', []),
    ]

    def test_program_part_is_quoted_and_the_decoy_never_runs(self):
        for name, value, first_word, calls in self.UNNAMED_ROWS:
            with self.subTest(name):
                self.app.write_boots(app=dict(APP_ITEMS, java=value))
                self.app.forget_calls()
                outcome = self.app.run()
                expand = lambda text: text.replace("@", self.app.app_dir)
                self.assertEqual(outcome.stdout[6], "javaCommandLine=" + expand(first_word) + OPTIONS_TEXT)
                self.assertEqual(outcome.boxes, [] if calls else ["Error: " + self.app.main_boot])
                self.assertEqual([call.argv for call in self.app.calls()], [[expand(a) for a in c] for c in calls])
                self.assertEqual(decoy_calls(self.app.base), 0, "the decoy before the blank ran")


class PlaceholderInTheFolderName(unittest.TestCase):
    def test_inserted_folder_is_not_searched_again(self):
        for folder in ("x${PARENT_DIR}y", "x${APP_DIR}y"):
            for value in ("${APP_DIR}java_stub", "${PARENT_DIR}java_stub"):
                with self.subTest(folder=folder, java=value):
                    app = AppDir(LAUNCHER, JAVA_STUB, folder)
                    self.addCleanup(app.remove)
                    app.write_boots(app=dict(APP_ITEMS, java=value))
                    outcome = app.run()
                    self.assertEqual(outcome.stdout[6], "javaCommandLine=" + app.app_dir + "java_stub" + OPTIONS_TEXT)
                    self.assertEqual(outcome.boxes, [])
                    self.assertEqual([call.argv for call in app.calls()], [[app.path("java_stub")] + OPTIONS_ARGS])


class QuoteInTheFolderName(unittest.TestCase):
    def test_launch_refused_and_nothing_runs(self):
        app = AppDir(LAUNCHER, JAVA_STUB, 'my "app"')
        self.addCleanup(app.remove)
        # What the quote would make of the path: "my app" without its quotes.
        decoy = os.path.join(app.base, "my app")
        os.makedirs(decoy)
        shutil.copy2(JAVA_STUB, os.path.join(decoy, "java_stub"))
        app.write_boots(app=dict(APP_ITEMS, java="${APP_DIR}java_stub"))
        outcome = app.run()
        self.assertEqual(outcome.stdout[2:], ["debugFileExists=0", "configPath=" + app.main_boot, app.main_boot])
        self.assertEqual(outcome.boxes, ["Error: 設定ファイル %s の解析に失敗しました。" % app.main_boot])
        self.assertEqual(app.calls(), [])
        self.assertEqual(decoy_calls(decoy), 0)


class ValuesOutsideAscii(unittest.TestCase):
    # Natively the ANSI code page is UTF-8: every value reaches the child as its
    # bytes, UTF-8 or not. (app folder, java folder, args, the -D argument's bytes)
    ROWS = [
        ("Japanese -D value", "アプリ", "", "-Dname=日本語", "-Dname=日本語".encode()),
        ("java path with é", "app", "jré", "-Ddemo.mode=test", b"-Ddemo.mode=test"),
        # 日本語 saved in Shift-JIS, written through surrogateescape.
        ("Shift-JIS value", "app", "", "-Dname=\udc93\udcfa\udc96\x7b\udc8c\udcea",
         b"-Dname=\x93\xfa\x96\x7b\x8c\xea"),
    ]

    def test_child_receives_the_bytes(self):
        for name, folder, java_folder, args, argument in self.ROWS:
            with self.subTest(name):
                app = AppDir(LAUNCHER, JAVA_STUB, folder)
                self.addCleanup(app.remove)
                java = app.path(java_folder, "java_stub")
                if java_folder:
                    os.makedirs(app.path(java_folder))
                    shutil.copy2(JAVA_STUB, java)
                items = dict(APP_ITEMS, java="${APP_DIR}" + (java_folder + "/" if java_folder else "") + "java_stub",
                             args=args)
                app.write("config/boot.xml", boot_xml(items).encode("utf-8", "surrogateescape"))
                app.write("updater/config/boot.xml", boot_xml(APP_ITEMS))
                outcome = app.run()
                self.assertEqual(outcome.boxes, [])
                with open(os.path.join(os.path.dirname(java), "calls.log"), "rb") as log:
                    argv = [line[4:] for line in log.read().split(b"\n") if line.startswith(b"arg=")]
                self.assertEqual(argv, [java.encode()] + [a.encode() for a in OPTIONS_ARGS[:5]] + [argument, b"demo.App"])


if __name__ == "__main__":
    LAUNCHER, JAVA_STUB, rest = launcher_options()
    unittest.main(argv=[sys.argv[0]] + rest)
