"""Running the Windows launcher under Wine for the tests.

A private Wine prefix per build tree, drive letters mapped onto test folders
(short paths keep Wine's traces whole), and the message boxes read back from
Wine's relay trace: without a display MessageBoxA/W return at once, but the
relay trace of those two calls shows their text and caption. The desktop
test gives its prefix other registry settings and a display instead.

Whether a loader runs here at all is asked first: where it cannot (32-bit
Wine without wine32:i386, or on a kernel without 32-bit support and no
qemu-user), the tests exit with SKIPPED and the reason.
"""

import errno
import fcntl
import os
import re
import subprocess
import sys
import tempfile
import unittest

# The boxes, and ExitProcess for the exit code a program gave (see exitCode).
RELAY_FUNCTIONS = "user32.MessageBoxW;user32.MessageBoxA;kernel32.ExitProcess"
# Wine would offer to download Mono and Gecko when it creates a prefix.
DLL_OVERRIDES = "mscoree=;mshtml="
RUN_TIMEOUT = 900  # seconds; a 32-bit process start under qemu-user takes about a minute
RELAY_AND_ERRORS = "-all,+relay,err+all"  # WINEDEBUG: the traced calls and every error Wine reports


SKIPPED = 77  # CTest's SKIP_RETURN_CODE for the Wine tests
WINE32_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
# Written by scripts/setup-win32-emulation.sh when apt could not install wine32:i386.
WINE32_INSTALL_FAILURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build",
                                      "wine32-install-failure.txt")

# Registry settings of a prefix, as the lines of a REGEDIT4 file.
RELAY_SETTINGS = ["[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
                  '"RelayInclude"="%s"' % RELAY_FUNCTIONS]


def wineEnvironment(prefix, debug="-all", display=None):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    if display:
        env["DISPLAY"] = display
    env.update(WINEPREFIX=prefix, WINEDEBUG=debug, WINEDLLOVERRIDES=DLL_OVERRIDES)
    return env


def wineServer(wine):
    return os.path.join(os.path.dirname(os.path.realpath(wine)), "wineserver")


def whyNotInstalled(wine, installFailure=WINE32_INSTALL_FAILURE):
    """Why wine (a missing loader) is missing: apt's own words where the set-up
    could not install wine32:i386."""
    if wine.endswith("/wine"):
        try:
            with open(installFailure, encoding="utf-8") as f:
                said = "; ".join(line.strip() for line in f if line.strip())
            if said:
                return said
        except OSError:
            pass
        return "%s missing: wine32:i386 is not installed" % wine
    return "%s missing: wine64 is not installed" % wine


def whyUnavailable(wine, installFailure=WINE32_INSTALL_FAILURE):
    """None when this Wine loader runs here, else the reason it does not."""
    if not os.access(wine, os.X_OK):
        return whyNotInstalled(wine, installFailure)
    if wine.endswith("/wine") and not os.path.isdir(WINE32_DLLS):
        return whyNotInstalled(wine, installFailure)
    try:
        result = subprocess.run([wine, "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=RUN_TIMEOUT)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return ("this kernel refuses 32-bit x86 programs: running %s gave ENOEXEC (%s), and no "
                    "qemu-user is registered for them with binfmt_misc" % (wine, error.strerror))
        return "%s cannot be run: %s" % (wine, error)
    except subprocess.TimeoutExpired:
        return "%s --version did not finish within %d s" % (wine, RUN_TIMEOUT)
    if result.returncode != 0:
        return "%s --version failed: %s" % (wine, result.stderr.decode(errors="replace").strip())
    return None


def emulated():
    """True when 32-bit programs go through qemu-user rather than the kernel."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


def exitUnlessRuns(wine, what):
    """Exits with SKIPPED, saying why, when wine cannot run here."""
    reason = whyUnavailable(wine)
    if reason:
        print("SKIPPED: %s: %s" % (what, reason))
        sys.exit(SKIPPED)
    if wine.endswith("/wine"):
        print("32-bit programs run " + ("under qemu-user emulation" if emulated() else "natively"))


def preparePrefix(wine, prefix, bootWine=None, settings=RELAY_SETTINGS, display=None):
    """Creates the prefix once with the registry settings (by default relay
    tracing limited to the message boxes), and starts its wine server so that
    Wine's own background programs do not write into the output of the runs
    under test. bootWine (default wine) creates the prefix; either loader
    creates one that both 32-bit and 64-bit programs can use. With a display,
    Wine's desktop process draws on it."""
    regText = "REGEDIT4\n\n" + "\n".join(settings) + "\n"
    stamp = os.path.join(prefix, "settings.reg")
    env = wineEnvironment(prefix, display=display)
    if not os.path.exists(stamp) or open(stamp, encoding="utf-8").read() != regText:
        os.makedirs(prefix, exist_ok=True)
        subprocess.run([bootWine or wine, "wineboot", "-i"], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        regFile = os.path.join(prefix, "settings-to-import.reg")
        with open(regFile, "w", encoding="utf-8", newline="\r\n") as f:
            f.write(regText)
        subprocess.run([bootWine or wine, "regedit", "/S", "Z:" + regFile.replace("/", "\\")],
                       env=env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        # The server writes the registry files when it ends.
        subprocess.run([wineServer(bootWine or wine), "-w"], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        with open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
            userReg = f.read()
        for line in settings:
            if line.startswith('"') and line not in userReg:
                raise RuntimeError("registry setting %s not taken in %s" % (line, prefix))
        with open(stamp, "w", encoding="utf-8") as f:
            f.write(regText)
    subprocess.run([wineServer(wine), "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wine, "wineboot"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)


def preparePrefixOrSkip(wine, prefix, what, **settings):
    """preparePrefix; under qemu-user, a prefix that takes too long to create
    skips the test (seen: the 32-bit half of a new prefix never finishing)."""
    try:
        preparePrefix(wine, prefix, **settings)
    except subprocess.TimeoutExpired as timeout:
        stopServer(wine, prefix)
        if not emulated():
            raise
        print("SKIPPED: %s: creating the Wine prefix under qemu-user did not finish: %s" % (what, timeout))
        sys.exit(SKIPPED)


def runTests(wine, prefix, argv):
    """Runs the test cases of the main module with argv, then ends the prefix's
    wine server; returns the exit status."""
    try:
        result = unittest.main(argv=argv, exit=False).result
    finally:
        stopServer(wine, prefix)
    return 0 if result.wasSuccessful() else 1


def stopServer(wine, prefix):
    """Ends the wine server of this prefix and the Wine programs it runs."""
    subprocess.run([wineServer(wine), "-k"], env=wineEnvironment(prefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def mapDrive(prefix, letter, folder):
    """Makes the Windows drive letter: show folder."""
    link = os.path.join(prefix, "dosdevices", letter.lower() + ":")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.path.abspath(folder), link)


_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def decodeWineString(quoted):
    """Text of a string as Wine's traces print it: L"..." or "...", with \\n,
    \\\\, \\" and \\xxxx (UTF-16 unit) or \\xNN (byte) escapes."""
    wide = quoted.startswith("L")
    body = quoted[2:-1] if wide else quoted[1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
        elif body[i + 1] in _ESCAPES:
            out.append(_ESCAPES[body[i + 1]])
            i += 2
        elif not wide and body[i + 1] == "x":
            out.append(chr(int(body[i + 2:i + 4], 16)))
            i += 4
        else:
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
    return "".join(out)


_STRING = r'L?"(?:[^"\\]|\\.)*"(?:\.\.\.)?'
_BOX_CALL = re.compile(r"Call user32\.MessageBox([AW])\(([0-9a-fA-F]+),[0-9a-fA-F]+ (%s),"
                       r"[0-9a-fA-F]+ (%s),([0-9a-fA-F]+)\)" % (_STRING, _STRING))


def parseBoxes(trace, allowCut=False):
    """[(kind 'A' or 'W', owner, caption, text, style)] in call order. Wine
    cuts long strings in its trace; with allowCut such a text ends in "..."."""
    boxes = []
    for match in _BOX_CALL.finditer(trace):
        kind, owner, text, caption, style = match.groups()
        for value in (text, caption):
            if value.endswith("...") and not allowCut:
                raise AssertionError("Wine cut a message box string short: " + value)
        cut = "..." if text.endswith("...") else ""
        text = text[:-3] if cut else text
        boxes.append((kind, int(owner, 16), decodeWineString(caption),
                      decodeWineString(text) + cut, int(style, 16)))
    if len(boxes) != trace.count("Call user32.MessageBox"):
        raise AssertionError("unreadable message box call in the relay trace:\n" + trace)
    return boxes


def captureFile():
    """A file to take a Wine program's output. Its writers only ever append to
    it: Wine's helpers (conhost for a console child) can go on writing after
    the program ends, and they share the file's offset with this process, so
    a seek here would make them write over what is already there."""
    f = tempfile.TemporaryFile()
    fcntl.fcntl(f.fileno(), fcntl.F_SETFL, fcntl.fcntl(f.fileno(), fcntl.F_GETFL) | os.O_APPEND)
    return f


def readCaptured(f):
    """What was written to a captureFile so far, read without moving its offset."""
    return os.pread(f.fileno(), os.fstat(f.fileno()).st_size, 0)


def runCaptured(args, env, timeout=RUN_TIMEOUT, cwd=None):
    """Runs a program with its output in captureFiles, not pipes (Wine's helper
    processes may keep a pipe open); returns (exit code, stdout bytes, stderr
    bytes). Under a relay trace the exit code is the program's own (exitCode)."""
    with captureFile() as out, captureFile() as err:
        result = subprocess.run(list(args), env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=timeout)
        said = readCaptured(err)
        return exitCode(result.returncode, said.decode("utf-8", errors="replace")), readCaptured(out), said


_TRACER = re.compile(r"^([0-9a-f]{4}(?::[0-9a-f]{4})?):", re.M)


def exitCode(status, trace):
    """The code the program gave ExitProcess, as the relay trace shows it for
    the thread that traced first (the program's own main thread: its children
    start after it); wine's exit status where the trace shows no such call.
    After that call Wine's Unix side tears the process down, and that can
    crash: glibc's "Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini:
    Assertion ... failed!", after which wine exits with 127 whatever code the
    program gave. The wine server has the program's code by then; this is the
    same code, read where the teardown cannot reach it."""
    first = _TRACER.search(trace)
    if not first:
        return status
    called = re.search(r"^%s:Call KERNEL32\.ExitProcess\(([0-9a-fA-F]+)\)" % re.escape(first.group(1)), trace, re.M)
    return int(called.group(1), 16) if called else status


def runConsole(args, env, cwd=None, timeout=RUN_TIMEOUT):
    """runCaptured for a program whose stderr is read: its exit code from the
    relay trace, and (exit code, stdout bytes, stderr bytes without the trace)."""
    code, out, err = runCaptured(args, dict(env, WINEDEBUG="-all,+relay"), timeout, cwd)
    return code, out, b"".join(line for line in err.splitlines(keepends=True)
                               if not re.match(rb"[0-9a-f]{4}:(Call|Ret |Starting thread|trace:)", line))


def runWindows(wine, prefix, args, timeout=RUN_TIMEOUT, extraEnv=None, encoding="utf-8",
               allowCut=False):
    """Runs a Windows program with relay tracing of the message boxes.
    extraEnv: more variables (LC_ALL selects Wine's ANSI code page); encoding:
    that of the program's standard output. Returns (exit code, stdout lines,
    message boxes, Wine's own error lines: what to show when the run fails)."""
    env = wineEnvironment(prefix, RELAY_AND_ERRORS)
    env.update(extraEnv or {})
    code, out, err = runCaptured([wine] + list(args), env, timeout)
    trace = err.decode("utf-8", errors="replace")
    return code, out.decode(encoding, errors="replace").splitlines(), parseBoxes(trace, allowCut), wineSaid(trace)


def wineSaid(trace):
    """The lines of a relay-traced run's stderr that are not the trace: Wine's
    own errors, which say why a program or its child failed to start."""
    return [line for line in trace.splitlines() if not re.match(r"[0-9a-f]{4}:(Call|Ret) ", line)]


if __name__ == "__main__":
    if sys.argv[1] == "--why-not":
        # wine_env.py --why-not WINE: the reason WINE cannot run here, or nothing.
        print(whyUnavailable(sys.argv[2]) or "", end="")
        sys.exit(0)
    # wine_env.py WINE WHAT: for tests that cannot run at all without WINE.
    exitUnlessRuns(sys.argv[1], sys.argv[2])
    print("%s runs here; %s should have run" % (sys.argv[1], sys.argv[2]))
    sys.exit(1)
