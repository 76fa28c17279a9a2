#!/usr/bin/env python3
"""The 32-bit programs compute what their native twins compute.

i686 code that does its floating point on the x87 unit rounds through 80-bit
registers, while the native build (x86-64) uses SSE: the same sources then
give other results (seticon's resampled pixels, for one). This check fails
when
  - the code of our own sources in a linked 32-bit exe holds an x87
    instruction (the link map tells our code from the C and C++ runtime's,
    which is prebuilt and keeps its own), or
  - a 32-bit compile of our sources and a native one use different
    floating-point options (compile_commands.json of both trees).
It only reads files, so it runs on every machine, whatever its kernel runs.

Usage: check_fp_code.py --objdump OBJDUMP --root SOURCE_DIR
           --build32 TREE --native NATIVE_TREE EXE=MAP...
"""
import argparse
import json
import os
import re
import shlex
import subprocess
import sys

# Compiler options that change what floating-point code computes.
FP_OPTION = re.compile(
    r"-m(no-)?(sse[0-9.a-z]*|avx[0-9a-z]*|fma[0-9]*|80387|fpmath=.*|pc(32|64|80)|(no-)?ieee-fp|arch=.*)$"
    r"|-f(no-)?(fp-contract=.*|fast-math|unsafe-math-optimizations|associative-math|reciprocal-math"
    r"|finite-math-only|signed-zeros|trapping-math|rounding-math|excess-precision=.*|float-store"
    r"|cx-limited-range|signaling-nans)$"
    r"|-Ofast$")
# The options every compile of ours must carry: SSE2 arithmetic, no fused multiply-adds.
REQUIRED = ("-ffp-contract=off",)
REQUIRED_32 = ("-msse2", "-mfpmath=sse")
# Our sources: what the shipped programs and their tests compile of this repository.
OUR_FOLDERS = ("src", "bootcheck", "seticon", "posix")
# x87 mnemonics all begin with f; these few that do are not x87 arithmetic or moves.
NOT_X87 = {"fs", "femms", "fxsave", "fxrstor"}
RUNTIME_PREFIXES = ("/usr/",)


def fpOptions(entry):
    words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    return tuple(sorted({word for word in words if FP_OPTION.match(word)}))


def ourCompiles(tree, root):
    path = os.path.join(tree, "compile_commands.json")
    if not os.path.exists(path):
        sys.exit("%s is missing: configure that tree first (cmake --preset native / win32)" % path)
    with open(path) as f:
        entries = json.load(f)
    result = {}
    for entry in entries:
        source = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
        if source.split(os.sep)[0] in OUR_FOLDERS:
            result.setdefault(source, set()).add(fpOptions(entry))
    return result


def compareOptions(root, build32, native):
    """Returns the failures: compiles of ours whose floating-point options differ."""
    failures = []
    compiles32 = ourCompiles(build32, root)
    compilesNative = ourCompiles(native, root)
    if not compiles32 or not compilesNative:
        return ["no compile of our sources found in %s or %s" % (build32, native)]
    seen = set()
    for tree, compiles, required in ((build32, compiles32, REQUIRED + REQUIRED_32), (native, compilesNative, REQUIRED)):
        lacking = {}
        for source, optionSets in sorted(compiles.items()):
            for options in optionSets:
                seen.add(options)
                missing = " ".join(option for option in required if option not in options)
                if missing:
                    lacking.setdefault(missing, []).append(source)
        for missing, sources in sorted(lacking.items()):
            failures.append("%d of our sources in %s are compiled without %s: %s" %
                            (len(sources), tree, missing, " ".join(sources)))
    if len(seen) > 1:
        failures.append("our sources are compiled with %d different sets of floating-point options: %s" %
                        (len(seen), "; ".join(" ".join(options) or "(none)" for options in sorted(seen))))
    print("floating-point options: %d of our sources in the 32-bit tree, %d in the native one, all %s" %
          (len(compiles32), len(compilesNative),
           "with " + (" ".join(sorted(seen)[0]) or "none") if len(seen) == 1 else "NOT the same"))
    return failures


def textPieces(mapPath):
    """(start, end, origin file, section) of each input section in the map's .text."""
    pieces = []
    inText = False
    pending = None
    with open(mapPath, errors="replace") as f:
        for line in f:
            if re.match(r"^\.text\s", line) or line.strip() == ".text":
                inText = True
                continue
            if inText and re.match(r"^\.\S", line):
                break
            if not inText:
                continue
            # " .text.name 0xADDR 0xSIZE file", the name alone on a line when it is long.
            match = re.match(r"^ (\.\S+|\*\(.*)?\s*(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$", line)
            if match and (match.group(1) or pending):
                section = match.group(1) or pending
                pending = None
                start, size = int(match.group(2), 16), int(match.group(3), 16)
                # Exception tables sit in .text too; they are data, not code.
                if size and re.match(r"\.text([.$]|$)", section):
                    pieces.append((start, start + size, match.group(4).strip(), section))
                continue
            match = re.match(r"^ (\.\S+)\s*$", line)
            pending = match.group(1) if match else None
    return sorted(pieces)


def isOurs(origin, buildDir):
    if origin.startswith(RUNTIME_PREFIXES):
        return False
    if re.search(r"\.ltrans\d*\.ltrans\.o$", origin) or os.path.abspath(origin).startswith(buildDir + os.sep):
        return True
    # Relative object paths in the map are relative to the folder the link ran in, inside the tree.
    if not os.path.isabs(origin):
        return True
    raise SystemExit("cannot tell whose code %s is" % origin)


def countX87(objdump, exe, mapPath, buildDir):
    """Counts instructions and x87 instructions in our code and in the runtime's."""
    pieces = textPieces(mapPath)
    if not pieces:
        raise SystemExit("%s lists no .text sections" % mapPath)
    counts = {True: [0, 0], False: [0, 0]}
    x87Sections = {}
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-j", ".text", exe],
                             check=True, capture_output=True, text=True).stdout
    index = 0
    for line in listing.splitlines():
        match = re.match(r"^\s+([0-9a-f]+):\s+(\S+)", line)
        if not match:
            continue
        address = int(match.group(1), 16)
        while index < len(pieces) and pieces[index][1] <= address:
            index += 1
        if index == len(pieces) or address < pieces[index][0]:
            continue  # padding between sections
        start, end, origin, section = pieces[index]
        ours = isOurs(origin, buildDir)
        mnemonic = match.group(2)
        x87 = mnemonic.startswith("f") and mnemonic not in NOT_X87
        counts[ours][0] += 1
        if x87:
            counts[ours][1] += 1
            if ours:
                key = "%s (%s)" % (section, os.path.basename(origin))
                x87Sections[key] = x87Sections.get(key, 0) + 1
    return counts, x87Sections


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--build32", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("exes", nargs="+", metavar="EXE=MAP")
    options = parser.parse_args()
    root = os.path.abspath(options.root)
    buildDir = os.path.abspath(options.build32)

    failures = compareOptions(root, buildDir, os.path.abspath(options.native))
    for pair in options.exes:
        exe, mapPath = pair.split("=", 1)
        counts, x87Sections = countX87(options.objdump, exe, mapPath, buildDir)
        name = os.path.basename(exe)
        print("%s: our code %d instructions, %d x87; the runtime's %d instructions, %d x87" %
              (name, counts[True][0], counts[True][1], counts[False][0], counts[False][1]))
        if counts[True][0] == 0:
            failures.append("%s: no code of ours found through %s" % (name, mapPath))
        if counts[True][1]:
            failures.append("%s: our code holds %d x87 instructions, in %s" % (
                name, counts[True][1], ", ".join("%s: %d" % item for item in sorted(x87Sections.items())[:20])))
    for failure in failures:
        print("error: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
