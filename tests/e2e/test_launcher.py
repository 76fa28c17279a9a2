"""The launch and update cycle end to end: the exact diagnostic lines, the
children's command lines and working directories, the boxes, broken boot
files, a missing java and the debug marker, natively and under Wine.

Usage: test_launcher.py --launcher EXE --java-stub EXE [--wine WINE --prefix DIR --work-dir DIR]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_dir import (BOTH, CONFIG_ERROR, DIR, MAIN_BOOT, MAIN_CALL, MAIN_ITEMS, NATIVE, OPTION_ARGS,  # noqa: E402
                     UPDATE_ERROR, UPDATER_CALL, UPDATER_ITEMS, WINE, Row, RowTest, boot_xml,
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


if __name__ == "__main__":
    main("the end-to-end suite")
