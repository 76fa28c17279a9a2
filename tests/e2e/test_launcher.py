"""End-to-end runs of the built launcher in throwaway app directories."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import APP_ITEMS, UPDATER_ITEMS, AppDir, command_line, launch_lines, launcher_options  # noqa: E402

LAUNCHER = JAVA_STUB = None

PARSE_FAILED = "Error: 設定ファイル %s の解析に失敗しました。"
UPDATE_FAILED = "Error: 更新で例外が発生しました。戻り値= %d"


class LauncherTest(unittest.TestCase):
    dir_name = "app"

    def setUp(self):
        self.app = AppDir(LAUNCHER, JAVA_STUB, self.dir_name)
        self.addCleanup(self.app.remove)

    def start_lines(self, outcome, argc=1, debug=0):
        return ["argc=%d" % argc, "argv[0]=" + self.app.launcher, "debugFileExists=%d" % debug]

    def main_launch(self, outcome, ret_code):
        return launch_lines("configPath", self.app.main_boot, self.app.app_dir,
                            command_line(self.app.app_dir, APP_ITEMS), outcome.pid, ret_code)

    def updater_launch(self, outcome, ret_code):
        return launch_lines("configPath2", self.app.updater_boot, self.app.path("updater"),
                            command_line(self.app.app_dir, UPDATER_ITEMS), outcome.pid, ret_code)

    def assert_calls(self, *expected):
        """expected: one "main" or "updater" per child start, in order."""
        calls = self.app.calls()
        self.assertEqual([os.path.realpath(c.cwd) for c in calls],
                         [os.path.realpath(self.app.root if which == "main" else self.app.path("updater"))
                          for which in expected])
        for call, which in zip(calls, expected):
            items = APP_ITEMS if which == "main" else UPDATER_ITEMS
            self.assertEqual(call.argv, command_line(self.app.app_dir, items).split())


class PlainLaunch(LauncherTest):
    def test_one_launch_writes_the_diagnostic_lines_in_order(self):
        self.app.write_boots()
        outcome = self.app.run()
        self.assertEqual(outcome.stdout, self.start_lines(outcome) + self.main_launch(outcome, 0))
        self.assertEqual(outcome.boxes, [])
        self.assertEqual(outcome.returncode, 0)
        self.assertEqual(self.app.calls()[0].argv, [
            self.app.path("java_stub"), "-Xmn16m", "-Xms32m", "-Xmx64m",
            "-cp", "lib/app.jar", "-Ddemo.mode=test", "demo.App"])
        self.assert_calls("main")

    def test_launcher_arguments_are_ignored(self):
        self.app.write_boots()
        outcome = self.app.run("--update", "x y", "-Xmx1g")
        self.assertEqual(outcome.stdout,
                         self.start_lines(outcome, argc=4) + self.main_launch(outcome, 0))
        self.assert_calls("main")

    def test_other_exit_codes_end_the_run_quietly(self):
        for code in (2, 20, 22, 255):
            with self.subTest(code=code):
                self.app.write_boots()
                self.app.queue_exit_codes(code)
                self.app.forget_calls()
                outcome = self.app.run()
                self.assertEqual(outcome.stdout[-1], "launchJava:retCode=%d" % code)
                self.assertEqual(outcome.boxes, [])
                self.assertEqual(outcome.returncode, 0)
                self.assert_calls("main")

    def test_boot_file_is_read_afresh_and_quotes_group_words(self):
        items = dict(APP_ITEMS, args='-Dtitle="My App" -Dempty=""')
        self.app.write_boots(app={k: v.replace('"', "&quot;") for k, v in items.items()})
        outcome = self.app.run()
        self.assertEqual(outcome.returncode, 0)
        self.assertIn('javaCommandLine=' + command_line(self.app.app_dir, items), outcome.stdout)
        self.assertEqual(self.app.calls()[0].argv[6:], ["-Dtitle=My App", "-Dempty=", "demo.App"])


class UpdateCycle(LauncherTest):
    def test_update_then_restart(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 0, 0)
        outcome = self.app.run()
        self.assertEqual(outcome.stdout, self.start_lines(outcome) + self.main_launch(outcome, 21)
                         + self.updater_launch(outcome, 0) + self.main_launch(outcome, 0))
        self.assertEqual(outcome.boxes, [])
        self.assertEqual(outcome.returncode, 0)
        self.assert_calls("main", "updater", "main")

    def test_cycle_repeats_while_the_app_asks(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 0, 21, 0, 21, 0, 0)
        outcome = self.app.run()
        self.assert_calls("main", "updater", "main", "updater", "main", "updater", "main")
        self.assertEqual(outcome.boxes, [])
        self.assertEqual(outcome.returncode, 0)

    def test_failed_update_shows_its_result(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 5)
        outcome = self.app.run()
        self.assertEqual(outcome.stdout, self.start_lines(outcome) + self.main_launch(outcome, 21)
                         + self.updater_launch(outcome, 5))
        self.assertEqual(outcome.boxes, [UPDATE_FAILED % 5])
        self.assertEqual(outcome.returncode, 0)
        self.assert_calls("main", "updater")

    def test_negative_update_result_is_shown_signed(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 128 + 15)
        outcome = self.app.run()
        self.assertEqual(outcome.boxes, [UPDATE_FAILED % 143])

    def test_main_app_ending_with_1_is_reported_like_a_failed_launch(self):
        self.app.write_boots()
        self.app.queue_exit_codes(1)
        outcome = self.app.run()
        self.assertEqual(outcome.stdout, self.start_lines(outcome) + self.main_launch(outcome, 1))
        self.assertEqual(outcome.boxes, ["Error: " + self.app.main_boot])
        self.assertEqual(outcome.returncode, 0)
        self.assert_calls("main")

    def test_updater_ending_with_1_gives_two_boxes(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 1)
        outcome = self.app.run()
        self.assertEqual(outcome.boxes, ["Error: " + self.app.updater_boot, UPDATE_FAILED % 1])
        self.assertEqual(outcome.returncode, 0)


class BadBootFiles(LauncherTest):
    BROKEN = {
        "malformed": '<boot><item key="java" value="x"/>',
        "no boot element": '<config><item key="java" value="x"/></config>',
        "item without key": '<boot><item value="x"/></boot>',
        "wanted item without value": '<boot><item key="main"/></boot>',
        "empty": "",
    }

    def test_missing_config_directory(self):
        outcome = self.app.run()
        self.assertEqual(outcome.stdout, self.start_lines(outcome) + [
            "configPath=" + self.app.main_boot, self.app.main_boot])
        self.assertEqual(outcome.boxes, [PARSE_FAILED % self.app.main_boot])
        self.assertEqual(outcome.returncode, 0)
        self.assertEqual(self.app.calls(), [])

    def test_broken_main_boot_file(self):
        for name, content in self.BROKEN.items():
            with self.subTest(name):
                self.app.write_boots()
                self.app.write("config/boot.xml", content)
                outcome = self.app.run()
                self.assertEqual(outcome.stdout[3:], ["configPath=" + self.app.main_boot,
                                                      self.app.main_boot])
                self.assertEqual(outcome.boxes, [PARSE_FAILED % self.app.main_boot])
                self.assertEqual(outcome.returncode, 0)
                self.assertEqual(self.app.calls(), [])

    def test_broken_or_missing_updater_boot_file_gives_two_boxes_in_turn(self):
        for name, content in list(self.BROKEN.items()) + [("missing", None)]:
            with self.subTest(name):
                self.app.write_boots()
                if content is None:
                    os.remove(self.app.updater_boot)
                else:
                    self.app.write("updater/config/boot.xml", content)
                self.app.queue_exit_codes(21, 0)
                self.app.forget_calls()
                outcome = self.app.run()
                self.assertEqual(outcome.stdout[-2:], ["configPath2=" + self.app.updater_boot,
                                                       self.app.updater_boot])
                self.assertEqual(outcome.boxes, [PARSE_FAILED % self.app.updater_boot,
                                                 UPDATE_FAILED % 1])
                self.assertEqual(outcome.returncode, 0)
                self.assert_calls("main")

    def test_java_that_does_not_exist(self):
        self.app.write_boots(app=dict(APP_ITEMS, java="${APP_DIR}jre/bin/java"))
        outcome = self.app.run()
        self.assertEqual(outcome.stdout[3:], [
            "configPath=" + self.app.main_boot, self.app.main_boot,
            "currentDir=" + self.app.app_dir,
            "javaCommandLine=" + command_line(self.app.app_dir, dict(APP_ITEMS, java="${APP_DIR}jre/bin/java")),
            "execute:createProcessResult==0", "launchJava:retCode=1"])
        self.assertEqual(outcome.boxes, ["Error: " + self.app.main_boot])
        self.assertEqual(outcome.returncode, 0)


class NonAsciiAppDir(LauncherTest):
    dir_name = "アプリ"

    def test_paths_reach_boxes_and_children_as_their_bytes(self):
        self.app.write_boots(updater={})
        self.app.queue_exit_codes(21)
        os.remove(self.app.updater_boot)
        outcome = self.app.run()
        self.assertEqual(outcome.boxes, [PARSE_FAILED % self.app.updater_boot, UPDATE_FAILED % 1])
        self.assertEqual(self.app.calls()[0].argv[0], self.app.path("java_stub"))


class DebugMarker(LauncherTest):
    def test_marker_file_switches_the_console_on(self):
        for content in ("", "anything\n"):
            with self.subTest(content=content):
                self.app.write_boots()
                self.app.write("debug", content)
                outcome = self.app.run()
                # Without a terminal to open, the lines stay on standard output.
                self.assertEqual(outcome.stdout,
                                 self.start_lines(outcome, debug=1) + self.main_launch(outcome, 0))
                self.assertEqual(outcome.returncode, 0)

    def test_directory_named_debug_does_not(self):
        self.app.write_boots()
        os.makedirs(self.app.path("debug"))
        outcome = self.app.run()
        self.assertEqual(outcome.stdout[2], "debugFileExists=0")
        self.assertEqual(outcome.returncode, 0)


if __name__ == "__main__":
    LAUNCHER, JAVA_STUB, rest = launcher_options()
    unittest.main(argv=[sys.argv[0]] + rest)
