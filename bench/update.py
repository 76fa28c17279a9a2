#!/usr/bin/env python3
"""Measures the updater on an app that carries Debian's JRE: the bytes one
update downloads against the size of the files that changed, and the time
from the app's exit 21 to the restarted app (one launch cycle with a stand-in
java that exits at once: 21, then 0), natively and under 32-bit Wine where
the win32 tree has been built. Two updates: only lib/app.jar changed, and
the JRE replaced (every file of it changed). Prints one Markdown table.

Usage: bench/update.py   (BENCH_JRE names another JRE folder)
"""
import os
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(root, "tests", "update"), os.path.join(root, "tests", "windows")]
import feed  # noqa: E402
import feed_server  # noqa: E402
import wine_env  # noqa: E402

JRE = os.environ.get("BENCH_JRE", "/usr/lib/jvm/java-17-openjdk-amd64")
WINE = "/usr/lib/wine/wine"


def jreFiles(change=b""):
    files = {}
    for folder, _, names in os.walk(JRE):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                files["jre/" + os.path.relpath(path, JRE)] = feed.readBytes(path) + change
    return files


def build(preset, targets):
    subprocess.run(["cmake", "--build", "--preset", preset, "--target", *targets], cwd=root, check=True,
                   stdout=subprocess.DEVNULL)


def cycle(work, windows, jreChange):
    """One update cycle; returns (bytes downloaded, bytes changed, seconds)."""
    tree = os.path.join(root, "build", "win32" if windows else "native")
    launcher = os.path.join(tree, "launcher.exe" if windows else "launcher")
    update = os.path.join(tree, "update.exe" if windows else "update/update")
    stub = os.path.join(tree, "tests", "windows", "java.exe") if windows else os.path.join(tree, "tests", "java_stub")
    key = os.path.join(work, "key.pem")
    publicKey = feed.makeKey(key)
    server = feed_server.startFeed(os.path.join(work, "feed"))
    try:
        old = feed.appFiles(windows, launcher, stub, update, publicKey, server.url, "1.0.0",
                            jar=os.urandom(2 * 1024 * 1024))
        old.update(jreFiles())
        new = dict(old, **{"lib/app.jar": os.urandom(2 * 1024 * 1024), "config/boot.xml": feed.mainBoot("2.0.0")})
        if jreChange:
            new.update(jreFiles(b"\n"))
        changed = sum(len(data) for path, data in new.items() if old.get(path) != data)
        app = os.path.join(work, "app")
        feed.layOutApp(app, old, feed.manifestText("bench.app", "1.0.0", old, code=("jre", "lib")))
        text = feed.manifestText("bench.app", "2.0.0", new, code=("jre", "lib"))
        feed.writeFeed(os.path.join(work, "feed"), text, new, key)
        changed += len(text) + len(feed.sign(key, text))
        with open(os.path.join(app, "exit_codes"), "w") as f:
            f.write("21\n0\n")
        if windows:
            prefix = os.path.join(work, "prefix")
            wine_env.preparePrefix(WINE, prefix)
            started = time.monotonic()
            wine_env.runWindows(WINE, prefix, [os.path.join(app, "launcher.exe")])
            seconds = time.monotonic() - started
            wine_env.stopServer(WINE, prefix)
        else:
            started = time.monotonic()
            subprocess.run([os.path.join(app, "launcher")], check=True, stdout=subprocess.DEVNULL)
            seconds = time.monotonic() - started
        with open(os.path.join(app, "updater", "last-update.txt"), encoding="utf-8") as f:
            outcome = f.read()
        if "result=applied" not in outcome:
            raise RuntimeError("the update was not applied:\n" + outcome)
        return feed_server.bytesSent(server), changed, seconds
    finally:
        feed_server.stop(server)


def main():
    subprocess.run(["cmake", "--preset", "native"], cwd=root, check=True, stdout=subprocess.DEVNULL)
    build("native", ["launcher", "update", "java_stub"])
    runs = [("native", False)]
    if os.path.exists(os.path.join(root, "build", "win32", "CMakeCache.txt")) and not wine_env.whyUnavailable(WINE):
        build("win32", ["launcher", "update", "java_stub_win"])
        runs.append(("32-bit Wine", True))
    print("| update | where | downloaded | changed files (+ manifest) | downloaded / changed | whole cycle: start, exit 21, update, restart |")
    print("|---|---|---|---|---|---|")
    for what, jreChange in (("lib/app.jar changed", False), ("JRE replaced too", True)):
        for where, windows in runs:
            with tempfile.TemporaryDirectory(prefix="update-bench.") as work:
                sent, changed, seconds = cycle(work, windows, jreChange)
            print("| %s | %s | %.2f MB | %.2f MB | %.3f | %.2f s |" % (
                what, where, sent / 1e6, changed / 1e6, sent / changed, seconds))


if __name__ == "__main__":
    main()
