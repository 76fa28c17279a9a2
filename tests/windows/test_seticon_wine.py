#!/usr/bin/python3
"""seticon.exe under Wine on the launcher of this tree, as a vendor runs it
from the release zip: the same bytes as the native seticon, the icon as
Windows' own extraction reads it, the PE checks and checksum, a launch of the
result, signing it with the signing hook, and refusals that write nothing.

Usage: test_seticon_wine.py --wine WINE --prefix DIR --seticon EXE
       --native-seticon EXE --launcher EXE --arch i386|amd64 --probe EXE
       --java-stub EXE --root SOURCE_DIR --work-dir DIR
"""

import argparse
import os
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "seticon"))
import icon_files  # noqa: E402
import wine_env  # noqa: E402
from icon_files import IMAGE_SIZE  # noqa: E402

import pefile  # noqa: E402

OPTIONS = None
FOLDER = "マイ アプリ"  # on drive D:, blanks and letters outside every ANSI code page
BOOT = ('<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n  <item key="java" value="${APP_DIR}java.exe"/>\n'
        '  <item key="main" value="demo.App"/>\n</boot>\n')


def runWine(args):
    """(exit code, stdout, stderr) of a Windows console program."""
    code, out, err = wine_env.runConsole([OPTIONS.wine] + list(args), wine_env.wineEnvironment(OPTIONS.prefix))
    return (code, out.decode("utf-8", errors="replace").replace("\r\n", "\n"),
            err.decode("utf-8", errors="replace").replace("\r\n", "\n"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SetIconUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.drive = os.path.join(OPTIONS.work_dir, "d")
        shutil.rmtree(cls.drive, ignore_errors=True)
        cls.folder = os.path.join(cls.drive, FOLDER)
        os.makedirs(os.path.join(cls.folder, "config"))
        wine_env.mapDrive(OPTIONS.prefix, "d", cls.drive)
        shutil.copy(OPTIONS.launcher, os.path.join(cls.drive, "launcher.exe"))
        shutil.copy(OPTIONS.seticon, os.path.join(cls.drive, "seticon.exe"))
        source = os.path.join(cls.drive, "source.png")
        subprocess.run(["convert", "-size", "256x256", "gradient:#f0c020-#2030a0", "(", "-size", "256x256",
                        "radial-gradient:white-black", "-level", "0,60%", ")", "-alpha", "off", "-compose",
                        "CopyOpacity", "-composite", "PNG32:" + source], check=True)
        entries = []
        for side, bits in ((16, 4), (48, 32), (256, "png")):
            if bits == "png":
                entries.append((side, 32, read(source)))
            else:
                entries.append((side, bits, icon_files.bmpEntry(icon_files.rawRgba(source, side, "Mitchell"), side, bits)))
        cls.ico = os.path.join(cls.drive, "アイコン 1.ico")
        with open(cls.ico, "wb") as f:
            f.write(icon_files.icoFile(entries))
        cls.output = os.path.join(cls.folder, "MyApp.exe")
        cls.result = runWine(["D:\\seticon.exe", "D:\\launcher.exe", "D:\\アイコン 1.ico", "D:\\%s\\MyApp.exe" % FOLDER])

    def test_sets_the_icon_with_the_native_tools_bytes(self):
        self.assertEqual(self.result[:2], (0, "MyApp.exe: icon set from アイコン 1.ico (256x256 PNG image, 3 of 3, "
                                           "scaled to 128x128); sign MyApp.exe now if you sign\n"), self.result[2])
        native = os.path.join(OPTIONS.work_dir, "native.exe")
        result = subprocess.run([OPTIONS.native_seticon, OPTIONS.launcher, self.ico, native], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read(self.output), read(native))

    def test_windows_extracts_the_pixels_written(self):
        pixels = os.path.join(self.drive, "pixels.rgba")
        shutil.copy(OPTIONS.probe, os.path.join(self.drive, "icon_probe.exe"))
        code, _, err = runWine(["D:\\icon_probe.exe", "D:\\%s\\MyApp.exe" % FOLDER, "D:\\pixels.rgba"])
        self.assertEqual(code, 0, err)
        written = icon_files.iconPixels(icon_files.iconImage(read(self.output))[1])
        extracted = read(pixels)
        self.assertEqual([extracted[i + 3] for i in range(0, len(extracted), 4)],
                         [written[i + 3] for i in range(0, len(written), 4)], "mask")
        self.assertEqual([extracted[i:i + 3] for i in range(0, len(extracted), 4) if written[i + 3]],
                         [written[i:i + 3] for i in range(0, len(written), 4) if written[i + 3]], "colour")
        self.assertGreater(written.count(b"\xff"), 0)

    def test_the_file_keeps_its_properties(self):
        launcher, output = read(OPTIONS.launcher), read(self.output)
        result = subprocess.run([sys.executable, os.path.join(HERE, "check_pe.py"),
                                 "%s=%s" % (OPTIONS.arch, self.output)], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        pe = pefile.PE(self.output)
        self.assertTrue(pe.verify_checksum())
        iconAt = icon_files.iconImage(launcher)[0]
        checksumAt = pe.OPTIONAL_HEADER.get_file_offset() + 64
        self.assertEqual(len(output), len(launcher))
        self.assertEqual([i for i in range(len(output)) if output[i] != launcher[i] and not (
            iconAt + 40 <= i < iconAt + IMAGE_SIZE or checksumAt <= i < checksumAt + 4)], [])

    def test_the_output_still_launches(self):
        app = os.path.join(OPTIONS.work_dir, "app")
        shutil.rmtree(app, ignore_errors=True)
        os.makedirs(os.path.join(app, "config"))
        shutil.copy(self.output, os.path.join(app, "MyApp.exe"))
        shutil.copy(OPTIONS.java_stub, os.path.join(app, "java.exe"))
        with open(os.path.join(app, "config", "boot.xml"), "w") as f:
            f.write(BOOT)
        wine_env.mapDrive(OPTIONS.prefix, "e", app)
        code, _, boxes, _ = wine_env.runWindows(OPTIONS.wine, OPTIONS.prefix, ["E:\\MyApp.exe"])
        self.assertEqual((code, boxes), (0, []))
        with open(os.path.join(app, "calls.log"), encoding="utf-8", errors="replace") as f:
            self.assertIn("demo.App", f.read())

    def test_signed_by_the_hook_it_verifies_and_is_refused(self):
        folder = os.path.join(OPTIONS.work_dir, "signing")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=seticon test", "-keyout", key, "-out", cert], check=True, capture_output=True)
        signed = os.path.join(self.drive, "signed.exe")
        shutil.copy(self.output, signed)
        result = subprocess.run(["cmake", "-DOSSLSIGNCODE=" + shutil.which("osslsigncode"), "-DEXE=" + signed,
                                 "-DCERT=" + cert, "-DKEY=" + key, "-P",
                                 os.path.join(OPTIONS.root, "cmake", "sign.cmake")], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed], capture_output=True,
                                text=True)
        self.assertIn("Signature verification: ok", result.stdout, result.stdout + result.stderr)
        before = sorted(os.listdir(self.drive))
        code, out, err = runWine(["D:\\seticon.exe", "D:\\signed.exe", "D:\\アイコン 1.ico", "D:\\again.exe"])
        self.assertEqual((code, out, err), (1, "", "seticon: error: D:\\signed.exe is signed (it has a certificate "
                         "table), and a new icon would break the signature; run seticon on the unsigned exe and "
                         "sign its output afterwards\n"))
        shutil.copy(OPTIONS.java_stub, os.path.join(self.drive, "java.exe"))
        code, out, err = runWine(["D:\\seticon.exe", "D:\\java.exe", "D:\\アイコン 1.ico", "D:\\again.exe"])
        self.assertEqual((code, out, err), (1, "", "seticon: error: D:\\java.exe is not a launcher exe: it has no "
                         "resources; give the launcher.exe of the release (or a copy seticon made of it)\n"))
        self.assertEqual(sorted(os.listdir(self.drive)), sorted(before + ["java.exe"]))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    for name in ("wine", "prefix", "seticon", "native-seticon", "launcher", "probe", "java-stub", "root",
                 "work-dir"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--arch", choices=("i386", "amd64"), required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    wine_env.exitUnlessRuns(OPTIONS.wine, "seticon.exe under Wine")
    if not os.access(OPTIONS.native_seticon, os.X_OK):
        sys.exit("%s missing: build the native preset first" % OPTIONS.native_seticon)
    os.makedirs(OPTIONS.work_dir, exist_ok=True)
    wine_env.preparePrefixOrSkip(OPTIONS.wine, OPTIONS.prefix, "seticon.exe under Wine")
    sys.exit(wine_env.runTests(OPTIONS.wine, OPTIONS.prefix, [sys.argv[0]] + rest))


if __name__ == "__main__":
    main()
