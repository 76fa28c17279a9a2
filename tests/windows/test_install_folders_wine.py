#!/usr/bin/python3
"""The Windows launcher under Wine in the folders users install it in: a
folder with a blank next to a planted decoy, names outside the ANSI code page,
and a path longer than 260 characters below folders with decoy boot files.

Wine's ANSI code page follows LC_ALL: C.UTF-8 gives code page 1252, and
ja_JP.UTF-8 gives 932 once that locale exists (compiled here with localedef
into the work folder, found through LOCPATH). A decoy is a copy of the
stand-in java that records its calls next to itself, so a decoy that ran
leaves a calls.log.

Usage: test_install_folders_wine.py --wine WINE --launcher EXE --java-stub EXE --work-dir DIR [--prefix DIR]
"""

import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_launcher_wine as suite  # noqa: E402
import wine_env  # noqa: E402

CP1252 = {"LC_ALL": "C.UTF-8"}
BOOT_ITEMS = [("-Xmn", "16m"), ("-Xms", "32m"), ("-Xmx", "64m"), ("-cp", "lib\\app.jar"),
              ("args", "-Dapp.mode=demo"), ("main", "com.example.Main")]
OPTIONS_TEXT = " -Xmn16m -Xms32m -Xmx64m -cp lib\\app.jar -Dapp.mode=demo com.example.Main"
OPTIONS_ARGS = ["-Xmn16m", "-Xms32m", "-Xmx64m", "-cp", "lib\\app.jar", "-Dapp.mode=demo",
                "com.example.Main"]


def cp932():
    """LC_ALL and LOCPATH for code page 932, compiling the locale once."""
    localeDir = os.path.join(suite.OPTIONS.work_dir, "locale")
    if not os.path.isdir(os.path.join(localeDir, "ja_JP.UTF-8")):
        os.makedirs(localeDir, exist_ok=True)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                        os.path.join(localeDir, "ja_JP.UTF-8")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return {"LC_ALL": "ja_JP.UTF-8", "LOCPATH": localeDir}


class InstallFolder(unittest.TestCase):
    def setUp(self):
        self.root = os.path.join(suite.OPTIONS.work_dir, self.id().split(".")[-1])
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        wine_env.mapDrive(suite.OPTIONS.prefix, "d", self.root)

    def place(self, relative, java="${APP_DIR}java.exe", boot=True):
        """A launcher and java.exe in D:\\relative\\, with a boot file that
        starts that java.exe unless boot is False."""
        folder = os.path.join(self.root, *relative.split("\\"))
        os.makedirs(folder, exist_ok=True)
        shutil.copy(suite.OPTIONS.launcher, os.path.join(folder, "launcher.exe"))
        shutil.copy(suite.OPTIONS.java_stub, os.path.join(folder, "java.exe"))
        if boot:
            self.writeBoot(folder, java)
        return folder

    def writeBoot(self, folder, java):
        os.makedirs(os.path.join(folder, "config"), exist_ok=True)
        with open(os.path.join(folder, "config", "boot.xml"), "wb") as f:
            f.write(suite.bootXml([("java", java)] + BOOT_ITEMS).encode("utf-8"))

    def plantDecoy(self, relative):
        """The stand-in java as D:\\relative (a program that must never run)."""
        path = os.path.join(self.root, *relative.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(suite.OPTIONS.java_stub, path)

    def ran(self, folder):
        """argv lists of the stand-in javas that recorded calls in folder."""
        path = os.path.join(folder, "calls.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8", errors="replace") as f:
            records = f.read().split("call\n")[1:]
        return [[line[4:] for line in record.splitlines() if line.startswith("arg=")]
                for record in records]

    def launch(self, exe, env=CP1252, encoding="cp1252", allowCut=False):
        code, lines, boxes = wine_env.runWindows(suite.OPTIONS.wine, suite.OPTIONS.prefix, [exe],
                                                 extraEnv=env, encoding=encoding, allowCut=allowCut)
        self.assertEqual(code, 0, "launcher exit code")
        return lines, boxes


class FolderWithBlank(InstallFolder):
    # The value, the command line's first word, and how java's own argument
    # splitting sees it.
    # argv: what java.exe receives; None when nothing may start (the box).
    ROWS = [
        ("${APP_DIR}java.exe", '"D:\\my app\\java.exe"', ["D:\\my app\\java.exe"]),
        # CreateProcessA appends ".exe" to a name without extension.
        ("${APP_DIR}java", '"D:\\my app\\java"', ["D:\\my app\\java"]),
        ("&quot;${APP_DIR}java.exe&quot;", '"D:\\my app\\java.exe"', ["D:\\my app\\java.exe"]),
        ("${APP_DIR}java.exe -Xss2m", '"D:\\my app\\java.exe" -Xss2m', ["D:\\my app\\java.exe", "-Xss2m"]),
        ("${PARENT_DIR}jre\\bin\\java.exe", '"D:\\my app\\jre\\bin\\java.exe"', None),
        ("${APP_DIR}nojava -Xss2m", '"D:\\my app\\nojava" -Xss2m', None),
    ]

    def test_java_path_is_quoted_and_the_decoy_never_runs(self):
        for value, firstWord, argv in self.ROWS:
            with self.subTest(java=value):
                self.setUp()
                app = self.place("my app", java=value)
                self.plantDecoy("my.exe")
                lines, boxes = self.launch("D:\\my app\\launcher.exe")
                self.assertIn("javaCommandLine=" + firstWord + OPTIONS_TEXT, lines)
                self.assertEqual(lines[-1], "launchJava:retCode=%d" % (0 if argv else 1))
                self.assertEqual(boxes, [] if argv else [suite.box("D:\\my app\\config\\boot.xml")])
                self.assertEqual(self.ran(app), [argv + OPTIONS_ARGS] if argv else [])
                self.assertEqual(self.ran(self.root), [], "the decoy D:\\my.exe ran")


class PlaceholderInTheFolderName(InstallFolder):
    def test_inserted_folder_is_not_searched_again(self):
        for value in ("${APP_DIR}java.exe", "${PARENT_DIR}java.exe"):
            with self.subTest(java=value):
                self.setUp()
                app = self.place("x${PARENT_DIR}y", java=value)
                lines, boxes = self.launch("D:\\x${PARENT_DIR}y\\launcher.exe")
                java = "D:\\x${PARENT_DIR}y\\java.exe"
                self.assertIn("javaCommandLine=" + java + OPTIONS_TEXT, lines)
                self.assertEqual(boxes, [])
                self.assertEqual(self.ran(app), [[java] + OPTIONS_ARGS])


class ValuesOutsideAscii(InstallFolder):
    # (name, code page, java folder under D:\app, args as written, boot file
    # encoding, the -D argument java.exe receives): UTF-8 values arrive in the
    # ANSI code page, "?" for a letter it lacks (no look-alike); a Shift-JIS
    # file passes unchanged.
    ROWS = [
        ("Japanese -D value", 932, "", "-Dname=日本語", "utf-8", "-Dname=日本語"),
        ("java path with é", 1252, "jré", "-Dapp.mode=demo", "utf-8", "-Dapp.mode=demo"),
        ("Shift-JIS boot file", 932, "", "-Dname=日本語", "cp932", "-Dname=日本語"),
        ("letters 1252 lacks", 1252, "", "-Dname=Łódź", "utf-8", "-Dname=?ód?"),
        ("a letter 932 lacks", 932, "", "-Dname=café 日本", "utf-8", "-Dname=caf? 日本"),
    ]

    def test_child_receives_the_ansi_code_page(self):
        for name, codePage, javaFolder, args, fileEncoding, argument in self.ROWS:
            with self.subTest(name):
                self.setUp()
                app = self.place("app", boot=False)
                javaDir = os.path.join(app, javaFolder)
                if javaFolder:
                    os.makedirs(javaDir)
                    shutil.copy(suite.OPTIONS.java_stub, os.path.join(javaDir, "java.exe"))
                items = [("java", "${APP_DIR}" + (javaFolder + "\\" if javaFolder else "") + "java.exe")]
                items += [(k, args if k == "args" else v) for k, v in BOOT_ITEMS]
                os.makedirs(os.path.join(app, "config"))
                with open(os.path.join(app, "config", "boot.xml"), "wb") as f:
                    f.write(suite.bootXml(items).encode(fileEncoding))
                env, encoding = (cp932(), "cp932") if codePage == 932 else (CP1252, "cp1252")
                lines, boxes = self.launch("D:\\app\\launcher.exe", env=env, encoding=encoding)
                self.assertEqual(boxes, [])
                self.assertEqual(lines[-1], "launchJava:retCode=0")
                with open(os.path.join(javaDir, "calls.log"), "rb") as f:
                    argv = [line[4:].decode(encoding) for line in f.read().split(b"\n") if line.startswith(b"arg=")]
                java = "D:\\app\\" + (javaFolder + "\\" if javaFolder else "") + "java.exe"
                self.assertEqual(argv, [java] + OPTIONS_ARGS[:5] + argument.split(" ") + OPTIONS_ARGS[6:])


class NamesOutsideTheAnsiCodePage(InstallFolder):
    def test_folders_start_through_their_short_names_under_1252(self):
        # Best fit would turn Łódź into Lódz (ó is in code page 1252), a folder
        # whose boot file must not run.
        decoy = self.place("Lódz")
        for name in ("Łódź", "アプリ"):
            with self.subTest(folder=name):
                app = self.place(name)
                lines, boxes = self.launch("D:\\%s\\launcher.exe" % name)
                configLine = [line for line in lines if line.startswith("configPath=")]
                self.assertEqual(len(configLine), 1, lines)
                match = re.fullmatch(r"configPath=(D:\\[!-~]+\\)config\\boot\.xml", configLine[0])
                self.assertIsNotNone(match, "not an ASCII short form: " + configLine[0])
                shortDir = match.group(1)
                self.assertIn("~", shortDir)
                self.assertEqual(lines[-5:], [
                    "currentDir=" + shortDir,
                    "javaCommandLine=" + shortDir + "java.exe" + OPTIONS_TEXT,
                    lines[-3], "result=WAIT_OBJECT_0", "launchJava:retCode=0"])
                self.assertEqual(boxes, [])
                self.assertEqual(self.ran(app), [[shortDir + "java.exe"] + OPTIONS_ARGS])
        self.assertEqual(self.ran(decoy), [], "the best-fit folder's boot file ran")

    def test_box_shows_the_path_in_its_own_letters_under_932(self):
        # ソ is 0x83 0x5C in code page 932: its second byte is a backslash.
        for name in ("アプリ", "ソフト"):
            with self.subTest(folder=name):
                self.place(name, boot=False)
                lines, boxes = self.launch("D:\\%s\\launcher.exe" % name, env=cp932(),
                                           encoding="cp932")
                boot = "D:\\%s\\config\\boot.xml" % name
                self.assertEqual(lines, ["argc=1", "argv[0]=D:\\%s\\launcher.exe" % name,
                                         "debugFileExists=0", "configPath=" + boot, boot])
                self.assertEqual(boxes, [suite.box(suite.CONFIG_ERROR % boot)])


class LongPath(InstallFolder):
    PARTS = ["a" * 100, "b" * 100, "c" * 80]

    def test_path_over_260_characters_never_reads_an_ancestor_boot_file(self):
        # A cut module path would make an ancestor the app folder: each one
        # holds a boot file that starts its own decoy.
        ancestors = ["\\".join(self.PARTS[:i]) for i in range(len(self.PARTS))]
        for ancestor in ancestors:
            folder = os.path.join(self.root, *ancestor.split("\\")) if ancestor else self.root
            self.plantDecoy((ancestor + "\\" if ancestor else "") + "decoy.exe")
            self.writeBoot(folder, "${APP_DIR}decoy.exe")
        app = self.place("\\".join(self.PARTS))
        appDir = "D:\\" + "\\".join(self.PARTS) + "\\"
        exe = appDir + "launcher.exe"
        self.assertGreater(len(exe), 260)

        lines, boxes = self.launch(exe, allowCut=True)
        # Wine reads the boot file at the real path, but its CreateProcessA takes
        # no path beyond 260 characters: the box names the real boot file (the
        # trace shows only the start of that text).
        boot = appDir + "config\\boot.xml"
        self.assertEqual(lines, [
            "argc=1", "argv[0]=" + exe, "debugFileExists=0", "configPath=" + boot, boot,
            "currentDir=" + appDir, "javaCommandLine=" + appDir + "java.exe" + OPTIONS_TEXT,
            "execute:createProcessResult==0", "launchJava:retCode=1"])
        self.assertEqual(len(boxes), 1)
        kind, owner, caption, text, style = boxes[0]
        self.assertEqual((kind, owner, caption, style), ("W", 0, "Error", 0))
        self.assertTrue(text.endswith("..."), text)
        self.assertTrue(boot.startswith(text[:-3]), text)
        self.assertGreater(len(text), len(appDir) - 20)
        for ancestor in ancestors:
            folder = os.path.join(self.root, *ancestor.split("\\")) if ancestor else self.root
            self.assertEqual(self.ran(folder), [], "decoy ran in D:\\" + ancestor)
        self.assertEqual(self.ran(app), [])


if __name__ == "__main__":
    suite.main("the install folders")
