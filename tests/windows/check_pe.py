#!/usr/bin/python3
"""Checks the PE properties of the shipped exes.

Usage: check_pe.py [--console | --updater] [--no-path DIR ...] ARCH=EXE [ARCH=EXE ...]
       (ARCH: i386 or amd64)

Every exe: its architecture's machine and no link timestamp. launcher.exe
(the default): GUI subsystem, the DLLs it imports at load time and those it
names for loading on demand, and a resource section holding exactly icon
group 1 with one 128x128 24-bit BMP image. With --console, a tool shipped
beside it (bootcheck.exe, seticon.exe): console subsystem, and KERNEL32 and
only the system's DLLs imported. With --updater, update.exe: GUI subsystem,
only the system's DLLs imported (its transport, hashes and window among
them), and as its only resource the manifest that has Windows run it as the
user who started it. --no-path: a folder (the source or build tree) whose
path must not be inside the exe, in narrow or wide letters.
"""

import os
import re
import struct
import sys
import unittest

import pefile

SYSTEM_DLLS = {"KERNEL32", "USER32", "ADVAPI32", "MSVCRT"}
# The launcher starts with the kernel and the C runtime alone; the boxes load
# USER32 (with the GUI DLLs it brings) from the system folder when one is shown.
LOAD_TIME_DLLS = {"KERNEL32", "MSVCRT"}
ON_DEMAND_DLLS = {"USER32"}
# Every DLL the exe names, also for GetModuleHandleW (NTDLL, which every
# process has) or the C runtime's own on-demand loads, is the system's.
NAMED_DLLS_ALLOWED = SYSTEM_DLLS | {"NTDLL"}

# update.exe's transport (WinHTTP), hashes and signature check (BCrypt,
# CRYPT32) and progress window (COMCTL32, GDI32) are the system's too.
UPDATER_DLLS = SYSTEM_DLLS | {"GDI32", "COMCTL32", "WINHTTP", "BCRYPT", "CRYPT32", "SHELL32"}
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]

MACHINES = {
    "i386": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
    "amd64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"],
}

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
ICON_SIZE = 128
ICON_BITS = 24
BMP_HEADER_SIZE = 40
# Colour rows (3 bytes a pixel) plus the 1-bit transparency mask.
ICON_IMAGE_SIZE = BMP_HEADER_SIZE + ICON_SIZE * ICON_SIZE * 3 + ICON_SIZE * ICON_SIZE // 8

EXES = []  # (arch, path), from the command line
CONSOLE = False  # --console
UPDATER = False  # --updater
NO_PATHS = []  # --no-path


def importedDlls(pe):
    names = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode("ascii").upper()
        names.add(name[:-4] if name.endswith(".DLL") else name)
    for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        names.add("delay:" + entry.dll.decode("ascii").upper())
    return names


_WIDE_DLL_NAME = re.compile(rb"(?:[A-Za-z0-9_]\x00){1,32}\.\x00[dD]\x00[lL]\x00[lL]\x00")


def namedDlls(pe):
    """The DLLs named in the image as UTF-16 text, the form LoadLibraryExW
    and GetModuleHandleW take, without ".DLL"."""
    data = pe.__data__
    names = set()
    for match in _WIDE_DLL_NAME.finditer(data):
        name = match.group().decode("utf-16-le").upper()[:-4]
        # The last letter of a narrow string and its NUL read as one wide character.
        if match.start() > 0 and data[match.start() - 1] != 0:
            name = name[1:]
        names.add(name)
    return names


def resourceTree(pe):
    """{type id: {name id: [(language id, bytes)]}} of the whole resource section."""
    tree = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return tree
    for typeEntry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        names = tree.setdefault(typeEntry.id if typeEntry.id is not None else str(typeEntry.name), {})
        for nameEntry in typeEntry.directory.entries:
            key = nameEntry.id if nameEntry.id is not None else str(nameEntry.name)
            languages = names.setdefault(key, [])
            for languageEntry in nameEntry.directory.entries:
                data = languageEntry.data.struct
                languages.append((languageEntry.id, pe.get_data(data.OffsetToData, data.Size)))
    return tree


class PeProperties(unittest.TestCase):
    def test_every_exe(self):
        self.assertTrue(EXES, "no exe given")
        subsystem = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI" if CONSOLE else "IMAGE_SUBSYSTEM_WINDOWS_GUI"]
        for arch, path in EXES:
            pe = pefile.PE(path)
            data = bytes(pe.__data__)
            for folder in NO_PATHS:
                with self.subTest(exe=path, check="no path of " + folder):
                    for form in (folder.encode("utf-8"), folder.encode("utf-16-le")):
                        self.assertFalse(form in data, "%r is inside the exe" % form)
            with self.subTest(exe=path, check="machine"):
                self.assertEqual(pe.FILE_HEADER.Machine, MACHINES[arch])
            with self.subTest(exe=path, check="subsystem"):
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, subsystem)
            with self.subTest(exe=path, check="timestamp"):
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0,
                                 "a link timestamp makes builds differ")
            if UPDATER:
                with self.subTest(exe=path, check="imports"):
                    dlls = importedDlls(pe)
                    self.assertIn("KERNEL32", dlls)
                    self.assertLessEqual(dlls, UPDATER_DLLS, "imports beyond the system's own DLLs")
                with self.subTest(exe=path, check="manifest"):
                    tree = resourceTree(pe)
                    self.assertEqual(list(tree), [RT_MANIFEST], "resources other than the manifest")
                    self.assertEqual(list(tree[RT_MANIFEST]), [1], "the manifest Windows reads at start is id 1")
                    manifest = tree[RT_MANIFEST][1][0][1]
                    self.assertIn(b'requestedExecutionLevel level="asInvoker"', manifest,
                                  "without it Windows takes update.exe for an installer and asks for an administrator")
                continue
            if CONSOLE:
                with self.subTest(exe=path, check="imports"):
                    dlls = importedDlls(pe)
                    self.assertIn("KERNEL32", dlls)
                    self.assertLessEqual(dlls, SYSTEM_DLLS, "imports beyond the system's own DLLs")
                continue
            with self.subTest(exe=path, check="load-time imports"):
                self.assertEqual(importedDlls(pe), LOAD_TIME_DLLS)
            with self.subTest(exe=path, check="on-demand DLLs"):
                named = namedDlls(pe)
                self.assertLessEqual(ON_DEMAND_DLLS, named, "the boxes' DLL not named for loading")
                self.assertLessEqual(named, NAMED_DLLS_ALLOWED, "names DLLs beyond the system's own")
            with self.subTest(exe=path, check="resources"):
                self.checkIcon(resourceTree(pe))

    def checkIcon(self, tree):
        self.assertEqual(sorted(tree), sorted([RT_ICON, RT_GROUP_ICON]),
                         "resources other than the icon (manifest, version block, ...)")
        self.assertEqual(list(tree[RT_GROUP_ICON]), [1], "icon group must be 1 and alone")
        groups = tree[RT_GROUP_ICON][1]
        self.assertEqual(len(groups), 1, "icon group in more than one language")
        group = groups[0][1]

        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        self.assertEqual(len(group), 6 + 14)
        width, height, colours, _, planes, bits, size, iconId = struct.unpack_from("<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, planes, bits), (ICON_SIZE, ICON_SIZE, 0, 1, ICON_BITS))

        self.assertEqual(list(tree[RT_ICON]), [iconId], "icon images not in the group")
        images = tree[RT_ICON][iconId]
        self.assertEqual(len(images), 1)
        image = images[0][1]
        self.assertNotEqual(image[:8], b"\x89PNG\r\n\x1a\n", "image must be a BMP, not PNG")
        self.assertEqual(len(image), ICON_IMAGE_SIZE)
        self.assertEqual(size, ICON_IMAGE_SIZE)
        headerSize, bmpWidth, bmpHeight, bmpPlanes, bmpBits, compression = struct.unpack_from("<IiiHHI", image, 0)
        # The BMP height counts colour rows and mask rows together.
        self.assertEqual((headerSize, bmpWidth, bmpHeight, bmpPlanes, bmpBits, compression),
                         (BMP_HEADER_SIZE, ICON_SIZE, 2 * ICON_SIZE, 1, ICON_BITS, 0))
        colourRows = image[BMP_HEADER_SIZE:BMP_HEADER_SIZE + ICON_SIZE * ICON_SIZE * 3]
        self.assertGreater(len(set(colourRows[i:i + 3] for i in range(0, len(colourRows), 3))), 100,
                           "icon is (nearly) a single colour")


def main():
    global CONSOLE, UPDATER
    arguments = sys.argv[1:]
    CONSOLE = arguments[:1] == ["--console"]
    UPDATER = arguments[:1] == ["--updater"]
    arguments = arguments[1:] if CONSOLE or UPDATER else arguments
    while arguments[:1] == ["--no-path"] and len(arguments) > 1:
        NO_PATHS.append(arguments[1])
        arguments = arguments[2:]
    for argument in arguments:
        arch, _, path = argument.partition("=")
        if arch not in MACHINES or not path:
            sys.exit("usage: %s [--console | --updater] [--no-path DIR ...] ARCH=EXE ...  (ARCH: %s)"
                     % (os.path.basename(sys.argv[0]), ", ".join(sorted(MACHINES))))
        EXES.append((arch, path))
    unittest.main(argv=[sys.argv[0], "-v"])


if __name__ == "__main__":
    main()
