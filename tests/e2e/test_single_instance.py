"""One app per app folder end to end, natively and under Wine: with
singleInstance=forward a second launcher leaves its working directory and
arguments in the running app's inbox and starts nothing; without the item
every launcher starts its own app. The first app is the stand-in java held
running by a hold.1 file; it records LAUNCHER_INBOX, its process id and the
requests it found at its start.

Under Wine the suite has its own prefix, whose relay trace also shows
user32.AllowSetForegroundWindow, and drive D: (E: for a second folder) shows
the app folder's parent.

Usage: test_single_instance.py --launcher EXE --java-stub EXE [--wine WINE --work-dir DIR]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import wine_env  # noqa: E402
from app_dir import MAIN_ITEMS, UPDATER_ITEMS, AppDir, read_calls, suite_options, unescaped  # noqa: E402

WAIT = 90  # seconds for a step that takes a moment (a 64-bit Wine start takes about one)
RELAY_SETTINGS = ["[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
                  '"RelayInclude"="user32.MessageBoxW;user32.MessageBoxA;user32.AllowSetForegroundWindow;'
                  'kernel32.ExitProcess"']
JAPANESE = "月次 報告.myrep"


def boot(value):
    """The main boot file with singleInstance=value (None: no item)."""
    return MAIN_ITEMS + ([("singleInstance", value)] if value is not None else [])


def unique_name():
    """An app folder's name: the inbox and the locks of one folder outlive a
    test (under Wine the prefix's temp folder outlives the run)."""
    return "app-" + uuid.uuid4().hex[:8]


def request_bytes(cwd, args):
    return b"".join(part.encode("utf-8") + b"\0" for part in [cwd] + list(args))


class Launch:
    """A launcher started in the background."""

    def __init__(self, process, out, err, traced=False):
        """traced: stderr holds Wine's relay trace, and with it the exit code
        the launcher gave (wine_env.exitCode)."""
        self.process, self.out, self.err, self.traced = process, out, err, traced

    def finish(self, timeout=WAIT):
        """(exit code, stdout lines, stderr text) once it has ended."""
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("the launcher did not end within %d s" % timeout)
        out, err = (wine_env.readCaptured(f).decode("utf-8", "replace") for f in (self.out, self.err))
        self.out.close()
        self.err.close()
        return wine_env.exitCode(code, err) if self.traced else code, out.splitlines(), err

    def said(self):
        """What it has written so far: (stdout lines, stderr text)."""
        return (wine_env.readCaptured(self.out).decode("utf-8", "replace").splitlines(),
                wine_env.readCaptured(self.err).decode("utf-8", "replace"))

    def kill(self, group=True):
        """Kills the launcher, and with group what it started."""
        if self.process.poll() is None:
            if group:
                os.killpg(self.process.pid, signal.SIGKILL)
            else:
                os.kill(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.out.close()
        self.err.close()


class Native:
    name = "native"

    def __init__(self, launcher, java_stub):
        self.launcher, self.java_stub = launcher, java_stub

    def app(self, case, drive="d"):
        app = AppDir(self.launcher, self.java_stub, name=unique_name(), java_name="java.exe")
        case.addCleanup(app.remove)
        os.makedirs(app.path("..", "tmp"))
        return app

    def start(self, app, args=(), cwd=None, spelling=lambda exe: exe):
        out, err = wine_env.captureFile(), wine_env.captureFile()
        # The inbox and the locks go below the test's own folder.
        env = dict(os.environ, TMPDIR=os.path.join(app.base, "tmp"), XDG_RUNTIME_DIR=os.path.join(app.base, "tmp"))
        process = subprocess.Popen([spelling(app.launcher), *args], cwd=cwd or app.base, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, start_new_session=True)
        return Launch(process, out, err)

    def seen_cwd(self, app, folder):
        """A folder below the app folder's parent as the launcher sees it."""
        return os.path.realpath(os.path.join(app.base, *folder.split("/")))

    def local_path(self, path):
        return path

    def foreground_calls(self, err):
        return []


class Wine:
    name = "wine"

    def __init__(self, wine, prefix, launcher, java_stub):
        self.wine, self.prefix, self.launcher, self.java_stub = wine, prefix, launcher, java_stub

    def app(self, case, drive="d"):
        app = AppDir(self.launcher, self.java_stub, name=unique_name(), java_name="java.exe")
        case.addCleanup(app.remove)
        shutil.copy2(app.launcher, app.launcher + ".exe")
        app.drive = drive.upper()
        wine_env.mapDrive(self.prefix, drive, app.base)
        return app

    def start(self, app, args=(), cwd=None, spelling=lambda exe: exe):
        out, err = wine_env.captureFile(), wine_env.captureFile()
        env = wine_env.wineEnvironment(self.prefix, wine_env.RELAY_AND_ERRORS)
        env["LC_ALL"] = "C.UTF-8"  # ANSI code page 1252, which has no Japanese
        exe = spelling("%s:\\%s\\launcher.exe" % (app.drive, os.path.basename(app.root)))
        process = subprocess.Popen([self.wine, exe, *args], cwd=cwd or app.base, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, start_new_session=True)
        return Launch(process, out, err, traced=True)

    def seen_cwd(self, app, folder):
        return "%s:\\%s" % (app.drive, folder.replace("/", "\\"))

    def local_path(self, path):
        drive, _, rest = path.partition(":\\")
        return os.path.join(self.prefix, "dosdevices", drive.lower() + ":", *rest.split("\\"))

    def foreground_calls(self, err):
        """The process ids AllowSetForegroundWindow was called for."""
        return [int(pid, 16) for pid in re.findall(r"Call user32\.AllowSetForegroundWindow\(([0-9a-fA-F]+)\)", err)]


SIDE = None


class SingleInstance(unittest.TestCase):
    def setUp(self):
        self.running = []

    def tearDown(self):
        for launch, app in self.running:
            for name in os.listdir(app.root):
                if name.startswith("hold"):
                    os.remove(app.path(name))
            launch.finish()

    def app(self, value="forward", exit_codes=(), drive="d"):
        app = SIDE.app(self, drive)
        app.write_boots(boot(value), UPDATER_ITEMS)
        app.queue_exit_codes(*exit_codes)
        return app

    def hold(self, app, call):
        app.write("hold.%d" % call, "")

    def release(self, app, call):
        os.remove(app.path("hold.%d" % call))

    def wait_for_calls(self, app, count):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            calls = self.calls(app)
            if len(calls) >= count and all("pid" in call.env for call in calls):
                return calls
            time.sleep(0.05)
        self.fail("%d calls of the stand-in java expected, seen %r" % (count, self.calls(app)))

    def calls(self, app):
        """The stand-in's calls, each with its pid and the requests it found in env."""
        calls = read_calls(app.root)
        try:
            with open(app.path("calls.log"), "rb") as log:
                records = log.read().decode("utf-8", "replace").split("call\n")[1:]
        except FileNotFoundError:
            return []
        for call, record in zip(calls, records):
            for line in record.splitlines():
                if line.startswith("pid="):
                    call.env["pid"] = int(line[4:])
                elif line.startswith("request="):
                    call.env.setdefault("requests", []).append(line[8:])
        return calls

    def start_owner(self, app, call=1):
        """A launcher whose app (the stand-in's call number call) keeps running; the app's inbox folder."""
        self.hold(app, call)
        launch = SIDE.start(app)
        self.running.append((launch, app))
        try:
            calls = self.wait_for_calls(app, call)
        except AssertionError as failure:
            lines, err = launch.said()
            raise AssertionError("%s; the owner %s and wrote %r; stderr besides the trace: %r" % (
                failure, "runs" if launch.process.poll() is None else "ended with %d" % launch.process.returncode,
                lines, wine_env.wineSaid(err)))
        self.assertIn("LAUNCHER_INBOX", calls[call - 1].env, "the owner's app has no inbox")
        inbox = SIDE.local_path(unescaped(calls[call - 1].env["LAUNCHER_INBOX"]))
        self.addCleanup(shutil.rmtree, inbox, ignore_errors=True)
        return launch, inbox

    def forward(self, app, args=(), folder=""):
        """Runs a later launcher in folder below the app's parent; its stderr."""
        cwd = os.path.join(app.base, *folder.split("/")) if folder else app.base
        os.makedirs(cwd, exist_ok=True)
        code, lines, err = SIDE.start(app, args, cwd).finish()
        self.assertEqual(code, 0, "forwarding launcher's exit code")
        self.assertEqual([line for line in lines if line.startswith("singleInstance:")][:1],
                         [line for line in lines if line.startswith("singleInstance:forwarded=")][:1], lines)
        return err

    def requests(self, inbox):
        names = sorted(name for name in os.listdir(inbox) if name.endswith(".request"))
        contents = []
        for name in names:
            with open(os.path.join(inbox, name), "rb") as request:
                contents.append(request.read())
        return names, contents

    def end_owner(self, app, launch, call=1):
        self.release(app, call)
        self.running.remove((launch, app))
        code, lines, err = launch.finish()
        self.assertEqual(code, 0)
        return lines

    # Each row: the arguments of a later launcher and the folder it runs in.
    FORWARDED = [
        ("blank, Japanese, empty and a quote", "docs/x y", ["a b", JAPANESE, "", 'say "hi"']),
        ("a Windows path with Japanese, as Explorer hands it over", "docs", ["C:\\docs\\" + JAPANESE]),
        ("backslashes before quotes and at the end", "docs", ['C:\\a b\\', 'x\\"y', "\\\\server\\share"]),
        ("no arguments: the user asked for the app", "docs", []),
    ]

    def test_a_later_launcher_leaves_one_exact_request_and_starts_nothing(self):
        for name, folder, args in self.FORWARDED:
            with self.subTest(name):
                app = self.app()
                owner, inbox = self.start_owner(app)
                err = self.forward(app, args, folder)
                self.assertIsNone(owner.process.poll(), "the forwarder waited for the owner")
                self.assertEqual(len(self.calls(app)), 1, "a second app started")
                names, contents = self.requests(inbox)
                self.assertEqual(contents, [request_bytes(SIDE.seen_cwd(app, folder), args)])
                self.assertEqual(names, ["00000000000000000001.request"])
                self.assertEqual([name for name in os.listdir(inbox) if not name.endswith(
                    (".request", ".pid", "counter"))], [])
                if SIDE.name == "wine":
                    self.assertEqual(SIDE.foreground_calls(err), [self.calls(app)[0].env["pid"]])
                self.end_owner(app, owner)

    def test_without_the_item_every_launcher_starts_its_app(self):
        for value in (None, "ignore"):
            with self.subTest(value=value):
                app = self.app(value)
                self.hold(app, 1)
                first = SIDE.start(app)
                self.running.append((first, app))
                self.wait_for_calls(app, 1)
                code, lines, err = SIDE.start(app, [JAPANESE]).finish()
                self.assertEqual(code, 0)
                self.assertEqual([line for line in lines if "singleInstance" in line], [])
                self.assertEqual(self.end_owner(app, first)[-1], "launchJava:retCode=0")
                calls = self.calls(app)
                self.assertEqual(len(calls), 2, "the second launcher wrote %r; stderr besides the trace: %r"
                                 % (lines, wine_env.wineSaid(err)))
                self.assertEqual([sorted(call.env) for call in calls], [["pid"], ["pid"]])

    def test_a_third_request_sorts_after_the_second(self):
        app = self.app()
        owner, inbox = self.start_owner(app)
        for word in ("second", "third", "fourth"):
            self.forward(app, [word])
        names, contents = self.requests(inbox)
        self.assertEqual([content.split(b"\0")[1] for content in contents], [b"second", b"third", b"fourth"])
        self.end_owner(app, owner)

    def test_a_request_the_app_left_unread_starts_it_once_more(self):
        app = self.app()
        owner, inbox = self.start_owner(app)
        self.forward(app, ["left unread"])
        # The app ends without reading it: it starts again and finds it, and
        # what it leaves unread once more goes, so the cycle ends.
        self.assertIn("singleInstance:restart=requests came while the app ended", self.end_owner(app, owner))
        calls = self.calls(app)
        self.assertEqual(len(calls), 2)
        self.assertEqual(calls[1].env["requests"], ["00000000000000000001.request"])
        self.assertEqual(self.requests(inbox), ([], []))
        # The next launcher is an owner again: its app starts and finds nothing.
        owner, again = self.start_owner(app, call=3)
        self.assertEqual(again, inbox)
        self.assertNotIn("requests", self.calls(app)[2].env)
        self.forward(app, ["new"])
        self.assertEqual(self.requests(inbox)[0], ["00000000000000000002.request"])
        self.end_owner(app, owner, call=3)

    def test_an_inbox_open_to_others_is_replaced_by_a_fresh_one(self):
        app = self.app()
        owner, inbox = self.start_owner(app)
        self.end_owner(app, owner)
        # Another user of a shared temp folder could write into it.
        os.chmod(inbox, 0o777)
        with open(os.path.join(inbox, "00000000000000000009.request"), "wb") as planted:
            planted.write(request_bytes("C:\\", ["planted"]))
        owner, again = self.start_owner(app, call=2)
        self.assertEqual(again, inbox)
        self.assertNotIn("requests", self.calls(app)[1].env)
        self.assertEqual(self.requests(inbox), ([], []))
        self.assertEqual(os.stat(inbox).st_mode & 0o007, 0)
        self.end_owner(app, owner, call=2)

    def test_a_killed_owner_does_not_block(self):
        app = self.app()
        owner, inbox = self.start_owner(app)
        self.running.remove((owner, app))
        owner.kill(group=False)
        # Its app still runs (held); the next launcher owns the folder and starts its own.
        second, _ = self.start_owner(app, call=2)
        self.assertEqual(len(self.calls(app)), 2)
        self.forward(app, ["to the new owner"])
        self.assertEqual(len(self.requests(inbox)[0]), 1)
        self.end_owner(app, second, call=2)
        self.release(app, 1)

    def test_a_request_during_the_update_reaches_the_restarted_app(self):
        app = self.app(exit_codes=(21, 0, 0))
        self.hold(app, 2)  # the updater
        owner = SIDE.start(app)
        self.running.append((owner, app))
        calls = self.wait_for_calls(app, 2)
        inbox = SIDE.local_path(unescaped(calls[1].env["LAUNCHER_INBOX"]))
        self.addCleanup(shutil.rmtree, inbox, ignore_errors=True)
        self.forward(app, [JAPANESE])
        self.assertEqual(len(self.calls(app)), 2)
        self.end_owner(app, owner, call=2)
        calls = self.calls(app)
        self.assertEqual(len(calls), 3)
        self.assertEqual(calls[2].env["requests"], ["00000000000000000001.request"])
        # The restarted app found it at its start: it goes when that app ends.
        self.assertEqual(self.requests(inbox), ([], []))

    def test_the_folder_spelt_in_another_case_is_the_same_owner(self):
        if SIDE.name != "wine":
            self.skipTest("a Windows path names a folder whatever its case")
        app = self.app()
        owner, inbox = self.start_owner(app)
        code, lines, _ = SIDE.start(app, ["upper"], spelling=str.upper).finish()
        self.assertEqual(code, 0)
        self.assertIn("argv[0]=" + ("D:\\%s\\launcher.exe" % os.path.basename(app.root)).upper(), lines)
        self.assertEqual(len(self.calls(app)), 1, "a second app started")
        self.assertEqual([content.split(b"\0")[1] for content in self.requests(inbox)[1]], [b"upper"])
        self.end_owner(app, owner)

    def test_two_app_folders_are_two_owners(self):
        first, second = self.app(), self.app(drive="e")
        owner1, inbox1 = self.start_owner(first)
        owner2, inbox2 = self.start_owner(second)
        self.assertNotEqual(inbox1, inbox2)
        self.forward(second, ["to the second"])
        self.assertEqual(self.requests(inbox1), ([], []))
        self.assertEqual(len(self.requests(inbox2)[0]), 1)
        self.end_owner(first, owner1)
        self.end_owner(second, owner2)


    def test_the_folder_reached_another_way_is_the_same_owner(self):
        # Under Wine a second drive letter for the same folder, as subst makes one;
        # natively a link to the folder.
        app = self.app()
        owner, inbox = self.start_owner(app)
        if SIDE.name == "wine":
            wine_env.mapDrive(SIDE.prefix, "e", app.base)
            spelling = lambda exe: "E" + exe[1:]  # noqa: E731
        else:
            os.symlink(app.root, os.path.join(app.base, "link"))
            spelling = lambda exe: os.path.join(app.base, "link", os.path.basename(exe))  # noqa: E731
        code, lines, _ = SIDE.start(app, ["another way"], spelling=spelling).finish()
        self.assertEqual(code, 0)
        self.assertEqual(len(self.calls(app)), 1, "a second app started: %r" % lines)
        self.assertEqual([content.split(b"\0")[1] for content in self.requests(inbox)[1]], [b"another way"])
        self.end_owner(app, owner)

def main():
    global SIDE
    options, launcher, java_stub, argv = suite_options()
    if not options.wine:
        SIDE = Native(launcher, java_stub)
        unittest.main(argv=argv)
    what = "single instance under %s" % options.wine
    prefix = os.path.join(os.path.abspath(options.work_dir), "wineprefix")
    wine_env.exitUnlessRuns(options.wine, what)
    wine_env.preparePrefixOrSkip(options.wine, prefix, what, settings=RELAY_SETTINGS)
    SIDE = Wine(options.wine, prefix, launcher, java_stub)
    sys.exit(wine_env.runTests(options.wine, prefix, argv))


if __name__ == "__main__":
    main()
