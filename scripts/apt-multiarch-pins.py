#!/usr/bin/env python3
"""Lines up the versions of Multi-Arch: same packages across architectures
when apt cannot install a foreign-architecture package because one
architecture's index lags the other's (a security index that fails to
download for i386 only).

A Multi-Arch: same package must have one version on every architecture it is
installed for. When amd64 sees a newer version than i386 offers, apt gives up.
From apt's own data this finds each such package among the dependencies of
the wanted packages, and writes a preferences file that the caller gives apt
for that one install (-o Dir::Etc::Preferences=FILE):
- the release that holds the newer versions one architecture lacks is taken
  down to the priority of installed versions for that architecture, so
  apt stops chasing versions the other cannot match (the packages that depend
  on them exactly then move with them instead of being removed);
- each package still apart is pinned to the highest version both offer.
A simulated install then shows what apt would do. Pins whose
foreign-architecture package it does not install are dropped again, so no
package that is not in the way is held back or downgraded; a plan that
removes an installed package is refused.

Usage: apt-multiarch-pins.py PREFERENCES-OUT PACKAGE...
Prints one line for each package it holds back or downgrades, and exits 0
when the simulated install works; exits 1, saying why, otherwise.
"""
import functools
import re
import subprocess
import sys

PIN_ROUNDS = 5


def run(*args):
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, text=True)


def compareVersions(a, b):
    if a == b:
        return 0
    return -1 if run("dpkg", "--compare-versions", a, "lt", b).returncode == 0 else 1


def highest(versions):
    return max(versions, key=functools.cmp_to_key(compareVersions))


def apt(preferences, command, *args):
    return run(command, "-o", "Dir::Etc::Preferences=" + preferences, *args)


def closure(preferences, packages):
    """The real packages the wanted ones depend on, as (name, architecture or None for native)."""
    said = apt(preferences, "apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests",
               "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances", *packages).stdout
    return {(name, arch or None) for name, _, arch in
            (line.partition(":") for line in said.splitlines() if line and line[0] not in " <")}


def multiArchSame(preferences, qualified):
    said = apt(preferences, "apt-cache", "show", "--no-all-versions", *qualified).stdout
    same = set()
    for stanza in said.split("\n\n"):
        fields = dict(re.findall(r"^([\w-]+): (.*)$", stanza, re.M))
        if fields.get("Multi-Arch") == "same":
            same.add("%s:%s" % (fields["Package"], fields["Architecture"]))
    return same


def policies(preferences, qualified):
    """{qualified name: (installed or None, candidate or None, {version: [index lines]})}."""
    if not qualified:
        return {}
    said = apt(preferences, "apt-cache", "policy", *qualified).stdout
    blocks = [b for b in re.split(r"^(?=\S)", said, flags=re.M) if b.strip()]
    result = {}
    for name, block in zip(qualified, blocks):
        installed = re.search(r"^  Installed: (.*)$", block, re.M).group(1)
        candidate = re.search(r"^  Candidate: (.*)$", block, re.M).group(1)
        versions, current = {}, None
        for line in block.splitlines():
            version = re.match(r"^ (?:\*\*\*|   ) (\S+) -?\d+$", line)
            if version:
                current = versions.setdefault(version.group(1), [])
            elif current is not None and re.match(r"^ {8}-?\d+ ", line):
                current.append(line.split(None, 1)[1])
        result[name] = (None if installed == "(none)" else installed,
                        None if candidate == "(none)" else candidate, versions)
    return result


def releases(preferences):
    """{index line ("URL SUITE/COMPONENT ARCH Packages"): its release's pin ("o=…,a=…,…")}."""
    said = apt(preferences, "apt-cache", "policy").stdout
    found = re.findall(r"^ *-?\d+ (.+ Packages)\n +release (.*)$", said, re.M)
    return {index: ",".join(f for f in release.split(",") if not f.endswith("=")) for index, release in found}


def simulate(preferences, packages):
    """(whether apt would install the packages, what it would do)."""
    result = apt(preferences, "apt-get", "install", "-s", "-q", "--no-install-recommends", *packages)
    return result.returncode == 0, result.stdout


def skewed(preferences, packages, native, foreign):
    """{name: (native policy, foreign policy)} for each Multi-Arch: same package
    of the dependencies whose candidates differ between the architectures."""
    wanted = closure(preferences, packages)
    names = sorted(name for name, arch in wanted if arch == foreign)
    same = multiArchSame(preferences, ["%s:%s" % (name, foreign) for name in names])
    names = [name for name in names if "%s:%s" % (name, foreign) in same]
    table = policies(preferences, [q for name in names for q in ("%s:%s" % (name, native), "%s:%s" % (name, foreign))])
    apart = {}
    for name in names:
        mine, theirs = table["%s:%s" % (name, native)], table["%s:%s" % (name, foreign)]
        nativeWanted = mine[0] is not None or (name, None) in wanted
        if nativeWanted and mine[1] and theirs[1] and mine[1] != theirs[1]:
            apart[name] = (mine, theirs)
    return apart


def laggingReleases(apart, releases):
    """The pins of the releases that give one architecture a newer version the other lacks."""
    lagging = set()
    for mine, theirs in apart.values():
        ahead = mine if compareVersions(mine[1], theirs[1]) > 0 else theirs
        behind = theirs if ahead is mine else mine
        if ahead[1] not in behind[2]:
            lagging.update(releases[index] for index in ahead[2][ahead[1]] if index in releases)
    return sorted(lagging)


def releaseName(pin):
    """The release's codename or suite, as sources.list names it."""
    fields = dict(field.split("=", 1) for field in pin.split(","))
    return fields.get("n") or fields.get("a") or pin


def writePreferences(path, base, demoted, pins, native, foreign):
    with open(path, "w") as f:
        f.write(base)
        for release in demoted:
            f.write("\nPackage: *\nPin: release %s\nPin-Priority: 100\n" % release)
        for name, version in sorted(pins.items()):
            f.write("\nPackage: %s:%s %s:%s\nPin: version %s\nPin-Priority: 1001\n"
                    % (name, native, name, foreign, version))


def planned(plan):
    """{package as apt names it: (version now or None, version after)} of a simulated install."""
    return {name: (old or None, new)
            for name, old, new in re.findall(r"^Inst (\S+) (?:\[(\S+)\] )?\((\S+) ", plan, re.M)}


def explain(changes, before, apart, demoted, native, foreign):
    """One line for each package the plan takes below the version apt would have chosen."""
    lines = []
    for name, (old, new) in sorted(changes.items()):
        if ":" in name or name not in before or not before[name][1]:
            continue
        candidate = before[name][1]
        if name in apart:
            why = "%s offers %s only; Multi-Arch: same needs one version on both" % (foreign, apart[name][1][1])
        else:
            why = "%s comes from %s, whose %s versions %s lacks" % (
                candidate, " or ".join(map(releaseName, demoted)), native, foreign)
        if old and compareVersions(new, old) < 0:
            lines.append("downgrading %s from %s to %s (%s)" % (name, old, new, why))
        elif compareVersions(new, candidate) < 0:
            lines.append("holding %s back at %s, not %s (%s)" % (name, new, candidate, why))
    return lines


def narrowedPins(preferences, base, demoted, pins, packages, native, foreign):
    """(whether apt would install the packages, its plan, the pins it needs):
    pins whose foreign-architecture package the plan does not install are
    dropped while the install still works; the file is left with the pins."""
    writePreferences(preferences, base, demoted, pins, native, foreign)
    worked, plan = simulate(preferences, packages)
    for _ in range(PIN_ROUNDS):
        needed = {name: version for name, version in pins.items() if "%s:%s" % (name, foreign) in planned(plan)}
        if not worked or needed == pins:
            break
        writePreferences(preferences, base, demoted, needed, native, foreign)
        narrowerWorked, narrower = simulate(preferences, packages)
        if not narrowerWorked:
            writePreferences(preferences, base, demoted, pins, native, foreign)
            break
        pins, plan = needed, narrower
    return worked, plan, pins


def main(preferences, packages):
    native = run("dpkg", "--print-architecture").stdout.strip()
    foreigns = {p.split(":", 1)[1] for p in packages if ":" in p} - {native}
    if len(foreigns) != 1:
        print("no package of exactly one foreign architecture is wanted", file=sys.stderr)
        return 1
    foreign = foreigns.pop()
    # The machine's own preferences file stays in force beside the pins.
    base = ""
    try:
        with open(run("apt-config", "shell", "f", "Dir::Etc::Preferences/f").stdout.split("'")[1]) as f:
            base = f.read()
    except (OSError, IndexError):
        pass
    writePreferences(preferences, base, [], {}, native, foreign)
    apart = skewed(preferences, packages, native, foreign)
    if not apart:
        print("no Multi-Arch: same package has versions that %s and %s cannot share" % (native, foreign),
              file=sys.stderr)
        return 1
    demoted = laggingReleases(apart, releases(preferences))
    writePreferences(preferences, base, demoted, {}, native, foreign)
    pins = {}
    for name, (mine, theirs) in skewed(preferences, packages, native, foreign).items():
        both = set(mine[2]) & set(theirs[2])
        if both:
            pins[name] = highest(both)
    worked, plan, pins = narrowedPins(preferences, base, demoted, pins, packages, native, foreign)
    if not worked:
        print("apt cannot install %s even with %d Multi-Arch: same packages lined up"
              % (" ".join(packages), len(apart)), file=sys.stderr)
        return 1
    removed = re.findall(r"^Remv (\S+)", plan, re.M)
    if removed:
        print("lining up the Multi-Arch: same packages would remove %s: not done" % ", ".join(removed),
              file=sys.stderr)
        return 1

    changes = planned(plan)
    writePreferences(preferences, base, [], {}, native, foreign)
    before = policies(preferences, sorted(n for n in changes if ":" not in n))
    writePreferences(preferences, base, demoted, pins, native, foreign)
    for line in explain(changes, before, apart, demoted, native, foreign):
        print(line)
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print("usage: %s PREFERENCES-OUT PACKAGE..." % sys.argv[0], file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
