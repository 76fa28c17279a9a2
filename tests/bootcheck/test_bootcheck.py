#!/usr/bin/python3
"""bootcheck natively: one boot file per finding with its exact line and text,
the same findings in --json, exit statuses, the command line and arguments it
prints against what the launcher really runs, and folders left unchanged.

Usage: test_bootcheck.py --bootcheck EXE --launcher EXE --java-stub EXE [-v]
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from bootcheck_cases import (CASE_ARGS, CASES, EXIT_STATUSES, GOOD_ITEMS, JAVA_COPY, SAME_AS_LAUNCHER,  # noqa: E402
                             boot_text)
from app_dir import AppDir, NativeRunner, read_calls  # noqa: E402

BOOTCHECK = LAUNCHER = JAVA_STUB = None
PLATFORM = {"java": "java_stub", "sep": "/", "cpsep": ":", "exe": "", "javasample": "java"}
GOOD_BOOT = [(key, value % PLATFORM) for key, value in GOOD_ITEMS]
FINDING = re.compile(r"^(.*?)(?::(\d+))?: (error|warning): (.*) \[(BC\d{3})\]$")


def tree_digest(root):
    """Names, kinds, contents and modification times of everything under root."""
    digest = hashlib.sha256()
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(folder, name)
            info = os.lstat(path)
            digest.update(("%s %o %d\n" % (os.path.relpath(path, root), info.st_mode, info.st_mtime_ns)).encode())
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    digest.update(f.read())
    return digest.hexdigest()


def run_bootcheck(*args, cwd=None):
    result = subprocess.run([BOOTCHECK, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return (result.returncode, result.stdout.decode("utf-8", "surrogateescape"),
            result.stderr.decode("utf-8", "surrogateescape"))


def findings_of(text):
    """[(file, line or None, severity, code, message)] of the finding lines."""
    found = []
    for line in text.splitlines():
        match = FINDING.match(line)
        if match:
            path, number, severity, message, code = match.groups()
            found.append((path, int(number) if number else None, severity, code, message))
    return found


class BootcheckCase(unittest.TestCase):
    def make_app(self, main_boot, files=None):
        self.app = AppDir(LAUNCHER, JAVA_STUB)
        self.addCleanup(self.app.remove)
        self.app.write("lib/app.jar", "jar")
        self.app.write("updater/lib/app.jar", "jar")
        self.app.write("updater/config/boot.xml", boot_text() % PLATFORM)
        if main_boot == "dir":
            os.makedirs(self.app.path("config", "boot.xml"))
        elif main_boot is not None:
            self.app.write("config/boot.xml", (main_boot % PLATFORM).encode("utf-8", "surrogateescape"))
        for relative, content in (files or {}).items():
            if content is None:
                os.makedirs(self.app.path(relative % PLATFORM))
                continue
            if content == JAVA_COPY:
                os.makedirs(os.path.dirname(self.app.path(relative % PLATFORM)), exist_ok=True)
                shutil.copy2(JAVA_STUB, self.app.path(relative % PLATFORM))
            else:
                self.app.write(relative % PLATFORM, content)
            os.chmod(self.app.path(relative % PLATFORM), 0o755)
        return self.app


class OneFindingPerBootFile(BootcheckCase):
    def test_each_finding_with_its_line_and_text(self):
        for name, boot, files, expected in CASES:
            with self.subTest(case=name):
                app = self.make_app(boot, files)
                before = tree_digest(app.root)
                code, out, err = run_bootcheck(*CASE_ARGS.get(name, []), app.root, cwd=app.root)
                self.assertEqual(tree_digest(app.root), before, "bootcheck changed the folder")
                self.assertEqual(err, "")
                want = [(app.path(*boot[0].split("/")) if boot else app.main_boot, line,
                         "error" if code_.startswith("BC1") else "warning", code_,
                         (message % PLATFORM if "%(" in message else message).replace("{app}", app.app_dir))
                        for line, code_, message, *boot in expected]
                got = findings_of(out)
                self.assertEqual([f[:4] for f in got], [w[:4] for w in want], out)
                for got_one, want_one in zip(got, want):
                    if want_one[4]:
                        self.assertEqual(got_one[4], want_one[4])
                errors = sum(1 for f in want if f[2] == "error")
                self.assertEqual(code, 1 if errors else 0)
                self.assertTrue(out.endswith("bootcheck: %d error%s, %d warning%s\n" % (
                    errors, "" if errors == 1 else "s", len(want) - errors,
                    "" if len(want) - errors == 1 else "s")), out)

    def test_json_carries_the_same_findings(self):
        for name, boot, files, expected in CASES:
            with self.subTest(case=name):
                app = self.make_app(boot, files)
                _, out, _ = run_bootcheck(*CASE_ARGS.get(name, []), app.root)
                json_code, json_out, _ = run_bootcheck("--json", *CASE_ARGS.get(name, []), app.root)
                document = json.loads(json_out)
                self.assertEqual(document["appDir"], app.app_dir)
                from_json = [(f["file"], f["line"], f["severity"], f["code"], f["message"])
                             for boot_file in document["bootFiles"] for f in boot_file["findings"]]
                self.assertEqual(from_json, findings_of(out))
                self.assertEqual(document["errors"], sum(1 for f in from_json if f[2] == "error"))
                self.assertEqual(document["warnings"], sum(1 for f in from_json if f[2] == "warning"))
                self.assertEqual(json_code, 1 if document["errors"] else 0)


    def test_json_stays_valid_for_bytes_that_are_not_utf8(self):
        app = self.make_app(None)
        app.write("config/boot.xml", (boot_text(replace={"args": "-Dname=caf\udce9\\x"}) % PLATFORM)
                  .encode("utf-8", "surrogateescape"))
        result = subprocess.run([BOOTCHECK, "--json", app.root], stdout=subprocess.PIPE, timeout=60)
        document = json.loads(result.stdout.decode("utf-8"))
        main = document["bootFiles"][0]
        # A byte that is no UTF-8 has no text: U+FFFD, not a Latin-1 guess.
        self.assertEqual(main["arguments"][6], "-Dname=caf\ufffd\\x")
        self.assertEqual([(f["line"], f["code"]) for f in main["findings"]], [(8, "BC211")])


class ExitStatus(BootcheckCase):
    def test_statuses_and_usage_errors(self):
        app = self.make_app(boot_text())
        for args, status, message in EXIT_STATUSES:
            args = [arg.replace("{app}", app.root) % PLATFORM for arg in args]
            with self.subTest(args=args):
                code, out, err = run_bootcheck(*args)
                self.assertEqual(code, status)
                if message is None:
                    self.assertEqual(err, "")
                    continue
                self.assertEqual(out, "")
                self.assertEqual(err.splitlines()[0], message.replace("{app}", app.root) % PLATFORM)
                self.assertEqual(err.splitlines()[1], "usage: bootcheck [--json] [--codepage 932|1252] [APP_DIR]")

    def test_default_folder_is_the_current_one(self):
        app = self.make_app(boot_text(replace={"main": ""}))
        code, out, _ = run_bootcheck(cwd=app.root)
        self.assertEqual(code, 0)
        self.assertEqual(out.splitlines()[0], "Boot file of the main application: %s (java starts in %s)"
                         % (app.main_boot, app.app_dir))

    def test_help_lists_every_code_the_readme_lists(self):
        code, out, _ = run_bootcheck("--help")
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith("usage: bootcheck [--json] [--codepage 932|1252] [APP_DIR]\n"))
        help_codes = re.findall(r"^  (BC\d{3}) (?:error|warning) ", out, re.M)
        with open(os.path.join(HERE, "..", "..", "README.md"), encoding="utf-8") as f:
            readme_codes = re.findall(r"^\| `(BC\d{3})` \|", f.read(), re.M)
        tested_codes = sorted({finding[1] for _, _, _, expected in CASES for finding in expected}
                              | {code_ for _, _, code_, _ in JavaPathErrors.ROWS})
        self.assertEqual(help_codes, sorted(help_codes))
        self.assertEqual(help_codes, readme_codes)
        self.assertEqual(help_codes, tested_codes)

    def test_help_examples_are_the_real_texts(self):
        """Each example, up to its "; ...", begins a message the code really
        has, with quoted text, tags, numbers and the value's key left open."""
        def shape(text):
            text = re.sub(r'"[^"]*"', '""', text)
            text = re.sub(r"</?[^<>]*>", "<>", text)
            text = re.sub(r"the \S+ value", "the KEY value", text)
            return re.sub(r"\d+", "0", text)
        _, out, _ = run_bootcheck("--help")
        examples = re.findall(r"^           e\.g\. \S+?(?::\d+)?: (?:error|warning): (.*); \.\.\. \[(BC\d{3})\]$", out, re.M)
        self.assertEqual(len(examples), len(re.findall(r"^  BC\d{3} ", out, re.M)))
        real = {}
        for _, _, _, expected in CASES:
            for _, code_, message, *_ in expected:
                real.setdefault(code_, []).append(message.replace("{app}", "/app/"))
        for folder, _, code_, message in JavaPathErrors.ROWS:
            real.setdefault(code_, []).append(message.replace("{app}", "/home/me/%s/" % folder))
        for example, code_ in examples:
            with self.subTest(code=code_):
                self.assertTrue(any(shape(message).startswith(shape(example)) for message in real[code_]),
                                (example, real[code_]))


class JavaPathErrors(BootcheckCase):
    """The java-path errors that need an app folder of their own name; each
    also runs the launcher, which must start nothing at all."""
    ROWS = [
        ("my app", "${APP_DIR}jre/bin/java", "BC114",
         "the java program \"{app}jre/bin/java\" does not exist; the launcher quotes its path, since the app folder "
         "holds a blank, so no other program runs: it shows a box with this file's path; write the path of java, "
         "such as value=\"${APP_DIR}jre/bin/java\""),
        ('my "app"', "${APP_DIR}java_stub", "BC116",
         "the app folder \"{app}\" holds a double quote, which no quoting of the java path can carry, so the "
         "launcher shows the configuration-error box and starts nothing; move the app to a folder without \" in "
         "its name"),
    ]

    def test_error_and_nothing_runs(self):
        for folder, java, code_, message in self.ROWS:
            with self.subTest(folder=folder):
                self.app = AppDir(LAUNCHER, JAVA_STUB, name=folder)
                self.addCleanup(self.app.remove)
                self.app.write("lib/app.jar", "jar")
                self.app.write("config/boot.xml", boot_text(replace={"java": java}) % PLATFORM)
                # What an unquoted "my app/..." would run.
                shutil.copy2(JAVA_STUB, os.path.join(self.app.base, "my"))
                status, out, _ = run_bootcheck(self.app.root)
                self.assertEqual(findings_of(out)[0], (self.app.main_boot, 3, "error", code_,
                                                       message.replace("{app}", self.app.app_dir)))
                self.assertEqual(status, 1)
                self.app.run()
                self.assertFalse(os.path.exists(os.path.join(self.app.base, "calls.log")), "the decoy ran")


class SameAsTheLauncher(BootcheckCase):
    """The command line bootcheck prints is the launcher's javaCommandLine= line,
    and its argument list is what java really receives."""
    def launcher_lines(self, app, arguments=()):
        app.queue_exit_codes(21, 0, 0)
        if os.path.isdir(app.path("my jre")):
            app.write("my jre/exit_codes", "21\n0\n0\n")
        return [line[len("javaCommandLine="):] for line in app.run(*arguments, cwd=app.root)
                if line.startswith("javaCommandLine=")]

    def test_command_lines_and_arguments_match_the_launcher(self):
        for name, boot, files, arguments in SAME_AS_LAUNCHER:
            options = ("--launcher-args",) + arguments if arguments else ()
            with self.subTest(case=name):
                app = self.make_app(boot, files)
                app.write("updater/config/boot.xml", boot % PLATFORM)
                code, out, _ = run_bootcheck("--json", app.root, *options, cwd=app.root)
                document = json.loads(out)
                launched = self.launcher_lines(app, arguments)
                self.assertEqual(len(launched), 3, launched)
                self.assertEqual([f["commandLine"] for f in document["bootFiles"]], launched[:2])
                calls = app.calls() + read_calls(app.path("my jre"))
                self.assertEqual([f["arguments"] for f in document["bootFiles"]],
                                 [calls[0].argv, calls[1].argv])
                self.assertEqual([sorted(f.get("environment", [])) for f in document["bootFiles"]],
                                 [["%s=%s" % pair for pair in sorted(call.env.items())] for call in calls[:2]])
                _, text, _ = run_bootcheck(app.root, *options, cwd=app.root)
                self.assertIn("The launcher runs: %s\n" % launched[0], text)
                arguments = "".join("  [%d] %s\n" % (i, a) for i, a in enumerate(calls[0].argv))
                self.assertIn("The program receives %d arguments (the first is its own name):\n%s"
                              % (len(calls[0].argv), arguments), text)

    def test_folder_given_through_a_link_or_relative_path(self):
        app = self.make_app(boot_text())
        os.symlink(app.root, os.path.join(app.base, "link"))
        launched = self.launcher_lines(app)
        for folder, cwd in ((os.path.join(app.base, "link"), None), ("app", app.base), ("..", app.path("lib"))):
            with self.subTest(folder=folder, cwd=cwd):
                _, out, _ = run_bootcheck("--json", folder, cwd=cwd)
                self.assertEqual([f["commandLine"] for f in json.loads(out)["bootFiles"]], launched[:2])

    def test_app_folder_with_a_blank_reads_like_the_launcher(self):
        self.app = AppDir(LAUNCHER, JAVA_STUB, name="my app")
        self.addCleanup(self.app.remove)
        self.app.write("lib/app.jar", "jar")
        self.app.write_boots(GOOD_BOOT, GOOD_BOOT)
        _, out, _ = run_bootcheck("--json", self.app.root)
        launched = self.launcher_lines(self.app)
        # Until the launcher quotes such a java path it cannot start it, and stops after one line.
        self.assertGreaterEqual(len(launched), 1)
        self.assertEqual([f["commandLine"] for f in json.loads(out)["bootFiles"]][:len(launched)],
                         launched[:2])


def utf16_units(text):
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


TOO_LONG = "Error: 起動時に渡された引数 (1 個) が長すぎて、Windows のコマンドラインに収まりません (%d 文字、上限 32766 文字)。"


class LimitAndCodePages(BootcheckCase):
    """bootcheck and the launcher agree on the command line's length, counted
    in UTF-16 units as Windows counts it, and --codepage reads the launcher's
    own arguments as a launcher on that Windows would."""
    FORWARDING = GOOD_ITEMS + [("launcherArgs", "append")]
    # (name, filler, units the whole line is made to have, or None: the filler
    #  repeated this many times)
    LENGTH_ROWS = [
        ("12,000 Japanese characters, 36,000 bytes: far below the limit", "日", None, 12000),
        ("Japanese, one unit below the limit", "日", 32766, 0),
        ("Japanese, at the limit", "日", 32767, 0),
        ("emoji, two units each, one unit below the limit", "\U0001F600", 32766, 0),
        ("emoji, at the limit", "\U0001F600", 32767, 0),
    ]

    def run_launcher(self, *args):
        _, _, out, err = NativeRunner(None, None).run(self.app.launcher, args, cwd=self.app.base)
        return out, err

    def test_length_limit_agrees_with_the_launcher(self):
        for name, filler, units, count in self.LENGTH_ROWS:
            with self.subTest(case=name):
                app = self.make_app(boot_text(items=self.FORWARDING, replace=None))
                def boot_with(args):
                    items = [(k, args if k == "args" else v) for k, v in self.FORWARDING]
                    app.write("config/boot.xml", boot_text(items=items) % PLATFORM)
                    _, out, _ = run_bootcheck("--json", app.root, "--launcher-args", "sample")
                    return json.loads(out)["bootFiles"][0]
                args = "-Dx=" + filler * count
                if units is not None:
                    missing = units - utf16_units(boot_with(args)["commandLine"])
                    args += filler * (missing // utf16_units(filler)) + "x" * (missing % utf16_units(filler))
                report = boot_with(args)
                length = utf16_units(report["commandLine"])
                if units is not None:
                    self.assertEqual(length, units)
                too_long = [f["message"] for f in report["findings"] if f["code"] == "BC113"]
                out, err = self.run_launcher("sample")
                if length >= 32767:
                    self.assertEqual(too_long, ["the command line is %d characters long; Windows refuses 32,767 "
                                                "or more, so the launcher cannot start java there; shorten the "
                                                "class path (a folder/* wildcard) or the args" % length])
                    self.assertEqual(err, [TOO_LONG % length])
                    self.assertEqual(app.calls(), [])
                else:
                    self.assertEqual(too_long, [])
                    self.assertEqual(err, [])
                    self.assertEqual([call.argv for call in app.calls()], [report["arguments"]])

    # (name, options, launcher arguments, the arguments' last words java gets, their forms)
    CODE_PAGE_ROWS = [
        ("932 keeps Japanese whose trail byte is a backslash's", ["--codepage", "932"], ["表", "ソ"],
         ["表", "ソ"], ["exact", "exact"]),
        ("1252 gives ? for Japanese", ["--codepage", "1252"], ["日本語", "a b"], ["???", "a b"],
         ["lossy", "exact"]),
        ("932 gives ? for what it lacks", ["--codepage", "932"], ["Łódź"], ["??d?"], ["lossy"]),
        ("1252 holds €", ["--codepage", "1252"], ["€ 5"], ["€ 5"], ["exact"]),
        ("no code page: this system's", [], ["日本語 \U0001F600"], ["日本語 \U0001F600"], ["exact"]),
    ]

    def test_forwarded_arguments_in_the_code_page_asked(self):
        for name, options, arguments, last, forms in self.CODE_PAGE_ROWS:
            with self.subTest(case=name):
                app = self.make_app(boot_text(items=self.FORWARDING))
                code, out, _ = run_bootcheck("--json", *options, app.root, "--launcher-args", *arguments)
                report = json.loads(out)["bootFiles"][0]
                self.assertEqual(report["arguments"][-len(last):], last)
                self.assertEqual(report["argumentForms"], forms)
                # The variables hold the arguments exactly, whatever the code page.
                self.assertEqual(report["environment"], ["LAUNCHER_ARGC=%d" % len(arguments)] + [
                    "LAUNCHER_ARG%d=%s" % (i + 1, a) for i, a in enumerate(arguments)])
                _, text, _ = run_bootcheck(*options, app.root, "--launcher-args", *arguments)
                for i, form in enumerate(forms):
                    note = "Argument %d reaches java with \"?\" for characters the ANSI code page lacks\n" % (i + 1)
                    self.assertEqual(note in text, form == "lossy", text)


def main():
    global BOOTCHECK, LAUNCHER, JAVA_STUB
    parser = argparse.ArgumentParser()
    parser.add_argument("--bootcheck", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    options, rest = parser.parse_known_args()
    BOOTCHECK = os.path.abspath(options.bootcheck)
    LAUNCHER = os.path.abspath(options.launcher)
    JAVA_STUB = os.path.abspath(options.java_stub)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
