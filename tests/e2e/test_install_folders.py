"""The launcher in the folders users install it in, natively and under Wine:
a blank next to a planted decoy, placeholders and a double quote in the
folder's name, values and names outside ASCII (under Wine in code pages 1252
and 932: LC_ALL=C.UTF-8 gives 1252, ja_JP.UTF-8 compiled with localedef
gives 932), and a path over 260 characters below decoy boot files. A decoy
is a copy of the stand-in java, so one that ran shows among the calls.

Usage: test_install_folders.py --launcher EXE --java-stub EXE [--wine WINE --prefix DIR --work-dir DIR]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import (BOTH, CONFIG_ERROR, MAIN_COMMAND, MAIN_ITEMS, NATIVE, OPTION_ARGS, OPTIONS, STUB,  # noqa: E402
                     WINE, Row, RowTest, boot_xml, main, main_launch, refused, start)


def boot(key, value):
    return boot_xml([(k, value if k == key else v) for k, v in MAIN_ITEMS])


def blank_row(value, program, argv, on=BOTH):
    """java value in "my app" beside the decoy {base}my: the command line's
    program part, and java's argv[0] and options (None: nothing starts)."""
    return Row("java %r in a folder with a blank" % value, on=on, folder="my app", main=boot("java", value),
               files={"my{.exe}": STUB},
               lines=start() + main_launch(0 if argv else 1, program + OPTIONS, started=bool(argv)),
               boxes=[] if argv else ["{main_boot}"], calls=[("{root}", argv + OPTION_ARGS)] if argv else [])


class FolderWithBlank(RowTest):
    ROWS = [
        blank_row("${APP_DIR}java.exe", '"{app}java.exe"', ["{app}java.exe"]),
        # CreateProcessA appends ".exe" to a name without extension.
        blank_row("${APP_DIR}java", '"{app}java"', ["{app}java"], on=WINE),
        blank_row("&quot;${APP_DIR}java.exe&quot;", '"{app}java.exe"', ["{app}java.exe"]),
        # Native only, as before: the quoting is the same code, and a Wine start costs time.
        blank_row("&quot;${APP_DIR}java.exe&quot; -Xss2m", '"{app}java.exe" -Xss2m', ["{app}java.exe", "-Xss2m"],
                  on=NATIVE),
        # A value that as a whole names no file: the program part (the folder
        # and the value up to its next blank) is quoted.
        blank_row("${APP_DIR}java.exe -Xss2m", '"{app}java.exe" -Xss2m', ["{app}java.exe", "-Xss2m"]),
        # Windows drops a file name's trailing blanks, so there the whole value names java.exe and is quoted whole.
        blank_row("${PARENT_DIR}java.exe ", '"{app}java.exe" ', ["{app}java.exe"], on=NATIVE),
        blank_row("${PARENT_DIR}jre{/}bin{/}java.exe", '"{app}jre{/}bin{/}java.exe"', None),
        blank_row("${APP_DIR}nojava -Xss2m", '"{app}nojava" -Xss2m', None),
    ]


class FolderName(RowTest):
    ROWS = [
        # The folder a placeholder inserts is not searched again (x${APP_DIR}y
        # natively only, as before: the same code, and a Wine start costs time).
        Row("java %s in folder %s" % (value, folder), on=on, folder=folder, main=boot("java", value),
            lines=start() + main_launch(0), calls=[("{root}", ["{app}java.exe"] + OPTION_ARGS)])
        for folder, on in (("x${PARENT_DIR}y", BOTH), ("x${APP_DIR}y", NATIVE))
        for value in ("${APP_DIR}java.exe", "${PARENT_DIR}java.exe")
    ] + [
        # A double quote, possible in Linux folder names only: no quoting can
        # carry it, and the decoy "my app" (the name without its quotes) never runs.
        Row("a double quote refuses the launch", on=NATIVE, folder='my "app"', files={"my app/java.exe": STUB},
            lines=start() + refused(), boxes=[CONFIG_ERROR % "{main_boot}"]),
    ]


def args_row(name, args, argument, folder="app", codepage=1252, main=None, on=BOTH):
    """args in the boot file, and the arguments java receives for them."""
    command = MAIN_COMMAND.replace("-Dapp.mode=demo", argument)
    return Row(name, on=on, folder=folder, codepage=codepage, main=main or boot("args", args),
               lines=start() + main_launch(0, command),
               calls=[("{root}", ["{app}java.exe"] + OPTION_ARGS[:5] + argument.split(" ") + OPTION_ARGS[6:])])


SHIFT_JIS_BOOT = boot("args", "-Dname=日本語").encode("cp932")


class ValuesOutsideAscii(RowTest):
    # Under Wine UTF-8 values arrive in the ANSI code page, "?" for a letter
    # it lacks (no look-alike); a Shift-JIS file passes unchanged. Natively
    # every value reaches the child as its bytes.
    ROWS = [
        args_row("a Japanese -D value in a Japanese folder", "-Dname=日本語", "-Dname=日本語", "アプリ", 932),
        Row("a java path with é", main=boot("java", "${APP_DIR}jré{/}java.exe"), files={"app/jré/java.exe": STUB},
            lines=start() + main_launch(0, "{app}jré{/}java.exe" + OPTIONS),
            calls=[("{root}", ["{app}jré{/}java.exe"] + OPTION_ARGS)]),
        args_row("a Shift-JIS boot file passes its bytes", None, "-Dname=\udc93\udcfa\udc96{\udc8c\udcea",
                 main=SHIFT_JIS_BOOT, on=NATIVE),
        args_row("a Shift-JIS boot file passes unchanged under 932", None, "-Dname=日本語", codepage=932,
                 main=SHIFT_JIS_BOOT, on=WINE),
        args_row("letters 1252 lacks", "-Dname=Łódź", "-Dname=?ód?", on=WINE),
        args_row("a letter 932 lacks", "-Dname=café 日本", "-Dname=caf? 日本", codepage=932, on=WINE),
    ]


def short_name_row(folder, argv0):
    # Best fit would turn Łódź into Lódz (ó is in code page 1252), a folder
    # whose boot file must not run; argv[0] is the ANSI form of the command line.
    return Row("%s starts through its short name under 1252" % folder, on=WINE, folder=folder,
               files={"Lódz/config/boot.xml": boot_xml(MAIN_ITEMS), "Lódz/java.exe": STUB},
               lines=["argc=1", "argv[0]=" + argv0, "debugFileExists=0", "configPath={short}\\config\\boot.xml",
                      "{short}\\config\\boot.xml", "currentDir={short}\\", "javaCommandLine={short}\\java.exe" + OPTIONS,
                      "execute:processId=={pid}", "result=WAIT_OBJECT_0", "launchJava:retCode=0"],
               calls=[("{short}", ["{short}\\java.exe"] + OPTION_ARGS)])


LONG_PARTS = ["a" * 100, "b" * 100, "c" * 80]
ANCESTORS = ["".join(part + "/" for part in LONG_PARTS[:i]) for i in range(len(LONG_PARTS))]
DECOY_BOOT = boot("java", "${APP_DIR}decoy.exe")
assert len("D:\\" + "\\".join(LONG_PARTS) + "\\launcher.exe") > 260


class NamesOutsideTheAnsiCodePage(RowTest):
    ROWS = [
        short_name_row("Łódź", "D:\\Lódz\\launcher.exe"),
        short_name_row("アプリ", "D:\\???\\launcher.exe"),
    ] + [
        # ソ is 0x83 0x5C in code page 932: its second byte is a backslash.
        Row("the box shows %s in its own letters under 932" % folder, on=WINE, folder=folder, codepage=932,
            main=None, updater=None, lines=start() + refused(), boxes=[CONFIG_ERROR % "{main_boot}"])
        for folder in ("アプリ", "ソフト")
    ] + [
        # A cut module path would make an ancestor the app folder: each one
        # holds a boot file that starts its own decoy. Wine reads the boot file
        # at the real path, but its CreateProcessA takes no path beyond 260
        # characters: the box names the real boot file (the trace shows only
        # the start of that text: more than the folder's 286 characters less 20).
        Row("a path over 260 characters never reads an ancestor's boot file", on=WINE,
            folder="/".join(LONG_PARTS), cut_boxes=266,
            files=dict([(a + "config/boot.xml", DECOY_BOOT) for a in ANCESTORS]
                       + [(a + "decoy.exe", STUB) for a in ANCESTORS]),
            lines=start() + main_launch(1, started=False), boxes=["{main_boot}"]),
    ]


if __name__ == "__main__":
    main("the install folders")
