#!/usr/bin/python3
"""bootcheck.exe under Wine: the native suite's boot files (one finding each,
same lines and codes), exit statuses, a folder left unchanged, and the command
line and arguments it prints against what launcher.exe really runs from D:\\app\\.

Usage: test_bootcheck_wine.py --wine WINE [--boot-wine WINE64] --bootcheck EXE
       --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "bootcheck"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import app_dir  # noqa: E402
import wine_env  # noqa: E402
from bootcheck_cases import CASE_ARGS, CASES, boot_text  # noqa: E402
from test_bootcheck import findings_of, tree_digest  # noqa: E402

OPTIONS = None
PLATFORM = {"java": "java.exe", "sep": "\\", "cpsep": ";", "exe": ".exe", "javasample": "java.exe"}
APP = "D:\\app\\"
MAIN_BOOT = APP + "config\\boot.xml"
STUB = "a copy of the stand-in java"


def run_wine(args, cwd=None):
    """(exit code, stdout text) of a Windows program; stderr is Wine's own."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([OPTIONS.wine] + list(args), env=wine_env.wineEnvironment(OPTIONS.prefix),
                                cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=wine_env.RUN_TIMEOUT)
        out.seek(0)
        return result.returncode, out.read().decode("utf-8", errors="surrogateescape").replace("\r\n", "\n")


class WineBootcheckCase(unittest.TestCase):
    def make_app(self, main_boot, files=None, updater_boot=None):
        root = os.path.join(OPTIONS.work_dir, self.id().split(".")[-1])
        shutil.rmtree(root, ignore_errors=True)
        self.app = os.path.join(root, "app")
        files = {"app/" + relative % PLATFORM: app_dir.DIR if content is None else content
                 for relative, content in (files or {}).items()}
        files.update({"app/lib/app.jar": "jar", "app/updater/lib/app.jar": "jar"})
        main = os.makedirs if main_boot == "dir" else None if main_boot is None else main_boot % PLATFORM
        row = app_dir.Row("", main=main, updater=(updater_boot or boot_text()) % PLATFORM, files=files, stub=False)
        app_dir.lay_out(row, root, {}, OPTIONS.launcher, "launcher.exe", OPTIONS.java_stub)
        shutil.copy(OPTIONS.bootcheck, os.path.join(root, "bootcheck.exe"))
        with open(OPTIONS.java_stub, "rb") as f:
            stub = bytearray(f.read())
        # The stand-in as a GUI program, as javaw.exe is: only the console case
        # may bring the console-program warning.
        subsystem = int.from_bytes(stub[0x3C:0x40], "little") + 4 + 20 + 68
        stub[subsystem:subsystem + 2] = (2).to_bytes(2, "little")
        with open(os.path.join(self.app, "java.exe"), "wb") as f:
            f.write(stub)
        wine_env.mapDrive(OPTIONS.prefix, "d", root)

    def bootcheck(self, *args):
        return run_wine(["D:\\bootcheck.exe"] + list(args), cwd=self.app)


class OneFindingPerBootFile(WineBootcheckCase):
    def test_each_finding_with_its_line(self):
        for name, boot, files, expected in CASES:
            with self.subTest(case=name):
                self.make_app(boot, files)
                before = tree_digest(self.app)
                code, out = self.bootcheck(*CASE_ARGS.get(name, []), "D:\\app")
                self.assertEqual(tree_digest(self.app), before, "bootcheck changed the folder")
                want = [(APP + boot[0].replace("/", "\\") if boot else MAIN_BOOT, line,
                         "error" if code_.startswith("BC1") else "warning", code_)
                        for line, code_, _, *boot in expected]
                self.assertEqual([f[:4] for f in findings_of(out)], want, out)
                self.assertEqual(code, 1 if any(w[2] == "error" for w in want) else 0)

    def test_texts_name_windows_paths(self):
        rows = [
            ("java_missing", boot_text(replace={"java": "${APP_DIR}no_such_java"}),
             'D:\\app\\config\\boot.xml:3: error: the java program "D:\\app\\no_such_java.exe" does not exist, '
             "so the launcher cannot start it and shows a box with this file's path; write the path of java, "
             'such as value="${APP_DIR}jre\\bin\\java.exe" [BC110]'),
            ("java_with_unquoted_blank", boot_text(replace={"java": "${APP_DIR}my jre\\java.exe -Dx=1"}),
             'D:\\app\\config\\boot.xml:3: warning: the java value holds a blank and no quotes, so the program '
             'is "D:\\app\\my" (a file planted at "D:\\app\\my.exe" would run: CWE-428) and the rest of the '
             "value becomes java's arguments; put the path in quotes, such as "
             'value="&quot;${APP_DIR}jre\\bin\\java.exe&quot;" [BC207]'),
            ("class_path_entry_missing", boot_text(replace={"-cp": "lib\\app.jar;lib\\missing.jar"}),
             'D:\\app\\config\\boot.xml:7: warning: class-path entry "lib\\missing.jar" does not exist in '
             "D:\\app\\, the folder the launcher starts java in; correct the name, or write it relative to "
             "that folder [BC206]"),
        ]
        for name, boot, line in rows:
            with self.subTest(case=name):
                self.make_app(boot)
                _, out = self.bootcheck("D:\\app")
                self.assertIn(line + "\n", out)

    def test_json_carries_the_same_findings(self):
        self.make_app(boot_text(items=[("Xmx", "64m"), ("main", "demo.App.class")]))
        _, out = self.bootcheck("D:\\app")
        code, json_out = self.bootcheck("--json", "D:\\app")
        document = json.loads(json_out)
        self.assertEqual(document["appDir"], APP)
        self.assertEqual([(f["file"], f["line"], f["severity"], f["code"], f["message"])
                          for b in document["bootFiles"] for f in b["findings"]], findings_of(out))
        self.assertEqual(code, 1)


class ExitStatus(WineBootcheckCase):
    def test_statuses(self):
        self.make_app(boot_text())
        rows = [(["D:\\app"], 0), (["D:\\no_such_folder"], 2), (["--verbose"], 2), (["D:\\app", "D:\\"], 2),
                (["--help"], 0)]
        for args, status in rows:
            with self.subTest(args=args):
                code, out = self.bootcheck(*args)
                self.assertEqual(code, status, out)


class SameAsTheLauncher(WineBootcheckCase):
    ROWS = [
        ("plain", boot_text(), {}),
        ("bare_heap_options_and_empty_args", boot_text(replace={"-Xmn": False, "args": ""}), {}),
        ("quotes_and_backslashes", boot_text(
            replace={"args": '-Da=&quot;x y&quot; -Db=c:\\\\dir\\ &quot;q\\&quot;&quot;'}), {}),
        ("quoted_java_with_blank", boot_text(replace={"java": "&quot;${APP_DIR}my jre\\java.exe&quot;"}),
         {"my jre/java.exe": STUB}),
        ("parent_dir_placeholder", boot_text(replace={"java": "${PARENT_DIR}java.exe"}), {}),
    ]

    def calls(self):
        """argv of each java start, from the logs of both stand-ins."""
        return [call.argv for folder in (self.app, os.path.join(self.app, "my jre"))
                for call in app_dir.read_calls(folder, errors="strict")]

    def test_command_lines_and_arguments_match_the_launcher(self):
        for name, boot, files in self.ROWS:
            with self.subTest(case=name):
                with open(OPTIONS.java_stub, "rb") as f:
                    stub = f.read()
                self.make_app(boot, {k: stub if v is STUB else v for k, v in files.items()}, updater_boot=boot)
                for folder in (self.app, os.path.join(self.app, "my jre")):
                    if os.path.isdir(folder):
                        with open(os.path.join(folder, "exit_codes"), "w") as f:
                            f.write("21\n0\n0\n")
                _, out = self.bootcheck("--json", "D:\\app")
                document = json.loads(out)
                _, launcher_out = run_wine([APP + "launcher.exe"])
                launched = [l[len("javaCommandLine="):] for l in launcher_out.splitlines()
                            if l.startswith("javaCommandLine=")]
                self.assertEqual([b["commandLine"] for b in document["bootFiles"]], launched[:2], launcher_out)
                self.assertEqual([b["arguments"] for b in document["bootFiles"]], self.calls()[:2])


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--boot-wine")
    parser.add_argument("--bootcheck", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--prefix")
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    OPTIONS.prefix = os.path.abspath(OPTIONS.prefix or os.path.join(OPTIONS.work_dir, "wineprefix"))
    bootWine = OPTIONS.boot_wine if OPTIONS.boot_wine and os.access(OPTIONS.boot_wine, os.X_OK) else None
    wine_env.exitUnlessRuns(OPTIONS.wine, "bootcheck.exe under Wine")
    wine_env.preparePrefix(OPTIONS.wine, OPTIONS.prefix, bootWine)
    sys.exit(wine_env.runTests(OPTIONS.wine, OPTIONS.prefix, [sys.argv[0]] + rest))


if __name__ == "__main__":
    main()
