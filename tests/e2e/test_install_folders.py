"""End-to-end runs of the launcher in the folders users install it in:
blanks in the path, a folder path over 300 characters, and boot files in
ancestor folders that must never run."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import APP_ITEMS, AppDir, boot_xml, command_line, launcher_options  # noqa: E402

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

    def test_option_after_an_unquoted_path_reaches_the_system_as_written(self):
        # The value as a whole names no file, so nothing is quoted: the program
        # name ends at the blank, as it always did.
        os.remove(os.path.join(self.app.base, "My"))
        java = "${APP_DIR}java_stub -Xss2m"
        self.app.write_boots(app=dict(APP_ITEMS, java=java))
        outcome = self.app.run()
        self.assertEqual(outcome.stdout[6:], [
            "javaCommandLine=" + command_line(self.app.app_dir, dict(APP_ITEMS, java=java)),
            "execute:createProcessResult==0", "launchJava:retCode=1"])
        self.assertEqual(outcome.boxes, ["Error: " + self.app.main_boot])
        self.assertEqual(self.app.calls(), [])


class LongFolder(unittest.TestCase):
    # 66 three-byte characters and two letters: a 200-byte last component.
    LAST = "アプリ" * 22 + "ab"
    PARTS = ["x" * 120, "y" * 120, LAST]

    def setUp(self):
        self.assertEqual(len(self.LAST.encode("utf-8")), 200)
        self.app = AppDir(LAUNCHER, JAVA_STUB, os.path.join(*self.PARTS))
        self.addCleanup(self.app.remove)

    def test_app_starts_and_no_ancestor_boot_file_runs(self):
        self.assertGreater(len(self.app.app_dir), 300)
        # Every ancestor gets a boot file that would start a decoy there.
        ancestors = [self.app.base] + [os.path.join(self.app.base, *self.PARTS[:i])
                                       for i in range(1, len(self.PARTS))]
        for folder in ancestors:
            shutil.copy2(JAVA_STUB, os.path.join(folder, "decoy"))
            os.makedirs(os.path.join(folder, "config"), exist_ok=True)
            with open(os.path.join(folder, "config", "boot.xml"), "w", encoding="utf-8") as f:
                f.write(boot_xml(dict(APP_ITEMS, java="${APP_DIR}decoy")))
        self.app.write_boots()
        outcome = self.app.run()
        self.assertEqual(outcome.stdout[2:], [
            "debugFileExists=0", "configPath=" + self.app.main_boot, self.app.main_boot,
            "currentDir=" + self.app.app_dir,
            "javaCommandLine=" + self.app.app_dir + "java_stub" + OPTIONS_TEXT,
            "execute:processId==%d" % outcome.pid, "result=WAIT_OBJECT_0", "launchJava:retCode=0"])
        self.assertEqual(outcome.boxes, [])
        self.assertEqual([call.argv for call in self.app.calls()],
                         [[self.app.path("java_stub")] + OPTIONS_ARGS])
        for folder in ancestors:
            self.assertEqual(decoy_calls(folder), 0, "decoy ran in " + folder)


if __name__ == "__main__":
    LAUNCHER, JAVA_STUB, rest = launcher_options()
    unittest.main(argv=[sys.argv[0]] + rest)
