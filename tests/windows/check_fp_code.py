#!/usr/bin/env python3
"""The 32-bit programs compute what their native twins compute.

i686 code that does its floating point on the x87 unit rounds through 80-bit
registers, while the native build (x86-64) uses SSE: the same sources then
give other results (seticon's resampled pixels, for one). This check fails
when
  - the code of our own sources in a linked 32-bit exe computes on the x87
    unit (the link map tells our code from the C and C++ runtime's, which is
    prebuilt and keeps its own),
  - the code of ours in a program that must do no floating-point work at all
    (--no-fp: the launcher) holds any floating-point arithmetic, or
  - a 32-bit compile of our sources and a native one use different
    floating-point options (compile_commands.json of both trees).
Even SSE2 code keeps some x87 loads and stores: the 32-bit calling convention
returns float and double results in st(0) (from floor, say, or a function
called through a pointer), and only the x87 unit converts between floating
point and 64-bit integers there. They move values of the width they hold or
convert them with one IEEE rounding, as SSE does, so they are counted and
allowed; anything else of the x87 unit is not. The runtime's math functions
our code calls are listed.
It only reads files, so it runs on every machine, whatever its kernel runs.

Usage: check_fp_code.py --objdump OBJDUMP --root SOURCE_DIR
           --build32 TREE --native NATIVE_TREE [--no-fp EXE_NAME]... EXE=MAP...
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
# x87 mnemonics all begin with f; these few that do are not x87 instructions.
NOT_X87 = {"fs", "femms", "fxsave", "fxrstor"}
# x87 loads and stores of float, double and integers, constants, and the control
# word: what the calling convention and 64-bit integer conversions need (80-bit
# loads and stores, fldt and fstpt, are not among them).
X87_MOVE = re.compile(r"^(fld[sl]?|fstp?[sl]?|fldz|fld1|fxch|fild[sl]?l?|fistp?[sl]?l?|fisttp[sl]?l?"
                      r"|fn?stcw|fldcw|fwait)$")
# SSE floating-point arithmetic, compares and conversions (not moves or bitwise zeroing).
SSE_FP = re.compile(r"^(v?(add|sub|mul|div|sqrt|min|max|rcp|rsqrt|u?comi|round|hadd|hsub|dp|cmp[a-z]*)(ss|sd|ps|pd)"
                    r"|v?cvt[a-z0-9]*)$")
# Functions of a C math library, by name.
MATH_FUNCTION = re.compile(r"^_?(a?(sin|cos|tan)h?|atan2|exp(2|m1)?|log(2|10|1p)?|pow|sqrt|cbrt|hypot|floor|ceil"
                           r"|trunc|l?l?round|l?l?rint|nearbyint|fmod|remainder|modf|frexp|ldexp|scalbn|erfc?"
                           r"|[lt]gamma|fabs|strto[dfl]|ato[f])[fl]?$")
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
    """(start, end, origin file, section) of each input section in the map's .text,
    and the address of each symbol defined there."""
    pieces = []
    symbols = {}
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
            match = re.match(r"^\s+(0x[0-9a-f]+)\s+(\S+)$", line)
            if match:
                symbols[int(match.group(1), 16)] = match.group(2)
                continue
            match = re.match(r"^ (\.\S+)\s*$", line)
            pending = match.group(1) if match else None
    return sorted(pieces), symbols


def isOurs(origin, buildDir):
    if origin.startswith(RUNTIME_PREFIXES):
        return False
    if re.search(r"\.ltrans\d*\.ltrans\.o$", origin) or os.path.abspath(origin).startswith(buildDir + os.sep):
        return True
    # Relative object paths in the map are relative to the folder the link ran in, inside the tree.
    if not os.path.isabs(origin):
        return True
    raise SystemExit("cannot tell whose code %s is" % origin)


def countFloatingPoint(objdump, exe, mapPath, buildDir):
    """Counts in the exe's code: instructions, x87 moves and other x87 instructions
    and SSE floating-point arithmetic, ours and the runtime's; and the places of
    ours that compute on the x87 unit, and the runtime's math functions ours calls."""
    pieces, symbols = textPieces(mapPath)
    if not pieces:
        raise SystemExit("%s lists no .text sections" % mapPath)
    counts = {ours: {"instructions": 0, "x87 moves": 0, "x87 arithmetic": 0, "SSE arithmetic": 0}
              for ours in (True, False)}
    x87Places = {}
    mathCalls = set()
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-j", ".text", exe],
                             check=True, capture_output=True, text=True).stdout
    index = 0
    for line in listing.splitlines():
        match = re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*(\S*)", line)
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
        count = counts[ours]
        count["instructions"] += 1
        if mnemonic.startswith("f") and mnemonic not in NOT_X87:
            if X87_MOVE.match(mnemonic):
                count["x87 moves"] += 1
            else:
                count["x87 arithmetic"] += 1
                if ours:
                    place = "%s in %s" % (mnemonic, os.path.basename(origin))
                    x87Places[place] = x87Places.get(place, 0) + 1
        elif SSE_FP.match(mnemonic):
            count["SSE arithmetic"] += 1
        elif ours and mnemonic == "call" and match.group(3).startswith("0x"):
            target = symbols.get(int(match.group(3), 16), "")
            if MATH_FUNCTION.match(target):
                mathCalls.add(target)
    return counts, x87Places, sorted(mathCalls)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--build32", required=True)
    parser.add_argument("--native", required=True)
    parser.add_argument("--no-fp", action="append", default=[], metavar="EXE_NAME",
                        help="a program whose code of ours must do no floating-point arithmetic at all")
    parser.add_argument("exes", nargs="+", metavar="EXE=MAP")
    options = parser.parse_args()
    root = os.path.abspath(options.root)
    buildDir = os.path.abspath(options.build32)

    failures = compareOptions(root, buildDir, os.path.abspath(options.native))
    for pair in options.exes:
        exe, mapPath = pair.split("=", 1)
        counts, x87Places, mathCalls = countFloatingPoint(options.objdump, exe, mapPath, buildDir)
        name = os.path.basename(exe)
        ours, runtime = counts[True], counts[False]
        print("%s: our code %d instructions: %d x87 arithmetic, %d x87 loads and stores, %d SSE arithmetic; "
              "the runtime's %d instructions, %d x87 (%d of them loads and stores)" % (
                  name, ours["instructions"], ours["x87 arithmetic"], ours["x87 moves"], ours["SSE arithmetic"],
                  runtime["instructions"], runtime["x87 arithmetic"] + runtime["x87 moves"], runtime["x87 moves"]))
        print("%s: the runtime's math functions our code calls: %s" % (name, ", ".join(mathCalls) or "none"))
        if ours["instructions"] == 0:
            failures.append("%s: no code of ours found through %s" % (name, mapPath))
        if ours["x87 arithmetic"]:
            failures.append("%s: our code computes on the x87 unit, %d instructions: %s" % (
                name, ours["x87 arithmetic"], ", ".join("%s: %d" % item for item in sorted(x87Places.items()))))
        if name in options.no_fp:
            work = ours["x87 arithmetic"] + ours["x87 moves"] + ours["SSE arithmetic"]
            if work or mathCalls:
                failures.append("%s: must do no floating-point work, but our code holds %d floating-point "
                                "instructions and calls %s" % (name, work, ", ".join(mathCalls) or "no math function"))
    for failure in failures:
        print("error: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
