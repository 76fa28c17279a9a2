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
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "bootcheck"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import app_dir  # noqa: E402
import wine_env  # noqa: E402
from bootcheck_cases import CASE_ARGS, CASES, EXIT_STATUSES, JAVA_COPY, SAME_AS_LAUNCHER, boot_text  # noqa: E402
from test_bootcheck import findings_of, tree_digest  # noqa: E402

OPTIONS = None
PLATFORM = {"java": "java.exe", "sep": "\\", "cpsep": ";", "exe": ".exe", "javasample": "java.exe"}
APP = "D:\\app\\"
MAIN_BOOT = APP + "config\\boot.xml"


def run_wine(args, cwd=None, env=None):
    """(exit code, stdout text) of a Windows program; stderr is Wine's own."""
    code, out, _ = wine_env.runCaptured([OPTIONS.wine] + list(args),
                                        dict(wine_env.wineEnvironment(OPTIONS.prefix), **(env or {})), cwd=cwd)
    return code, out.decode("utf-8", errors="surrogateescape").replace("\r\n", "\n")


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
        app_dir.AppDir.for_row(row, root, {}, OPTIONS.launcher, "launcher.exe", OPTIONS.java_stub)
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

    def bootcheck(self, *args, env=None):
        return run_wine(["D:\\bootcheck.exe"] + list(args), cwd=self.app, env=env)


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
        for args, status, _ in EXIT_STATUSES:
            args = [arg.replace("{app}", "D:\\app") % PLATFORM for arg in args]
            with self.subTest(args=args):
                code, out = self.bootcheck(*args)
                self.assertEqual(code, status, out)
                if status == 2:
                    self.assertEqual(out, "")


class SameAsTheLauncher(WineBootcheckCase):
    def calls(self):
        """Each java start, from the logs of both stand-ins."""
        return [call for folder in (self.app, os.path.join(self.app, "my jre"))
                for call in app_dir.read_calls(folder, errors="strict")]

    def test_command_lines_and_arguments_match_the_launcher(self):
        for name, boot, files, arguments in SAME_AS_LAUNCHER:
            options = ("--launcher-args",) + arguments if arguments else ()
            with self.subTest(case=name):
                with open(OPTIONS.java_stub, "rb") as f:
                    stub = f.read()
                self.make_app(boot, {k: stub if v == JAVA_COPY else v for k, v in files.items()}, updater_boot=boot)
                for folder in (self.app, os.path.join(self.app, "my jre")):
                    if os.path.isdir(folder):
                        with open(os.path.join(folder, "exit_codes"), "w") as f:
                            f.write("21\n0\n0\n")
                _, out = self.bootcheck("--json", "D:\\app", *options)
                document = json.loads(out)
                _, launcher_out = run_wine([APP + "launcher.exe"] + list(arguments))
                launched = [l[len("javaCommandLine="):] for l in launcher_out.splitlines()
                            if l.startswith("javaCommandLine=")]
                self.assertEqual([b["commandLine"] for b in document["bootFiles"]], launched[:2], launcher_out)
                calls = self.calls()
                self.assertEqual([b["arguments"] for b in document["bootFiles"]], [c.argv for c in calls[:2]])
                self.assertEqual([sorted(b.get("environment", [])) for b in document["bootFiles"]],
                                 [["%s=%s" % pair for pair in sorted(c.env.items())] for c in calls[:2]])


class ForwardingAtCodePages(WineBootcheckCase):
    """At the Windows code page the row names, bootcheck.exe shows the
    arguments java receives as the launcher really forwards them, or, with
    --codepage, as a launcher on that other Windows would; its output is UTF-8
    throughout."""
    FORWARDING = boot_text(items=[(k, v) for k, v in [
        ("java", "${APP_DIR}%(java)s"), ("-Xmn", "16m"), ("-Xms", "32m"), ("-Xmx", "64m"), ("-cp", "lib\\app.jar"),
        ("args", "-Dprice=€"), ("main", "demo.App"), ("launcherArgs", "append")]])
    # (name, Windows code page, bootcheck options, the launcher's arguments,
    #  the last arguments java gets, their forms)
    ROWS = [
        ("Japanese with a backslash trail byte at 932", 932, [], ["表", "ソ"], ["表", "ソ"], ["exact", "exact"]),
        ("Japanese at 1252 gets ?", 1252, [], ["日本語", "a b"], ["???", "a b"], ["lossy", "exact"]),
        ("--codepage 1252 at 932", 932, ["--codepage", "1252"], ["日本語"], ["???"], ["lossy"]),
        ("--codepage 932 at 1252", 1252, ["--codepage", "932"], ["表", "ソ"], ["表", "ソ"], ["exact", "exact"]),
    ]

    def test_arguments_as_the_launcher_forwards_them(self):
        for name, codepage, options, arguments, last, forms in self.ROWS:
            with self.subTest(case=name):
                env, encoding = app_dir.WineRunner(OPTIONS.wine, OPTIONS.prefix, None, None,
                                                   OPTIONS.work_dir).code_page(codepage)
                self.make_app(self.FORWARDING, updater_boot=self.FORWARDING)
                _, out = self.bootcheck("--json", *options, "D:\\app", "--launcher-args", *arguments, env=env)
                main_report = json.loads(out)["bootFiles"][0]
                self.assertEqual(main_report["arguments"][-len(last):], last)
                # € is 0x80 in 1252, which the JSON once showed as U+0080; 932 lacks it.
                read_at = int(options[1]) if options else codepage
                self.assertEqual(main_report["arguments"][6], "-Dprice=" + ("€" if read_at == 1252 else "?"))
                self.assertEqual(main_report["argumentForms"], forms)
                self.assertEqual(main_report["environment"], ["LAUNCHER_ARGC=%d" % len(arguments)] + [
                    "LAUNCHER_ARG%d=%s" % (i + 1, a) for i, a in enumerate(arguments)])
                # Redirected, the text is UTF-8 throughout: the line and the variables alike.
                _, text = self.bootcheck(*options, "D:\\app", "--launcher-args", *arguments, env=env)
                self.assertIn("The launcher runs: %s\n" % main_report["commandLine"], text)
                self.assertIn("  LAUNCHER_ARG1=%s\n" % arguments[0], text)
                if options:
                    continue
                with open(os.path.join(self.app, "exit_codes"), "w") as f:
                    f.write("0\n")
                run_wine([APP + "launcher.exe"] + arguments, env=env)
                calls = app_dir.read_calls(self.app, encoding=encoding, errors="strict")
                self.assertEqual([call.argv for call in calls], [main_report["arguments"]])


class LengthLimit(WineBootcheckCase):
    """bootcheck.exe's BC113 and launcher.exe's refusal agree on both sides of
    Windows' limit, counted in UTF-16 units, for text that takes two bytes a
    character in 932 and one in 1252."""
    # (Windows code page, filler, units the whole line is made to have)
    ROWS = [(932, "日", 32766), (932, "日", 32767), (1252, "€", 32766), (1252, "€", 32767)]

    def test_bootcheck_and_the_launcher_agree(self):
        for codepage, filler, units in self.ROWS:
            with self.subTest(codepage=codepage, units=units):
                env, encoding = app_dir.WineRunner(OPTIONS.wine, OPTIONS.prefix, None, None,
                                                   OPTIONS.work_dir).code_page(codepage)
                def boot_with(args):
                    self.make_app(boot_text(items=[("java", "${APP_DIR}%(java)s"), ("-cp", "lib\\app.jar"),
                                                   ("args", args), ("main", "demo.App"),
                                                   ("launcherArgs", "append")]))
                    _, out = self.bootcheck("--json", "D:\\app", "--launcher-args", "sample", env=env)
                    return json.loads(out)["bootFiles"][0]
                line = boot_with("-Dx=")["commandLine"]
                report = boot_with("-Dx=" + filler * (units - len(line)))
                self.assertEqual(len(report["commandLine"]), units)
                codes = [f["code"] for f in report["findings"]]
                with open(os.path.join(self.app, "exit_codes"), "w") as f:
                    f.write("0\n")
                _, launcher_out = run_wine([APP + "launcher.exe", "sample"], env=env)
                started = [l for l in launcher_out.splitlines() if l.startswith("javaCommandLine=")]
                calls = app_dir.read_calls(self.app, encoding=encoding, errors="strict")
                if units >= 32767:
                    self.assertIn("BC113", codes)
                    self.assertEqual((started, calls), ([], []))
                else:
                    self.assertNotIn("BC113", codes)
                    self.assertEqual([call.argv for call in calls], [report["arguments"]])


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
