#!/usr/bin/python3
"""Checks the PE properties of a console tool shipped next to the launcher
(bootcheck.exe): machine, console subsystem, only the system's DLLs imported,
no link timestamp.

Usage: check_console_pe.py ARCH=EXE [ARCH=EXE ...]   (ARCH: i386 or amd64)
"""

import os
import sys
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_pe import SYSTEM_DLLS, exeArguments, importedDlls  # noqa: E402

MACHINES = {"i386": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
            "amd64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]}

EXES = []  # (arch, path), from the command line


class ConsolePeProperties(unittest.TestCase):
    def test_every_exe(self):
        self.assertTrue(EXES, "no exe given")
        for arch, path in EXES:
            pe = pefile.PE(path)
            with self.subTest(exe=path, check="machine"):
                self.assertEqual(pe.FILE_HEADER.Machine, MACHINES[arch])
            with self.subTest(exe=path, check="subsystem"):
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem,
                                 pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
            with self.subTest(exe=path, check="timestamp"):
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "a link timestamp makes builds differ")
            with self.subTest(exe=path, check="imports"):
                dlls = importedDlls(pe)
                self.assertIn("KERNEL32", dlls)
                self.assertLessEqual(dlls, SYSTEM_DLLS, "imports beyond the system's own DLLs")


def main():
    EXES.extend(exeArguments(MACHINES))
    unittest.main(argv=[sys.argv[0], "-v"])


if __name__ == "__main__":
    main()
