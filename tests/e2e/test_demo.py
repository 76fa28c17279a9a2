"""The demo app directory through a whole update cycle with the real JVM."""
import argparse
import filecmp
import os
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCHER = WORK_DIR = None


class RealJvmUpdateCycle(unittest.TestCase):
    def test_version_1_updates_to_version_2(self):
        app = os.path.join(WORK_DIR, "demo-app")
        subprocess.run([os.path.join(REPO, "demo", "make-app-dir.sh"), LAUNCHER, app], check=True)
        result = subprocess.run([os.path.join(app, "launcher")], cwd=WORK_DIR, stdin=subprocess.DEVNULL,
                                capture_output=True, start_new_session=True, timeout=300)
        lines = result.stdout.decode("utf-8").splitlines()

        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr.decode("utf-8"), "")
        self.assertEqual(lines[2], "debugFileExists=1")
        self.assertEqual([l for l in lines if l.startswith("launchJava:retCode=")],
                         ["launchJava:retCode=21", "launchJava:retCode=0", "launchJava:retCode=0"])
        self.assertEqual([l for l in lines if l.startswith("configPath")], [
            "configPath=" + os.path.join(app, "config", "boot.xml"),
            "configPath2=" + os.path.join(app, "updater", "config", "boot.xml"),
            "configPath=" + os.path.join(app, "config", "boot.xml")])
        self.assertIn("javaCommandLine=%s/jre/bin/java -Xmn8m -Xms32m -Xmx128m -cp lib/app.jar "
                      "-Ddemo.greeting=hello -Dfile.encoding=UTF-8 demo.App" % app, lines)
        app_lines = [l for l in lines if l.startswith("[")]
        self.assertEqual(app_lines, [
            "[app] version 1 running in %s (max heap 128 MB, demo.greeting=hello)" % app,
            "[app] version 2 is available: exiting with 21 to ask for the update",
            "[updater] running in %s/updater" % app,
            "[updater] installed %s/lib/app.jar: exiting with 0" % app,
            "[app] version 2 running in %s (max heap 128 MB, demo.greeting=hello)" % app,
            "[app] up to date: exiting with 0"])
        self.assertTrue(filecmp.cmp(os.path.join(app, "lib", "app.jar"),
                                    os.path.join(app, "updater", "payload", "app.jar"), shallow=False))

    def test_the_document_it_is_opened_with_reaches_both_starts_exactly(self):
        app = os.path.join(WORK_DIR, "demo-app-document")
        subprocess.run([os.path.join(REPO, "demo", "make-app-dir.sh"), LAUNCHER, app], check=True)
        arguments = [os.path.join(app, "報告 2026.txt"), 'say "hi"', "", "*"]
        result = subprocess.run([os.path.join(app, "launcher")] + arguments, cwd=WORK_DIR,
                                stdin=subprocess.DEVNULL, capture_output=True, start_new_session=True,
                                timeout=300, env=dict(os.environ, LC_ALL="C.UTF-8"))
        lines = result.stdout.decode("utf-8").splitlines()

        self.assertEqual(result.returncode, 0)
        self.assertIn("javaCommandLine=%s/jre/bin/java -Xmn8m -Xms32m -Xmx128m -cp lib/app.jar "
                      "-Ddemo.greeting=hello -Dfile.encoding=UTF-8 demo.App \"%s/報告 2026.txt\" "
                      "\"say \\\"hi\\\"\" \"\" \"*\"" % (app, app), lines)
        opened = "[app] opened with 4 argument(s): %s/報告 2026.txt | say \"hi\" |  | *" % app
        self.assertEqual([l for l in lines if l.startswith("[app] opened")], [opened, opened])

    def test_a_second_launch_hands_its_document_to_the_running_app(self):
        app = os.path.join(WORK_DIR, "demo-app-second")
        subprocess.run([os.path.join(REPO, "demo", "make-app-dir.sh"), LAUNCHER, app], check=True)
        temp = tempfile.mkdtemp(dir=WORK_DIR)
        env = dict(os.environ, LC_ALL="C.UTF-8", TMPDIR=temp, XDG_RUNTIME_DIR=temp, DEMO_WATCH_SECONDS="3")
        first = subprocess.Popen([os.path.join(app, "launcher")], cwd=WORK_DIR, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True, env=env)
        try:
            lines = []
            while not lines or lines[-1] != "[app] watching its inbox":
                line = first.stdout.readline()
                self.assertTrue(line, "the app ended before it watched its inbox: %r" % lines)
                lines.append(line.decode("utf-8").rstrip("\n"))
            document = os.path.join(app, "月次 報告.txt")
            second = subprocess.run([os.path.join(app, "launcher"), document, 'say "hi"'], cwd=app,
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=60, env=env)
            out, err = first.communicate(timeout=120)
        finally:
            if first.poll() is None:
                first.kill()
        lines += out.decode("utf-8").splitlines()

        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stderr, b"")
        self.assertEqual([l for l in second.stdout.decode("utf-8").splitlines() if l.startswith("singleInstance:")],
                         ["singleInstance:forwarded=%s" % os.path.join(
                             self.inbox_of(lines), "00000000000000000001.request")])
        self.assertEqual(first.returncode, 0)
        self.assertEqual(err, b"")
        self.assertEqual([l for l in lines if l.startswith("[app] handed")],
                         ["[app] handed over from %s: %s | say \"hi\"" % (app, document)])
        # No second JVM: two starts of the app in the update cycle, as without a second launch.
        self.assertEqual(len([l for l in lines if l.startswith("[app] version ") and " running in " in l]), 2)
        self.assertEqual(sorted(os.listdir(self.inbox_of(lines))), ["counter"])

    @staticmethod
    def inbox_of(lines):
        return [l for l in lines if l.startswith("singleInstance:inbox=")][0][len("singleInstance:inbox="):]


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--work-dir", required=True)
    options, rest = parser.parse_known_args()
    LAUNCHER, WORK_DIR = os.path.abspath(options.launcher), os.path.abspath(options.work_dir)
    os.makedirs(WORK_DIR, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest)
