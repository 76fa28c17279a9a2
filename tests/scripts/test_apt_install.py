#!/usr/bin/env python3
"""scripts/apt-install.sh against package indexes that fail to download.

Each row gives apt a scratch configuration of its own (APT_CONFIG): a local
repository that holds the wanted packages, plus sources that break the way
real mirrors do: an i386 index whose size is not the one its Release file
names (a mirror mid-sync), or an i386 source at a path that does not exist.
The install is simulated (APT::Get::Simulate), so nothing on this machine
changes; apt reads the machine's own dpkg status to see what is installed,
or a row's own where it says what is installed.

The Multi-Arch: same rows give amd64 a security source with a newer build of
a library that i386 lacks, as when bookworm-security's i386 index would not
download: one row with the library not installed, one with the newer amd64
build installed and a second such library that the install does not need.
"""
import collections
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
APT_INSTALL = os.path.join(ROOT, "scripts", "apt-install.sh")

PROBE = "launcher-apt-probe"
BROKEN = "launcher-apt-probe-broken"
# Packages of the good repository: (name, control fields beyond the usual ones).
PACKAGES = [(PROBE, {}), (BROKEN, {"Depends": "launcher-apt-no-such-lib"})]

GOOD = "deb [trusted=yes] file:{repo}/good ./"
# The Release file names another size for the index, as during a mirror's sync.
MID_SYNC = "deb [trusted=yes arch=i386] file:{repo}/mid-sync ./"
NOWHERE = "deb [trusted=yes arch=i386] file:{repo}/no-such-folder ./"

INDEX_FAILED = "apt-get update failed (try 1 of 2): "
LISTS_KEPT = "going on with the package lists apt has"

SKEW = "launcher-apt-skew"
OTHER = "launcher-apt-other"
# A Multi-Arch: same library on both architectures, the programs that need it,
# and an alternative that keeps OTHER:i386 out of the install.
def multiArch(name, version, arch, **fields):
    return (name, dict({"Version": version, "Architecture": arch, "Multi-Arch": "same"}, **fields))
MAIN_PACKAGES = [multiArch(SKEW, "1.0", "amd64"), multiArch(SKEW, "1.0", "i386"),
                 multiArch(OTHER, "1.0", "amd64"), multiArch(OTHER, "1.0", "i386"),
                 ("launcher-apt-alt", {"Architecture": "i386"}),
                 ("launcher-apt-probe64", {"Architecture": "amd64", "Depends": SKEW}),
                 ("launcher-apt-probe32", {"Architecture": "i386",
                                           "Depends": "%s, launcher-apt-alt | %s" % (SKEW, OTHER)})]
SECURITY_PACKAGES = [multiArch(SKEW, "1.1", "amd64"), multiArch(OTHER, "1.1", "amd64")]
MAIN = "deb [trusted=yes] file:{repo}/main ./"
SECURITY_AMD64 = "deb [trusted=yes arch=amd64] file:{repo}/security ./"
LINED_UP = "Inst launcher-apt-probe32:i386 "
WHY_SKEW = "(i386 offers 1.0 only; Multi-Arch: same needs one version on both)"

Row = collections.namedtuple("Row", "what sources wanted status errLines outText installed", defaults=((),))
# (what, sources, wanted packages, exit status, lines expected on stderr, text
# expected on stdout, packages installed at another version than the machine's)
ROWS = [Row(*row) for row in [
    ("every index downloads", [GOOD], [PROBE], 0, [], "Inst " + PROBE),
    ("an i386 index that does not match its Release file (a mirror mid-sync) stops nothing", [GOOD, MID_SYNC], [PROBE], 0,
     [INDEX_FAILED, "apt-get update failed (try 2 of 2): ", LISTS_KEPT], "Inst " + PROBE),
    ("an i386 source that does not exist stops nothing", [GOOD, NOWHERE], [PROBE], 0,
     [INDEX_FAILED, LISTS_KEPT], "Inst " + PROBE),
    ("a package no list holds is named with apt's reason", [GOOD], [PROBE, "launcher-apt-no-such-package"], 1,
     ["could not install launcher-apt-no-such-package: E: Unable to locate package launcher-apt-no-such-package"],
     ""),
    ("an unmet dependency is named, and the failed index quoted", [GOOD, MID_SYNC], [BROKEN], 1,
     [INDEX_FAILED, "could not install %s: %s : Depends: launcher-apt-no-such-lib but it is not installable"
      % (BROKEN, BROKEN), "(the package lists may be incomplete: apt-get update said: E: Failed to fetch "],
     ""),
    ("installed packages ask nothing of apt", [NOWHERE], ["dpkg", "apt"], 0, [], None),
    ("a Multi-Arch: same library newer on amd64 only is held back for both architectures", [MAIN, SECURITY_AMD64],
     ["launcher-apt-probe64", "launcher-apt-probe32:i386"], 0,
     ["holding %s back at 1.0, not 1.1 %s" % (SKEW, WHY_SKEW)], LINED_UP),
    ("an installed amd64 build that i386 lacks is downgraded, one not in the way is left alone",
     [MAIN, SECURITY_AMD64], ["launcher-apt-probe32:i386"], 0,
     ["downgrading %s from 1.1 to 1.0 %s" % (SKEW, WHY_SKEW)], LINED_UP,
     [multiArch(SKEW, "1.1", "amd64"), multiArch(OTHER, "1.1", "amd64")]),
]]


def packageFields(name, fields):
    control = {"Package": name, "Version": "1.0", "Architecture": "all",
               "Maintainer": "Test <test@example.com>", "Description": "probe for apt-install.sh"}
    control.update(fields)
    return control


def writeRepository(folder, packages, lie=False):
    """A flat repository holding packages; with lie, its Release file names a
    wrong size for the index."""
    os.makedirs(folder)
    stanzas = []
    for name, fields in packages:
        tree = os.path.join(folder, "tree")
        os.makedirs(os.path.join(tree, "DEBIAN"))
        control = packageFields(name, fields)
        with open(os.path.join(tree, "DEBIAN", "control"), "w") as f:
            f.write("".join("%s: %s\n" % item for item in control.items()))
        deb = "%s_%s_%s.deb" % (name, control["Version"], control["Architecture"])
        subprocess.run(["dpkg-deb", "--root-owner-group", "-b", tree, os.path.join(folder, deb)],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(tree)
        with open(os.path.join(folder, deb), "rb") as f:
            data = f.read()
        control.update(Filename="./" + deb, Size=str(len(data)), SHA256=hashlib.sha256(data).hexdigest())
        stanzas.append("".join("%s: %s\n" % item for item in control.items()))
    index = "\n".join(stanzas).encode()
    with open(os.path.join(folder, "Packages"), "wb") as f:
        f.write(index)
    size = len(index) + (7 if lie else 0)
    with open(os.path.join(folder, "Release"), "w") as f:
        f.write("Origin: test\nLabel: test\nSuite: %s\nArchitectures: all amd64 i386\nSHA256:\n %s %d Packages\n"
                % (os.path.basename(folder), hashlib.sha256(index).hexdigest(), size))


def scratchApt(work, sources, installed):
    """The environment of an apt that reads only this row's sources and lists,
    and with installed, a dpkg status of its own that holds just those."""
    for name in ("parts", "sources.list.d", "preferences.d", "lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(work, name), exist_ok=True)
    with open(os.path.join(work, "sources.list"), "w") as f:
        f.write("\n".join(source.format(repo=work) for source in sources) + "\n")
    settings = {"Dir::Etc::SourceList": "sources.list", "Dir::Etc::SourceParts": "sources.list.d",
                "Dir::Etc::Parts": "parts", "Dir::Etc::PreferencesParts": "preferences.d",
                "Dir::State::Lists": "lists", "Dir::Cache": "cache"}
    if installed:
        settings["Dir::State::status"] = "status"
        with open(os.path.join(work, "status"), "w") as f:
            f.write("\n".join("".join("%s: %s\n" % item for item in
                                     dict(packageFields(name, fields), Status="install ok installed").items())
                              for name, fields in installed))
    with open(os.path.join(work, "apt.conf"), "w") as f:
        for key, value in settings.items():
            f.write('%s "%s";\n' % (key, os.path.join(work, value)))
        f.write('APT::Architectures { "amd64"; "i386"; };\nAPT::Get::Simulate "true";\n'
                'Debug::NoLocking "true";\nAPT::Sandbox::User "root";\n')
    env = dict(os.environ, APT_CONFIG=os.path.join(work, "apt.conf"), APT_UPDATE_TRIES="2", APT_UPDATE_PAUSE="0")
    env.pop("LANG", None)
    env["LC_ALL"] = "C"
    return env


class AptInstall(unittest.TestCase):
    def test_rows(self):
        for what, sources, wanted, status, errLines, outText, installed in ROWS:
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                writeRepository(os.path.join(work, "good"), PACKAGES)
                writeRepository(os.path.join(work, "mid-sync"), [(PROBE, {})], lie=True)
                writeRepository(os.path.join(work, "main"), MAIN_PACKAGES)
                writeRepository(os.path.join(work, "security"), SECURITY_PACKAGES)
                why = os.path.join(work, "why.txt")
                result = subprocess.run([APT_INSTALL, "--why", why] + wanted,
                                        env=scratchApt(work, sources, installed),
                                        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
                said = result.stdout + result.stderr
                self.assertEqual(result.returncode, status, said)
                for line in errLines:
                    self.assertIn(line, result.stderr, said)
                if outText is None:
                    self.assertEqual(said, "", "nothing was missing, so nothing is asked of apt")
                else:
                    self.assertIn(outText, result.stdout, said)
                named = [line for line in result.stderr.splitlines() if line.startswith("could not install")]
                recorded = []
                if os.path.exists(why):
                    with open(why) as f:
                        recorded = f.read().splitlines()
                self.assertEqual(named, recorded, "--why records exactly the lines that name a package")
                self.assertEqual(bool(named), status != 0)
                lined = [line for line in result.stderr.splitlines() if line.startswith(("holding ", "downgrading "))]
                self.assertEqual(lined, [line for line in errLines if line.startswith(("holding ", "downgrading "))],
                                 "one line for each package held back or downgraded, and no other")


if __name__ == "__main__":
    if not shutil.which("apt-get"):
        print("SKIPPED: apt-get missing")
        sys.exit(77)
    unittest.main()
