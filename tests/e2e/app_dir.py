"""Application folders for end-to-end runs of the launcher, and one runner
per platform: the native build, and the Windows exe under Wine.

A scenario is one Row: the boot files, the app folder's name, the codes the
stand-in java exits with, the launcher's own arguments and environment, and
what must be seen: the launcher's lines, the boxes, and each child's working
directory, argv and LAUNCHER_* environment. A suite is a RowTest subclass
with a ROWS table; main() runs it natively, or under Wine with --wine.

Expected text is written out literally; these tokens stand for what differs
between the platforms, and each runner fills them in:

  {app}        the app folder with its separator (/tmp/launcher-e2e-x/app/, D:\\app\\)
  {root}       the app folder as a child's working directory (…/app, D:\\app)
  {updater}    the updater's working directory ({app}updater)
  {base}       the folder that holds the app folder (D:\\ under Wine)
  {exe}        the launcher ({app}launcher, {app}launcher.exe)
  {main_boot}  {app}config{/}boot.xml; {updater_boot} likewise
  {/}          the separator; {.exe} is ".exe" under Wine, "" natively
  {pid}        the launcher's process id (checked by the runner)
  {short}      under Wine, the 8.3 form of the app folder the launcher reports
  {short_argN} under Wine, the 8.3 form the launcher reports for its argument N

The stand-in java (tests/java_stub.cpp) lies in the app folder as java.exe
on both platforms and takes its exit codes from exit_codes there; every copy
records its calls in calls.log beside itself.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass, field

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import wine_env  # noqa: E402

NATIVE, WINE, BOTH = "native", "wine", "both"
STUB = object()  # in Row.files: a copy of the stand-in java
DIR = object()  # in Row.files and Row.debug: a folder

MAIN_ITEMS = [("java", "${APP_DIR}java.exe"), ("-Xmn", "16m"), ("-Xms", "32m"), ("-Xmx", "64m"),
              ("-cp", "lib\\app.jar;lib\\util.jar"), ("args", "-Dapp.mode=demo"), ("main", "com.example.Main")]
# ${PARENT_DIR} is the launcher's folder in the updater's boot file too.
UPDATER_ITEMS = [("java", "${PARENT_DIR}java.exe"), ("-Xmx", "32m"), ("-cp", "updater.jar"), ("args", ""),
                 ("main", "com.example.Updater")]
# What follows the java program on the main application's command line.
OPTIONS = " -Xmn16m -Xms32m -Xmx64m -cp lib\\app.jar;lib\\util.jar -Dapp.mode=demo com.example.Main"
OPTION_ARGS = ["-Xmn16m", "-Xms32m", "-Xmx64m", "-cp", "lib\\app.jar;lib\\util.jar", "-Dapp.mode=demo",
               "com.example.Main"]
MAIN_COMMAND = "{app}java.exe -Xmn16m -Xms32m -Xmx64m -cp lib\\app.jar;lib\\util.jar -Dapp.mode=demo com.example.Main"
UPDATER_COMMAND = "{app}java.exe -Xmn -Xms -Xmx32m -cp updater.jar  com.example.Updater"
MAIN_CALL = ("{root}", ["{app}java.exe"] + OPTION_ARGS)
UPDATER_CALL = ("{updater}", ["{app}java.exe", "-Xmn", "-Xms", "-Xmx32m", "-cp", "updater.jar",
                              "com.example.Updater"])
CONFIG_ERROR = "設定ファイル %s の解析に失敗しました。"
UPDATE_ERROR = "更新で例外が発生しました。戻り値= %d"


def boot_xml(items):
    """A boot file of (key, value) pairs or a dict, one item a line."""
    pairs = items.items() if isinstance(items, dict) else items
    rows = "".join('  <item key="%s" value="%s"/>\n' % pair for pair in pairs)
    return '<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n%s</boot>\n' % rows


MAIN_BOOT = boot_xml(MAIN_ITEMS)
UPDATER_BOOT = boot_xml(UPDATER_ITEMS)


def start(argc=1, debug=0):
    """The launcher's first three lines."""
    return ["argc=%d" % argc, "argv[0]={exe}", "debugFileExists=%d" % debug]


def refused(updater=False):
    """The lines of a launch whose boot file was refused."""
    return ["configPath2={updater_boot}", "{updater_boot}"] if updater else ["configPath={main_boot}", "{main_boot}"]


def main_launch(code, command=MAIN_COMMAND, started=True):
    """The lines of one launch of the main application that read its boot file."""
    return _launch(["configPath={main_boot}", "{main_boot}", "currentDir={app}"], command, code, started)


def updater_launch(code, command=UPDATER_COMMAND, started=True):
    return _launch(["configPath2={updater_boot}", "{updater_boot}", "currentDir={updater}"], command, code, started)


def _launch(head, command, code, started):
    ran = ["execute:processId=={pid}", "result=WAIT_OBJECT_0"] if started else ["execute:createProcessResult==0"]
    return head + ["javaCommandLine=" + command] + ran + ["launchJava:retCode=%d" % code]


@dataclass
class Row:
    name: str
    # The boot files: text (its {/} and {.exe} filled in), bytes as they are,
    # None for no file, or a function that makes something at the path.
    main: object = MAIN_BOOT
    updater: object = UPDATER_BOOT
    folder: str = "app"  # below {base}, "/" between levels; "" is {base} itself
    exit_codes: tuple = ()
    args: tuple = ()  # the launcher's own arguments, templates too
    env: dict = field(default_factory=dict)  # more environment for the launcher
    files: dict = field(default_factory=dict)  # {path below {base}: text, bytes, STUB or DIR}
    stub: bool = True  # java.exe in the app folder
    debug: object = None  # the debug marker: its text, DIR, or a function that makes it
    codepage: int = 1252  # Wine's ANSI code page
    on: str = BOTH
    closed_stdout: bool = False  # natively: standard output is a pipe nobody reads
    # What must be seen; templates with the tokens above.
    lines: list = None  # all of the launcher's lines; None: not looked at
    boxes: list = ()  # the texts of the boxes, in order
    calls: list = ()  # (working directory, argv) of every stand-in that ran, in order
    child_env: list = None  # per call, the LAUNCHER_* variables it saw; None: not looked at
    opens: list = None  # per call, the indexes into its argv that open as files; None: not looked at
    cut_boxes: int = 0  # under Wine: a box text its trace cuts keeps more than this many characters


@dataclass
class Call:
    cwd: str
    argv: list
    env: dict
    opens: list = field(default_factory=list)  # indexes into argv of the arguments that open as files


def unescaped(value):
    """A value the stand-in wrote with \\uXXXX (UTF-16 units) or \\xHH (bytes) outside ASCII."""
    if "\\u" in value:
        units = re.sub(r"\\u([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), value)
        return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")
    raw = re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), value.encode("ascii"))
    return raw.decode("utf-8", "surrogateescape")


def read_calls(folder, encoding="utf-8", errors="surrogateescape"):
    """The calls recorded in folder's calls.log, in order."""
    try:
        with open(os.path.join(folder, "calls.log"), "rb") as log:
            lines = log.read().decode(encoding, errors).split("\n")
    except FileNotFoundError:
        return []
    calls = []
    for line in lines:
        if line == "call":
            calls.append(Call("", [], {}))
        elif line.startswith("cwd="):
            calls[-1].cwd = line[4:]
        elif line.startswith("arg="):
            calls[-1].argv.append(line[4:])
        elif line.startswith("opens="):
            calls[-1].opens.append(int(line[6:]))
        elif line.startswith("env="):
            name, _, value = line[4:].partition("=")
            calls[-1].env[name] = unescaped(value)
    return calls


def calls_below(base, app, encoding="utf-8", errors="surrogateescape"):
    """The calls of every stand-in below base: those of the one in the app
    folder first, then the others' (decoys, a java in a folder of its own)."""
    folders = sorted(folder for folder, _, names in os.walk(base) if "calls.log" in names)
    folders.sort(key=lambda folder: folder != app)
    return [call for folder in folders for call in read_calls(folder, encoding, errors)]


def expand(template, places):
    if isinstance(template, (list, tuple)):
        return type(template)(expand(t, places) for t in template)
    for token, value in places.items():
        template = template.replace(token, value)
    return template


def mask_pid(case, lines, pid=None):
    """The lines with the launcher's process id as {pid}: one id for every
    child, the launcher's own (natively: pid)."""
    pids, masked = set(), []
    for line in lines:
        match = re.fullmatch(r"execute:processId==(\d+)", line)
        if match:
            pids.add(int(match.group(1)))
            line = "execute:processId=={pid}"
        masked.append(line)
    case.assertLessEqual(len(pids), 1, "process id differs between launches")
    case.assertNotIn(0, pids)
    if pid is not None and pids:
        case.assertEqual(pids, {pid}, "not the launcher's process id")
    return masked


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content.encode("utf-8", "surrogateescape") if isinstance(content, str) else content)


class NativeRunner:
    name = NATIVE
    TIMEOUT = 30  # seconds; a launcher blocked on a FIFO never ends by itself

    def __init__(self, launcher, java_stub):
        self.launcher, self.java_stub = launcher, java_stub

    def places(self, base, folder):
        app = os.path.join(base, *folder.split("/")) + "/"
        return {"{app}": app, "{root}": app[:-1], "{updater}": app + "updater", "{base}": base + "/",
                "{exe}": app + "launcher", "{main_boot}": app + "config/boot.xml",
                "{updater_boot}": app + "updater/config/boot.xml", "{/}": "/", "{.exe}": ""}

    def check(self, case, row):
        base = tempfile.mkdtemp(prefix="launcher-e2e-")
        case.addCleanup(shutil.rmtree, base, ignore_errors=True)
        places = self.places(base, row.folder)
        app = AppDir.for_row(row, base, places, self.launcher, "launcher", self.java_stub).root
        code, pid, lines, errors = self.run(places["{exe}"], expand(row.args, places), row.env, base,
                                            row.closed_stdout)
        case.assertEqual(code, 0, "launcher exit code")
        case.assertEqual(errors, ["Error: " + text for text in expand(list(row.boxes), places)])
        assert_seen(case, row, places, mask_pid(case, lines, pid), calls_below(base, app), os.path.realpath)

    def run(self, exe, args=(), env=None, cwd=None, closed_stdout=False, restore_signals=True):
        """(exit code, pid, stdout lines, stderr lines) of the launcher; a
        new session has no controlling terminal, so the debug console cannot
        take standard output away."""
        environment = dict(os.environ, **(env or {}))
        stdout, unread = subprocess.PIPE, None
        if closed_stdout:
            read_end, unread = os.pipe()
            os.close(read_end)
            stdout = unread
        try:
            process = subprocess.Popen([exe, *args], cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                                       stdout=stdout, stderr=subprocess.PIPE, start_new_session=True,
                                       restore_signals=restore_signals)
        finally:
            if unread is not None:
                os.close(unread)
        try:
            out, err = process.communicate(timeout=self.TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise AssertionError("the launcher did not end within %d s" % self.TIMEOUT)
        return (process.returncode, process.pid, (out or b"").decode("utf-8", "surrogateescape").splitlines(),
                err.decode("utf-8", "surrogateescape").splitlines())


def assert_seen(case, row, places, lines, calls, folder=lambda path: path):
    """The row's lines, and each child's working directory (as folder()
    sees it), argv and environment."""
    if row.lines is not None:
        case.assertEqual(lines, expand(row.lines, places))
    case.assertEqual([(folder(c.cwd), c.argv) for c in calls],
                     [(folder(expand(cwd, places)), expand(argv, places)) for cwd, argv in row.calls])
    if row.child_env is not None:
        case.assertEqual([c.env for c in calls],
                         [{name: expand(value, places) for name, value in env.items()} for env in row.child_env])
    if row.opens is not None:
        case.assertEqual([c.opens for c in calls], row.opens)


class WineRunner:
    """The Windows exe under Wine, in a prefix that is ready: drive D: shows
    the row's {base}, and LC_ALL selects the ANSI code page."""
    name = WINE

    def __init__(self, wine, prefix, launcher, java_stub, work_dir):
        self.wine, self.prefix, self.launcher, self.java_stub = wine, prefix, launcher, java_stub
        self.work_dir = work_dir

    @staticmethod
    def places(folder):
        app = "D:\\" + "".join(part + "\\" for part in folder.split("/") if part)
        return {"{app}": app, "{root}": app if app == "D:\\" else app[:-1], "{updater}": app + "updater",
                "{base}": "D:\\", "{exe}": app + "launcher.exe", "{main_boot}": app + "config\\boot.xml",
                "{updater_boot}": app + "updater\\config\\boot.xml", "{/}": "\\", "{.exe}": ".exe"}

    def code_page(self, number):
        """The environment and Python codec of ANSI code page 1252 or 932."""
        if number == 1252:
            return {"LC_ALL": "C.UTF-8"}, "cp1252"
        locales = os.path.join(self.work_dir, "locale")
        if not os.path.isdir(os.path.join(locales, "ja_JP.UTF-8")):
            os.makedirs(locales, exist_ok=True)
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(locales, "ja_JP.UTF-8")],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return {"LC_ALL": "ja_JP.UTF-8", "LOCPATH": locales}, "cp932"

    def check(self, case, row):
        base = os.path.join(self.work_dir, *case.id().split(".")[-2:])
        shutil.rmtree(base, ignore_errors=True)
        os.makedirs(base)
        places = self.places(row.folder)
        app = AppDir.for_row(row, base, places, self.launcher, "launcher.exe", self.java_stub).root
        wine_env.mapDrive(self.prefix, "d", base)
        env, encoding = self.code_page(row.codepage)
        code, lines, boxes, wineSaid = wine_env.runWindows(
            self.wine, self.prefix, [places["{exe}"], *expand(row.args, places)], extraEnv=dict(env, **row.env),
            encoding=encoding, allowCut=bool(row.cut_boxes))
        case.assertEqual(code, 0, "launcher exit code; it wrote %s, Wine said %s" % (lines, wineSaid))
        lines = mask_pid(case, lines)
        for line in lines:
            short = re.fullmatch(r"configPath=(D:\\[!-~]*~[!-~]*)\\config\\boot\.xml", line)
            if short:
                places["{short}"] = short.group(1)
            short = re.fullmatch(r"launcherArgs:arg(\d+)=(\S*) \(its short name.*", line)
            if short:
                places["{short_arg%s}" % short.group(1)] = short.group(2)
        expected = [("W", 0, "Error", text, 0) for text in expand(list(row.boxes), places)]
        if row.cut_boxes:
            case.assertEqual(len(boxes), len(expected), boxes)
            for got, want in zip(boxes, expected):
                text = got[3]
                case.assertEqual(got[:3] + got[4:], want[:3] + want[4:])
                case.assertTrue(text == want[3] or (text.endswith("...") and want[3].startswith(text[:-3])
                                                    and len(text) > row.cut_boxes), text)
        else:
            case.assertEqual(boxes, expected, "the launcher wrote %s, Wine said %s" % (lines, wineSaid))
        assert_seen(case, row, places, lines, calls_below(base, app, encoding, "strict"))


RUNNER = None


class RowTest(unittest.TestCase):
    """A table of rows: main() makes one test per row, skipped where the row
    says it runs on the other platform only."""
    ROWS = []


def _slug(name):
    return re.sub(r"\W+", "_", name.lower()).strip("_")


def _add_row_tests(module):
    for cls in list(vars(module).values()):
        if not (isinstance(cls, type) and issubclass(cls, RowTest)):
            continue
        for test, method in list(vars(cls).items()):
            if getattr(method, "on", RUNNER.name) not in (BOTH, RUNNER.name):
                setattr(cls, test, unittest.skip("%s only" % method.on)(method))
        for row in cls.ROWS:
            test = "test_" + _slug(row.name)
            if hasattr(cls, test):
                raise ValueError("two rows named %r in %s" % (row.name, cls.__name__))
            def method(self, row=row):
                RUNNER.check(self, row)
            if row.on not in (BOTH, RUNNER.name):
                method = unittest.skip("%s only" % row.on)(method)
            setattr(cls, test, method)


def only(platform):
    """For a RowTest method that is not a row: runs on that platform only."""
    def mark(method):
        method.on = platform
        return method
    return mark


def suite_options():
    """A launcher suite's options (--launcher, --java-stub, and under Wine
    --wine, --prefix, --work-dir): (options, launcher, java stub, the argv
    left for unittest). Clears this process's LAUNCHER_* variables, since the
    children's are the rows' own."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--java-stub", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--prefix")
    parser.add_argument("--work-dir")
    options, rest = parser.parse_known_args()
    for name in [name for name in os.environ if name.startswith("LAUNCHER_")]:
        del os.environ[name]
    return options, os.path.abspath(options.launcher), os.path.abspath(options.java_stub), [sys.argv[0]] + rest


def main(what):
    """Runs the calling script's rows natively (--launcher, --java-stub), or
    under Wine with --wine, --prefix and --work-dir; skips (77), saying why,
    where that Wine cannot run."""
    global RUNNER
    options, launcher, java_stub, argv = suite_options()
    module = sys.modules["__main__"]
    if not options.wine:
        RUNNER = NativeRunner(launcher, java_stub)
        _add_row_tests(module)
        unittest.main(module=module, argv=argv)
    work_dir = os.path.abspath(options.work_dir)
    prefix = os.path.abspath(options.prefix or os.path.join(work_dir, "wineprefix"))
    what = "%s under %s" % (what, options.wine)
    wine_env.exitUnlessRuns(options.wine, what)
    wine_env.preparePrefixOrSkip(options.wine, prefix, what)
    RUNNER = WineRunner(options.wine, prefix, launcher, java_stub, work_dir)
    _add_row_tests(module)
    sys.exit(wine_env.runTests(options.wine, prefix, argv))


class AppDir:
    """An app folder: the one way the suites lay one out. It holds the
    launcher (launcher_name) and, unless stub is False, the stand-in java
    (java_name); lay_out() adds a row's boot files and other files, and the
    suites that run the launcher themselves (bootcheck, soak) write theirs.
    base: the folder that holds it (default: a new temporary one); name: its
    path below base, "/" between levels, "" for base itself."""

    def __init__(self, launcher, java_stub, name="app", java_name="java_stub", base=None,
                 launcher_name="launcher", stub=True):
        self.base = base or tempfile.mkdtemp(prefix="launcher-e2e-")
        self.root = os.path.join(self.base, *name.split("/")) if name else self.base
        os.makedirs(self.root, exist_ok=True)
        self.launcher = os.path.join(self.root, launcher_name)
        self.java_stub = java_stub
        self.java_name = java_name
        shutil.copy2(launcher, self.launcher)
        if stub:
            shutil.copy2(java_stub, os.path.join(self.root, java_name))

    def lay_out(self, row, places):
        """The row's boot files, exit codes, debug marker and other files
        (row.files below base); templates filled from places."""
        for content, relative in ((row.main, "config/boot.xml"), (row.updater, "updater/config/boot.xml")):
            path = self.path(*relative.split("/"))
            if content is None:
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if callable(content):
                content(path)
            else:
                write(path, expand(content, places) if isinstance(content, str) else content)
        self.queue_exit_codes(*row.exit_codes)
        if row.debug is DIR:
            os.mkdir(self.path("debug"))
        elif callable(row.debug):
            row.debug(self.path("debug"))
        elif row.debug is not None:
            write(self.path("debug"), row.debug)
        for relative, content in row.files.items():
            path = os.path.join(self.base, *expand(relative, places).split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if content is STUB:
                shutil.copy2(self.java_stub, path)
            elif content is DIR:
                os.makedirs(path)
            else:
                write(path, content)
        return self

    @classmethod
    def for_row(cls, row, base, places, launcher, launcher_name, java_stub):
        """A row's app folder below base, as the runners lay it out."""
        return cls(launcher, java_stub, name=row.folder, java_name="java.exe", base=base,
                   launcher_name=launcher_name, stub=row.stub).lay_out(row, places)

    def remove(self):
        shutil.rmtree(self.base, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    @property
    def app_dir(self):
        return self.root + "/"

    @property
    def main_boot(self):
        return self.path("config", "boot.xml")

    def write(self, relative, content):
        write(self.path(relative), content)

    def write_boots(self, app, updater):
        self.write("config/boot.xml", boot_xml(app))
        self.write("updater/config/boot.xml", boot_xml(updater))

    def queue_exit_codes(self, *codes):
        self.write("exit_codes", "".join("%d\n" % code for code in codes))

    def calls(self):
        return read_calls(self.root)

    def run(self, *args, cwd=None):
        code, pid, out, err = NativeRunner(None, None).run(self.launcher, args, cwd=cwd or self.base)
        return out
