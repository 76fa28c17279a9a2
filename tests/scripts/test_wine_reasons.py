#!/usr/bin/env python3
"""What the Wine suites read from Wine itself. The reason a Wine suite gives
when it skips, which scripts/setup-win32-emulation.sh also prints: apt's own
words when wine32:i386 could not be installed, "this kernel refuses 32-bit x86
programs" only when starting the loader gave ENOEXEC. And a program's exit
code, which a crash in Wine's Unix teardown after the program ended must not
replace."""
import os
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import wine_env  # noqa: E402

APT_SAID = ("could not install wine32:i386: libcurl4:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not "
            "going to be installed (the package lists may be incomplete: apt-get update said: E: Failed to fetch "
            "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz File has "
            "unexpected size (374820 != 376004). Mirror sync in progress?)")
NOT_ELF = b"\x00\x01 neither a script nor a program this kernel knows"
FAILING = b"#!/bin/sh\necho 'wine: could not load kernel32.dll' >&2\nexit 3\n"

# (what, loader's name, its content or None for missing, what the set-up recorded, the reason)
ROWS = [
    ("32-bit loader missing, nothing recorded", "wine", None, None,
     "{loader} missing: wine32:i386 is not installed"),
    ("32-bit loader missing, apt's reason recorded", "wine", None, APT_SAID + "\n", APT_SAID),
    ("an empty record says nothing", "wine", None, "\n", "{loader} missing: wine32:i386 is not installed"),
    ("64-bit loader missing: the record is about wine32", "wine64", None, APT_SAID,
     "{loader} missing: wine64 is not installed"),
    ("the kernel refuses the loader (ENOEXEC)", "wine64", NOT_ELF, APT_SAID,
     "this kernel refuses 32-bit x86 programs: running {loader} gave ENOEXEC (Exec format error), and no "
     "qemu-user is registered for them with binfmt_misc"),
    ("the loader runs and fails", "wine64", FAILING, None,
     "{loader} --version failed: wine: could not load kernel32.dll"),
]


class SkipReasons(unittest.TestCase):
    def test_rows(self):
        for what, name, content, recorded, reason in ROWS:
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                loader = os.path.join(work, name)
                if content is not None:
                    with open(loader, "wb") as f:
                        f.write(content)
                    os.chmod(loader, stat.S_IRWXU)
                record = os.path.join(work, "wine32-install-failure.txt")
                if recorded is not None:
                    with open(record, "w") as f:
                        f.write(recorded)
                self.assertEqual(wine_env.whyUnavailable(loader, record), reason.format(loader=loader))


TEARDOWN_CRASH = ("Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: Assertion "
                  "`ns != LM_ID_BASE || i == nloaded' failed!")
# (what, the stand-in wine's stderr, its exit status, the exit code the suites see)
EXIT_ROWS = [
    ("the program's ExitProcess, then the teardown crashes", "0114:Call KERNEL32.ExitProcess(00000000) ret=7b0\n"
     + TEARDOWN_CRASH, 127, 0),
    ("a code other than 0 survives too", "0114:trace:relay:load_list L\"RelayInclude\"\n"
     "0114:Call KERNEL32.ExitProcess(00000002) ret=7b0\n" + TEARDOWN_CRASH, 127, 2),
    ("a child's ExitProcess is not the program's", "0114:trace:relay:load_list L\"RelayInclude\"\n"
     "011c:Call KERNEL32.ExitProcess(00000015) ret=7b0\n", 0, 0),
    ("with process ids in the trace", "0110:0114:Call KERNEL32.ExitProcess(00000003) ret=7b0\n", 3, 3),
    ("no call traced: wine's own status", "wine: could not load kernel32.dll\n", 3, 3),
]


class ExitCodes(unittest.TestCase):
    def test_rows(self):
        for what, said, status, code in EXIT_ROWS:
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                wine = os.path.join(work, "wine")
                with open(os.path.join(work, "said"), "w") as f:
                    f.write(said)
                with open(wine, "w") as f:
                    f.write("#!/bin/sh\ncat '%s/said' >&2\nexit %d\n" % (work, status))
                os.chmod(wine, stat.S_IRWXU)
                self.assertEqual(wine_env.runCaptured([wine], dict(os.environ))[0], code)


if __name__ == "__main__":
    unittest.main()
