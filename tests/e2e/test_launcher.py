"""The launch and update cycle end to end: the exact diagnostic lines, the
children's command lines and working directories, the boxes, broken boot
files, a missing java and the debug marker, natively and under Wine.

Usage: test_launcher.py --launcher EXE --java-stub EXE [--wine WINE --prefix DIR --work-dir DIR]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import (BOTH, CONFIG_ERROR, DIR, MAIN_BOOT, MAIN_CALL, MAIN_COMMAND, MAIN_ITEMS, NATIVE,  # noqa: E402
                     OPTION_ARGS, UPDATE_ERROR, UPDATER_CALL, UPDATER_COMMAND, UPDATER_ITEMS, WINE, Row, RowTest, boot_xml,
                     main, main_launch, refused, start, updater_launch)


def replaced(items, key, value):
    return [(k, value if k == key else v) for k, v in items]


class OneLaunch(RowTest):
    ROWS = [
        Row("one launch writes the diagnostic lines in order",
            lines=start() + main_launch(0), calls=[MAIN_CALL]),
        Row("launcher arguments are ignored and its environment reaches the child",
            args=("--update", "two words", "-Xmx1g"), env={"LAUNCHER_MARK": "x y"},
            lines=start(argc=4) + main_launch(0), calls=[MAIN_CALL], child_env=[{"LAUNCHER_MARK": "x y"}]),
    ] + [
        Row("exit code %d ends the run quietly" % code, exit_codes=(code,),
            lines=start() + main_launch(code), calls=[MAIN_CALL])
        for code in (2, 20, 22, 255)
    ] + [
        # Under Wine bootcheck's suite checks java.exe's splitting against the launcher's real children.
        Row("quotes in args group words", on=NATIVE,
            main=boot_xml(replaced(MAIN_ITEMS, "args", "-Dtitle=&quot;My App&quot; -Dempty=&quot;&quot;")),
            lines=start() + main_launch(0, "{app}java.exe -Xmn16m -Xms32m -Xmx64m -cp lib\\app.jar;lib\\util.jar "
                                           '-Dtitle="My App" -Dempty="" com.example.Main'),
            calls=[("{root}", ["{app}java.exe"] + OPTION_ARGS[:5] + ["-Dtitle=My App", "-Dempty=",
                                                                     "com.example.Main"])]),
        # Both placeholders stand for the drive root itself.
        Row("launcher at a drive root", on=WINE, folder="",
            main=boot_xml([("java", "${PARENT_DIR}java.exe"), ("-cp", "${APP_DIR}app.jar"), ("main", "Main")]),
            lines=["argc=1", "argv[0]=D:\\launcher.exe", "debugFileExists=0",
                   "configPath=D:\\config\\boot.xml", "D:\\config\\boot.xml", "currentDir=D:\\",
                   "javaCommandLine=D:\\java.exe -Xmn -Xms -Xmx -cp ${APP_DIR}app.jar  Main",
                   "execute:processId=={pid}", "result=WAIT_OBJECT_0", "launchJava:retCode=0"],
            calls=[("D:\\", ["D:\\java.exe", "-Xmn", "-Xms", "-Xmx", "-cp", "${APP_DIR}app.jar", "Main"])]),
    ]


class UpdateCycle(RowTest):
    ROWS = [
        Row("the cycle repeats while the app asks", exit_codes=(21, 0, 21, 0, 21, 0, 0),
            lines=start() + (main_launch(21) + updater_launch(0)) * 3 + main_launch(0),
            calls=[MAIN_CALL, UPDATER_CALL] * 3 + [MAIN_CALL]),
    ] + [
        Row("failed update %d shows its result" % code, exit_codes=(21, code), on=on,
            lines=start() + main_launch(21) + updater_launch(code),
            boxes=[UPDATE_ERROR % code], calls=[MAIN_CALL, UPDATER_CALL])
        # A negative exit code exists on Windows only; natively 128 + 15 is what a killed updater reports.
        for code, on in ((5, BOTH), (21, BOTH), (-3, WINE), (143, NATIVE))
    ] + [
        Row("updater ending with 1 shows its boot file then the result", exit_codes=(21, 1),
            lines=start() + main_launch(21) + updater_launch(1),
            boxes=["{updater_boot}", UPDATE_ERROR % 1], calls=[MAIN_CALL, UPDATER_CALL]),
        Row("main app ending with 1 shows its boot file like a failed launch", exit_codes=(1,),
            lines=start() + main_launch(1), boxes=["{main_boot}"], calls=[MAIN_CALL]),
    ]


BROKEN_BOOT_FILES = [
    ("missing", None),
    ("empty", ""),
    ("unterminated element", '<boot><item key="java" value="java.exe"/>'),
    ("no boot element", '<config><item key="main" value="Main"/></config>'),
    ("item without key", MAIN_BOOT.replace("</boot>", '<item value="x"/></boot>')),
    ("wanted key without value", MAIN_BOOT.replace('<item key="main"', '<item key="main"/><item key="other"')),
]


class BadBootFiles(RowTest):
    ROWS = [
        Row("main boot file %s" % name, main=content,
            lines=start() + refused(), boxes=[CONFIG_ERROR % "{main_boot}"])
        for name, content in BROKEN_BOOT_FILES
    ] + [
        Row("updater boot file %s gives two boxes in turn" % name, updater=content, exit_codes=(21,),
            lines=start() + main_launch(21) + refused(updater=True),
            boxes=[CONFIG_ERROR % "{updater_boot}", UPDATE_ERROR % 1], calls=[MAIN_CALL])
        for name, content in BROKEN_BOOT_FILES
    ] + [
        Row("main app's java missing", stub=False,
            lines=start() + main_launch(1, started=False), boxes=["{main_boot}"]),
        Row("updater's java missing", exit_codes=(21,),
            updater=boot_xml(replaced(UPDATER_ITEMS, "java", "${APP_DIR}nojava.exe")),
            lines=start() + main_launch(21)
            + updater_launch(1, "{app}nojava.exe -Xmn -Xms -Xmx32m -cp updater.jar  com.example.Updater", False),
            boxes=["{updater_boot}", UPDATE_ERROR % 1], calls=[MAIN_CALL]),
        # Under Wine such a folder starts through its 8.3 name: see test_install_folders.py.
        Row("paths in a folder outside ASCII reach boxes and children as their bytes", on=NATIVE,
            folder="アプリ", updater=None, exit_codes=(21,),
            lines=start() + main_launch(21) + refused(updater=True),
            boxes=[CONFIG_ERROR % "{updater_boot}", UPDATE_ERROR % 1], calls=[MAIN_CALL]),
    ]


class DebugMarker(RowTest):
    ROWS = [
        Row("a directory named debug is no marker", debug=DIR, lines=start() + main_launch(0), calls=[MAIN_CALL]),
    ] + [
        # Without a terminal to open, the lines stay on standard output.
        Row("marker file %r keeps the lines on standard output" % content, on=NATIVE, debug=content,
            lines=start(debug=1) + main_launch(0), calls=[MAIN_CALL])
        for content in ("", "anything\n")
    ] + [
        # Once the console exists, later lines go to it, not to our stdout; the launch goes on.
        Row("marker file opens the console", on=WINE, debug="",
            lines=start(debug=1), calls=[MAIN_CALL]),
    ]


FORWARDING_MAIN = boot_xml(MAIN_ITEMS + [("launcherArgs", "append")])
NASTY = ("two words", "tab\there", 'say "hi"', "trail\\", "two\\\\", "", "*", "?")
NASTY_QUOTED = ' "two words" "tab\there" "say \\"hi\\"" "trail\\\\" "two\\\\\\\\" "" "*" "?"'
TOO_LONG = "起動時に渡された引数 (%d 個) が長すぎて、Windows のコマンドラインに収まりません (%d 文字、上限 32766 文字)。"
SHORT_NOTE = "launcherArgs:arg1={short_arg1} (its short name: the ANSI code page lacks characters of it)"


def forwarding_launch(code, quoted, notes=()):
    """A launch of the main application with its arguments after the main class."""
    return (["configPath={main_boot}", "{main_boot}"] + list(notes) + ["currentDir={app}",
            "javaCommandLine=" + MAIN_COMMAND + quoted, "execute:processId=={pid}", "result=WAIT_OBJECT_0",
            "launchJava:retCode=%d" % code])


def forwarded(arguments, names=None):
    """The call of the main application given arguments, and the variables it gets."""
    return (("{root}", MAIN_CALL[1] + list(names or arguments)),
            dict({"LAUNCHER_ARGC": str(len(arguments))},
                 **{"LAUNCHER_ARG%d" % (i + 1): value for i, value in enumerate(arguments)}))


JAPANESE = ["{base}報告 2026.txt", "表", "ソ\\"]


class ForwardedArguments(RowTest):
    NASTY_CALL, NASTY_ENV = forwarded(NASTY)
    DOC_CALL, DOC_ENV = forwarded(["{app}doc.txt"])
    ROWS = [
        Row("blanks, tabs, quotes, trailing backslashes, an empty one, * and ? arrive whole and exact",
            main=FORWARDING_MAIN, args=NASTY, lines=start(argc=9) + forwarding_launch(0, NASTY_QUOTED),
            calls=[NASTY_CALL], child_env=[NASTY_ENV], opens=[[]]),
        # In 932 the second byte of 表 and of ソ is the backslash's: no backslash to double.
        Row("Japanese names the code page holds go in as they are", main=FORWARDING_MAIN, codepage=932,
            files={"報告 2026.txt": "report"}, args=JAPANESE,
            lines=start(argc=4) + forwarding_launch(0, ' "{base}報告 2026.txt" "表" "ソ\\\\"'),
            calls=[forwarded(JAPANESE)[0]], child_env=[forwarded(JAPANESE)[1]], opens=[[8]]),
        # The file association's "%1" for D:\報告 2026.myapp on a western Windows.
        Row("a file name the code page lacks goes in as its short name, exact in LAUNCHER_ARG1", on=WINE,
            main=FORWARDING_MAIN, files={"報告 2026.myapp": "report"}, args=("{base}報告 2026.myapp",),
            lines=start(argc=2) + forwarding_launch(0, ' "{short_arg1}"', [SHORT_NOTE]),
            calls=[forwarded(["{base}報告 2026.myapp"], ["{short_arg1}"])[0]],
            child_env=[forwarded(["{base}報告 2026.myapp"])[1]], opens=[[8]]),
        Row("a Polish file name 932 lacks goes in as its short name", on=WINE, codepage=932,
            main=FORWARDING_MAIN, files={"Łódź.txt": "x"}, args=("{base}Łódź.txt",),
            lines=start(argc=2) + forwarding_launch(0, ' "{short_arg1}"', [SHORT_NOTE]),
            calls=[forwarded(["{base}Łódź.txt"], ["{short_arg1}"])[0]],
            child_env=[forwarded(["{base}Łódź.txt"])[1]], opens=[[8]]),
        Row("a missing file 932 lacks letters of goes in with ?, exact in LAUNCHER_ARG1", on=WINE, codepage=932,
            main=FORWARDING_MAIN, args=("{base}nowhere\\Łódź.txt",),
            lines=start(argc=2) + forwarding_launch(0, ' "{base}nowhere\\??d?.txt"', [
                "launcherArgs:arg1={base}nowhere\\??d?.txt (\"?\" for characters the ANSI code page lacks; "
                "LAUNCHER_ARG1 holds it exactly)"]),
            calls=[forwarded(["{base}nowhere\\Łódź.txt"], ["{base}nowhere\\??d?.txt"])[0]],
            child_env=[forwarded(["{base}nowhere\\Łódź.txt"])[1]], opens=[[]]),
        Row("bytes that are not UTF-8 go in as they are", on=NATIVE, main=FORWARDING_MAIN,
            args=("caf\udce9.txt",), lines=start(argc=2) + forwarding_launch(0, ' "caf\udce9.txt"'),
            calls=[forwarded(["caf\udce9.txt"])[0]], child_env=[forwarded(["caf\udce9.txt"])[1]], opens=[[]]),
        Row("both main starts of the cycle get them, an updater without the item the launcher's environment",
            main=FORWARDING_MAIN, files={"app/doc.txt": "x"}, args=("{app}doc.txt",), exit_codes=(21, 0, 0),
            env={"LAUNCHER_ARG5": "stale", "LAUNCHER_ARGC": "9"},
            lines=start(argc=2) + forwarding_launch(21, ' "{app}doc.txt"') + updater_launch(0)
            + forwarding_launch(0, ' "{app}doc.txt"'),
            calls=[DOC_CALL, UPDATER_CALL, DOC_CALL],
            child_env=[DOC_ENV, {"LAUNCHER_ARG5": "stale", "LAUNCHER_ARGC": "9"}, DOC_ENV], opens=[[8], [], [8]]),
        Row("an updater with the item gets them too", main=FORWARDING_MAIN, args=("x y",), exit_codes=(21, 0),
            updater=boot_xml(UPDATER_ITEMS + [("launcherArgs", "append")]),
            lines=start(argc=2) + forwarding_launch(21, ' "x y"') + updater_launch(0, UPDATER_COMMAND + ' "x y"')
            + forwarding_launch(0, ' "x y"'),
            calls=[forwarded(["x y"])[0], (UPDATER_CALL[0], UPDATER_CALL[1] + ["x y"]), forwarded(["x y"])[0]],
            child_env=[forwarded(["x y"])[1]] * 3),
        Row("append without arguments leaves the command line as it was", main=FORWARDING_MAIN,
            lines=start() + main_launch(0), calls=[MAIN_CALL], child_env=[{"LAUNCHER_ARGC": "0"}]),
        Row("ignore forwards nothing", main=boot_xml(MAIN_ITEMS + [("launcherArgs", "ignore")]), args=("a",),
            lines=start(argc=2) + main_launch(0), calls=[MAIN_CALL], child_env=[{}]),
        # Nothing is cut or dropped: the box counts what would not fit. (Natively the folder's
        # length, and so the count, differs from run to run.)
        Row("arguments too long for Windows' command line: a box, nothing started", on=WINE,
            main=FORWARDING_MAIN, args=("x" * 16000, "y" * 16690),
            lines=start(argc=3) + ["configPath={main_boot}", "{main_boot}"],
            boxes=[TOO_LONG % (2, len(MAIN_COMMAND.replace("{app}", "D:\\app\\")) + 16003 + 16693)]),
    ]


if __name__ == "__main__":
    main("the end-to-end suite")
