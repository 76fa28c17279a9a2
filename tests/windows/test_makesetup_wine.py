#!/usr/bin/python3
"""The installers makesetup builds, run silently under Wine as a customer's
Windows runs them: install into the default folder and with /D= into a
folder with blanks and Japanese letters; the files, keys, shortcut and
"Apps & features" entry; the installed exe opening a document through the
command the registry holds and running the update cycle there; the upgrade
from version 1 to 2; a foreign association left alone; the uninstaller
leaving nothing; refusals that change nothing; the version block as Windows
reads it; the signatures; a version installed by its installer updating
itself from the feed makesetup wrote.

Wine 8 does not merge HKCU\\Software\\Classes into HKCR, so "start" cannot
find a per-user association: the tests read the open command from the
registry, split it as Windows splits a command line, put the document in for
%1 and run that. Wine does not lock a running exe either, so the refusal of
a running app, and a locked file met by an upgrade or uninstall, cannot be
shown here; nor can Wine remove a link to a folder itself, as Windows does.

Usage: test_makesetup_wine.py --wine WINE --launcher EXE --makesetup EXE
       --java-stub EXE --probe EXE --arch x86|amd64 [--update EXE] --work-dir DIR
"""

import argparse
import getpass
import itertools
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "update"))
import feed_server  # noqa: E402
import wine_env  # noqa: E402
from app_dir import read_calls  # noqa: E402

OPTIONS = None
NAME = "月次 アプリ"
VENDOR = "株式会社 例"
EXE = "月次アプリ.exe"
DOCUMENT = "D:\\資料\\月次 報告.myrep"
OTHER_NAME = "別 アプリ $HOME ${NSISDIR} {x}"  # what makensis would read as its own, taken literally
OTHER_FOLDER = "D:\\マイ アプリ\\別 製品"
BOOT = ('<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n'
        '  <item key="java" value="${APP_DIR}jre\\bin\\javaw.exe"/>\n'
        '  <item key="-Xmn" value="16m"/>\n  <item key="-Xms" value="32m"/>\n  <item key="-Xmx" value="64m"/>\n'
        '  <item key="-cp" value="%s"/>\n  <item key="args" value="-Dapp.mode=desktop"/>\n'
        '  <item key="main" value="%s"/>\n%s</boot>\n')
MAIN_BOOT = BOOT % ("lib\\*", "com.example.Main", '  <item key="launcherArgs" value="append"/>\n')
UPDATER_BOOT = BOOT % ("updater.jar", "com.example.Updater", "")
UNINSTALL = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
CLASSES = "HKEY_CURRENT_USER\\Software\\Classes"
OWN = ["install-id.txt", "install-manifest.txt"]  # the marker and the manifest
INSTALLED = ["uninstall.exe", "config/boot.xml", "updater/config/boot.xml", "updater/updater.jar",
             "jre/bin/javaw.exe"] + OWN  # in each installation of appFolder(), besides the exe and lib\
WRITTEN = {"settings.properties": "s", "config/user.xml": "<u/>", "data/app.db": "db"}  # by the app, in its folder


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content.encode("utf-8") if isinstance(content, str) else content)


def writeAll(folder, files):
    for path, content in files.items():
        write(os.path.join(folder, path), content)


def readBytes(path):
    with open(path, "rb") as f:
        return f.read()


def japaneseWindows():
    """The environment that makes Wine a Japanese Windows (ANSI code page 932,
    Japanese UI language), with a locale compiled into the work folder."""
    locales = os.path.join(OPTIONS.work_dir, "locale")
    if not os.path.isdir(os.path.join(locales, "ja_JP.UTF-8")):
        os.makedirs(locales, exist_ok=True)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(locales, "ja_JP.UTF-8")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return dict(wine_env.wineEnvironment(OPTIONS.prefix), LC_ALL="ja_JP.UTF-8", LOCPATH=locales)


def runWine(args, timeout=wine_env.RUN_TIMEOUT):
    """(exit code, stdout) of a Windows program in the suite's prefix."""
    code, out, _ = wine_env.runConsole([OPTIONS.wine] + list(args), japaneseWindows(), timeout=timeout)
    return code, out.decode("utf-8", errors="replace").replace("\r\n", "\n")


def runCommandLine(line):
    """The exit code of a command line typed at the prompt: NSIS reads /D= and
    _?= only unquoted, as Wine would quote an argument with a blank. A batch
    file waits for a GUI program, as the prompt does not."""
    with open(os.path.join(OPTIONS.drive, "run.bat"), "wb") as f:
        f.write(("@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n" % line).encode("cp932"))
    return runWine(["cmd", "/c", "D:\\run.bat"])[0]


def waitUntil(condition, seconds=120):
    """An uninstaller started without _?= goes on in a copy of itself after
    it returns: waits until condition() holds, or seconds have passed."""
    for _ in range(seconds * 10):
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def registry(key):
    """{subkey path below key: {value name ("" for the default): value}}, read
    with reg export; {} when the key does not exist."""
    exported = os.path.join(OPTIONS.work_dir, "export.reg")
    if os.path.exists(exported):
        os.remove(exported)
    code, _ = runWine(["reg", "export", key, "Z:" + exported.replace("/", "\\"), "/y"])
    if code != 0 or not os.path.exists(exported):
        return {}
    with open(exported, "rb") as f:
        text = f.read().decode("utf-16")
    keys, current = {}, None
    for line in text.splitlines():
        header = re.match(r"^\[(.*)\]$", line)
        if header:
            current = keys.setdefault(header.group(1)[len(key):].lstrip("\\"), {})
            continue
        value = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if value and current is not None:
            name = "" if value.group(1) == "@" else value.group(2).replace('\\"', '"').replace("\\\\", "\\")
            data = value.group(3)
            if data.startswith('"'):
                data = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            elif data.startswith("dword:"):
                data = int(data[6:], 16)
            current[name] = data
    return keys


def windowsSplit(command):
    """A command line split as CommandLineToArgvW splits one without
    backslashes before quotes (what the installer writes)."""
    return [part.strip('"') for part in re.findall(r'"[^"]*"|\S+', command)]


def unixPath(windowsPath):
    """The file behind a path on C: or D: of the suite's prefix."""
    drive, rest = windowsPath[0].lower(), windowsPath[3:].replace("\\", "/")
    root = os.path.join(OPTIONS.prefix, "drive_c") if drive == "c" else OPTIONS.drive
    return os.path.join(root, rest)


def appFolder(base, files):
    shutil.rmtree(base, ignore_errors=True)
    content = {"config/boot.xml": MAIN_BOOT, "updater/config/boot.xml": UPDATER_BOOT,
               "updater/updater.jar": b"PK", "jre/bin/javaw.exe": JAVA_STUB}
    content.update(files)
    writeAll(base, content)
    return base


def makesetup(app, name, version, output, *args):
    result = subprocess.run([OPTIONS.makesetup, app, "--name", name, "--vendor", VENDOR, "--version", version,
                             "--launcher", OPTIONS.launcher, "--arch", OPTIONS.arch, "-o", output] + list(args),
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError("makesetup failed:\n" + result.stdout + result.stderr)
    return output


def setUpModule():
    """The suite's prefix with D: mapped to a folder that holds the installers."""
    OPTIONS.drive = os.path.join(OPTIONS.work_dir, "d")
    os.makedirs(os.path.join(OPTIONS.drive, "setups"))
    wine_env.preparePrefix(OPTIONS.wine, OPTIONS.prefix)
    wine_env.mapDrive(OPTIONS.prefix, "d", OPTIONS.drive)


def programs(name):
    """A product's default folder."""
    return "C:\\users\\%s\\AppData\\Local\\Programs\\%s" % (getpass.getuser(), name)


def startMenu(name):
    return os.path.join(OPTIONS.prefix, "drive_c", "users", getpass.getuser(), "AppData", "Roaming", "Microsoft",
                        "Windows", "Start Menu", "Programs", name + ".lnk")


def entries(name):
    """The values of each Uninstall entry with that DisplayName."""
    return [values for values in registry(UNINSTALL).values() if values.get("DisplayName") == name]


def tree(folder):
    """The files and the links below a folder on C: or D:, as sorted relative paths."""
    root, found = unixPath(folder), []
    for base, folders, names in os.walk(root):
        found += [os.path.join(base, name) for name in names + folders
                  if name in names or os.path.islink(os.path.join(base, name))]
    return sorted(os.path.relpath(path, root) for path in found)


def uninstall(folder, target=None):
    """The folder's uninstaller run from a copy with _?=, as the installer runs
    the previous version's: it waits and gives its exit code."""
    shutil.copy(os.path.join(unixPath(folder), "uninstall.exe"), os.path.join(OPTIONS.drive, "uninstall-copy.exe"))
    return runCommandLine("D:\\uninstall-copy.exe /S _?=" + (target or folder))


class Installer(unittest.TestCase):
    """One customer's machine, step by step; each test goes on from the last."""

    @classmethod
    def setUpClass(cls):
        work = OPTIONS.work_dir
        key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Example Test Signing", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        signer = os.path.join(work, "sign in place.sh")
        write(signer, "#!/usr/bin/env bash\nset -euo pipefail\n"
                      "osslsigncode sign -certs '%s' -key '%s' -h sha256 -in \"$1\" -out \"$1.signed\" >/dev/null\n"
                      "mv \"$1.signed\" \"$1\"\n" % (cert, key))
        os.chmod(signer, 0o755)
        cls.cert = cert
        icon = os.path.join(work, "vendor icon.png")
        subprocess.run(["convert", "-size", "96x96", "gradient:teal-navy", "PNG24:" + icon], check=True)
        sign = ["--sign-command", "'%s'" % signer]
        common = ["--exe", EXE, "--icon", icon, "--document", ".myrep=報告書", "--copyright", "© 2026 " + VENDOR]
        setups = os.path.join(OPTIONS.drive, "setups")
        cls.setup1 = makesetup(appFolder(os.path.join(work, "v1"), {"lib/app.jar": b"PK1", "lib/old.jar": b"PK"}),
                               NAME, "1.0.0", os.path.join(setups, "setup-1.exe"), *(common + sign))
        cls.setup2 = makesetup(appFolder(os.path.join(work, "v2"), {"lib/app.jar": b"PK2", "lib/new.jar": b"PK"}),
                               NAME, "2.0", os.path.join(setups, "setup-2.exe"), *common)
        cls.other = makesetup(appFolder(os.path.join(work, "other"), {"lib/app.jar": b"PK"}),
                              OTHER_NAME, "1.0", os.path.join(setups, "other.exe"))
        write(unixPath(DOCUMENT), "報告")
        write(os.path.join(OPTIONS.drive, "foreign", "notes.txt"), "mine")
        cls.folder, cls.shortcut = programs(NAME), startMenu(NAME)

    def uninstallEntry(self, name=NAME):
        entries = {key: values for key, values in registry(UNINSTALL).items() if values.get("DisplayName") == name}
        self.assertEqual(len(entries), 1, entries)
        return next(iter(entries.items()))

    def test_1_refusals_change_nothing(self):
        code = runCommandLine("D:\\setups\\setup-1.exe /S /D=D:\\foreign")
        self.assertEqual(code, 2)
        self.assertEqual(os.listdir(os.path.join(OPTIONS.drive, "foreign")), ["notes.txt"])
        self.assertEqual(entries(NAME), [])
        self.assertEqual(registry(CLASSES + "\\.myrep"), {})
        # An uninstaller run on a folder that holds no installation removes nothing.
        shutil.copy(os.path.join(OPTIONS.work_dir, "v1", "updater", "updater.jar"),
                    os.path.join(OPTIONS.drive, "foreign", "updater.jar"))

    def test_2_installs_into_the_default_folder(self):
        code = runCommandLine("D:\\setups\\setup-1.exe /S")
        self.assertEqual(code, 0)
        self.assertEqual(tree(self.folder), sorted(INSTALLED + [EXE, "lib/app.jar", "lib/old.jar"]))
        self.assertTrue(os.path.isfile(self.shortcut))
        key, values = self.uninstallEntry()
        self.assertRegex(key, r"^\{[0-9a-f-]{36}\}$")
        self.assertEqual({name: value for name, value in values.items() if name != "EstimatedSize"}, {
            "DisplayName": NAME, "DisplayVersion": "1.0.0", "Publisher": VENDOR,
            "DisplayIcon": self.folder + "\\" + EXE + ",0", "InstallLocation": self.folder,
            "UninstallString": '"%s\\uninstall.exe"' % self.folder,
            "QuietUninstallString": '"%s\\uninstall.exe" /S' % self.folder, "NoModify": 1, "NoRepair": 1})
        self.assertGreater(values["EstimatedSize"], 0)
        classes = registry(CLASSES)
        progId = classes[".myrep"][""]
        self.assertEqual(classes[progId], {"": "報告書"})
        self.assertEqual(classes[progId + "\\DefaultIcon"], {"": self.folder + "\\" + EXE + ",0"})
        self.assertEqual(classes[progId + "\\shell\\open\\command"], {"": '"%s\\%s" "%%1"' % (self.folder, EXE)})

    def test_3_the_exe_carries_the_version_block_windows_reads(self):
        shutil.copy(OPTIONS.probe, os.path.join(OPTIONS.drive, "version_probe.exe"))
        code, out = runWine(["D:\\version_probe.exe", self.folder + "\\" + EXE])
        self.assertEqual(code, 0, out)
        self.assertEqual(out.splitlines(), ["fixed=1.0.0.0", "CompanyName=" + VENDOR, "FileDescription=" + NAME,
                                            "FileVersion=1.0.0", "LegalCopyright=© 2026 " + VENDOR,
                                            "OriginalFilename=" + EXE, "ProductName=" + NAME, "ProductVersion=1.0.0"])

    def test_4_signatures_verify(self):
        installed = unixPath(self.folder)
        for path in (os.path.join(OPTIONS.drive, "setups", "setup-1.exe"), os.path.join(installed, EXE),
                     os.path.join(installed, "uninstall.exe")):
            with self.subTest(os.path.basename(path)):
                result = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_5_the_registered_command_opens_a_document_and_the_update_cycle_runs(self):
        installed = unixPath(self.folder)
        write(os.path.join(installed, "jre", "bin", "exit_codes"), "21\n0\n0\n")
        command = registry(CLASSES)[registry(CLASSES)[".myrep"][""] + "\\shell\\open\\command"][""]
        argv = [DOCUMENT if word == "%1" else word for word in windowsSplit(command)]
        self.assertEqual(argv, [self.folder + "\\" + EXE, DOCUMENT])
        code, _ = runWine(argv)
        self.assertEqual(code, 0)
        calls = read_calls(os.path.join(installed, "jre", "bin"), encoding="cp932")
        self.assertEqual([call.cwd for call in calls], [self.folder, self.folder + "\\updater", self.folder])
        for call in (calls[0], calls[2]):
            self.assertEqual(call.env, {"LAUNCHER_ARGC": "1", "LAUNCHER_ARG1": DOCUMENT})
            self.assertEqual(call.argv[-2], "com.example.Main")
            self.assertEqual(call.opens, [len(call.argv) - 1])
        self.assertEqual(calls[1].env, {})
        self.assertEqual(calls[1].argv[-1], "com.example.Updater")

    def test_6_version_2_replaces_version_1(self):
        installed = unixPath(self.folder)
        write(os.path.join(installed, "lib", "update-1.1.jar"), "added by the updater")
        code = runCommandLine("D:\\setups\\setup-2.exe /S")
        self.assertEqual(code, 0)
        self.assertEqual(tree(self.folder), sorted(INSTALLED + [EXE, "lib/app.jar", "lib/new.jar"]))
        self.assertEqual(readBytes(os.path.join(installed, "lib", "app.jar")), b"PK2")
        _, values = self.uninstallEntry()
        self.assertEqual((values["DisplayVersion"], values["InstallLocation"]), ("2.0", self.folder))
        self.assertTrue(os.path.isfile(self.shortcut))

    def test_7_installs_with_d_into_a_folder_with_blanks_and_japanese(self):
        code = runCommandLine("D:\\setups\\other.exe /S /D=" + OTHER_FOLDER)
        self.assertEqual(code, 0)
        self.assertTrue(os.path.isfile(os.path.join(unixPath(OTHER_FOLDER), OTHER_NAME + ".exe")))
        _, values = self.uninstallEntry(OTHER_NAME)
        self.assertEqual(values["InstallLocation"], OTHER_FOLDER)
        # As "Apps & features" runs it; it goes on in a copy of itself, so wait for Wine.
        self.assertEqual(runCommandLine(values["QuietUninstallString"]), 0)
        self.assertTrue(waitUntil(lambda: not os.path.exists(unixPath(OTHER_FOLDER))))
        self.assertTrue(os.path.isdir(os.path.dirname(unixPath(OTHER_FOLDER))))
        self.assertEqual(entries(OTHER_NAME), [])

    def test_8_the_uninstaller_refuses_a_folder_that_is_no_installation(self):
        self.assertEqual(uninstall(self.folder, "D:\\foreign"), 2)
        self.assertEqual(sorted(os.listdir(os.path.join(OPTIONS.drive, "foreign"))), ["notes.txt", "updater.jar"])

    def test_9_uninstall_leaves_nothing_and_a_foreign_association_alone(self):
        classes = registry(CLASSES)
        progId = classes[".myrep"][""]
        # Another app took .myrep over since.
        self.assertEqual(runWine(["reg", "add", CLASSES + "\\.myrep", "/ve", "/d", "Other.Document", "/f"])[0], 0)
        self.assertEqual(uninstall(self.folder), 0)
        self.assertFalse(os.path.exists(unixPath(self.folder)))
        self.assertFalse(os.path.exists(self.shortcut))
        self.assertEqual(entries(NAME), [])
        classes = registry(CLASSES)
        self.assertNotIn(progId, classes)
        self.assertEqual(classes[".myrep"], {"": "Other.Document"})


class Hostile(unittest.TestCase):
    """The paths customers walk besides the happy one, one row each."""

    built = itertools.count()

    def build(self, name, version, files, *args):
        """A silent installer's command line."""
        tag = "hostile-%d" % next(self.built)
        makesetup(appFolder(os.path.join(OPTIONS.work_dir, tag), files), name, version,
                  os.path.join(OPTIONS.drive, "setups", tag + ".exe"), *args)
        return "D:\\setups\\%s.exe /S" % tag

    def test_another_vendors_product_of_the_same_name_is_refused(self):
        a = self.build("Notes", "1.0", {}, "--vendor", "Vendor A")
        b = self.build("Notes", "1.0", {}, "--vendor", "Vendor B")
        self.assertEqual(runCommandLine(a), 0)
        writeAll(unixPath(programs("Notes")), WRITTEN)
        before = tree(programs("Notes"))
        self.assertEqual(runCommandLine(b), 2)
        self.assertEqual(tree(programs("Notes")), before)
        self.assertEqual([values["Publisher"] for values in entries("Notes")], ["Vendor A"])

    def test_nothing_found_in_a_folder_is_run(self):
        writeAll(unixPath(programs("Found")), {"Found.exe": JAVA_STUB, "uninstall.exe": JAVA_STUB})
        self.assertEqual(runCommandLine(self.build("Found", "1.0", {})), 2)
        self.assertEqual(tree(programs("Found")), ["Found.exe", "uninstall.exe"])

    def test_an_upgrade_keeps_what_the_app_wrote(self):
        vendor = "Vendor @PRODUCT_NAME@ @EXE_NAME@ $HOME 100%"
        v1 = self.build("Kept", "1.0", {"lib/app.jar": b"PK", "lib/old.jar": b"PK", "plugins/base.jar": b"PK"},
                        "--vendor", vendor)
        v2 = self.build("Kept", "2.0", {"lib/app.jar": b"PK", "plugins/base.jar": b"PK"}, "--vendor", vendor,
                        "--keep", "plugins", "--replace", "cache")
        self.assertEqual(runCommandLine(v1), 0)
        writeAll(unixPath(programs("Kept")), dict(WRITTEN, **{"lib/update.jar": "u", "updater/update.jar": "u",
                                                              "plugins/extra.jar": "x", "cache/page.bin": "c"}))
        self.assertEqual(runCommandLine(v2), 0)
        self.assertEqual(tree(programs("Kept")), sorted(INSTALLED + list(WRITTEN) + [
            "Kept.exe", "lib/app.jar", "plugins/base.jar", "plugins/extra.jar"]))
        self.assertEqual([values["Publisher"] for values in entries("Kept")], [vendor])

    def test_a_renamed_exe_is_upgraded(self):
        folder = programs("Renamed")
        for version, exe in (("1.0", "Renamed.exe"), ("2.0", "Renamed Pro.exe")):
            self.assertEqual(runCommandLine(self.build("Renamed", version, {}, "--exe", exe, "--document", ".rnm=D")), 0)
        self.assertEqual(tree(folder), sorted(INSTALLED + ["Renamed Pro.exe"]))
        classes = registry(CLASSES)
        self.assertEqual(classes[classes[".rnm"][""] + "\\shell\\open\\command"],
                         {"": '"%s\\Renamed Pro.exe" "%%1"' % folder})
        self.assertEqual([values["DisplayIcon"] for values in entries("Renamed")], [folder + "\\Renamed Pro.exe,0"])
        self.assertTrue(os.path.isfile(startMenu("Renamed")))
        self.assertFalse(os.path.exists(startMenu("Renamed (%s)" % VENDOR)))

    def test_a_lost_uninstaller_is_repaired_by_installing_again(self):
        setup, folder = self.build("Lost", "1.0", {}), programs("Lost")
        self.assertEqual(runCommandLine(setup), 0)
        writeAll(unixPath(folder), WRITTEN)
        os.remove(os.path.join(unixPath(folder), "uninstall.exe"))
        self.assertEqual(runCommandLine(setup), 0)
        self.assertTrue(set(WRITTEN) | {"uninstall.exe"} <= set(tree(folder)))

    def test_a_half_removed_folder_is_repaired_by_installing_again(self):
        setup, folder = self.build("Half", "1.0", {"lib/app.jar": b"PK"}), programs("Half")
        self.assertEqual(runCommandLine(setup), 0)
        complete = tree(folder)
        writeAll(unixPath(folder), WRITTEN)
        # Cut off as a removal would be: the exe, the uninstaller, lib\ and the marker gone; the entry is left.
        for path in ("Half.exe", "uninstall.exe", "install-id.txt"):
            os.remove(os.path.join(unixPath(folder), path))
        shutil.rmtree(os.path.join(unixPath(folder), "lib"))
        self.assertEqual(runCommandLine(setup), 0)
        self.assertEqual(tree(folder), sorted(complete + list(WRITTEN)))

    def test_an_installation_from_before_markers_is_upgraded(self):
        folder = programs("Unmarked")
        self.assertEqual(runCommandLine(self.build("Unmarked", "1.0", {"lib/app.jar": b"PK"})), 0)
        complete = tree(folder)
        # What an installer from before markers leaves: no marker, no manifest; the entry names the folder.
        for path in OWN:
            os.remove(os.path.join(unixPath(folder), path))
        writeAll(unixPath(folder), dict(WRITTEN, **{"lib/update.jar": "u"}))
        self.assertEqual(runCommandLine(self.build("Unmarked", "2.0", {"lib/app.jar": b"PK"})), 0)
        self.assertEqual(tree(folder), sorted(complete + list(WRITTEN)))

    def test_a_second_installer_of_the_same_id_is_refused(self):
        setup, folder = self.build("Twice", "1.0", {}, "--id", "Example.Twice"), programs("Twice")
        held = os.path.join(OPTIONS.drive, "held")
        holder = os.path.join(OPTIONS.work_dir, "hold.nsi")
        # Holds the installer's mutex, as a first installer would, until the test removes D:\held.
        write(holder, 'Unicode true\nTarget %s-unicode\nRequestExecutionLevel user\nSilentInstall silent\n'
                      'OutFile "%s"\nSection\n'
                      "  System::Call 'kernel32::CreateMutexW(p 0, i 0, w \"Local\\setup-Example.Twice\") p .r0'\n"
                      '  FileOpen $1 "D:\\held" w\n  FileClose $1\nwait:\n  Sleep 50\n  IfFileExists "D:\\held" wait\n'
                      'SectionEnd\n' % (OPTIONS.arch, os.path.join(OPTIONS.drive, "hold.exe")))
        subprocess.run(["makensis", "-V1", holder], check=True)
        first = subprocess.Popen([OPTIONS.wine, "D:\\hold.exe"], env=japaneseWindows(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(waitUntil(lambda: os.path.exists(held)))
            self.assertEqual(runCommandLine(setup), 2)
            self.assertEqual((os.path.exists(unixPath(folder)), entries("Twice")), (False, []))
        finally:
            if os.path.exists(held):
                os.remove(held)
            first.wait(timeout=wine_env.RUN_TIMEOUT)
        self.assertEqual(runCommandLine(setup), 0)

    def test_removal_never_follows_a_link(self):
        folder = programs("Linked")
        write(unixPath("D:\\outside\\mine.txt"), "mine")
        self.assertEqual(runCommandLine(self.build("Linked", "1.0", {})), 0)
        os.makedirs(os.path.join(unixPath(folder), "data"))
        os.symlink(unixPath("D:\\outside"), os.path.join(unixPath(folder), "data", "link"))
        # Wine cannot remove a link to a folder (Windows' RemoveDirectory removes a junction itself):
        # the uninstaller says so, and keeps the marker and the entry.
        self.assertEqual(uninstall(folder), 2)
        self.assertEqual(tree("D:\\outside"), ["mine.txt"])
        self.assertEqual(tree(folder), ["data/link", "install-id.txt"])
        self.assertEqual(len(entries("Linked")), 1)

    def test_another_apps_document_type_keeps_its_default(self):
        folder = programs("Typed")
        self.assertEqual(runWine(["reg", "add", CLASSES + "\\.typ", "/ve", "/d", "Other.Document", "/f"])[0], 0)
        self.assertEqual(runCommandLine(self.build("Typed", "1.0", {}, "--document", ".typ=Doc")), 0)
        classes = registry(CLASSES)
        progIds = list(classes[".typ\\OpenWithProgids"])
        self.assertEqual((classes[".typ"], len(progIds)), ({"": "Other.Document"}, 1))
        self.assertEqual(classes[progIds[0] + "\\shell\\open\\command"], {"": '"%s\\Typed.exe" "%%1"' % folder})

    def test_another_products_shortcut_stays(self):
        self.assertEqual(runCommandLine(self.build("Other Shortcut", "1.0", {})), 0)
        foreign = readBytes(startMenu("Other Shortcut"))
        write(startMenu("Shortcut"), foreign)
        self.assertEqual(runCommandLine(self.build("Shortcut", "1.0", {})), 0)
        self.assertEqual(readBytes(startMenu("Shortcut")), foreign)
        self.assertTrue(os.path.isfile(startMenu("Shortcut (%s)" % VENDOR)))
        self.assertEqual(uninstall(programs("Shortcut")), 0)
        self.assertEqual(readBytes(startMenu("Shortcut")), foreign)
        self.assertFalse(os.path.exists(startMenu("Shortcut (%s)" % VENDOR)))


class Updates(unittest.TestCase):
    """Version 1 installed by its installer updates itself to version 2 from
    the feed makesetup wrote, served over HTTP; version 3's installer and the
    uninstaller then work from what the update put there."""

    def test_version_1_updates_itself_and_a_later_installer_and_uninstaller_know_its_files(self):
        if not OPTIONS.update:
            self.skipTest("the 32-bit suite runs it with the shipped update.exe")
        work, name = OPTIONS.work_dir, "更新 アプリ"
        key, published = os.path.join(work, "update key.pem"), os.path.join(work, "published")
        subprocess.run([OPTIONS.makesetup, "--new-key", key], check=True, capture_output=True)
        server = feed_server.startFeed(published)
        try:
            update = ["--update-url", server.url, "--update-key", key, "--feed", published,
                      "--update-exe", OPTIONS.update]
            util = bytes(range(256)) * 256
            # 2.0.0 adds a file outside the code folders, which 3.0.0 no longer ships.
            for version, files in (("1.0.0", {"lib/app.jar": b"PK1"}), ("2.0.0", {"lib/app.jar": b"PK2", "help.html": b"h"}),
                                   ("3.0.0", {"lib/app.jar": b"PK3"})):
                app = appFolder(os.path.join(work, "updates-" + version), dict(files, **{"lib/util.jar": util}))
                shutil.rmtree(os.path.join(app, "updater"))  # makesetup puts update.exe's in its place
                makesetup(app, name, version, os.path.join(OPTIONS.drive, "setups", "updates-%s.exe" % version), *update)
                if version == "1.0.0":
                    self.assertEqual(runCommandLine("D:\\setups\\updates-1.0.0.exe /S"), 0)
            folder = unixPath(programs(name))
            writeAll(folder, WRITTEN)
            # The feed's newest is 3.0.0: the update is asked of a feed that holds 2.0.0 at the top.
            shutil.copy(os.path.join(published, "versions", "2.0.0", "manifest.txt"), published)
            shutil.copy(os.path.join(published, "versions", "2.0.0", "manifest.sig"), published)
            manifests = [readBytes(os.path.join(published, "versions", version, "manifest.txt")).decode()
                         for version in ("1.0.0", "2.0.0")]
            old, new = (set(line for line in text.splitlines() if line.startswith("file ")) for text in manifests)
            changed = sum(int(line.split(" ")[1]) for line in new - old)
            self.assertIn("file 3 ", "".join(new - old))  # the jar and help.html, besides the re-branded exe

            code, out = runWine([programs(name) + "\\updater\\update.exe", "--check"])
            self.assertEqual((code, out), (10, "version=2.0.0\ndownload=%d\n" % changed))

            write(os.path.join(folder, "jre", "bin", "exit_codes"), "21\n0\n")
            code, _ = runWine([programs(name) + "\\%s.exe" % name])
            self.assertEqual(code, 0)
            with open(os.path.join(folder, "updater", "last-update.txt"), encoding="utf-8") as f:
                self.assertEqual(f.read().splitlines()[:3], ["version=2.0.0", "result=applied", "reason="])
            self.assertEqual(readBytes(os.path.join(folder, "lib", "app.jar")), b"PK2")
            for path, content in WRITTEN.items():
                self.assertEqual(readBytes(os.path.join(folder, path)), content.encode())
            # The stand-in java records its starts beside itself, in a code folder, whose unlisted files the
            # update set aside with the old version's: the first start's record is among them.
            aside = os.path.join(folder, "updater", "update-state", "old-2.0.0", "jre", "bin")
            calls = [read_calls(path, encoding="cp932") for path in (aside, os.path.join(folder, "jre", "bin"))]
            self.assertEqual([[call.cwd for call in run] for run in calls], [[programs(name)]] * 2)
            sent = feed_server.bytesSent(server)
            self.assertEqual(sent, changed + sum(os.path.getsize(os.path.join(published, file))
                                                 for file in ("manifest.txt", "manifest.sig")) * 2)
            self.assertEqual([values["DisplayVersion"] for values in entries(name)], ["2.0.0"])

            # The installer's manifest names what the update put there: 3.0.0's installer removes help.html.
            self.assertEqual(runCommandLine("D:\\setups\\updates-3.0.0.exe /S"), 0)
            self.assertEqual(readBytes(os.path.join(folder, "lib", "app.jar")), b"PK3")
            self.assertFalse(os.path.exists(os.path.join(folder, "help.html")))
            self.assertEqual([readBytes(os.path.join(folder, path)) for path in WRITTEN],
                             [content.encode() for content in WRITTEN.values()])
            self.assertEqual(uninstall(programs(name)), 0)
            self.assertFalse(os.path.exists(folder))
            self.assertEqual(entries(name), [])
        finally:
            feed_server.stop(server)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    for name in ("wine", "launcher", "makesetup", "java-stub", "probe", "arch", "work-dir"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--update", default="")
    OPTIONS, rest = parser.parse_known_args()
    wine_env.exitUnlessRuns(OPTIONS.wine, "the installer built by makesetup for " + OPTIONS.arch)
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    shutil.rmtree(OPTIONS.work_dir, ignore_errors=True)
    os.makedirs(OPTIONS.work_dir)
    OPTIONS.prefix = os.path.join(OPTIONS.work_dir, "wineprefix")
    global JAVA_STUB
    with open(OPTIONS.java_stub, "rb") as f:
        JAVA_STUB = f.read()
    sys.exit(wine_env.runTests(OPTIONS.wine, OPTIONS.prefix, [sys.argv[0]] + rest))


if __name__ == "__main__":
    main()
