#!/usr/bin/python3
"""Which DLLs the launcher loads, under Wine: none from its own folder, and
USER32 only when it shows a box.

Copies of a DLL that leaves a marker file when loaded (planted_dll.cpp) lie
in the application folder under the names of system DLLs that Windows loads
on demand. Wine's load order for these names is native first, which makes it
search the exe's folder as Windows does for DLLs that are not KnownDLLs. The
stand-in java.exe (dll_child.cpp) imports its own jli.dll from beside it.
Wine's +loaddll trace shows what each process loaded.

Usage: test_dll_loading_wine.py --wine WINE --launcher EXE --java-stub DLL_CHILD_EXE
                                --planted-dll DLL --work-dir DIR [--prefix DIR]

Exits 77 (skipped), saying why, where WINE cannot run.
"""

import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_app as suite  # noqa: E402
import wine_env  # noqa: E402

PLANTED = ["version.dll", "imm32.dll", "uxtheme.dll"]
OVERRIDES = wine_env.DLL_OVERRIDES + ";" + ",".join(name[:-4] for name in PLANTED) + "=n,b"
JAVA = suite.APP + "jre\\bin\\java.exe"
ITEMS = [("java", "${APP_DIR}jre\\bin\\java.exe"), ("-cp", "app.jar"), ("main", "Main")]
COMMAND = JAVA + " -Xmn -Xms -Xmx -cp app.jar  Main"
# The stand-in java.exe ends with the number of DLLs it was asked for and could not load.
FAILING_ITEMS = ITEMS[:2] + [("args", "missing.dll")] + ITEMS[2:]
FAILING_COMMAND = JAVA + " -Xmn -Xms -Xmx -cp app.jar missing.dll Main"
# A 32-bit process in a 64-bit prefix sees the system folder as syswow64.
SYSTEM_FOLDERS = ("c:\\windows\\system32\\", "c:\\windows\\syswow64\\")
CHILD_MARKER = "jre/bin/jli.dll.loaded"

_LOADED = re.compile(r'([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"((?:[^"\\]|\\.)*)" at \S+: (\w+)')


def loadedByProcess(trace):
    """{process id: [(path, "native" or "builtin")]} in load order."""
    processes = {}
    for pid, path, kind in _LOADED.findall(trace):
        processes.setdefault(pid, []).append((wine_env.decodeWineString('"%s"' % path), kind))
    return processes


class PlantedDlls(suite.LauncherCase):
    def makePlantedApp(self, mainBoot=suite.bootXml(ITEMS)):
        self.makeApp(mainBoot=mainBoot, java=False)
        bin = os.path.join(self.app, "jre", "bin")
        os.makedirs(bin)
        shutil.copy(suite.OPTIONS.java_stub, os.path.join(bin, "java.exe"))
        shutil.copy(suite.OPTIONS.planted_dll, os.path.join(bin, "jli.dll"))
        shutil.copy(suite.OPTIONS.java_stub, os.path.join(self.app, "probe.exe"))
        for name in ["jli.dll"] + PLANTED:
            shutil.copy(suite.OPTIONS.planted_dll, os.path.join(self.app, name))

    def runTraced(self, exe):
        """Runs exe with the planted names native first; returns (exit code,
        stdout lines, boxes, {pid: loaded modules}, pid of exe)."""
        env = wine_env.wineEnvironment(suite.OPTIONS.prefix, "-all,+relay,+pid,+loaddll")
        env["WINEDLLOVERRIDES"] = OVERRIDES
        code, out, err = wine_env.runCaptured([suite.OPTIONS.wine] + exe, env)
        lines = out.decode("utf-8", errors="replace").splitlines()
        trace = err.decode("utf-8", errors="replace")
        processes = loadedByProcess(trace)
        own = [pid for pid, modules in processes.items() if modules[0][0].lower() == exe[0].lower()]
        self.assertEqual(len(own), 1, "no single process loaded " + exe[0])
        return code, lines, wine_env.parseBoxes(trace), processes, own[0]

    def markers(self):
        """{marker file: exe paths that loaded it} in the application folder."""
        found = {}
        for folder in (self.app, os.path.join(self.app, "jre", "bin")):
            for name in sorted(os.listdir(folder)):
                if name.endswith(".loaded"):
                    with open(os.path.join(folder, name), "rb") as f:
                        found[os.path.relpath(os.path.join(folder, name), self.app)] = \
                            f.read().decode("utf-16-le").splitlines()
        return found

    def test_an_unrestricted_search_loads_the_planted_dlls(self):
        # Without this the other cases could pass with the planting broken.
        self.makePlantedApp()
        code, _, _, processes, pid = self.runTraced([suite.APP + "probe.exe"] + PLANTED)
        self.assertEqual(code, 0, "planted DLLs that failed to load")
        self.assertEqual(self.markers(), {name + ".loaded": [suite.APP + "probe.exe"]
                                          for name in ["jli.dll"] + PLANTED})

    def test_a_plain_launch_loads_neither_planted_dlls_nor_user32(self):
        self.makePlantedApp()
        code, lines, boxes, processes, pid = self.runTraced([suite.APP + "launcher.exe"])
        self.assertEqual(code, 0)
        self.assertEqual(self.maskPid(lines), suite.startLines() + suite.launchLines(0, COMMAND))
        self.assertEqual(boxes, [])
        # The child's own DLL beside it still loads.
        self.assertEqual(self.markers(), {CHILD_MARKER: [JAVA]})
        loaded = [os.path.basename(path.replace("\\", "/")).lower() for path, _ in processes[pid]]
        print("the launcher loaded: " + " ".join(loaded))
        for name in ("user32.dll", "gdi32.dll", "advapi32.dll"):
            self.assertNotIn(name, loaded)

    def test_boxes_load_user32_from_the_system_folder_only(self):
        cases = [("child ends with 1", suite.bootXml(FAILING_ITEMS), suite.launchLines(1, FAILING_COMMAND),
                  suite.MAIN_BOOT, [CHILD_MARKER]),
                 ("no boot file", None, suite.badBootLines(), suite.CONFIG_ERROR % suite.MAIN_BOOT, [])]
        for what, boot, launchLines, text, childMarkers in cases:
            with self.subTest(what):
                self.makePlantedApp(mainBoot=boot)
                code, lines, boxes, processes, pid = self.runTraced([suite.APP + "launcher.exe"])
                self.assertEqual(code, 0)
                self.assertEqual(self.maskPid(lines), suite.startLines() + launchLines)
                self.assertEqual(boxes, [suite.box(text)])
                self.assertEqual(sorted(self.markers()), childMarkers)
                user32 = [(path.lower().startswith(SYSTEM_FOLDERS), kind) for path, kind in processes[pid]
                          if path.lower().endswith("\\user32.dll")]
                self.assertEqual(user32, [(True, "builtin")], "USER32 once, from the system folder")
                outside = [path for path, _ in processes[pid][1:] if not path.lower().startswith(SYSTEM_FOLDERS)]
                self.assertEqual(outside, [], "DLLs from outside the system folder")


def main():
    options, rest = suite.parseOptions("--planted-dll")
    what = "the DLL loading suite under " + options.wine
    wine_env.exitUnlessRuns(options.wine, what)
    wine_env.preparePrefixOrSkip(options.wine, options.prefix, what)
    sys.exit(suite.runTests(options, rest))


if __name__ == "__main__":
    main()
