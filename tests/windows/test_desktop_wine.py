#!/usr/bin/python3
"""The launcher on a desktop: its boxes and its debug console as real windows.

The test starts its own Xvfb display and its own Wine prefix (Japanese font
replacement, no window manager), runs the launcher from D:\\app\\ as in the
end-to-end suite, and looks at what a person would see: the X windows
(xdotool), the box's controls through the Windows API (window_probe.exe),
the pixels (a screenshot per window) and the text read back from them by OCR
(tesseract). The boxes are dismissed the way a person does, by a click on
the button or Enter.

Screenshots land in WORK_DIR/screenshots/, one PNG per window.

Usage: test_desktop_wine.py --wine WINE --launcher EXE --java-stub EXE --javaw-stub EXE
                            --probe EXE --work-dir DIR

Exits 77 (skipped), saying why, where WINE cannot run.
"""

import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_app as suite  # noqa: E402
import wine_env  # noqa: E402

DESKTOP_SETTINGS = [
    # Wine's box font links to MS UI Gothic for Japanese; without a font
    # behind that name the texts are empty squares.
    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]",
    '"MS UI Gothic"="Noto Sans CJK JP"',
    "",
    # Without a window manager a managed box takes 2 s to go away.
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]",
    '"Managed"="N"',
    "",
    # The launcher's exit code as it gave it (wine_env.exitCode).
    "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
    '"RelayInclude"="kernel32.ExitProcess"',
]
TOOLS = [("Xvfb", "xvfb"), ("xdotool", "xdotool"), ("import", "imagemagick"),
         ("tesseract", "tesseract-ocr")]

APPEAR_TIMEOUT = 120   # seconds for a window to show; the first start brings up Wine's desktop
HOLD = 1.0             # seconds a box is watched for a second window
# The launcher's own console waits this long for Enter before it ends. An
# exit after a press is checked against it: sooner means the press ended the
# wait, and no hold kept a launcher without a console. How long the exit took
# is printed, not judged: under load it takes seconds, and that is no fault.
CONSOLE_HOLD = 20.0
# OCR reads the Japanese glyphs well but not perfectly (a dropped colon or
# backslash); another text of the same length scores far lower.
OCR_MIN_RATIO = 0.85
OCR_SCALE = "200%"  # tesseract reads these glyphs best at twice their size
OCR_MARGIN = 6  # pixels around a label; tesseract misreads text cut tight
CONSOLE_CAPTION = suite.APP + "launcher.exe"

OPTIONS = None
DISPLAY = None


def run(args, **kwargs):
    result = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=wine_env.RUN_TIMEOUT, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed with %d: %s" % (" ".join(args), result.returncode,
                                                       result.stderr.decode(errors="replace")))
    return result


def xEnvironment():
    env = dict(os.environ, DISPLAY=DISPLAY)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def searchWindows(pattern):
    """Ids of the mapped X windows whose name matches pattern. xdotool dies
    with BadWindow when any window goes away during its search (Wine's box
    while it closes) and then prints nothing, as if none matched: such a
    search is run again, up to 20 times."""
    for _ in range(20):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern], env=xEnvironment(),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if "X Error of failed request" not in result.stderr:
            return [int(w) for w in result.stdout.split()]
    raise AssertionError("xdotool search %r kept failing: %s" % (pattern, result.stderr))


def visibleWindows():
    """Ids of all mapped X windows."""
    return set(searchWindows(".*"))


def xWindows(caption):
    """Ids of the mapped X windows named caption."""
    return searchWindows("^%s$" % re.escape(caption))


def waitFor(condition, what, timeout=APPEAR_TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("no %s within %d s" % (what, timeout))
        time.sleep(0.05)


_PROBE_LINE = re.compile(r"(window|child) (.*?)(?: text=(.*))?")


def probe(caption):
    """[{pid, rect, client, children: [{class, visible, rect, text}]}] of the
    top-level windows named caption, as the Windows API sees them."""
    env = wine_env.wineEnvironment(OPTIONS.prefix, display=DISPLAY)
    out = run([OPTIONS.wine, OPTIONS.probe, caption], env=env).stdout.decode("utf-8")
    windows = []
    for line in out.splitlines():
        kind, fields, text = _PROBE_LINE.fullmatch(line).groups()
        values = dict(field.split("=", 1) for field in fields.split())
        for name in ("rect", "client"):
            if name in values:
                values[name] = tuple(int(n) for n in values[name].split(","))
        if kind == "window":
            values.update(pid=int(values["pid"]), children=[])
            windows.append(values)
        else:
            values.update(visible=values["visible"] == "1", text=text)
            windows[-1]["children"].append(values)
    return windows


def screenshot(rect, path, scale=None):
    """Saves the screen area rect (left, top, right, bottom) as a PNG."""
    left, top, right, bottom = rect
    args = ["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
            "+repage"]
    if scale:
        args += ["-filter", "Lanczos", "-resize", scale]
    run(args + [path], env=xEnvironment())


def ocr(rect, language):
    """The text tesseract reads in the screen area rect, whitespace dropped
    (Wine breaks long box texts into lines where it likes)."""
    with tempfile.TemporaryDirectory() as scratch:
        image = os.path.join(scratch, "area.png")
        screenshot(rect, image, OCR_SCALE)
        text = run(["tesseract", image, "-", "-l", language, "--psm", "6"]).stdout.decode("utf-8")
    return "".join(text.split())


def similarity(read, expected):
    return difflib.SequenceMatcher(None, read, "".join(expected.split())).ratio()


class DesktopCase(suite.LauncherCase):
    def setUp(self):
        self.launcher = None
        self.out = wine_env.captureFile()
        self.trace = wine_env.captureFile()
        self.shots = os.path.join(OPTIONS.work_dir, "screenshots")
        os.makedirs(self.shots, exist_ok=True)

    def tearDown(self):
        if self.launcher and self.launcher.poll() is None:
            self.launcher.kill()
            self.launcher.wait()
        self.out.close()
        self.trace.close()

    def startLauncher(self):
        env = wine_env.wineEnvironment(OPTIONS.prefix, "-all,+relay", display=DISPLAY)
        self.launcher = subprocess.Popen([OPTIONS.wine, suite.APP + "launcher.exe"], env=env,
                                         stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.trace)
        self.started = time.monotonic()

    def assertRunning(self):
        self.assertIsNone(self.launcher.poll(), "the launcher ended while its box is up")

    def lines(self):
        return self.maskPid(wine_env.readCaptured(self.out).decode("utf-8", errors="replace").splitlines())

    def awaitBox(self, text, shot):
        """Waits for the one box captioned "Error" and checks it: one OK
        button, the text, the pixels read back. Returns (X window id, box)."""
        xWindow = waitFor(lambda: xWindows("Error"), 'window captioned "Error"')
        print("%s: box up %.2f s after the start" % (shot, time.monotonic() - self.started))
        self.assertEqual(len(xWindow), 1, "more than one box at once")
        boxes = probe("Error")
        self.assertEqual(len(boxes), 1)
        box = boxes[0]
        visible = [child for child in box["children"] if child["visible"]]
        self.assertEqual([(c["class"], c["text"]) for c in visible if c["class"] == "Button"], [("Button", "OK")])
        labels = [c for c in visible if c["class"] == "Static" and c["text"]]
        self.assertEqual([c["text"] for c in labels], [text])

        screenshot(box["rect"], os.path.join(self.shots, shot + ".png"))
        left, top, right, bottom = labels[0]["rect"]
        read = ocr((left - OCR_MARGIN, top - OCR_MARGIN, right + OCR_MARGIN, bottom + OCR_MARGIN), "jpn+eng")
        ratio = similarity(read, text)
        print("%s: OCR read %r, similarity %.2f" % (shot, read, ratio))
        self.assertGreaterEqual(ratio, OCR_MIN_RATIO,
                                "box text on screen %r is not %r (empty squares: no Japanese font?)" % (read, text))
        self.assertRunning()
        return xWindow[0], box

    def click(self, box):
        left, top, right, bottom = next(c for c in box["children"] if c["class"] == "Button")["rect"]
        self.pressed = time.monotonic()
        run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2), "click", "1"],
            env=xEnvironment())

    def pressEnter(self, xWindow):
        self.pressed = time.monotonic()
        # Through the keyboard (XTEST) into the focused box: an event sent to
        # the window itself may find it gone before the key's release.
        run(["xdotool", "windowfocus", "--sync", str(xWindow), "key", "Return"], env=xEnvironment())

    def awaitExit(self, what):
        """Waits for the launcher's exit code; returns the seconds from the
        start of the press (xdotool's own start included)."""
        code = wine_env.exitCode(self.launcher.wait(timeout=APPEAR_TIMEOUT),
                                 wine_env.readCaptured(self.trace).decode("utf-8", errors="replace"))
        elapsed = time.monotonic() - self.pressed
        print("%s: launcher ended %.2f s after the press" % (what, elapsed))
        self.assertEqual(code, 0, "launcher exit code")
        return elapsed

    def awaitNextBox(self, first):
        """After the first box was dismissed: waits for another, failing if
        the two are ever up together."""
        deadline = time.monotonic() + APPEAR_TIMEOUT
        while time.monotonic() < deadline:
            windows = xWindows("Error")
            if first in windows:
                self.assertEqual(windows, [first], "second box while the first is still up")
            elif windows:
                return
            time.sleep(0.05)
        raise AssertionError("no second box within %d s" % APPEAR_TIMEOUT)

    def hold(self, xWindow):
        """For HOLD seconds: the box stays, alone, and the launcher waits on it."""
        deadline = time.monotonic() + HOLD
        while time.monotonic() < deadline:
            self.assertEqual(xWindows("Error"), [xWindow])
            self.assertRunning()
            time.sleep(0.1)


class ConfigurationErrorBox(DesktopCase):
    def test_box_blocks_until_clicked(self):
        self.makeApp(mainBoot=None)
        self.startLauncher()
        xWindow, box = self.awaitBox(suite.CONFIG_ERROR % suite.MAIN_BOOT, "config-error")
        self.hold(xWindow)
        self.click(box)
        self.assertLess(self.awaitExit("config-error"), CONSOLE_HOLD)
        self.assertEqual(xWindows("Error"), [])
        self.assertEqual(self.lines(), suite.startLines() + suite.badBootLines())


class UpdaterBoxes(DesktopCase):
    def test_two_boxes_one_after_the_other(self):
        self.makeApp(updaterBoot=None, exitCodes=[21])
        self.startLauncher()
        first, box = self.awaitBox(suite.CONFIG_ERROR % suite.UPDATER_BOOT, "updater-1-config-error")
        self.hold(first)
        self.click(box)
        self.awaitNextBox(first)
        second, box = self.awaitBox(suite.UPDATE_ERROR % 1, "updater-2-update-failed")
        self.hold(second)
        self.pressEnter(second)
        self.assertLess(self.awaitExit("updater"), CONSOLE_HOLD)
        self.assertEqual(self.lines(), suite.startLines() + suite.launchLines(21) + suite.badBootLines(updater=True))
        self.assertEqual(self.calls(), [suite.MAIN_CALL])


class DebugConsole(DesktopCase):
    def test_console_shows_the_diagnostics(self):
        # The main app ends with 1: its box keeps the launcher, and so its
        # console, up while the console is read.
        self.makeApp(exitCodes=[1], debug="file")
        self.startLauncher()
        xWindow, box = self.awaitBox(suite.MAIN_BOOT, "debug-box")
        consoles = probe(CONSOLE_CAPTION)
        self.assertEqual(len(consoles), 1, "console window captioned " + CONSOLE_CAPTION)
        self.assertEqual(len(xWindows(CONSOLE_CAPTION)), 1)
        console = consoles[0]
        screenshot(console["rect"], os.path.join(self.shots, "debug-console.png"))

        # The lines from configPath= on; the first three go to the output the
        # launcher had before the console existed. The process id is the box owner's.
        expected = [line.replace(suite.PID, str(box["pid"])) for line in suite.launchLines(1)]
        read = ocr(console["client"], "eng")
        ratio = similarity(read, "".join(expected))
        print("debug-console: OCR read %r, similarity %.2f" % (read, ratio))
        self.assertGreaterEqual(ratio, OCR_MIN_RATIO, "console text on screen is not %r" % expected)
        self.assertEqual(self.lines(), suite.startLines(debug=1))

        # The console the launcher made stays up with its last lines until
        # Enter, so the result can still be read after the box is gone.
        self.click(box)
        holdStarted = self.pressed
        waitFor(lambda: not xWindows("Error"), "box closing")
        consoleWindows = xWindows(CONSOLE_CAPTION)
        self.assertEqual(len(consoleWindows), 1, "console kept after the run; the launcher %s, wrote %s"
                         % ("runs" if self.launcher.poll() is None else "ended", self.lines()))
        deadline = time.monotonic() + HOLD
        while time.monotonic() < deadline:
            self.assertRunning()
            time.sleep(0.1)
        screenshot(console["rect"], os.path.join(self.shots, "debug-console-held.png"))
        # Now with the prompt to press Enter under the result lines. Wine's
        # console font has no Japanese glyphs, so only its first word is read.
        heldText = "".join(expected) + "Enter"
        read = ocr(console["client"], "eng")
        self.assertIn("Enter", read, "no prompt to press Enter on screen")
        ratio = similarity(read[:len(heldText)], heldText)
        print("debug-console-held: OCR read %r, similarity %.2f" % (read, ratio))
        self.assertGreaterEqual(ratio, OCR_MIN_RATIO, "console text on screen is not %r" % heldText)

        self.pressEnter(consoleWindows[0])
        self.awaitExit("debug")
        self.assertLess(time.monotonic() - holdStarted, CONSOLE_HOLD, "Enter, not the time, ended the hold")
        waitFor(lambda: not xWindows(CONSOLE_CAPTION), "console closing with the launcher")
        self.assertEqual(self.calls(), [suite.MAIN_CALL])


class ChildWindows(DesktopCase):
    def test_only_a_console_java_opens_a_window(self):
        # java.exe is a console program: started by the launcher, which has no
        # console, it gets a console window of its own for as long as it runs.
        # javaw.exe, a GUI program, shows nothing until the app does.
        cases = [("console java.exe", OPTIONS.java_stub, "java.exe", 1),
                 ("GUI javaw.exe", OPTIONS.javaw_stub, "javaw.exe", 0)]
        for what, stub, name, consoles in cases:
            with self.subTest(what):
                items = [("java", "${APP_DIR}" + name)] + suite.MAIN_ITEMS[1:]
                self.makeApp(mainBoot=suite.bootXml(items), java=False)
                shutil.copy(stub, os.path.join(self.app, name))
                hold = os.path.join(self.app, "hold")
                open(hold, "w").close()
                self.out.seek(0)
                self.out.truncate()
                before = visibleWindows()
                self.startLauncher()
                waitFor(self.calls, "call of the stand-in " + name)
                running = time.monotonic()
                caption = suite.APP + name
                if consoles:
                    waitFor(lambda: xWindows(caption), "console window captioned " + caption)
                    print("%s: console up %.2f s after the call" % (what, time.monotonic() - running))
                deadline = time.monotonic() + HOLD
                while time.monotonic() < deadline:
                    self.assertEqual(len(xWindows(caption)), consoles)
                    self.assertEqual(len(visibleWindows() - before), consoles, "windows beside the child's")
                    self.assertRunning()
                    time.sleep(0.1)
                self.pressed = time.monotonic()
                os.remove(hold)
                self.assertLess(self.awaitExit(what), CONSOLE_HOLD)
                waitFor(lambda: not visibleWindows() - before, "windows closing with the child")
                command = suite.MAIN_COMMAND.replace(suite.JAVA, suite.APP + name)
                self.assertEqual(self.lines(), suite.startLines() + suite.launchLines(0, command))


def startXvfb(logPath):
    """Starts Xvfb on a free display number; returns (process, display)."""
    readEnd, writeEnd = os.pipe()
    with open(logPath, "wb") as log:
        server = subprocess.Popen(["Xvfb", "-displayfd", str(writeEnd), "-screen", "0", "1024x768x24",
                                   "-nolisten", "tcp"], pass_fds=(writeEnd,), stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log)
    os.close(writeEnd)
    with os.fdopen(readEnd) as numbers:
        number = numbers.readline().strip()
    if not number:
        server.wait()
        raise RuntimeError("Xvfb did not start; see " + logPath)
    return server, ":" + number


def missingTools():
    missing = ["%s (package %s)" % (tool, package) for tool, package in TOOLS if not shutil.which(tool)]
    if shutil.which("tesseract"):
        languages = run(["tesseract", "--list-langs"]).stdout.decode().split()
        if "jpn" not in languages:
            missing.append("tesseract's Japanese data (package tesseract-ocr-jpn)")
    return missing


def main():
    global OPTIONS, DISPLAY
    options, rest = suite.parseOptions("--probe", "--javaw-stub")
    what = "the desktop test under " + options.wine
    wine_env.exitUnlessRuns(options.wine, what)
    missing = missingTools()
    if missing:
        sys.exit("missing: %s; scripts/install-deps.sh test installs them" % ", ".join(missing))
    OPTIONS = options
    os.makedirs(options.work_dir, exist_ok=True)
    server, DISPLAY = startXvfb(os.path.join(options.work_dir, "xvfb.log"))
    print("Xvfb on display %s" % DISPLAY)
    try:
        wine_env.preparePrefixOrSkip(options.wine, options.prefix, what,
                                     settings=DESKTOP_SETTINGS, display=DISPLAY)
        code = suite.runTests(options, rest)
    finally:
        wine_env.stopServer(options.wine, options.prefix)
        server.terminate()
        server.wait()
    sys.exit(code)


if __name__ == "__main__":
    main()
