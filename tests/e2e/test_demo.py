"""The demo app directory through a whole update cycle with the real JVM."""
import argparse
import filecmp
import os
import subprocess
import sys
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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--work-dir", required=True)
    options, rest = parser.parse_known_args()
    LAUNCHER, WORK_DIR = os.path.abspath(options.launcher), os.path.abspath(options.work_dir)
    os.makedirs(WORK_DIR, exist_ok=True)
    unittest.main(argv=[sys.argv[0]] + rest)
