#!/usr/bin/python3
"""bootcheck natively, or bootcheck.exe under Wine with --wine: one boot file
per finding with its exact line and text, the same findings in --json, exit
statuses, folders left unchanged, and the command line, arguments and
LAUNCHER_* variables it prints against what the launcher really runs, also at
the code pages and near the length limit of Windows.

Every table runs on both sides unless a row or test says otherwise. Under Wine
drive D: shows the folder that holds the app folder, D:\\app\\.

Usage: test_bootcheck.py --bootcheck EXE --launcher EXE --java-stub EXE
       [--wine WINE [--boot-wine WINE64] --work-dir DIR [--prefix DIR]] [-v]
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
sys.path.insert(0, os.path.join(HERE, "..", "windows"))
from bootcheck_cases import (CASE_ARGS, CASES, EXIT_STATUSES, GOOD_ITEMS, JAVA_COPY, SAME_AS_LAUNCHER,  # noqa: E402
                             boot_text)
from app_dir import BOTH, NATIVE, WINE, AppDir, NativeRunner, WineRunner, calls_below, write  # noqa: E402
import wine_env  # noqa: E402

OPTIONS = SIDE = None
FINDING = re.compile(r"^(.*?)(?::(\d+))?: (error|warning): (.*) \[(BC\d{3})\]$")
USAGE = "usage: bootcheck [--json] [--codepage 932|1252] [APP_DIR]"


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


def findings_of(text):
    """[(file, line or None, severity, code, message)] of the finding lines."""
    found = []
    for line in text.splitlines():
        match = FINDING.match(line)
        if match:
            path, number, severity, message, code = match.groups()
            found.append((path, int(number) if number else None, severity, code, message))
    return found


def utf16_units(text):
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


class App:
    """An app folder on disk (root) and as the programs see it (seen, with
    its trailing separator)."""

    def __init__(self, folder, seen, sep):
        self.folder, self.seen, self.sep = folder, seen, sep
        self.root, self.base = folder.root, folder.base

    def path(self, relative):
        return os.path.join(self.root, *relative.split("/"))

    def boot(self, relative="config/boot.xml"):
        return self.seen + relative.replace("/", self.sep)

    @property
    def arg(self):
        """The folder as bootcheck takes it."""
        return self.seen[:-1]


class NativeSide:
    name = NATIVE
    platform = {"java": "java_stub", "sep": "/", "cpsep": ":", "exe": "", "javasample": "java"}

    def new_app(self, case, folder):
        made = AppDir(OPTIONS.launcher, OPTIONS.java_stub, name=folder)
        case.addCleanup(made.remove)
        return App(made, made.root + "/", "/")

    def code_page(self, number):
        return {}, "utf-8"

    def bootcheck(self, app, *args, cwd=None, env=None):
        """(exit status, standard output, standard error)."""
        result = subprocess.run([OPTIONS.bootcheck, *args], cwd=cwd or app.root, env=dict(os.environ, **(env or {})),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return tuple([result.returncode] + [text.decode("utf-8", "surrogateescape")
                                            for text in (result.stdout, result.stderr)])

    def launch(self, app, *args, env=None):
        """(the launcher's lines, the texts of its boxes)."""
        _, _, out, err = NativeRunner(None, None).run(app.folder.launcher, args, env, app.root)
        return out, [line[len("Error: "):] if line.startswith("Error: ") else line for line in err]


class WineSide:
    name = WINE
    platform = {"java": "java.exe", "sep": "\\", "cpsep": ";", "exe": ".exe", "javasample": "java.exe"}

    def new_app(self, case, folder):
        base = tempfile.mkdtemp(dir=OPTIONS.work_dir)
        case.addCleanup(shutil.rmtree, base, ignore_errors=True)
        made = AppDir(OPTIONS.launcher, OPTIONS.java_stub, name=folder, java_name="java.exe", base=base,
                      launcher_name="launcher.exe")
        shutil.copy(OPTIONS.bootcheck, os.path.join(base, "bootcheck.exe"))
        # The stand-in as a GUI program, as javaw.exe is: only the console case
        # may bring the console-program warning.
        with open(made.java_stub, "rb") as f:
            stub = bytearray(f.read())
        subsystem = int.from_bytes(stub[0x3C:0x40], "little") + 4 + 20 + 68
        stub[subsystem:subsystem + 2] = (2).to_bytes(2, "little")
        write(os.path.join(made.root, "java.exe"), bytes(stub))
        wine_env.mapDrive(OPTIONS.prefix, "d", base)
        return App(made, "D:\\" + folder.replace("/", "\\") + "\\", "\\")

    def code_page(self, number):
        return WineRunner(OPTIONS.wine, OPTIONS.prefix, None, None, OPTIONS.work_dir).code_page(number or 1252)

    def bootcheck(self, app, *args, cwd=None, env=None):
        code, out, err = wine_env.runConsole([OPTIONS.wine, "D:\\bootcheck.exe", *args],
                                             dict(wine_env.wineEnvironment(OPTIONS.prefix), **(env or {})),
                                             cwd=cwd or app.root)
        return tuple([code] + [text.decode("utf-8", "surrogateescape").replace("\r\n", "\n") for text in (out, err)])

    def launch(self, app, *args, env=None):
        env = env or {}
        _, lines, boxes, _ = wine_env.runWindows(OPTIONS.wine, OPTIONS.prefix, [app.seen + "launcher.exe", *args],
                                                 extraEnv=env, encoding=self.encoding(env))
        return lines, [box[3] for box in boxes]

    @staticmethod
    def encoding(env):
        return "cp932" if env.get("LC_ALL", "").startswith("ja_JP") else "cp1252"


def json_report(out):
    return json.loads(out)["bootFiles"]


def applies(on):
    return on in (BOTH, SIDE.name)


class BootcheckCase(unittest.TestCase):
    def make_app(self, main_boot, files=None, updater_boot=None, folder="app"):
        """main_boot: the text, None for no config folder, "dir" for a folder
        in its place; files: {relative path: content, None for a folder,
        JAVA_COPY for the stand-in java}."""
        platform = SIDE.platform
        self.app = app = SIDE.new_app(self, folder)
        write(app.path("lib/app.jar"), "jar")
        write(app.path("updater/lib/app.jar"), "jar")
        write(app.path("updater/config/boot.xml"), (updater_boot or boot_text()) % platform)
        if main_boot == "dir":
            os.makedirs(app.path("config/boot.xml"))
        elif main_boot is not None:
            write(app.path("config/boot.xml"), main_boot % platform)
        for relative, content in (files or {}).items():
            path = app.path(relative % platform)
            if content is None:
                os.makedirs(path)
                continue
            if content == JAVA_COPY:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                shutil.copy2(OPTIONS.java_stub, path)
            else:
                write(path, content)
            os.chmod(path, 0o755)
        return app

    def bootcheck(self, *args, **kwargs):
        return SIDE.bootcheck(self.app, *args, **kwargs)

    def queue_exit_codes(self, *codes):
        """The exit codes of the stand-in java in the app folder and of the one in "my jre"."""
        for folder in ("", "my jre"):
            if os.path.isdir(self.app.path(folder)):
                write(self.app.path(os.path.join(folder, "exit_codes")), "".join("%d\n" % c for c in codes))

    def calls(self, encoding="utf-8"):
        return calls_below(self.app.base, self.app.root, encoding, "surrogateescape" if encoding == "utf-8" else "strict")


def message_on_this_side(message):
    """A finding's expected text: one for both sides, or {side: text}; None: not looked at."""
    return message.get(SIDE.name) if isinstance(message, dict) else message


class OneFindingPerBootFile(BootcheckCase):
    def expected(self, app, expected):
        return [(app.boot(boot[0]) if boot else app.boot(), line, "error" if code.startswith("BC1") else "warning",
                 code, message_on_this_side(message))
                for line, code, message, *boot in expected]

    def test_each_finding_with_its_line_and_text(self):
        for name, boot, files, expected in CASES:
            with self.subTest(case=name):
                app = self.make_app(boot, files)
                before = tree_digest(app.root)
                code, out, err = self.bootcheck(*CASE_ARGS.get(name, []), app.arg)
                self.assertEqual(tree_digest(app.root), before, "bootcheck changed the folder")
                self.assertEqual(err, "")
                want = self.expected(app, expected)
                got = findings_of(out)
                self.assertEqual([f[:4] for f in got], [w[:4] for w in want], out)
                for got_one, want_one in zip(got, want):
                    if want_one[4] is not None:
                        text = want_one[4] % SIDE.platform if "%(" in want_one[4] else want_one[4]
                        self.assertEqual(got_one[4], text.replace("{app}", app.seen))
                errors = sum(1 for f in want if f[2] == "error")
                self.assertEqual(code, 1 if errors else 0)
                self.assertTrue(out.endswith("bootcheck: %d error%s, %d warning%s\n" % (
                    errors, "" if errors == 1 else "s", len(want) - errors,
                    "" if len(want) - errors == 1 else "s")), out)

    def test_json_carries_the_same_findings(self):
        for name, boot, files, _ in CASES:
            with self.subTest(case=name):
                app = self.make_app(boot, files)
                _, out, _ = self.bootcheck(*CASE_ARGS.get(name, []), app.arg)
                json_code, json_out, _ = self.bootcheck("--json", *CASE_ARGS.get(name, []), app.arg)
                document = json.loads(json_out)
                self.assertEqual(document["appDir"], app.seen)
                from_json = [(f["file"], f["line"], f["severity"], f["code"], f["message"])
                             for boot_file in document["bootFiles"] for f in boot_file["findings"]]
                self.assertEqual(from_json, findings_of(out))
                self.assertEqual(document["errors"], sum(1 for f in from_json if f[2] == "error"))
                self.assertEqual(document["warnings"], sum(1 for f in from_json if f[2] == "warning"))
                self.assertEqual(json_code, 1 if document["errors"] else 0)

    def test_json_stays_valid_for_bytes_that_are_not_utf8(self):
        if SIDE.name != NATIVE:
            self.skipTest("natively only: Windows reads the bytes in its ANSI code page")
        app = self.make_app(boot_text(replace={"args": "-Dname=caf\udce9\\x"}))
        document = json.loads(self.bootcheck("--json", app.arg)[1])
        main = document["bootFiles"][0]
        # A byte that is no UTF-8 has no text: U+FFFD, not a Latin-1 guess.
        self.assertEqual(main["arguments"][6], "-Dname=caf\ufffd\\x")
        self.assertEqual([(f["line"], f["code"]) for f in main["findings"]], [(8, "BC211")])


class ExitStatus(BootcheckCase):
    def test_statuses_and_usage_errors(self):
        app = self.make_app(boot_text())
        for args, status, message in EXIT_STATUSES:
            args = [arg.replace("{app}", app.arg) % SIDE.platform for arg in args]
            with self.subTest(args=args):
                code, out, err = self.bootcheck(*args)
                self.assertEqual(code, status)
                if message is None:
                    self.assertEqual(err, "")
                    continue
                self.assertEqual(out, "")
                self.assertEqual(err.splitlines()[:2], [message.replace("{app}", app.arg) % SIDE.platform, USAGE])

    def test_default_folder_is_the_current_one(self):
        app = self.make_app(boot_text(replace={"main": ""}))
        code, out, _ = self.bootcheck(cwd=app.root)
        self.assertEqual(code, 0)
        self.assertEqual(out.splitlines()[0], "Boot file of the main application: %s (java starts in %s)"
                         % (app.boot(), app.seen))

    def test_help_lists_every_code_the_readme_lists(self):
        code, out, _ = SIDE.bootcheck(self.make_app(boot_text()), "--help")
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith(USAGE + "\n"))
        help_codes = re.findall(r"^  (BC\d{3}) (?:error|warning) ", out, re.M)
        with open(os.path.join(HERE, "..", "..", "README.md"), encoding="utf-8") as f:
            readme_codes = re.findall(r"^\| `(BC\d{3})` \|", f.read(), re.M)
        tested_codes = sorted({finding[1] for _, _, _, expected in CASES for finding in expected}
                              | {code_ for _, _, code_, _ in JAVA_PATH_ROWS})
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
        _, out, _ = SIDE.bootcheck(self.make_app(boot_text()), "--help")
        examples = re.findall(r"^           e\.g\. \S+?(?::\d+)?: (?:error|warning): (.*); \.\.\. \[(BC\d{3})\]$", out, re.M)
        self.assertEqual(len(examples), len(re.findall(r"^  BC\d{3} ", out, re.M)))
        real = {}
        for _, _, _, expected in CASES:
            for _, code_, message, *_ in expected:
                text = message_on_this_side(message)
                text = text % SIDE.platform if "%(" in text else text
                real.setdefault(code_, []).append(text.replace("{app}", "/app/"))
        for folder, _, code_, message in JAVA_PATH_ROWS:
            real.setdefault(code_, []).append(message.replace("{app}", "/home/me/%s/" % folder))
        for example, code_ in examples:
            with self.subTest(code=code_):
                self.assertTrue(any(shape(message).startswith(shape(example)) for message in real[code_]),
                                (example, real[code_]))


# The java-path errors that need an app folder of their own name, natively: a
# folder name with a double quote exists on Linux only. Each also runs the
# launcher, which must start nothing at all.
JAVA_PATH_ROWS = [
    ("my app", "${APP_DIR}jre/bin/java", "BC114",
     "the java program \"{app}jre/bin/java\" does not exist; the launcher quotes its path, since the app folder "
     "holds a blank, so no other program runs: it shows a box with this file's path; write the path of java, "
     "such as value=\"${APP_DIR}jre/bin/java\""),
    ('my "app"', "${APP_DIR}java_stub", "BC116",
     "the app folder \"{app}\" holds a double quote, which no quoting of the java path can carry, so the "
     "launcher shows the configuration-error box and starts nothing; move the app to a folder without \" in "
     "its name"),
]


class JavaPathErrors(BootcheckCase):
    def test_error_and_nothing_runs(self):
        if SIDE.name != NATIVE:
            self.skipTest("natively only")
        for folder, java, code_, message in JAVA_PATH_ROWS:
            with self.subTest(folder=folder):
                app = self.make_app(boot_text(replace={"java": java}), folder=folder)
                # What an unquoted "my app/..." would run.
                shutil.copy2(OPTIONS.java_stub, os.path.join(app.base, "my"))
                status, out, _ = self.bootcheck(app.arg)
                self.assertEqual(findings_of(out)[0], (app.boot(), 3, "error", code_,
                                                       message.replace("{app}", app.seen)))
                self.assertEqual(status, 1)
                SIDE.launch(app)
                self.assertEqual(self.calls(), [], "the decoy ran")


class SameAsTheLauncher(BootcheckCase):
    """The command line bootcheck prints is the launcher's javaCommandLine= line,
    and its argument list and variables are what java really receives."""
    def launched(self, *arguments):
        self.queue_exit_codes(21, 0, 0)
        lines, _ = SIDE.launch(self.app, *arguments)
        return [line[len("javaCommandLine="):] for line in lines if line.startswith("javaCommandLine=")]

    def test_command_lines_and_arguments_match_the_launcher(self):
        for name, boot, files, arguments in SAME_AS_LAUNCHER:
            options = ("--launcher-args",) + arguments if arguments else ()
            with self.subTest(case=name):
                app = self.make_app(boot, files, updater_boot=boot)
                document = json.loads(self.bootcheck("--json", app.arg, *options)[1])
                launched = self.launched(*arguments)
                self.assertEqual(len(launched), 3, launched)
                self.assertEqual([f["commandLine"] for f in document["bootFiles"]], launched[:2])
                calls = self.calls()
                self.assertEqual([f["arguments"] for f in document["bootFiles"]], [calls[0].argv, calls[1].argv])
                self.assertEqual([sorted(f.get("environment", [])) for f in document["bootFiles"]],
                                 [["%s=%s" % pair for pair in sorted(call.env.items())] for call in calls[:2]])
                _, text, _ = self.bootcheck(app.arg, *options)
                self.assertIn("The launcher runs: %s\n" % launched[0], text)
                listed = "".join("  [%d] %s\n" % (i, a) for i, a in enumerate(calls[0].argv))
                self.assertIn("The program receives %d arguments (the first is its own name):\n%s"
                              % (len(calls[0].argv), listed), text)

    def test_folder_given_through_a_link_or_relative_path(self):
        if SIDE.name != NATIVE:
            self.skipTest("natively only")
        app = self.make_app(boot_text())
        os.symlink(app.root, os.path.join(app.base, "link"))
        launched = self.launched()
        for folder, cwd in ((os.path.join(app.base, "link"), None), ("app", app.base), ("..", app.path("lib"))):
            with self.subTest(folder=folder, cwd=cwd):
                _, out, _ = self.bootcheck("--json", folder, cwd=cwd)
                self.assertEqual([f["commandLine"] for f in json_report(out)], launched[:2])

    def test_app_folder_with_a_blank_reads_like_the_launcher(self):
        platform = SIDE.platform
        good = [(key, value % platform) for key, value in GOOD_ITEMS]
        app = self.make_app(boot_text(items=good), updater_boot=boot_text(items=good), folder="my app")
        _, out, _ = self.bootcheck("--json", app.arg)
        launched = self.launched()
        # Until the launcher quotes such a java path it cannot start it, and stops after one line.
        self.assertGreaterEqual(len(launched), 1)
        self.assertEqual([f["commandLine"] for f in json_report(out)][:len(launched)], launched[:2])


TOO_LONG = "起動時に渡された引数 (1 個) が長すぎて、Windows のコマンドラインに収まりません (%d 文字、上限 32766 文字)。"
FORWARDING = GOOD_ITEMS + [("launcherArgs", "append")]


class LengthLimit(BootcheckCase):
    """bootcheck's BC113 and the launcher's refusal agree on both sides of
    Windows' limit, counted in UTF-16 units, for text of one, two or three
    bytes a character, and for characters of two units."""
    # (name, on, Windows code page, filler, units the whole line is made to
    #  have, or None: the filler repeated count times)
    ROWS = [
        ("12,000 Japanese characters, 36,000 bytes: far below the limit", BOTH, 932, "日", None, 12000),
        ("Japanese, one unit below the limit", BOTH, 932, "日", 32766, 0),
        ("Japanese, at the limit", BOTH, 932, "日", 32767, 0),
        ("emoji, two units each, one unit below the limit", NATIVE, None, "\U0001F600", 32766, 0),
        ("emoji, at the limit", NATIVE, None, "\U0001F600", 32767, 0),
        ("euro signs at 1252, one unit below the limit", WINE, 1252, "€", 32766, 0),
        ("euro signs at 1252, at the limit", WINE, 1252, "€", 32767, 0),
    ]

    def test_bootcheck_and_the_launcher_agree(self):
        for name, on, codepage, filler, units, count in self.ROWS:
            if not applies(on):
                continue
            with self.subTest(case=name):
                env, encoding = SIDE.code_page(codepage)
                def report_for(args):
                    items = [(k, args if k == "args" else v) for k, v in FORWARDING]
                    self.make_app(boot_text(items=items))
                    _, out, _ = self.bootcheck("--json", self.app.arg, "--launcher-args", "sample", env=env)
                    return json_report(out)[0]
                args = "-Dx=" + filler * count
                if units is not None:
                    missing = units - utf16_units(report_for(args)["commandLine"])
                    args += filler * (missing // utf16_units(filler)) + "x" * (missing % utf16_units(filler))
                report = report_for(args)
                length = utf16_units(report["commandLine"])
                if units is not None:
                    self.assertEqual(length, units)
                too_long = [f["message"] for f in report["findings"] if f["code"] == "BC113"]
                self.queue_exit_codes(0)
                lines, boxes = SIDE.launch(self.app, "sample", env=env)
                if length >= 32767:
                    self.assertEqual(too_long, ["the command line is %d characters long; Windows refuses 32,767 "
                                                "or more, so the launcher cannot start java there; shorten the "
                                                "class path (a folder/* wildcard) or the args" % length])
                    self.assertEqual(boxes, [TOO_LONG % length])
                    self.assertEqual(self.calls(encoding), [])
                else:
                    self.assertEqual((too_long, boxes), ([], []), lines)
                    self.assertEqual([call.argv for call in self.calls(encoding)], [report["arguments"]])


class ForwardingAtCodePages(BootcheckCase):
    """bootcheck shows the arguments java receives as the launcher forwards
    them at the system's code page, or, with --codepage, as a launcher on a
    Windows with that one would; the variables hold them exactly, and the
    output is UTF-8 throughout."""
    BOOT = boot_text(items=[(k, "-Dprice=€" if k == "args" else v) for k, v in FORWARDING])
    # (name, on, Windows code page, bootcheck options, the launcher's
    #  arguments, the last arguments java gets, their forms)
    ROWS = [
        ("932 keeps Japanese whose trail byte is a backslash's", WINE, 932, [], ["表", "ソ"], ["表", "ソ"],
         ["exact", "exact"]),
        ("1252 gives ? for Japanese", WINE, 1252, [], ["日本語", "a b"], ["???", "a b"], ["lossy", "exact"]),
        ("--codepage 932 keeps Japanese whose trail byte is a backslash's", BOTH, 1252, ["--codepage", "932"],
         ["表", "ソ"], ["表", "ソ"], ["exact", "exact"]),
        ("--codepage 1252 gives ? for Japanese", BOTH, 932, ["--codepage", "1252"], ["日本語", "a b"],
         ["???", "a b"], ["lossy", "exact"]),
        ("--codepage 932 gives ? for what it lacks", BOTH, 1252, ["--codepage", "932"], ["Łódź"], ["??d?"],
         ["lossy"]),
        ("--codepage 1252 holds €", BOTH, 932, ["--codepage", "1252"], ["€ 5"], ["€ 5"], ["exact"]),
        ("no code page: this system's", NATIVE, None, [], ["日本語 \U0001F600"], ["日本語 \U0001F600"], ["exact"]),
    ]

    def test_arguments_as_the_launcher_forwards_them(self):
        for name, on, codepage, options, arguments, last, forms in self.ROWS:
            if not applies(on):
                continue
            with self.subTest(case=name):
                env, encoding = SIDE.code_page(codepage)
                app = self.make_app(self.BOOT, updater_boot=self.BOOT)
                _, out, _ = self.bootcheck("--json", *options, app.arg, "--launcher-args", *arguments, env=env)
                report = json_report(out)[0]
                self.assertEqual(report["arguments"][-len(last):], last)
                read_at = int(options[1]) if options else codepage
                self.assertEqual(report["arguments"][6], "-Dprice=" + ("?" if read_at == 932 else "€"))
                self.assertEqual(report["argumentForms"], forms)
                self.assertEqual(report["environment"], ["LAUNCHER_ARGC=%d" % len(arguments)] + [
                    "LAUNCHER_ARG%d=%s" % (i + 1, a) for i, a in enumerate(arguments)])
                # Redirected, the text is UTF-8 throughout: the line and the variables alike.
                _, text, _ = self.bootcheck(*options, app.arg, "--launcher-args", *arguments, env=env)
                self.assertIn("The launcher runs: %s\n" % report["commandLine"], text)
                self.assertIn("  LAUNCHER_ARG1=%s\n" % arguments[0], text)
                for i, form in enumerate(forms):
                    note = "Argument %d reaches java with \"?\" for characters the ANSI code page lacks\n" % (i + 1)
                    self.assertEqual(note in text, form == "lossy", text)
                if not options:
                    self.queue_exit_codes(0)
                    SIDE.launch(app, *arguments, env=env)
                    self.assertEqual([call.argv for call in self.calls(encoding)], [report["arguments"]])


def main():
    global OPTIONS, SIDE
    parser = argparse.ArgumentParser()
    parser.add_argument("--bootcheck", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--boot-wine")
    parser.add_argument("--work-dir")
    parser.add_argument("--prefix")
    OPTIONS, rest = parser.parse_known_args()
    for name in ("bootcheck", "launcher", "java_stub"):
        setattr(OPTIONS, name, os.path.abspath(getattr(OPTIONS, name)))
    argv = [sys.argv[0]] + rest
    # The children's LAUNCHER_* variables are the launcher's own.
    for name in [name for name in os.environ if name.startswith("LAUNCHER_")]:
        del os.environ[name]
    if not OPTIONS.wine:
        SIDE = NativeSide()
        unittest.main(argv=argv)
    SIDE = WineSide()
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    os.makedirs(OPTIONS.work_dir, exist_ok=True)
    OPTIONS.prefix = os.path.abspath(OPTIONS.prefix or os.path.join(OPTIONS.work_dir, "wineprefix"))
    boot_wine = OPTIONS.boot_wine if OPTIONS.boot_wine and os.access(OPTIONS.boot_wine, os.X_OK) else None
    wine_env.exitUnlessRuns(OPTIONS.wine, "bootcheck.exe under Wine")
    wine_env.preparePrefix(OPTIONS.wine, OPTIONS.prefix, boot_wine)
    sys.exit(wine_env.runTests(OPTIONS.wine, OPTIONS.prefix, argv))


if __name__ == "__main__":
    main()
