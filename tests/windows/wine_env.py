"""Running the Windows launcher under Wine for the tests.

A private Wine prefix per build tree, drive letters mapped onto test folders
(short paths keep Wine's traces whole), and the message boxes read back from
Wine's relay trace: without a display MessageBoxA/W return at once, but the
relay trace of those two calls shows their text and caption.
"""

import os
import re
import subprocess
import tempfile

RELAY_FUNCTIONS = "user32.MessageBoxW;user32.MessageBoxA"
# Wine would offer to download Mono and Gecko when it creates a prefix.
DLL_OVERRIDES = "mscoree=;mshtml="
RUN_TIMEOUT = 900  # seconds; a 32-bit process start under qemu takes about a minute


def wineEnvironment(prefix, debug="-all"):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update(WINEPREFIX=prefix, WINEDEBUG=debug, WINEDLLOVERRIDES=DLL_OVERRIDES)
    return env


def wineServer(wine):
    return os.path.join(os.path.dirname(os.path.realpath(wine)), "wineserver")


def preparePrefix(wine, prefix, bootWine=None):
    """Creates the prefix once, with relay tracing limited to the message boxes,
    and starts its wine server so that Wine's own background programs do not
    write into the output of the runs under test. bootWine (default wine)
    creates the prefix: a 64-bit loader builds a prefix that 32-bit programs
    can use too."""
    stamp = os.path.join(prefix, "relay-message-boxes")
    env = wineEnvironment(prefix)
    if not os.path.exists(stamp):
        os.makedirs(prefix, exist_ok=True)
        subprocess.run([bootWine or wine, "wineboot", "-i"], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        regFile = os.path.join(prefix, "relay.reg")
        with open(regFile, "w", encoding="ascii", newline="\r\n") as f:
            f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"
                    '"RelayInclude"="%s"\n' % RELAY_FUNCTIONS)
        subprocess.run([bootWine or wine, "regedit", "/S", "Z:" + regFile.replace("/", "\\")],
                       env=env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        # The server writes the registry files when it ends.
        subprocess.run([wineServer(bootWine or wine), "-w"], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        with open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
            if RELAY_FUNCTIONS not in f.read():
                raise RuntimeError("relay tracing of the message boxes not set in " + prefix)
        open(stamp, "w").close()
    subprocess.run([wineServer(wine), "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wine, "wineboot"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)


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


def runWindows(wine, prefix, args, timeout=RUN_TIMEOUT, extraEnv=None, encoding="utf-8",
               allowCut=False):
    """Runs a Windows program with relay tracing of the message boxes.
    extraEnv: more variables (LC_ALL selects Wine's ANSI code page); encoding:
    that of the program's standard output. Returns (exit code, stdout lines,
    message boxes)."""
    env = wineEnvironment(prefix, "-all,+relay")
    env.update(extraEnv or {})
    # Files rather than pipes: Wine's helper processes may keep a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run([wine] + list(args), env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        lines = out.read().decode(encoding, errors="replace").splitlines()
        trace = err.read().decode("utf-8", errors="replace")
    return result.returncode, lines, parseBoxes(trace, allowCut)
