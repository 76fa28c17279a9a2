"""update end to end, natively and under Wine: a feed on a real HTTP server
on loopback (feed_server.py), signed with openssl (feed.py), and an
installed app folder whose name has a blank and Japanese letters, with the
launcher, the stand-in java and update. Each row is one behaviour, and
asserts what a user meets: the app folder afterwards, file by file (exactly
one version's files, and what the app wrote kept), updater/last-update.txt,
the version each start of the app read (the stand-in records the
-Dapp.version of its boot file), `update --check`'s exit code and output,
and the bytes the server sent.

Under Wine the proxy is the user's as Internet Options sets it (the
registry's DefaultConnectionSettings). Wine 8 shows a Unix link as a plain
folder and makes no junctions, so the link row runs natively only.

Usage: test_update.py --launcher EXE --java-stub EXE --update EXE --update-faults EXE
       [--wine WINE --prefix DIR --work-dir DIR]
"""
import argparse
import fcntl
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "windows")]
import feed  # noqa: E402
import feed_server  # noqa: E402
import wine_env  # noqa: E402
from app_dir import BOTH, NATIVE, NativeRunner, read_calls  # noqa: E402

OPTIONS = None
KEYS = {}  # {"installed" or "next": (private key path, public key PEM)}
PRODUCT = "Example.Notes"
FOLDER = "月次 アプリ"
OWN = {"settings.properties": b"theme=dark\n", "data/app.db": b"\0rows"}  # the app's own: in no manifest
NOW = int(time.time())
RELEASED = NOW - 2 * feed.DAY
NOT_OURS = ("calls.log", "exit_codes", "updater/last-update.txt")  # the stand-in's records, the outcome


def jarOf(version):
    """A version's lib/app.jar: 300 KB, so that a download can be cut and resumed."""
    seed = hashlib.sha256(version.encode()).digest()
    return b"PK" + b"".join(hashlib.sha256(seed + i.to_bytes(4, "little")).digest() for i in range(9375))


JAR_SIZE = len(jarOf("2.0.0"))
CHANGED = ("config/boot.xml", "lib/app.jar")  # what 2.0.0 changes
V2_BYTES = JAR_SIZE + len(feed.mainBoot("2.0.0"))


@dataclass(frozen=True)
class Feed:
    version: str = "2.0.0"
    product: str = PRODUCT
    signer: str = "installed"  # or "next": the key a later version ships
    expires: int = 365 * feed.DAY  # from now
    nextKey: bool = False  # ships the next key as updater/update-key.pem
    extra: dict = field(default_factory=dict)  # more files in the manifest
    claims: dict = field(default_factory=dict)  # {path: the size the manifest says, signed as it stands}
    tamper: str = ""  # "file": lib/app.jar's bytes in the feed changed; "manifest": its text after signing


V1, V2 = Feed("1.0.0"), Feed()


@dataclass
class Step:
    """One start of the launcher: the feed then (None: nothing listens), the
    stand-in's exit codes, more environment."""
    feed: Feed = V2
    codes: tuple = (21, 0)
    env: dict = field(default_factory=dict)


@dataclass
class Row:
    name: str
    steps: list = field(default_factory=lambda: [Step()])
    check: tuple = None  # `update --check` with these arguments instead of the launcher
    faults: dict = field(default_factory=dict)  # {app path (its file in the feed) or feed name: fault}
    proxy: bool = False
    link: bool = False  # lib is a link to a folder outside the app folder
    crash: str = ""  # the fault point update_faults dies at (the row's steps with env say when)
    on: str = BOTH
    # What the user meets.
    version: str = "2.0.0"  # the app folder holds exactly this version
    starts: tuple = ("1.0.0", "2.0.0")  # the version each start of the app read (None: the last is `version`)
    result: str = "applied"  # last-update.txt's (None: no such file)
    reason: tuple = ()  # words of its reason, or of --check's error line
    code: int = 0  # --check's exit code
    out: tuple = ()  # --check's output
    downloaded: tuple = None  # the app paths whose bytes the server sent, each exactly once
    cut: int = 0  # and the bytes of lib/app.jar sent before a cut its download had to start over from
    trial: bool = True  # the new version is on trial: the journal is there
    held: tuple = ()  # the steps that run while another launcher's updater holds the update's lock


def refused(name, reason, downloaded=(), **row):
    """A row that leaves 1.0.0 in place, saying why."""
    return Row(name, version="1.0.0", starts=("1.0.0", "1.0.0"), result="failed", reason=reason,
               downloaded=downloaded, trial=False, **row)


def checked(name, feed, code, out=(), reason=(), args=("--timeout", "10"), **row):
    return Row(name, steps=[Step(feed, ())], check=args, version="1.0.0", starts=(), result=None, code=code,
               out=out, reason=reason, downloaded=(), trial=False, **row)


def crashed(point, version, before=(), during=Step()):
    """Row fields for update_faults dying at point: the launcher started as a
    user would, then once more; then, without the fault, the app asks for an
    update, which finds version (the one in place) up to date and what the
    crash left behind gone."""
    fault = {"UPDATE_FAULT_AT": point}
    steps = [*before, Step(during.feed, during.codes, fault), Step(V2, (0,), fault),
             Step(V1 if version == "1.0.0" else V2, (21, 0))]
    return dict(crash=point, steps=steps, version=version, starts=None, result="up to date", trial=False)


ROWS = [
    checked("check: up to date", V1, 0, ("up to date: 1.0.0",)),
    checked("check: an update is available", V2, 10, ("version=2.0.0", "download=%d" % V2_BYTES)),
    checked("check: no server", None, 1, reason=("no connection to 127.0.0.1",)),
    checked("check: a server that never answers ends at the timeout", V2, 1, reason=("timed out",),
            args=("--timeout", "2"), faults={"manifest.sig": ["hang"]}),
    Row("an update downloads only the changed files and restarts the app on them",
        downloaded=CHANGED),
    Row("a download cut off resumes where it stopped", downloaded=CHANGED,
        faults={"lib/app.jar": ["drop", 100000]}),
    Row("a cut download whose copy changed on the server starts over", downloaded=CHANGED, cut=100000,
        faults={"lib/app.jar": ["drop", 100000, "moved"]}),
    Row("through the user's proxy", proxy=True, downloaded=CHANGED),
    refused("a file tampered with in the feed", ("lib/app.jar", "SHA-256"), None, steps=[Step(Feed(tamper="file"))]),
    refused("a manifest changed after signing", ("not signed",), steps=[Step(Feed(tamper="manifest"))]),
    refused("a manifest signed by the next key before it was shipped", ("not signed",),
            steps=[Step(Feed(signer="next"))]),
    refused("a manifest of another product", ('"Example.Other"',), steps=[Step(Feed(product="Example.Other"))]),
    refused("an older version", ("0.9.0", "older"), steps=[Step(Feed("0.9.0"))]),
    refused("an expired manifest", ("expired",), steps=[Step(Feed(expires=-feed.DAY))]),
    refused("a body cut short", ("lib/app.jar",), None, faults={"lib/app.jar": ["size", 1000]}),
    refused("a body longer than the manifest says", ("lib/app.jar", "larger"), None,
            faults={"lib/app.jar": ["size", JAR_SIZE + 1000]}),
    refused("an update larger than the free disk space", ("not enough free disk space",),
            steps=[Step(Feed(claims={"lib/app.jar": 10 ** 14}))]),
    refused("a file the server does not have (404)", ("404", "lib/app.jar"), None,
            faults={"lib/app.jar": ["status", 404]}),
    refused("a server error (500)", ("500",), faults={"manifest.txt": ["status", 500]}),
    refused("an HTML page with 200", ("HTML",), faults={"manifest.sig": ["html"]}),
    refused("a redirect loop", ("too many redirects",), faults={"manifest.sig": ["loop"]}),
    refused("a path with ..", ('"../outside.jar"',), steps=[Step(Feed(extra={"../outside.jar": b"x"}))]),
    refused("an absolute path", ('"/outside.jar"',), steps=[Step(Feed(extra={"/outside.jar": b"x"}))]),
    refused("a device name", ('"COM1.jar"', "device"), steps=[Step(Feed(extra={"lib/COM1.jar": b"x"}))]),
    refused("a link on the way inside the app folder", ("lib/app.jar", "link"), link=True, on=NATIVE),
    Row("a new version ending badly within 60 s is rolled back", steps=[Step(V2, (21, 3)), Step(V2, (0,))],
        version="1.0.0", starts=("1.0.0", "2.0.0", "1.0.0"), result="rolled back", reason=("exit code 3",),
        trial=False),
    Row("a version rolled back is not installed again", steps=[Step(V2, (21, 3)), Step(V2, (21, 0))],
        version="1.0.0", starts=("1.0.0", "2.0.0", "1.0.0", "1.0.0"), result="up to date",
        reason=("2.0.0 was rolled back",), downloaded=CHANGED, trial=False),
    Row("a second launcher's update while the first's runs waits for the next exit 21",
        steps=[Step(V2, (21,)), Step()], held=(0,), starts=("1.0.0", "1.0.0", "2.0.0"), on=NATIVE),
    Row("two good starts commit the new version", steps=[Step(), Step(V2, (0,))],
        starts=("1.0.0", "2.0.0", "2.0.0"), trial=False),
    Row("a version signed by the installed key ships a new key, which signs the next",
        steps=[Step(Feed(nextKey=True)), Step(Feed(nextKey=True), (0,)),
               Step(Feed("3.0.0", signer="next", nextKey=True))],
        version="3.0.0", starts=("1.0.0", "2.0.0", "2.0.0", "2.0.0", "3.0.0")),
] + [
    # The swap of 2.0.0 takes eight steps: the journal, three files (the jar,
    # the boot file, the version record) set aside and three moved in, the
    # trial. Once the journal is written, the next start finishes the swap.
    Row("killed at %s of the swap" % point, **crashed(point, version))
    for point, version in [("staged", "1.0.0")] + [("step-%d" % n, "2.0.0") for n in range(1, 9)]
] + [
    # The second good start's one step: the journal removed.
    Row("killed at the commit", **crashed("step-1", "2.0.0", [Step()], Step(V2, (0,)))),
] + [
    # The rollback: the journal, three files moved back to staged and three old ones back, the journal removed.
    Row("killed at %s of the rollback" % point, **crashed(point, "1.0.0", [Step()], Step(V2, (3,))))
    for point in ["step-%d" % n for n in range(1, 9)]
]


@dataclass
class Setup:
    base: str  # holds the app folder; D: under Wine
    root: str  # the app folder
    exe: str  # the launcher as the runner names it
    update: str  # update as the runner names it
    installed: dict  # 1.0.0's files
    server: object = None
    proxy: object = None


def packageFiles(setup, offer):
    files = dict(setup.installed)
    if offer.version != "1.0.0":
        files.update({"config/boot.xml": feed.mainBoot(offer.version), "lib/app.jar": jarOf(offer.version)})
    if offer.nextKey:
        files["updater/update-key.pem"] = KEYS["next"][1]
    return files


def manifestOf(files, offer):
    return feed.manifestText(offer.product, offer.version, files, RELEASED, NOW + offer.expires)


def publish(setup, offer):
    """The feed of offer on the server."""
    listed = dict(packageFiles(setup, offer), **offer.extra)
    text = manifestOf(listed, offer)
    for path, size in offer.claims.items():
        line = b" %s %s\n" % (feed.sha256(listed[path]).encode(), path.encode())
        text = text.replace(b"file %d%s" % (len(listed[path]), line), b"file %d%s" % (size, line))
    folder = setup.server.folder
    feed.writeFeed(folder, text, listed, KEYS[offer.signer][0])
    if offer.tamper == "file":
        jar = bytearray(listed["lib/app.jar"])
        jar[-1] ^= 1
        feed.writeFile(os.path.join(folder, "files", feed.sha256(listed["lib/app.jar"])), bytes(jar))
    elif offer.tamper == "manifest":
        feed.writeFile(os.path.join(folder, "manifest.txt"), text.replace(b"\nexpires 20", b"\nexpires 21"))


def tree(root, follow=False):
    """{path: bytes} of the files in the app folder, but the update's own state and NOT_OURS."""
    found = {}
    for folder, folders, names in os.walk(root, followlinks=follow):
        relative = os.path.relpath(folder, root).replace(os.sep, "/")
        folders[:] = [name for name in folders if relative + "/" + name != "updater/update-state"]
        for name in names:
            path = name if relative == "." else relative + "/" + name
            if path not in NOT_OURS:
                found[path] = feed.readBytes(os.path.join(folder, name))
    return found


def versionTree(setup, row, version):
    """The app folder as it holds version exactly: its files, its record, the app's own."""
    offer = next(step.feed for step in reversed([Step(V1)] + row.steps) if step.feed and step.feed.version == version)
    files = packageFiles(setup, offer)
    return dict(files, **OWN, **{"updater/update-installed.txt": manifestOf(files, offer)})


def closedPort():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def prepare(case, row):
    """The row's app folder at 1.0.0, its feed server, proxy and faults."""
    windows = bool(OPTIONS.wine)
    if windows:
        base = os.path.join(OPTIONS.work_dir, case.id().split(".")[-1])
        shutil.rmtree(base, ignore_errors=True)
        os.makedirs(base)
        wine_env.mapDrive(OPTIONS.prefix, "d", base)
        app = "D:\\%s\\" % FOLDER
        names = (app + "launcher.exe", app + "updater\\update.exe")
    else:
        base = tempfile.mkdtemp(prefix="update-e2e-")
        case.addCleanup(shutil.rmtree, base, ignore_errors=True)
        app = os.path.join(base, FOLDER) + "/"
        names = (app + "launcher", app + "updater/update")
    root = os.path.join(base, FOLDER)
    server = feed_server.startFeed(tempfile.mkdtemp(prefix="update-feed-"))
    case.addCleanup(shutil.rmtree, server.folder, ignore_errors=True)
    case.addCleanup(feed_server.stop, server)
    url = server.url if row.steps[0].feed else "http://127.0.0.1:%d/" % closedPort()
    update = OPTIONS.update_faults if row.crash else OPTIONS.update
    installed = feed.appFiles(windows, OPTIONS.launcher, OPTIONS.java_stub, update, KEYS["installed"][1], url)
    setup = Setup(base, root, *names, installed, server)
    feed.layOutApp(root, dict(installed, **OWN), manifestOf(installed, V1))
    for path, fault in row.faults.items():
        where = "files/" + feed.sha256(packageFiles(setup, V2)[path]) if "/" in path else path
        server.faults["/" + where] = fault
    if row.proxy:
        setup.proxy = feed_server.startProxy()
        case.addCleanup(feed_server.stop, setup.proxy)
        if windows:
            case.addCleanup(windowsProxy, None)
            windowsProxy(setup.proxy.url)
    if row.link:
        outside = os.path.join(base, "elsewhere", "lib")
        os.makedirs(os.path.dirname(outside))
        os.rename(os.path.join(root, "lib"), outside)
        os.symlink(outside, os.path.join(root, "lib"))
    return setup


def windowsProxy(url):
    """The user's fixed proxy as Internet Options stores it, or none."""
    key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections"
    args = ["reg", "delete", key, "/v", "DefaultConnectionSettings", "/f"]
    if url:
        server = url[len("http://"):].rstrip("/").encode("ascii")
        # Its header (version 0x46, a counter, "a proxy server" flag), the server, no bypass list, no script.
        settings = struct.pack("<IIII", 0x46, 0, 2, len(server)) + server + bytes(8)
        args = ["reg", "add", key, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", settings.hex(), "/f"]
    wine_env.runConsole([OPTIONS.wine] + args, wine_env.wineEnvironment(OPTIONS.prefix))


def environment(setup, step):
    env = dict(step.env)
    if setup.proxy and not OPTIONS.wine:
        env["http_proxy"] = setup.proxy.url
    return env


def launch(setup, step):
    """Starts the launcher as a user does; the texts of the boxes it showed."""
    feed.writeFile(os.path.join(setup.root, "exit_codes"), "".join("%d\n" % c for c in step.codes).encode())
    if OPTIONS.wine:
        _, _, boxes, _ = wine_env.runWindows(OPTIONS.wine, OPTIONS.prefix, [setup.exe],
                                             extraEnv=dict(environment(setup, step), LC_ALL="C.UTF-8"))
        return [box[3] for box in boxes]
    _, _, _, errors = NativeRunner(None, None).run(setup.exe, env=environment(setup, step), cwd=setup.base)
    return [line[len("Error: "):] for line in errors if line.startswith("Error: ")]


def checkUpdate(setup, args, step):
    """update --check as the app runs it: (exit code, output lines)."""
    if OPTIONS.wine:
        code, out, _ = wine_env.runConsole([OPTIONS.wine, setup.update, "--check", *args],
                                           dict(wine_env.wineEnvironment(OPTIONS.prefix), **environment(setup, step)),
                                           timeout=120)
    else:
        result = subprocess.run([setup.update, "--check", *args], capture_output=True, cwd=setup.base,
                                env=dict(os.environ, **environment(setup, step)), timeout=120)
        code, out = result.returncode, result.stdout
    return code, out.decode("utf-8").replace("\r\n", "\n").splitlines()


def runRow(case, row):
    setup = prepare(case, row)
    before = tree(setup.root)
    died = []
    for step in row.steps:
        if step.feed:
            publish(setup, step.feed)
        if row.check:
            code, out = checkUpdate(setup, row.check, step)
            case.assertEqual(code, row.code, out)
            if row.reason:
                case.assertTrue(len(out) == 1 and out[0].startswith("error: ") and
                                all(word in out[0] for word in row.reason), out)
            else:
                case.assertEqual(out, list(row.out))
            case.assertEqual(tree(setup.root), before, "--check wrote in the app folder")
            case.assertFalse(os.path.exists(os.path.join(setup.root, "updater", "update-state")))
        elif row.steps.index(step) in row.held:
            # Another updater is at work: this one touches nothing and the launcher says so.
            lock = os.path.join(setup.root, "updater", "update-state", "lock")
            os.makedirs(os.path.dirname(lock), exist_ok=True)
            with open(lock, "a") as held:
                fcntl.flock(held, fcntl.LOCK_EX)
                case.assertEqual(launch(setup, step), ["更新で例外が発生しました。戻り値= 3"])
        else:
            boxes = launch(setup, step)
            died += [box for box in boxes if box.startswith("更新で例外が発生しました。")]
            if not row.crash:
                case.assertEqual(boxes, [])
    if row.crash:
        case.assertTrue(died, "update_faults never reached " + row.crash)
    case.assertLessEqual(set(setup.server.faults), {served.path for served in setup.server.log}, "a fault unused")

    after, expected = tree(setup.root, follow=row.link), versionTree(setup, row, row.version)
    case.assertTrue(after == expected, "not exactly %s; these differ: %s" % (row.version, [
        path for path in sorted(set(after) | set(expected)) if after.get(path) != expected.get(path)]))
    starts = [arg[len("-Dapp.version="):] for call in read_calls(setup.root, "utf-8", "replace")
              for arg in call.argv if arg.startswith("-Dapp.version=")]
    if row.starts is None:  # a crash row: the last start is on the version in place
        case.assertEqual(starts[-1:], [row.version])
    else:
        case.assertEqual(tuple(starts), row.starts)
    case.assertEqual(sorted(os.listdir(setup.base)), sorted([FOLDER] + (["elsewhere"] if row.link else [])))

    last = os.path.join(setup.root, "updater", "last-update.txt")
    outcome = None
    if os.path.exists(last):
        with open(last, encoding="utf-8") as f:
            outcome = dict(line.split("=", 1) for line in f.read().splitlines())
    if row.result is None:
        case.assertIsNone(outcome)
    else:
        case.assertEqual(outcome["result"], row.result, outcome)
        for word in row.reason:
            case.assertIn(word, outcome["reason"])
        if row.result != "failed":  # the version in place when up to date, else the one offered
            case.assertEqual(outcome["version"], row.version if row.result == "up to date" else row.steps[-1].feed.version)
        if row.result == "applied":
            case.assertEqual(outcome["reason"], "")

    state = os.path.join(setup.root, "updater", "update-state")
    case.assertEqual(os.path.exists(os.path.join(state, "journal.txt")), row.trial)
    if not row.trial and os.path.isdir(state):
        case.assertEqual([name for name in os.listdir(state) if name == "new" or name.startswith("old-")], [])

    if row.downloaded is not None:
        files = packageFiles(setup, row.steps[-1].feed) if row.downloaded else {}
        sent = {}
        for served in setup.server.log:
            if served.path.startswith("/files/"):
                sent[served.path] = sent.get(served.path, 0) + served.sent
        expected = {"/files/" + feed.sha256(files[path]): len(files[path]) for path in row.downloaded}
        if row.cut:
            expected["/files/" + feed.sha256(files["lib/app.jar"])] += row.cut
        case.assertEqual(sent, expected)
    if row.proxy:
        case.assertEqual(setup.proxy.log, [setup.server.url + served.path[1:] for served in setup.server.log])


class Update(unittest.TestCase):
    pass


def addRows():
    for row in ROWS:
        test = "test_" + "".join(c if c.isalnum() else "_" for c in row.name.lower())
        if hasattr(Update, test):
            raise ValueError("two rows named %r" % row.name)

        def method(self, row=row):
            runRow(self, row)
        if row.on not in (BOTH, OPTIONS.wine and "wine" or NATIVE):
            method = unittest.skip("%s only" % row.on)(method)
        setattr(Update, test, method)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    for name in ("launcher", "java-stub", "update", "update-faults"):
        parser.add_argument("--" + name, required=True)
    for name in ("wine", "prefix", "work-dir"):
        parser.add_argument("--" + name)
    OPTIONS, rest = parser.parse_known_args()
    for name in ("launcher", "java_stub", "update", "update_faults"):
        setattr(OPTIONS, name, os.path.abspath(getattr(OPTIONS, name)))
    for name in [name for name in os.environ if name.startswith("LAUNCHER_") or name.lower().endswith("_proxy")]:
        del os.environ[name]
    keys = tempfile.mkdtemp(prefix="update-keys-")
    for name in ("installed", "next"):
        KEYS[name] = (os.path.join(keys, name + ".pem"), feed.makeKey(os.path.join(keys, name + ".pem")))
    addRows()
    argv = [sys.argv[0]] + rest
    try:
        if not OPTIONS.wine:
            sys.exit(0 if unittest.main(argv=argv, exit=False).result.wasSuccessful() else 1)
        OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
        OPTIONS.prefix = os.path.abspath(OPTIONS.prefix or os.path.join(OPTIONS.work_dir, "wineprefix"))
        what = "the updater's suite under " + OPTIONS.wine
        wine_env.exitUnlessRuns(OPTIONS.wine, what)
        wine_env.preparePrefixOrSkip(OPTIONS.wine, OPTIONS.prefix, what)
        sys.exit(wine_env.runTests(OPTIONS.wine, OPTIONS.prefix, argv))
    finally:
        shutil.rmtree(keys, ignore_errors=True)


if __name__ == "__main__":
    main()
