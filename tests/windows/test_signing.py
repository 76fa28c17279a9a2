#!/usr/bin/python3
"""The signing hook: a build tree configured with a throwaway self-signed
certificate (made here with openssl) and a vendor's icon (LAUNCHER_ICON)
signs launcher.exe, bootcheck.exe and seticon.exe; osslsigncode verifies the
signatures, the PE checks still hold, and with the signature taken off each
exe is the unsigned one of the tree under test, the launcher with the icon
that seticon puts on it.

Usage: test_signing.py --root SOURCE_DIR --launcher EXE --bootcheck EXE --seticon EXE --tree-signed 0|1
       --work-dir DIR
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
OPTIONS = None
SUBJECT = "/CN=Launcher Test Signing"
SIGNING_EPOCH = "1700000000"
SIGNING_TIME = "Signing time: Nov 14 22:13:20 2023 GMT"
IMAGE_DIRECTORY_ENTRY_SECURITY = 4

EXES = [("launcher.exe", []), ("bootcheck.exe", ["--console"]), ("seticon.exe", ["--console"])]


def run(args, **kwargs):
    return subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True, **kwargs)


def certificateTableSize(path):
    pe = pefile.PE(path, fast_load=True)
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_SECURITY].Size


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def configure(build, *options):
    return run(["cmake", "-S", OPTIONS.root, "-B", build,
                "--toolchain", os.path.join(OPTIONS.root, "cmake", "toolchain-mingw-i686.cmake"),
                "-DCMAKE_BUILD_TYPE=MinSizeRel"] + list(options))


def withoutSignature(path, out):
    result = run(["osslsigncode", "remove-signature", "-in", path, "-out", out])
    if result.returncode != 0:
        raise AssertionError("remove-signature %s: %s" % (path, result.stdout + result.stderr))
    return out


class SignedBuild(unittest.TestCase):
    def test_signatures_verify(self):
        for exe, _ in EXES:
            with self.subTest(exe=exe):
                result = run(["osslsigncode", "verify", "-CAfile", CERT, "-in", os.path.join(BUILD, exe)])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("Signature verification: ok", result.stdout)
                self.assertIn("Subject: " + SUBJECT, result.stdout)
                self.assertIn(SIGNING_TIME, result.stdout)

    def test_pe_checks_still_hold(self):
        for exe, kind in EXES:
            with self.subTest(exe=exe):
                self.assertGreater(certificateTableSize(os.path.join(BUILD, exe)), 0)
                result = run([sys.executable, os.path.join(HERE, "check_pe.py")] + kind
                             + ["i386=" + os.path.join(BUILD, exe)])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_only_the_signature_was_added(self):
        for (exe, _), unsigned in zip(EXES, (OPTIONS.launcher, OPTIONS.bootcheck, OPTIONS.seticon)):
            with self.subTest(exe=exe):
                if OPTIONS.tree_signed:
                    unsigned = withoutSignature(unsigned, os.path.join(OPTIONS.work_dir, "reference-" + exe))
                else:
                    # Without the options nothing changes: no certificate table.
                    self.assertEqual(certificateTableSize(unsigned), 0)
                if exe == "launcher.exe":
                    # The icon went on before the signature.
                    withIcon = os.path.join(OPTIONS.work_dir, "icon-" + exe)
                    result = run([os.path.join(BUILD, "host-tools", "seticon", "seticon"), unsigned, ICON, withIcon])
                    self.assertEqual(result.returncode, 0, result.stderr)
                    unsigned = withIcon
                stripped = withoutSignature(os.path.join(BUILD, exe), os.path.join(OPTIONS.work_dir, "stripped-" + exe))
                self.assertEqual(digest(stripped), digest(unsigned))

    def test_signing_again_gives_the_same_bytes(self):
        # A fixed signing time and a deterministic signature: signed releases
        # stay reproducible while no timestamp server is asked.
        copy = os.path.join(OPTIONS.work_dir, "resigned-launcher.exe")
        withoutSignature(os.path.join(BUILD, "launcher.exe"), copy)
        result = run(["cmake", "-DOSSLSIGNCODE=" + shutil.which("osslsigncode"), "-DEXE=" + copy,
                      "-DCERT=" + CERT, "-DKEY=" + KEY, "-P", os.path.join(OPTIONS.root, "cmake", "sign.cmake")],
                     env=dict(os.environ, SOURCE_DATE_EPOCH=SIGNING_EPOCH))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(digest(copy), digest(os.path.join(BUILD, "launcher.exe")))

    def test_an_up_to_date_build_does_not_sign_again(self):
        before = digest(os.path.join(BUILD, "launcher.exe"))
        result = run(["cmake", "--build", BUILD, "--target", "shipped_exes"])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("Signing", result.stdout)
        self.assertEqual(digest(os.path.join(BUILD, "launcher.exe")), before)


class Misconfigured(unittest.TestCase):
    def test_refused_at_configure_time(self):
        missing = os.path.join(OPTIONS.work_dir, "missing.pem")
        for options, message in [
            (["-DLAUNCHER_SIGN_CERT=" + CERT], "signing needs both LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY"),
            (["-DLAUNCHER_SIGN_KEY=" + KEY], "signing needs both LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY"),
            (["-DLAUNCHER_SIGN_CERT=" + CERT, "-DLAUNCHER_SIGN_KEY=" + missing], "signing: %s does not exist" % missing),
        ]:
            with self.subTest(options=options):
                build = os.path.join(OPTIONS.work_dir, "misconfigured")
                shutil.rmtree(build, ignore_errors=True)
                result = configure(build, *options)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, " ".join(result.stderr.split()))


def main():
    global OPTIONS, BUILD, CERT, KEY, ICON
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--bootcheck", required=True)
    parser.add_argument("--seticon", required=True)
    parser.add_argument("--tree-signed", type=int, choices=(0, 1), required=True)
    parser.add_argument("--work-dir", required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.work_dir = os.path.abspath(OPTIONS.work_dir)
    shutil.rmtree(OPTIONS.work_dir, ignore_errors=True)
    os.makedirs(OPTIONS.work_dir)
    CERT = os.path.join(OPTIONS.work_dir, "cert.pem")
    KEY = os.path.join(OPTIONS.work_dir, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", SUBJECT, "-keyout", KEY, "-out", CERT], check=True, capture_output=True)

    ICON = os.path.join(OPTIONS.work_dir, "vendor icon.png")
    subprocess.run(["convert", "-size", "64x64", "gradient:teal-navy", "PNG24:" + ICON], check=True)

    BUILD = os.path.join(OPTIONS.work_dir, "build")
    result = configure(BUILD, "-DLAUNCHER_SIGN_CERT=" + CERT, "-DLAUNCHER_SIGN_KEY=" + KEY, "-DLAUNCHER_ICON=" + ICON)
    if result.returncode != 0:
        sys.exit("configure failed:\n" + result.stdout + result.stderr)
    build = run(["cmake", "--build", BUILD, "--target", "shipped_exes", "-j", "2"],
                env=dict(os.environ, SOURCE_DATE_EPOCH=SIGNING_EPOCH))
    if build.returncode != 0:
        sys.exit("build failed:\n" + build.stdout + build.stderr)
    print("\n".join(line for line in build.stdout.splitlines() if "Signing" in line))
    sys.exit(0 if unittest.main(argv=[sys.argv[0]] + rest, exit=False).result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
