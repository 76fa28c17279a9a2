#!/usr/bin/python3
"""seticon natively, on a PE laid out as the launcher is: images of every
accepted kind against ImageMagick's own scaling, the bytes that change, and
the inputs it refuses without writing anything.

Usage: test_seticon.py --seticon EXE --work-dir DIR
"""

import argparse
import os
import shutil
import subprocess
import sys
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import icon_files  # noqa: E402
from icon_files import SIDE, IMAGE_SIZE, RT_ICON, RT_GROUP_ICON, RT_VERSION  # noqa: E402

import pefile  # noqa: E402

OPTIONS = None

# Tolerance against ImageMagick's scaling of the same picture with the same
# filter: the two resamplers round differently, so a colour channel of an
# opaque pixel may be off by 2 levels; a mask bit may differ in at most 16
# pixels, and only where the reference's alpha lies within 96..160 of the
# half-opacity threshold 128.
MAX_COLOUR_DIFFERENCE = 2
MASK_ALPHA_BAND = (96, 160)
MAX_MASK_DIFFERENCES = 16


def convert(*args):
    subprocess.run(["convert"] + list(args), check=True, capture_output=True)


def seticon(*args):
    return subprocess.run([OPTIONS.seticon] + list(args), capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def scratch(name):
    folder = os.path.join(OPTIONS.work_dir, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def compareIcon(test, written, referencePath, filterName):
    """Asserts the icon's pixels match ImageMagick's fit of the reference."""
    reference = icon_files.rawRgba(referencePath, SIDE, filterName)
    differences, maskMismatches = [], []
    for i in range(0, SIDE * SIDE * 4, 4):
        refAlpha, opaque = reference[i + 3], written[i + 3] == 255
        if opaque != (refAlpha >= 128):
            maskMismatches.append((i // 4 % SIDE, i // 4 // SIDE, refAlpha))
        elif opaque:
            differences.extend(abs(a - b) for a, b in zip(written[i:i + 3], reference[i:i + 3]))
        else:
            test.assertEqual(written[i:i + 3], b"\0\0\0", "a transparent pixel must be black")
    test.assertTrue(differences, "no opaque pixel")
    test.assertLessEqual(max(differences), MAX_COLOUR_DIFFERENCE)
    outsideBand = [m for m in maskMismatches if not MASK_ALPHA_BAND[0] <= m[2] <= MASK_ALPHA_BAND[1]]
    test.assertEqual(outsideBand, [], "mask differs where the reference is clearly opaque or transparent")
    test.assertLessEqual(len(maskMismatches), MAX_MASK_DIFFERENCES, "mask differs in many pixels")


def makeImages(folder):
    """(row name, image path, ImageMagick's reading of the picture the icon
    must show, filter, summary part) for each kind of image."""
    p = lambda name: os.path.join(folder, name)  # noqa: E731
    disc = ["-size", "512x512", "gradient:#e03020-#2050d0", "(", "-size", "512x512", "radial-gradient:white-black",
            "-level", "0,60%", ")", "-alpha", "off", "-compose", "CopyOpacity", "-composite"]
    convert(*disc, "PNG32:" + p("rgba512.png"))
    convert("-size", "160x160", "gradient:gold-navy", "-swirl", "90", "-colors", "16",
            "-define", "png:color-type=3", "-define", "png:bit-depth=4", p("palette16.png"))
    convert("-size", "300x300", "radial-gradient:white-gray10", "-depth", "16",
            "-define", "png:color-type=0", "-define", "png:bit-depth=16", p("grey16.png"))
    convert("-size", "256x256", "gradient:orange-purple", "-swirl", "120", "-interlace", "PNG", "PNG24:" + p("interlaced.png"))
    convert("-size", "300x120", "gradient:lime-teal", "(", "-size", "300x120", "radial-gradient:white-black", ")",
            "-alpha", "off", "-compose", "CopyOpacity", "-composite", "PNG32:" + p("wide.png"))

    def entry(side, bits):
        rgba = icon_files.rawRgba(p("rgba512.png"), side, "Mitchell")
        if bits == "png":
            subprocess.run(["convert", "-size", "%dx%d" % (side, side), "-depth", "8", "rgba:-", "PNG32:" + p("e.png")],
                           input=rgba, check=True)
            with open(p("e.png"), "rb") as f:
                return (side, 32, f.read())
        return (side, bits, icon_files.bmpEntry(rgba, side, bits))

    icos = {"big.ico": [entry(48, 32), entry(256, "png"), entry(32, 8), entry(16, 4)],
            "small.ico": [entry(16, 1), entry(32, 24)]}
    for bits in (1, 4, 8, 24, 32):
        icos["bmp%d.ico" % bits] = [entry(48, bits)]
    for name, images in icos.items():
        with open(p(name), "wb") as f:
            f.write(icon_files.icoFile(images))
    return [
        ("rgba png 512", p("rgba512.png"), p("rgba512.png"), "Mitchell", "512x512, scaled to 128x128"),
        ("16-colour palette png", p("palette16.png"), p("palette16.png"), "Mitchell", "160x160, scaled to 128x128"),
        ("16-bit grey png", p("grey16.png"), p("grey16.png"), "Mitchell", "300x300, scaled to 128x128"),
        ("interlaced png", p("interlaced.png"), p("interlaced.png"), "Mitchell", "256x256, scaled to 128x128"),
        ("non-square png", p("wide.png"), p("wide.png"), "Mitchell", "300x120, scaled to 128x51 and centred"),
        ("ico with png 256 and bmp 48/32/16", p("big.ico"), p("big.ico") + "[1]", "Mitchell",
         "256x256 PNG image, 2 of 4, scaled to 128x128"),
        ("ico with 16 and 32 only", p("small.ico"), p("small.ico") + "[1]", "Catrom",
         "32x32 24-bit image, 2 of 2, scaled to 128x128"),
    ] + [("ico bmp %d-bit" % bits, p("bmp%d.ico" % bits), p("bmp%d.ico" % bits), "Catrom",
          "48x48 %d-bit image, 1 of 1, scaled to 128x128" % bits) for bits in (1, 4, 8, 24, 32)]


class Images(unittest.TestCase):
    def test_each_kind_matches_imagemagick(self):
        folder = scratch("images")
        launcher = os.path.join(folder, "launcher.exe")
        with open(launcher, "wb") as f:
            f.write(icon_files.launcherPe())
        for name, image, reference, filterName, summary in makeImages(folder):
            with self.subTest(image=name):
                output = os.path.join(folder, "MyApp.exe")
                result = seticon(launcher, image, output)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, "MyApp.exe: icon set from %s (%s); sign MyApp.exe now if you sign\n"
                                 % (os.path.basename(image), summary))
                with open(output, "rb") as f:
                    written = icon_files.iconPixels(icon_files.iconImage(f.read())[1])
                compareIcon(self, written, reference, filterName)


class TheFile(unittest.TestCase):
    def setUp(self):
        self.folder = scratch("file")
        self.image = os.path.join(self.folder, "app.png")
        convert("-size", "200x200", "radial-gradient:yellow-red", "PNG24:" + self.image)

    def test_only_the_icon_image_and_checksum_change(self):
        for kind, amd64 in (("pe32", False), ("pe32+", True)):
            with self.subTest(kind=kind):
                launcher = icon_files.launcherPe(amd64=amd64)
                path = os.path.join(self.folder, "launcher-%s.exe" % kind)
                with open(path, "wb") as f:
                    f.write(launcher)
                out = os.path.join(self.folder, "out-%s.exe" % kind)
                self.assertEqual(seticon(path, self.image, out).returncode, 0)
                with open(out, "rb") as f:
                    written = f.read()
                self.assertEqual(len(written), len(launcher))
                iconAt = icon_files.iconImage(launcher)[0]
                pe = pefile.PE(data=written)
                checksumAt = pe.OPTIONAL_HEADER.get_file_offset() + 64
                changed = [i for i in range(len(written)) if written[i] != launcher[i]]
                outside = [i for i in changed if not (iconAt + 40 <= i < iconAt + IMAGE_SIZE or
                                                       checksumAt <= i < checksumAt + 4)]
                self.assertEqual(outside, [])
                self.assertTrue(pe.verify_checksum())

    def test_same_inputs_same_bytes_also_in_place(self):
        # OUTPUT may be LAUNCHER; Japanese letters and blanks in every path.
        folder = os.path.join(self.folder, "マイ アプリ")
        os.makedirs(folder)
        launcher = os.path.join(folder, "ランチャー.exe")
        with open(launcher, "wb") as f:
            f.write(icon_files.launcherPe())
        image = os.path.join(folder, "アイコン 1.png")
        shutil.copy(self.image, image)
        first = os.path.join(folder, "出力.exe")
        self.assertEqual(seticon(launcher, image, first).returncode, 0)
        result = seticon(launcher, image, launcher)
        self.assertEqual(result.stdout, "ランチャー.exe: icon set from アイコン 1.png (200x200, scaled to 128x128); "
                                        "sign ランチャー.exe now if you sign\n")
        with open(first, "rb") as a, open(launcher, "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertEqual(sorted(os.listdir(folder)), ["アイコン 1.png", "ランチャー.exe", "出力.exe"])

    def test_an_exe_seticon_made_takes_another_icon(self):
        launcher = os.path.join(self.folder, "launcher.exe")
        with open(launcher, "wb") as f:
            f.write(icon_files.launcherPe())
        self.assertEqual(seticon(launcher, self.image, os.path.join(self.folder, "a.exe")).returncode, 0)
        convert("-size", "128x128", "xc:navy", "PNG24:" + os.path.join(self.folder, "navy.png"))
        result = seticon(os.path.join(self.folder, "a.exe"), os.path.join(self.folder, "navy.png"),
                         os.path.join(self.folder, "b.exe"))
        self.assertEqual(result.stdout, "b.exe: icon set from navy.png (128x128, used as it is); "
                                        "sign b.exe now if you sign\n")
        with open(os.path.join(self.folder, "b.exe"), "rb") as f:
            pixels = icon_files.iconPixels(icon_files.iconImage(f.read())[1])
        self.assertEqual(pixels, bytes((0, 0, 128, 255)) * SIDE * SIDE)


def pngChunk(kind, data):
    return len(data).to_bytes(4, "big") + kind + data + zlib.crc32(kind + data).to_bytes(4, "big")


class Refusals(unittest.TestCase):
    def test_each_refusal_writes_nothing(self):
        folder = scratch("refusals")
        files = {
            "launcher.exe": icon_files.launcherPe(),
            "signed.exe": icon_files.launcherPe(signed=True),
            "version.exe": icon_files.launcherPe({RT_ICON: {1: icon_files.SHIPPED_ICON},
                                                  RT_GROUP_ICON: {1: icon_files.groupBytes([(128, 24, IMAGE_SIZE, 1)])},
                                                  RT_VERSION: {1: b"\0" * 64}}),
            "two-images.exe": icon_files.launcherPe({RT_ICON: {1: icon_files.SHIPPED_ICON, 2: b"\0" * 1128},
                                                     RT_GROUP_ICON: {1: icon_files.groupBytes(
                                                         [(128, 24, IMAGE_SIZE, 1), (16, 32, 1128, 2)])}}),
            "icon-32bit.exe": icon_files.launcherPe({RT_ICON: {1: icon_files.SHIPPED_ICON},
                                                     RT_GROUP_ICON: {1: icon_files.groupBytes([(48, 32, IMAGE_SIZE, 1)])}}),
            "no-resources.exe": icon_files.launcherPe({}),
            "notes.txt": "アイコンの候補\n".encode("utf-8"),
            "huge.png": b"\x89PNG\r\n\x1a\n" + pngChunk(b"IHDR", (100000).to_bytes(4, "big") * 2 + bytes((8, 6, 0, 0, 0))),
        }
        convert("-size", "300x300", "plasma:", "-seed", "1", "PNG24:" + os.path.join(folder, "whole.png"))
        with open(os.path.join(folder, "whole.png"), "rb") as f:
            whole = f.read()
        files["cut.png"] = whole[:len(whole) // 2]
        files["cut.ico"] = icon_files.icoFile([(48, 32, b"\x28" + b"\0" * 100)])
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        shutil.copy(os.path.join(folder, "whole.png"), os.path.join(folder, "app.png"))
        locked = os.path.join(folder, "locked")
        os.makedirs(locked)
        os.chmod(locked, 0o555)
        if os.access(locked, os.W_OK):  # root writes anywhere; sysfs refuses even root
            locked = "/sys"
        notLauncher = "is not a launcher exe: %s; give the launcher.exe of the release (or a copy seticon made of it)"
        rows = [
            ("truncated png", "launcher.exe", "cut.png", "cut.png cannot be decoded as PNG (Corrupt PNG; the file is "
             "cut short or damaged); save it again from your image editor"),
            ("100,000 x 100,000 png", "launcher.exe", "huge.png", "huge.png is 100000x100000 pixels, more than the "
             "8192 a side that seticon reads; scale it down first (the icon keeps 128x128 of it)"),
            ("text file", "launcher.exe", "notes.txt", "notes.txt is neither a PNG nor an ICO file; convert it to "
             "PNG (at least 128x128, with transparency) and give that"),
            ("ico cut short", "launcher.exe", "cut.ico", "cut.ico holds no image seticon can read (image 1 has a "
             "damaged bitmap header); save the icon again with PNG or 1, 4, 8, 24 or 32-bit images, or give a PNG"),
            ("missing image", "launcher.exe", "none.png", "cannot read none.png (No such file or directory); give "
             "a PNG or ICO file"),
            ("signed exe", "signed.exe", "app.png", "signed.exe is signed (it has a certificate table), and a new "
             "icon would break the signature; run seticon on the unsigned exe and sign its output afterwards"),
            ("a version block too", "version.exe", "app.png", "version.exe " + notLauncher %
             "its resources are icon, icon group, version instead of only an icon group and its icon"),
            ("two icon images", "two-images.exe", "app.png", "two-images.exe " + notLauncher %
             "it has 2 icon resources (1, 2)"),
            ("32-bit icon", "icon-32bit.exe", "app.png", "icon-32bit.exe " + notLauncher %
             "its icon is 48x48 at 32 bits instead of 128x128 at 24 bits"),
            ("no resources", "no-resources.exe", "app.png", "no-resources.exe " + notLauncher % "it has no resources"),
            ("not a program", "notes.txt", "app.png", "notes.txt " + notLauncher %
             "it is not a Windows program (no MZ header)"),
        ]
        before = sorted(os.listdir(folder))
        for name, launcher, image, message in rows:
            with self.subTest(case=name):
                result = seticon(os.path.join(folder, launcher), os.path.join(folder, image),
                                 os.path.join(folder, "MyApp.exe"))
                self.assertEqual((result.returncode, result.stdout), (1, ""))
                self.assertEqual(result.stderr, "seticon: error: " + message.replace(
                    launcher + " ", os.path.join(folder, launcher) + " ", 1).replace(
                    image + " ", os.path.join(folder, image) + " ", 1) + "\n")
                self.assertEqual(sorted(os.listdir(folder)), before)
        with self.subTest(case="unwritable output folder"):
            output = os.path.join(locked, "MyApp.exe")
            result = seticon(os.path.join(folder, "launcher.exe"), os.path.join(folder, "app.png"), output)
            self.assertEqual((result.returncode, result.stderr), (1, "seticon: error: cannot write %s (Permission "
                             "denied); choose a folder you can write to and an OUTPUT that no program has open\n"
                             % output))
            self.assertFalse(os.path.exists(output))
            self.assertEqual(sorted(os.listdir(folder)), before)


class Usage(unittest.TestCase):
    def test_usage_errors_and_help(self):
        for args, code, stream in [((), 2, "stderr"), (("a", "b"), 2, "stderr"), (("a", "b", "c", "d"), 2, "stderr"),
                                   (("--force", "a", "b", "c"), 2, "stderr"), (("--help",), 0, "stdout")]:
            with self.subTest(args=args):
                result = seticon(*args)
                self.assertEqual(result.returncode, code)
                self.assertIn("usage: seticon LAUNCHER IMAGE OUTPUT\n", getattr(result, stream))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--seticon", required=True)
    parser.add_argument("--work-dir", required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
