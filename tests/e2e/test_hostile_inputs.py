"""End-to-end runs of the built launcher against hostile boot files and file
kinds, and with a standard output nobody reads."""
import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_launcher as suite  # noqa: E402
from app_dir import APP_ITEMS, UPDATER_ITEMS, Outcome, boot_xml, launcher_options  # noqa: E402

MAX_BOOT_FILE_SIZE = 1024 * 1024
RUN_TIMEOUT = 30  # seconds; a launcher blocked on a FIFO never ends by itself


def nested(levels):
    return "<boot>" + "<a>" * (levels - 1) + "</a>" * (levels - 1) + "</boot>"


def oversized(items):
    valid = boot_xml(items)
    return valid + "<!--" + "x" * (MAX_BOOT_FILE_SIZE + 1 - len(valid) - 7) + "-->"


def with_nul_in_java(items):
    return boot_xml(dict(items, java=items["java"] + "&#0; x"))


# (name, how to put the hostile boot file at a path, given the items it would have held)
HOSTILE_BOOT_FILES = [
    ("nested 100,000 levels deep", lambda path, items: write(path, nested(100000))),
    ("nested one level too deep", lambda path, items: write(path, nested(257))),
    ("a FIFO", lambda path, items: os.mkfifo(path)),
    ("a link to /dev/zero", lambda path, items: os.symlink("/dev/zero", path)),
    ("a directory", lambda path, items: os.mkdir(path)),
    ("one byte over 1 MiB", lambda path, items: write(path, oversized(items))),
    ("a NUL in the java value", lambda path, items: write(path, with_nul_in_java(items))),
]


def write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


class HostileCase(suite.LauncherTest):
    def run_launcher(self, stdout=subprocess.PIPE, restore_signals=True):
        """Runs the launcher like AppDir.run, but never waits for ever."""
        process = subprocess.Popen([self.app.launcher], cwd=self.app.base, stdin=subprocess.DEVNULL,
                                   stdout=stdout, stderr=subprocess.PIPE, start_new_session=True,
                                   restore_signals=restore_signals)
        try:
            out, err = process.communicate(timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            self.fail("the launcher did not end within %d s" % RUN_TIMEOUT)
        return Outcome(process.returncode, process.pid, (out or b"").decode("utf-8").splitlines(),
                       err.decode("utf-8").splitlines())


class HostileBootFiles(HostileCase):
    def test_main_boot_file_gives_one_configuration_error(self):
        for name, make in HOSTILE_BOOT_FILES:
            with self.subTest(bootFile=name):
                self.app.write_boots()
                os.remove(self.app.main_boot)
                make(self.app.main_boot, APP_ITEMS)
                outcome = self.run_launcher()
                self.assertEqual(outcome.stdout, self.start_lines(outcome) + [
                    "configPath=" + self.app.main_boot, self.app.main_boot])
                self.assertEqual(outcome.boxes, [suite.PARSE_FAILED % self.app.main_boot])
                self.assertEqual(outcome.returncode, 0)
                self.assert_calls()
                self.fresh_app()

    def test_updater_boot_file_gives_its_error_then_the_update_failure(self):
        for name, make in HOSTILE_BOOT_FILES:
            with self.subTest(bootFile=name):
                self.app.write_boots()
                os.remove(self.app.updater_boot)
                make(self.app.updater_boot, UPDATER_ITEMS)
                self.app.queue_exit_codes(21)
                outcome = self.run_launcher()
                self.assertEqual(outcome.stdout, self.start_lines(outcome) + self.main_launch(outcome, 21)
                                 + ["configPath2=" + self.app.updater_boot, self.app.updater_boot])
                self.assertEqual(outcome.boxes, [suite.PARSE_FAILED % self.app.updater_boot,
                                                 suite.UPDATE_FAILED % 1])
                self.assertEqual(outcome.returncode, 0)
                self.assert_calls("main")
                self.fresh_app()

    def fresh_app(self):
        """A fresh app directory for the next row."""
        self.app.remove()
        self.setUp()


class DebugMarkerKinds(HostileCase):
    def test_only_a_regular_file_is_the_marker(self):
        for name, make in [("a FIFO", os.mkfifo), ("a link to /dev/zero",
                                                   lambda path: os.symlink("/dev/zero", path))]:
            with self.subTest(marker=name):
                self.app.write_boots()
                self.app.forget_calls()
                make(self.app.path("debug"))
                outcome = self.run_launcher()
                self.assertEqual(outcome.stdout, self.start_lines(outcome, debug=0)
                                 + self.main_launch(outcome, 0))
                self.assertEqual(outcome.boxes, [])
                self.assertEqual(outcome.returncode, 0)
                self.assert_calls("main")
                os.remove(self.app.path("debug"))


SIGPIPE_BIT = 1 << (signal.SIGPIPE - 1)
# Records whether SIGPIPE is ignored in the child, then is the stand-in java.
RECORDING_JAVA = """#!/bin/sh
here=$(dirname "$0")
grep '^SigIgn:' /proc/$$/status >> "$here/sigign.log"
exec "$here/java_stub" "$@"
"""


class ClosedStandardOutput(HostileCase):
    def test_the_update_cycle_runs_to_its_end_and_exits_0(self):
        self.app.write_boots()
        self.app.queue_exit_codes(21, 0, 0)
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            outcome = self.run_launcher(stdout=write_end)
        finally:
            os.close(write_end)
        self.assertEqual(outcome.returncode, 0)
        self.assertEqual(outcome.boxes, [])
        self.assert_calls("main", "updater", "main")

    def test_children_get_the_sigpipe_disposition_the_launcher_was_given(self):
        self.app.write(self.app.path("recording_java"), RECORDING_JAVA)
        os.chmod(self.app.path("recording_java"), 0o755)
        items = dict(APP_ITEMS, java="${APP_DIR}recording_java")
        # Python ignores SIGPIPE itself; restore_signals gives the launcher the default.
        for given_ignored in (False, True):
            with self.subTest(launcherGivenIgnoredSigpipe=given_ignored):
                self.app.write_boots(app=items, updater=dict(UPDATER_ITEMS, java=items["java"]))
                self.app.queue_exit_codes(21, 0, 0)
                self.app.forget_calls()
                if os.path.exists(self.app.path("sigign.log")):
                    os.remove(self.app.path("sigign.log"))
                read_end, write_end = os.pipe()
                os.close(read_end)
                try:
                    outcome = self.run_launcher(stdout=write_end, restore_signals=not given_ignored)
                finally:
                    os.close(write_end)
                self.assertEqual(outcome.returncode, 0)
                with open(self.app.path("sigign.log")) as log:
                    masks = [int(line.split()[1], 16) for line in log]
                self.assertEqual([bool(mask & SIGPIPE_BIT) for mask in masks], [given_ignored] * 3)
                self.assertEqual(len(self.app.calls()), 3)


if __name__ == "__main__":
    suite.LAUNCHER, suite.JAVA_STUB, rest = launcher_options()
    unittest.main(argv=[sys.argv[0]] + rest)
