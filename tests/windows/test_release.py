#!/usr/bin/python3
"""What a user downloads: scripts/release.sh from scratch must give archives
with the documented contents that another build folder reproduces byte for
byte. The Windows exes it packs must be the very bytes of the build tree
under test, built from scratch in another folder; the Linux binaries must
hold neither that folder nor the sources' path. Where the tree under test is
signed or carries a vendor's icon, release.sh runs a second time in another
folder instead, and the two archives must be identical.

Usage: test_release.py --root SOURCE_DIR --version VERSION --work-dir DIR
                       --tree-exes LAUNCHER BOOTCHECK SETICON UPDATE --tree-plain 0|1
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
OPTIONS = None
ARCHIVES = {}  # kind: (first run's path, second run's path or None)
BUILD_ROOT = None  # where the first run built

SAMPLE = ["MyApp/config/boot.xml", "MyApp/updater/config/boot.xml"]
WINDOWS_EXES = ["launcher.exe", "bootcheck.exe", "seticon.exe", "update.exe"]  # as --tree-exes gives them
WIN32_FILES = sorted(SAMPLE + ["README.txt", "SHA256SUMS"] + WINDOWS_EXES)
# makesetup packs the launcher.exe and update.exe beside it.
LINUX_FILES = sorted(SAMPLE + ["README.txt", "SHA256SUMS", "bootcheck", "launcher", "launcher.exe", "makesetup",
                                "seticon", "update", "update.exe"])
LINUX_DIRS = ["", "MyApp", "MyApp/config", "MyApp/updater", "MyApp/updater/config"]
LINUX_BINARIES = ["launcher", "bootcheck", "seticon", "update", "makesetup"]
EXECUTABLES = set(WINDOWS_EXES + LINUX_BINARIES)

ELF_X86_64 = (b"\x7fELF\x02\x01", 62)  # 64-bit little-endian, EM_X86_64


EPOCH = None  # the commit's time, taken once for both runs


def commitTime():
    out = subprocess.run(["git", "-C", OPTIONS.root, "log", "-1", "--format=%ct"], check=True,
                         capture_output=True, text=True).stdout
    return int(os.environ.get("SOURCE_DATE_EPOCH", out.strip()))


def runRelease(buildRoot, out):
    shutil.rmtree(buildRoot, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("LAUNCHER_SIGN_")}
    env["SOURCE_DATE_EPOCH"] = str(EPOCH)
    started = time.monotonic()
    subprocess.run([os.path.join(OPTIONS.root, "scripts", "release.sh"), "--build-root", buildRoot,
                    "--out", out], check=True, env=env, stdin=subprocess.DEVNULL)
    print("release.sh from scratch in %s: %.0f s" % (buildRoot, time.monotonic() - started))
    shutil.rmtree(buildRoot)  # two Windows and two Linux trees are large; the archives are what counts
    return out


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def sumsOf(files):
    """The SHA256SUMS text for {name: bytes}, as sha256sum writes it."""
    return "".join("%s  %s\n" % (hashlib.sha256(files[name]).hexdigest(), name)
                   for name in sorted(files) if name != "SHA256SUMS")


class Reproducible(unittest.TestCase):
    def test_another_build_folder_gives_the_same_bytes(self):
        if not OPTIONS.tree_plain:
            for kind, (first, second) in sorted(ARCHIVES.items()):
                with self.subTest(archive=os.path.basename(first)):
                    self.assertEqual(digest(first), digest(second))
            return
        with zipfile.ZipFile(ARCHIVES["win32"][0]) as archive:
            for exe, tree in zip(WINDOWS_EXES, OPTIONS.tree_exes):
                with self.subTest(exe=exe):
                    packed = archive.read("launcher-%s-win32/%s" % (OPTIONS.version, exe))
                    self.assertEqual(hashlib.sha256(packed).hexdigest(), digest(tree))
        with tarfile.open(ARCHIVES["linux"][0], "r:gz") as archive:
            for member in archive.getmembers():
                name = os.path.basename(member.name)
                if name in EXECUTABLES:
                    with self.subTest(binary=name):
                        data = archive.extractfile(member).read()
                        for path in (BUILD_ROOT, os.path.realpath(OPTIONS.root)):
                            self.assertNotIn(path.encode(), data)


class Win32Zip(unittest.TestCase):
    def setUp(self):
        self.path = ARCHIVES["win32"][0]
        self.top = "launcher-%s-win32/" % OPTIONS.version

    def test_name_carries_the_version(self):
        self.assertEqual(os.path.basename(self.path), "launcher-%s-win32.zip" % OPTIONS.version)

    def test_entries_in_order_with_fixed_times_and_modes(self):
        # DOS times count in steps of 2 seconds; zip rounds an odd second up.
        expectedTime = time.gmtime(EPOCH + EPOCH % 2)[:6]
        with zipfile.ZipFile(self.path) as archive:
            entries = archive.infolist()
        self.assertEqual([e.filename for e in entries], [self.top + name for name in WIN32_FILES])
        for entry in entries:
            with self.subTest(entry=entry.filename):
                self.assertEqual(entry.date_time, expectedTime)
                self.assertEqual(entry.extra, b"", "extra fields (owner, exact times) make builds differ")
                name = entry.filename[len(self.top):]
                self.assertEqual(entry.external_attr >> 16, 0o100755 if name in EXECUTABLES else 0o100644)

    def test_sums_match_the_files(self):
        files = self.read()
        self.assertEqual(files["SHA256SUMS"].decode("ascii"), sumsOf(files))

    def test_exes_hold_their_pe_properties(self):
        files = self.read()
        with tempfile.TemporaryDirectory() as scratch:
            for name in WINDOWS_EXES:
                with open(os.path.join(scratch, name), "wb") as f:
                    f.write(files[name])
            for kind, exe in (([], "launcher.exe"), (["--console"], "bootcheck.exe"), (["--console"], "seticon.exe"),
                              (["--updater"], "update.exe")):
                with self.subTest(exe=exe):
                    result = subprocess.run([sys.executable, os.path.join(HERE, "check_pe.py")] + kind
                                            + ["i386=" + os.path.join(scratch, exe)], capture_output=True, text=True)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_readme_for_notepad_and_sample_as_taught(self):
        files = self.read()
        readme = files["README.txt"].decode("utf-8")
        self.assertTrue(readme.startswith("launcher %s\r\n" % OPTIONS.version))
        self.assertEqual(readme.count("\n"), readme.count("\r\n"), "every line ends with CR LF")
        for name in SAMPLE:
            with open(os.path.join(OPTIONS.root, "release", "windows", name), "rb") as f:
                self.assertEqual(files[name], f.read())
        self.assertIn(b'value="${APP_DIR}jre\\bin\\javaw.exe"', files["MyApp/config/boot.xml"])

    def read(self):
        with zipfile.ZipFile(self.path) as archive:
            return {e.filename[len(self.top):]: archive.read(e) for e in archive.infolist()}


class LinuxTarball(unittest.TestCase):
    def setUp(self):
        self.path = ARCHIVES["linux"][0]
        self.top = "launcher-%s-linux-x86_64" % OPTIONS.version

    def members(self):
        with tarfile.open(self.path, "r:gz") as archive:
            return archive.getmembers(), {m.name[len(self.top) + 1:]: archive.extractfile(m).read()
                                          for m in archive.getmembers() if m.isfile()}

    def test_name_carries_the_version(self):
        self.assertEqual(os.path.basename(self.path), "launcher-%s-linux-x86_64.tar.gz" % OPTIONS.version)

    def test_members_in_order_owned_by_root_with_fixed_times(self):
        members, _ = self.members()
        names = [m.name for m in members]
        expected = sorted([self.top + "/" + d if d else self.top for d in LINUX_DIRS]
                          + [self.top + "/" + f for f in LINUX_FILES])
        self.assertEqual(names, expected)
        for member in members:
            with self.subTest(member=member.name):
                self.assertEqual((member.uid, member.gid, member.uname, member.gname), (0, 0, "", ""))
                self.assertEqual(member.mtime, EPOCH)
                name = member.name[len(self.top) + 1:]
                self.assertEqual(member.mode, 0o755 if member.isdir() or name in EXECUTABLES else 0o644)

    def test_gzip_header_holds_no_name_or_time(self):
        with open(self.path, "rb") as f:
            header = f.read(10)
        self.assertEqual(header[3], 0, "gzip flags (a file name)")
        self.assertEqual(header[4:8], b"\0\0\0\0", "gzip time")

    def test_sums_match_the_files(self):
        _, files = self.members()
        self.assertEqual(files["SHA256SUMS"].decode("ascii"), sumsOf(files))

    def test_binaries_are_stripped_x86_64_programs(self):
        _, files = self.members()
        for name in LINUX_BINARIES:
            with self.subTest(binary=name):
                data = files[name]
                self.assertEqual((data[:6], int.from_bytes(data[18:20], "little")), ELF_X86_64)
                with tempfile.NamedTemporaryFile() as f:
                    f.write(data)
                    f.flush()
                    sections = subprocess.run(["readelf", "-S", "-W", f.name], capture_output=True,
                                              text=True, check=True).stdout
                self.assertNotIn(".symtab", sections)
                self.assertNotIn(".debug_info", sections)

    def test_seticon_puts_an_icon_on_the_zips_launcher(self):
        with tempfile.TemporaryDirectory() as scratch:
            with tarfile.open(self.path, "r:gz") as archive:
                archive.extractall(scratch)
            with zipfile.ZipFile(ARCHIVES["win32"][0]) as archive:
                archive.extract("launcher-%s-win32/launcher.exe" % OPTIONS.version, scratch)
            icon, output = os.path.join(scratch, "app.png"), os.path.join(scratch, "MyApp.exe")
            subprocess.run(["convert", "-size", "300x300", "gradient:gold-navy", "PNG24:" + icon], check=True)
            result = subprocess.run([os.path.join(scratch, self.top, "seticon"),
                                     os.path.join(scratch, "launcher-%s-win32" % OPTIONS.version, "launcher.exe"),
                                     icon, output], capture_output=True, text=True)
            self.assertEqual((result.returncode, result.stdout), (0, "MyApp.exe: icon set from app.png (300x300, "
                             "scaled to 128x128); sign MyApp.exe now if you sign\n"), result.stderr)
            result = subprocess.run([sys.executable, os.path.join(HERE, "check_pe.py"), "i386=" + output],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_makesetup_brands_the_packed_launcher_exe(self):
        _, files = self.members()
        with zipfile.ZipFile(ARCHIVES["win32"][0]) as archive:
            for exe in ("launcher.exe", "update.exe"):
                with self.subTest(exe=exe):
                    self.assertEqual(files[exe], archive.read("launcher-%s-win32/%s" % (OPTIONS.version, exe)))
        with tempfile.TemporaryDirectory() as scratch:
            with tarfile.open(self.path, "r:gz") as archive:
                archive.extractall(scratch)
            folder = os.path.join(scratch, self.top)
            app = os.path.join(folder, "MyApp")
            for stand_in in ("jre/bin/javaw.exe", "lib/app.jar", "lib/deps.jar", "updater/updater.jar"):
                os.makedirs(os.path.dirname(os.path.join(app, stand_in)), exist_ok=True)
                shutil.copy(os.path.join(folder, "launcher.exe"), os.path.join(app, stand_in))
            # The Linux sample's boot file names jre/bin/java: the Windows one is what makesetup takes.
            with zipfile.ZipFile(ARCHIVES["win32"][0]) as archive:
                for name in SAMPLE:
                    with open(os.path.join(folder, name), "wb") as f:
                        f.write(archive.read("launcher-%s-win32/%s" % (OPTIONS.version, name)))
            result = subprocess.run([os.path.join(folder, "makesetup"), app, "--name", "MyApp", "--vendor", "Example",
                                     "--version", OPTIONS.version], capture_output=True, text=True, cwd=scratch)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(result.stdout.startswith("MyApp-%s-setup.exe: installer of MyApp" % OPTIONS.version))

    def test_bootcheck_reads_the_sample_as_taught(self):
        # The sample holds boot files only: bootcheck reads both without a
        # reader error and misses exactly the JRE and the jars the shipper adds.
        with tempfile.TemporaryDirectory() as scratch:
            with tarfile.open(self.path, "r:gz") as archive:
                archive.extractall(scratch)
            folder = os.path.join(scratch, self.top)
            result = subprocess.run([os.path.join(folder, "bootcheck"), "--json", os.path.join(folder, "MyApp")],
                                    capture_output=True, text=True)
        self.assertEqual(result.returncode, 1, result.stderr)
        report = json.loads(result.stdout)
        app = os.path.join(folder, "MyApp") + "/"
        java = app + "jre/bin/java"
        self.assertEqual([(b["role"], [f["code"] for f in b["findings"]], b["commandLine"])
                          for b in report["bootFiles"]], [
            ("main application", ["BC110", "BC206", "BC206"],
             java + " -Xmn16m -Xms64m -Xmx512m -cp lib/app.jar:lib/deps.jar -Dfile.encoding=UTF-8"
                    " -Dapp.mode=desktop com.example.Main"),
            ("updater", ["BC110", "BC206"],
             java + " -Xmn8m -Xms16m -Xmx64m -cp updater.jar -Dfile.encoding=UTF-8 com.example.Updater"),
        ])


def main():
    global OPTIONS, EPOCH, BUILD_ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--tree-exes", nargs=len(WINDOWS_EXES), required=True)
    parser.add_argument("--tree-plain", type=int, choices=(0, 1), required=True)
    OPTIONS, rest = parser.parse_known_args()
    work = os.path.abspath(OPTIONS.work_dir)
    EPOCH = commitTime()
    BUILD_ROOT = os.path.join(work, "first")
    first = runRelease(BUILD_ROOT, os.path.join(work, "first-out"))
    second = None
    if not OPTIONS.tree_plain:
        second = runRelease(os.path.join(work, "second", "another-build-folder"), os.path.join(work, "second-out"))
    for kind, suffix in (("win32", "win32.zip"), ("linux", "linux-x86_64.tar.gz")):
        name = "launcher-%s-%s" % (OPTIONS.version, suffix)
        ARCHIVES[kind] = (os.path.join(first, name), second and os.path.join(second, name))
    sys.exit(0 if unittest.main(argv=[sys.argv[0]] + rest, exit=False).result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
