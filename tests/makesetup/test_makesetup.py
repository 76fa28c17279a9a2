"""makesetup natively: what it refuses before makensis runs (each row one
command line, its exit status and exact message, and no file left in the
output folder), the branded launcher read back with pefile, the same
installer for the same inputs, bootcheck --windows on a Windows app folder,
and the update feed that --update-url and --feed write.

Usage: test_makesetup.py --makesetup EXE --bootcheck EXE --seticon EXE --update EXE --work-dir DIR
"""

import argparse
import functools
import hashlib
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "seticon"))
import icon_files  # noqa: E402

OPTIONS = None
MAIN_BOOT = ('<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n'
             '  <item key="java" value="${APP_DIR}jre\\bin\\javaw.exe"/>\n'
             '  <item key="-Xmn" value="16m"/>\n  <item key="-Xms" value="64m"/>\n  <item key="-Xmx" value="512m"/>\n'
             '  <item key="-cp" value="lib\\app.jar;lib\\*"/>\n  <item key="args" value="-Dapp.mode=desktop"/>\n'
             '  <item key="main" value="com.example.Main"/>\n%s</boot>\n')
FORWARD = '  <item key="launcherArgs" value="append"/>\n'
UPDATER_BOOT = MAIN_BOOT.replace("lib\\app.jar;lib\\*", "updater.jar").replace("com.example.Main", "com.example.Updater")
NAME = "月次 アプリ"
VENDOR = "株式会社 例"


def run(program, *args, env=None, cwd=None):
    return subprocess.run([program] + list(args), capture_output=True, text=True, env=env, cwd=cwd)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content.encode("utf-8") if isinstance(content, str) else content)


def appFolder(base, forward=True, extra=None):
    """An app folder for Windows: both boot files, a java program (any PE
    image), the jars; extra: {path: content or None to leave out}."""
    files = {"config/boot.xml": MAIN_BOOT % (FORWARD if forward else ""),
             "updater/config/boot.xml": UPDATER_BOOT % "",
             "updater/updater.jar": b"PK", "lib/app.jar": b"PK", "lib/deps.jar": b"PK",
             "jre/bin/javaw.exe": icon_files.launcherPe(), "jre/lib/modules": b"\0" * 4096}
    files.update(extra or {})
    shutil.rmtree(base, ignore_errors=True)
    for path, content in files.items():
        if content is not None:
            write(os.path.join(base, path), content)
    return base


def scratch(name):
    folder = os.path.join(OPTIONS.work_dir, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def makesetup(app, out, *args, env=None):
    return run(OPTIONS.makesetup, app, "--name", NAME, "--vendor", VENDOR, "--version", "1.0.0",
               "--launcher", LAUNCHER, *args, env=env, cwd=out)


class Refusals(unittest.TestCase):
    """Each row: what is changed, the exit status, the exact message; nothing is written."""

    ROWS = [
        ("version with one number", ["--version", "1"], {}, 1,
         'makesetup: error: version "1" is not two to four numbers of digits separated by dots, each at most 65535; '
         "write it as 1.2, 1.2.3 or 1.2.3.4"),
        ("version with a letter", ["--version", "1.2b"], {}, 1,
         'makesetup: error: version "1.2b" is not two to four numbers of digits separated by dots, each at most 65535; '
         "write it as 1.2, 1.2.3 or 1.2.3.4"),
        ("version with five numbers", ["--version", "1.2.3.4.5"], {}, 1,
         'makesetup: error: version "1.2.3.4.5" is not two to four numbers of digits separated by dots, each at most '
         "65535; write it as 1.2, 1.2.3 or 1.2.3.4"),
        ("version number too large", ["--version", "1.65536"], {}, 1,
         'makesetup: error: version "1.65536" is not two to four numbers of digits separated by dots, each at most '
         "65535; write it as 1.2, 1.2.3 or 1.2.3.4"),
        ("name with a colon", ["--name", "App: 2"], {}, 1,
         'makesetup: error: the name "App: 2" cannot be a folder name on Windows (Windows does not allow the '
         'character ":" in a file name), and it names the install folder and the Start menu entry; choose another --name'),
        ("name of a device", ["--name", "Con"], {}, 1,
         'makesetup: error: the name "Con" cannot be a folder name on Windows ("con" is a device name on Windows), '
         "and it names the install folder and the Start menu entry; choose another --name"),
        ("name ending in a dot", ["--name", "App."], {}, 1,
         'makesetup: error: the name "App." cannot be a folder name on Windows (Windows drops a blank or dot at the '
         "end of a file name), and it names the install folder and the Start menu entry; choose another --name"),
        ("exe that is not .exe", ["--exe", "MyApp.bat"], {}, 1,
         'makesetup: error: --exe "MyApp.bat" cannot be the launcher\'s file name (it does not end in .exe); give a '
         "name such as MyApp.exe"),
        ("exe named as the uninstaller", ["--exe", "Uninstall.exe"], {}, 1,
         'makesetup: error: --exe "Uninstall.exe" cannot be the launcher\'s file name (the uninstaller has that '
         "name); give a name such as MyApp.exe"),
        ("unknown architecture", ["--arch", "arm64"], {}, 1,
         'makesetup: error: --arch "arm64" is neither x86 nor amd64; give x86 (runs on every Windows) or amd64'),
        ("extension without its dot", ["--document", "myrep=報告書"], {}, 1,
         'makesetup: error: --document "myrep=報告書": the extension is not a dot and 1 to 16 ASCII letters, digits, '
         "dashes or underscores; write it as .myrep=Report"),
        ("an extension Windows owns", ["--document", ".EXE=Program"], {}, 1,
         "makesetup: error: --document .EXE would take over a type Windows itself opens; choose your own extension"),
        ("an extension twice", ["--document", ".myrep=A", "--document", ".MyRep=B"], {}, 1,
         "makesetup: error: --document .MyRep is given twice; give each extension once"),
        ("id with a blank", ["--id", "My App"], {}, 1,
         'makesetup: error: --id "My App" is not up to 64 ASCII letters, digits, dots, dashes, underscores and '
         "braces; give one such as Example.MyApp"),
        ("a file name Windows refuses", [], {"lib/a?b.jar": b"PK"}, 1,
         'makesetup: error: "lib/a?b.jar" in the app folder cannot be installed on Windows (Windows does not allow '
         'the character "?" in a file name); rename it'),
        ("names that differ in case only", [], {"lib/App.jar": b"PK"}, 1,
         'makesetup: error: "lib/app.jar" and "lib/App.jar" in the app folder differ only in case, which is one '
         "name on Windows; rename one"),
        ("names one by Unicode case folding", [], {"lib/Ä.jar": b"PK", "lib/ä.jar": b"PK"}, 1,
         'makesetup: error: "lib/ä.jar" and "lib/Ä.jar" in the app folder differ only in case, which is one '
         "name on Windows; rename one"),
        ("the marker's name in the app folder", [], {"Install-Id.txt": "x"}, 1,
         "makesetup: error: the app folder holds Install-Id.txt, the name of a file the installer adds; rename it"),
        ("the uninstaller's name in the app folder", [], {"uninstall.exe": b"MZ"}, 1,
         "makesetup: error: the app folder holds uninstall.exe, the name of the uninstaller the installer adds; "
         "rename it"),
        ("an updater of its own with update.exe", ["--update-url", "https://x/", "--update-key", "k.pem"], {}, 1,
         "makesetup: error: the app folder has an updater of its own (updater/config/boot.xml), and --update-url puts "
         "update.exe in its place; leave out --update-url to ship your updater, or remove updater/config/boot.xml to "
         "ship update.exe"),
        ("the private key in the app folder", ["--update-url", "https://x/", "--update-key", "../refusals-app/k.pem"],
         {"k.pem": "key"}, 1, "makesetup: error: --update-key ../refusals-app/k.pem is inside the app folder, which is "
         "installed whole on your customers' machines; keep it outside APP_DIR"),
        ("no option value", ["--vendor"], {}, 2, "makesetup: --vendor needs a value"),
        ("unknown option", ["--upgrade-code", "x"], {}, 2, "makesetup: unknown option --upgrade-code"),
    ]

    def test_each_refusal_writes_nothing(self):
        for what, args, extra, status, message in self.ROWS:
            with self.subTest(what):
                out = scratch("refusals-out")
                app = appFolder(os.path.join(OPTIONS.work_dir, "refusals-app"), extra=extra)
                result = makesetup(app, out, *args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stderr.splitlines()[0], message.replace("APP_DIR", app))
                self.assertEqual(os.listdir(out), [])

    def test_a_broken_boot_file_gives_bootchecks_findings(self):
        out = scratch("broken-out")
        app = appFolder(os.path.join(OPTIONS.work_dir, "broken-app"), extra={"jre/bin/javaw.exe": None})
        result = makesetup(app, out)
        self.assertEqual(result.returncode, 1)
        java = os.path.realpath(app) + "/jre\\bin\\javaw.exe"
        finding = ("%s/config/boot.xml:3: error: the java program \"%s\" does not exist, so the launcher cannot start "
                   "it and shows a box with this file's path; write the path of java, such as "
                   "value=\"${APP_DIR}jre\\bin\\java.exe\" [BC110]" % (os.path.realpath(app), java))
        self.assertEqual(result.stderr.splitlines()[0], finding)
        self.assertEqual(result.stderr.splitlines()[-1],
                         "makesetup: error: the boot files have 2 errors (above), so the installed app would not "
                         "start; correct them (bootcheck --windows %s checks again)" % app)
        self.assertEqual(os.listdir(out), [])

    def test_a_document_type_needs_the_arguments_forwarded(self):
        out = scratch("forward-out")
        app = appFolder(os.path.join(OPTIONS.work_dir, "forward-app"), forward=False)
        result = makesetup(app, out, "--document", ".myrep=報告書")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(),
                         "makesetup: error: --document needs the app to get the document's name, but %s/config/boot.xml "
                         "does not forward the launcher's arguments; add <item key=\"launcherArgs\" value=\"append\"/> "
                         "to its <boot>" % os.path.realpath(app))
        self.assertEqual(os.listdir(out), [])

    def test_without_makensis_one_line_names_the_package(self):
        out = scratch("no-makensis-out")
        app = appFolder(os.path.join(OPTIONS.work_dir, "no-makensis-app"))
        result = makesetup(app, out, env=dict(os.environ, PATH=out))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "makesetup: error: makensis is not installed; install the package nsis "
                                        "(apt-get install nsis)\n")
        self.assertEqual(os.listdir(out), [])

    def test_a_failing_sign_command_leaves_nothing(self):
        STEPS = [("*アプリ.exe", "the branded exe",
                  "makesetup: error: the sign command ended with 3 on 月次 アプリ.exe; nothing was written"),
                 ("makensis*", "the uninstaller", "makesetup: error: makensis ended with 1 (a sign command that fails "
                  "on the uninstaller stops it too); nothing was written. Its output:"),
                 ("setup.exe", "the installer",
                  "makesetup: error: the sign command ended with 3 on the installer; nothing was written")]
        app = appFolder(os.path.join(OPTIONS.work_dir, "sign-app"))
        out = scratch("sign-out")
        marker = os.path.join(OPTIONS.work_dir, "signed-files")
        # Fails on the file its row names (makensis writes the uninstaller to a
        # temporary file of its own); records every file it is given.
        for pattern, step, message in STEPS:
            with self.subTest(step):
                if os.path.exists(marker):
                    os.remove(marker)
                command = "sh -c 'echo \"$0\" >> %s; case \"$(basename \"$0\")\" in %s) exit 3;; esac'" % (
                    marker, pattern)
                result = makesetup(app, out, "--sign-command", command)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stderr.splitlines()[0], message)
                self.assertEqual(os.listdir(out), [], step)
                with open(marker) as f:
                    signed = [os.path.basename(line) for line in f.read().splitlines()]
                self.assertEqual(len(signed), 1 + [row[1] for row in STEPS].index(step))


class Installer(unittest.TestCase):
    def test_same_inputs_give_the_same_bytes(self):
        outputs = []
        for copy in ("first", "second"):
            app = appFolder(os.path.join(OPTIONS.work_dir, "same-" + copy, "app"))
            out = scratch("same-out-" + copy)
            os.utime(os.path.join(app, "lib", "app.jar"), (1e9 if copy == "first" else 2e9,) * 2)
            result = makesetup(app, out, "--document", ".myrep=報告書", "--arch", "amd64")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.listdir(out), [NAME + "-1.0.0-setup.exe"])
            with open(os.path.join(out, NAME + "-1.0.0-setup.exe"), "rb") as f:
                outputs.append(f.read())
        self.assertEqual(outputs[0], outputs[1])

    def test_the_summary_line_and_the_default_name(self):
        app = appFolder(os.path.join(OPTIONS.work_dir, "summary-app"))
        out = scratch("summary-out")
        result = makesetup(app, out, "--exe", "MyApp.exe", "--document", ".myrep=報告書", "--document", ".myrpt=集計")
        self.assertEqual(result.returncode, 0, result.stderr)
        size = sum(os.path.getsize(os.path.join(folder, name)) for folder, _, names in os.walk(app) for name in names)
        self.assertEqual(result.stdout, "%s-1.0.0-setup.exe: installer of %s 1.0.0 by %s (x86), 8 files, %.1f MB "
                                        "installed, 2 document types\n" % (NAME, NAME, VENDOR, (size + len(LAUNCHER_BYTES)) / 1e6))
        with open(os.path.join(out, NAME + "-1.0.0-setup.exe"), "rb") as f:
            self.assertEqual(f.read(2), b"MZ")


    def test_script_writes_the_script_and_builds_nothing(self):
        app = appFolder(os.path.join(OPTIONS.work_dir, "script-app"))
        out = scratch("script-out")
        result = makesetup(app, out, "--script", "setup.nsi", env=dict(os.environ, PATH=out))
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, "setup.nsi: the installer's script for %s 1.0.0\n" % NAME, ""))
        self.assertEqual(os.listdir(out), ["setup.nsi"])
        with open(os.path.join(out, "setup.nsi"), encoding="utf-8") as f:
            script = f.read()
        self.assertNotIn("!include \"values.nsh\"", script)
        self.assertIn('    FileWriteUTF16LE $R0 "file lib\\deps.jar$\\r$\\n"\n', script)


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Updates(unittest.TestCase):
    """--update-url with a feed: two versions into one feed folder, and a key change."""

    def setUp(self):
        self.base = scratch("updates")
        self.updateExe = os.path.join(self.base, "update.exe")
        write(self.updateExe, icon_files.launcherPe())
        self.app = appFolder(os.path.join(self.base, "アプリ"),
                             extra={"updater/config/boot.xml": None, "updater/updater.jar": None})
        self.feed = os.path.join(self.base, "フィード")

    def newKey(self, name):
        key = os.path.join(self.base, name)
        result = run(OPTIONS.makesetup, "--new-key", key)
        self.assertEqual((result.returncode, oct(os.stat(key).st_mode & 0o777)), (0, "0o600"), result.stderr)
        return key

    def build(self, version, key, *args, url="https://updates.example.com/app"):
        """Builds version into the feed; the feed's manifest as {path: sha256}."""
        result = makesetup(self.app, self.base, "--version", version, "-o", version + ".exe", "--feed", self.feed,
                           "--update-url", url, "--update-key", key,
                           "--update-exe", self.updateExe, *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        verified = run("openssl", "dgst", "-sha256", "-verify", key + ".pub.pem", "-signature",
                       os.path.join(self.feed, "manifest.sig"), os.path.join(self.feed, "manifest.txt"))
        self.assertEqual(verified.stdout, "Verified OK\n")
        with open(os.path.join(self.feed, "manifest.txt"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        return {line.split(" ", 3)[3]: line.split(" ")[2] for line in lines if line.startswith("file ")}

    def stored(self, sha):
        with open(os.path.join(self.feed, "files", sha), "rb") as f:
            return f.read()

    def test_a_version_that_changes_the_key_ships_the_new_one_signed_with_the_old(self):
        old, new = self.newKey("old.pem"), self.newKey("new.pem")
        files = self.build("1.0.0", old, "--rotate-key", new + ".pub.pem")
        with open(new + ".pub.pem", "rb") as f:
            self.assertEqual(self.stored(files["updater/update-key.pem"]), f.read())

    def test_the_native_update_reads_the_feed(self):
        # The feed served over HTTP; an installation of the first version
        # made from it, with the native update in its updater folder.
        os.makedirs(self.feed)
        handler = functools.partial(QuietFiles, directory=self.feed)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = "http://127.0.0.1:%d/" % server.server_address[1]
        key = self.newKey("key.pem")
        first = self.build("1.0.0", key, url=url)
        installed = os.path.join(self.base, "installed")
        for path, sha in first.items():
            write(os.path.join(installed, path), self.stored(sha))
        shutil.copyfile(os.path.join(self.feed, "manifest.txt"), os.path.join(installed, "updater", "update-installed.txt"))
        update = os.path.join(installed, "updater", "update")
        shutil.copy(OPTIONS.update, update)
        write(os.path.join(self.app, "lib", "app.jar"), b"PK new")
        second = self.build("1.0.1", key, url=url)
        result = run(update, "--check", "--timeout", "20")
        exeBytes = len(self.stored(second[NAME + ".exe"]))
        self.assertEqual((result.returncode, result.stdout),
                         (10, "version=1.0.1\ndownload=%d\n" % (exeBytes + len(b"PK new"))), result.stderr)

    def test_two_versions_into_one_feed(self):
        key = self.newKey("signing key.pem")
        first = self.build("1.0.0", key)

        # The package's updater files, rebuilt from the feed, which holds every file but the installed record.
        rebuilt = os.path.join(self.base, "rebuilt")
        for path, sha in first.items():
            write(os.path.join(rebuilt, path), self.stored(sha))
        with open(key + ".pub.pem", "rb") as f:
            publicKey = f.read()
        with open(self.updateExe, "rb") as f:
            program = f.read()
        wanted = {"updater/update.exe": program, "updater/update-key.pem": publicKey,
                  "updater/update-url.txt": b"https://updates.example.com/app/\n"}
        for path, content in wanted.items():
            with open(os.path.join(rebuilt, path), "rb") as f:
                self.assertEqual(f.read(), content, path)
        checked = run(OPTIONS.bootcheck, "--windows", "--json", rebuilt)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertEqual(json.loads(checked.stdout)["bootFiles"][1]["findings"], [])
        script = makesetup(self.app, self.base, "--script", "setup.nsi", "--update-url", "https://x/", "--update-key", key,
                           "--update-exe", self.updateExe)
        self.assertEqual(script.returncode, 0, script.stderr)
        with open(os.path.join(self.base, "setup.nsi"), encoding="utf-8") as f:
            listed = re.findall(r'"file (updater\\.*)\$\\r\$\\n"', f.read())
        self.assertEqual(listed, ["updater\\config\\boot.xml", "updater\\update-installed.txt",
                                  "updater\\update-key.pem", "updater\\update-url.txt", "updater\\update.exe"])

        # One jar changed: the feed gains that jar and the exe, whose version block names the version.
        write(os.path.join(self.app, "lib", "app.jar"), b"PK new")
        stored = set(os.listdir(os.path.join(self.feed, "files")))
        second = self.build("1.0.1", key)
        added = set(os.listdir(os.path.join(self.feed, "files"))) - stored
        self.assertEqual(added - {second[NAME + ".exe"]}, {hashlib.sha256(b"PK new").hexdigest()})
        self.assertEqual(sorted(os.listdir(os.path.join(self.feed, "versions"))), ["1.0.0", "1.0.1"])


def versionStrings(path):
    import pefile
    pe = pefile.PE(path)
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    return pe, strings, (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS)


class LiteralTexts(unittest.TestCase):
    def test_texts_makensis_would_read_as_its_own_stay_as_written(self):
        # The installer's own version block shows the texts as makensis took them.
        app = appFolder(os.path.join(OPTIONS.work_dir, "literal-app"))
        out = scratch("literal-out")
        name, vendor = "A $HOME ${NSISDIR} {x} 50%", 'Q "quoted" $(x) `y` $\\n'
        result = run(OPTIONS.makesetup, app, "--name", name, "--vendor", vendor, "--version", "1.2",
                     "--exe", "a$b{c}.exe", "--copyright", "${NSIS_VERSION} ©", "--launcher", LAUNCHER,
                     "--document", ".odd=${NSISDIR} \"type\"", "-o", "odd.exe", cwd=out)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, strings, fixed = versionStrings(os.path.join(out, "odd.exe"))
        table = next(iter(strings.values()))
        self.assertEqual((table["ProductName"], table["CompanyName"], table["LegalCopyright"],
                          table["FileDescription"]), (name, vendor, "${NSIS_VERSION} ©", name + " 1.2 Setup"))
        self.assertEqual(fixed[:2], (0x10002, 0))


class Branding(unittest.TestCase):
    """The version block through seticon, the writer makesetup brands with."""

    def test_version_block_read_back_by_pefile(self):
        folder = scratch("branding")
        icon = os.path.join(folder, "vendor.png")
        subprocess.run(["convert", "-size", "300x200", "gradient:teal-navy", "PNG24:" + icon], check=True)
        rows = [("PE32", False, "1.2", None, (0x10002, 0, 0x10002, 0)),
                ("PE32+", True, "1.2.3.4", "© 2026 株式会社 例", (0x10002, 0x30004, 0x10002, 0x30004))]
        for what, amd64, version, copyright, numbers in rows:
            with self.subTest(what):
                launcher = os.path.join(folder, "launcher.exe")
                write(launcher, icon_files.launcherPe(amd64=amd64))
                iconOnly = os.path.join(folder, "icon only.exe")
                branded = os.path.join(folder, "月次.exe")
                self.assertEqual(run(OPTIONS.seticon, launcher, icon, iconOnly).returncode, 0)
                args = ["--name", NAME, "--vendor", VENDOR, "--version", version]
                args += ["--copyright", copyright] if copyright else []
                result = run(OPTIONS.seticon, *args, launcher, icon, branded)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, "月次.exe: icon set from vendor.png (300x200, scaled to 128x85 and "
                                                "centred), version block %s %s; sign 月次.exe now if you sign\n" % (NAME, version))
                pe, strings, fixed = versionStrings(branded)
                expected = {"CompanyName": VENDOR, "FileDescription": NAME, "FileVersion": version,
                            "OriginalFilename": "月次.exe", "ProductName": NAME, "ProductVersion": version}
                if copyright:
                    expected["LegalCopyright"] = copyright
                self.assertEqual(strings, {"000004b0": expected})
                self.assertEqual(fixed, numbers)
                self.assertTrue(pe.verify_checksum())
                # The icon's pixels are those of the icon-only copy, at the same offset.
                with open(branded, "rb") as f, open(iconOnly, "rb") as g:
                    brandedBytes, iconBytes = f.read(), g.read()
                self.assertEqual(icon_files.iconImage(brandedBytes), icon_files.iconImage(iconBytes))
                # Only header fields change before the appended section.
                changed = [i for i in range(len(iconBytes)) if brandedBytes[i] != iconBytes[i]]
                self.assertTrue(all(i < 0x200 for i in changed), changed[-5:])

    def test_an_exe_with_a_version_block_is_not_branded_again(self):
        folder = scratch("branding-twice")
        launcher, branded = os.path.join(folder, "launcher.exe"), os.path.join(folder, "b.exe")
        write(launcher, icon_files.launcherPe())
        icon = os.path.join(folder, "i.png")
        subprocess.run(["convert", "-size", "16x16", "xc:red", "PNG24:" + icon], check=True)
        version = ["--name", "A", "--vendor", "B", "--version", "1.0"]
        self.assertEqual(run(OPTIONS.seticon, *version, launcher, icon, branded).returncode, 0)
        result = run(OPTIONS.seticon, *version, branded, icon, os.path.join(folder, "c.exe"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("its resources are icon, icon group, version instead of only an icon group and its icon",
                      result.stderr)
        self.assertEqual(sorted(os.listdir(folder)), ["b.exe", "i.png", "launcher.exe"])


class BootcheckWindows(unittest.TestCase):
    """bootcheck --windows on an app folder made for Windows: each row a java
    value and class path, the codes found with and without the option."""

    ROWS = [
        ("java below the app folder", "${APP_DIR}jre\\bin\\javaw.exe", "lib\\app.jar", ["BC110", "BC206"], []),
        ("java without .exe", "${APP_DIR}jre\\bin\\javaw", "lib\\app.jar", ["BC110", "BC206"], []),
        ("missing java", "${APP_DIR}jre\\bin\\nosuch.exe", "lib\\app.jar", ["BC110", "BC206"], ["BC110"]),
        ("java on the customer's drive, unquoted", "C:\\Program Files\\Java\\bin\\javaw.exe", "lib\\app.jar",
         ["BC110", "BC206", "BC207"], ["BC207"]),
        ("java on the customer's drive", "&quot;C:\\Program Files\\Java\\bin\\javaw.exe&quot;", "lib\\app.jar",
         ["BC110", "BC206"], []),
        ("missing jar", "${APP_DIR}jre\\bin\\javaw.exe", "lib\\app.jar;lib\\gone.jar", ["BC110", "BC206"],
         ["BC206"]),
        ("folder wildcard", "${APP_DIR}jre\\bin\\javaw.exe", "lib\\*", ["BC110", "BC206"], []),
        ("a text file as java", "${APP_DIR}lib\\app.jar", "lib\\app.jar", ["BC110", "BC206"], ["BC112"]),
    ]

    def test_windows_rules(self):
        for what, java, classPath, native, windows in self.ROWS:
            with self.subTest(what):
                boot = MAIN_BOOT.replace("${APP_DIR}jre\\bin\\javaw.exe", java).replace("lib\\app.jar;lib\\*", classPath)
                app = appFolder(os.path.join(OPTIONS.work_dir, "windows-rules"), extra={"config/boot.xml": boot % ""})
                for args, expected in (([], native), (["--windows"], windows)):
                    result = run(OPTIONS.bootcheck, "--json", *args, app)
                    import json
                    codes = [f["code"] for f in json.loads(result.stdout)["bootFiles"][0]["findings"]]
                    self.assertEqual(sorted(codes), sorted(expected), (args, result.stdout))


def main():
    global OPTIONS, LAUNCHER, LAUNCHER_BYTES
    parser = argparse.ArgumentParser()
    for name in ("makesetup", "bootcheck", "seticon", "update", "work-dir"):
        parser.add_argument("--" + name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    for name in ("makesetup", "bootcheck", "seticon", "update", "work_dir"):
        setattr(OPTIONS, name, os.path.abspath(getattr(OPTIONS, name)))
    shutil.rmtree(OPTIONS.work_dir, ignore_errors=True)
    os.makedirs(OPTIONS.work_dir)
    LAUNCHER = os.path.join(OPTIONS.work_dir, "launcher.exe")
    LAUNCHER_BYTES = icon_files.launcherPe()
    write(LAUNCHER, LAUNCHER_BYTES)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
