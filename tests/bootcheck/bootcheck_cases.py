"""Boot files with one finding each, shared by the native and the Wine suites.

A case is (name, main boot file text, extra files, expected findings); the
text comes from boot_text(), which lays the items out one per line from line 3,
so a finding's line is easy to read off. A finding is (line or None, code,
message), the message with {app} standing for the app folder with its
trailing separator, or {"native": message, "wine": message} where the two
differ in more than the tokens below. In boot texts, file names and
messages, %(java)s, %(sep)s, %(cpsep)s and %(exe)s stand for the stand-in
java's file name, the folder separator, the class-path separator and the
programs' file-name ending of the platform; %(javasample)s for java's name
in the examples a message gives.
"""

GOOD_ITEMS = [("java", "${APP_DIR}%(java)s"), ("-Xmn", "16m"), ("-Xms", "32m"), ("-Xmx", "64m"),
              ("-cp", "lib%(sep)sapp.jar"), ("args", "-Ddemo.mode=test"), ("main", "demo.App")]


def boot_text(items=None, replace=None, before_end="", after_end="", end="</boot>"):
    """items: (key, value) pairs (a value of None leaves the attribute out, a
    key of None the key); replace: {key: new value} applied to GOOD_ITEMS."""
    if items is None:
        items = [(key, (replace or {}).get(key, value)) for key, value in GOOD_ITEMS
                 if (replace or {}).get(key, value) is not False]
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<boot>"]
    for key, value in items:
        attributes = ""
        if key is not None:
            attributes += ' key="%s"' % key
        if value is not None:
            attributes += ' value="%s"' % value
        lines.append("  <item%s/>" % attributes)
    lines += [l for l in before_end.split("\n") if l]
    lines.append(end)
    lines += [l for l in after_end.split("\n") if l]
    return "\n".join(lines) + "\n"


LONG_ARGS = "-Dfill=" + "x" * 33000


def pe_header(subsystem):
    """The start of a 32-bit PE image whose optional header names subsystem
    (2: GUI, 3: console): as much as bootcheck reads."""
    dos = b"MZ" + bytes(0x3A) + (64).to_bytes(4, "little")
    file_header = (0x14C).to_bytes(2, "little") + bytes(18)
    optional = (0x10B).to_bytes(2, "little") + bytes(66) + subsystem.to_bytes(2, "little") + bytes(26)
    return dos + b"PE\0\0" + file_header + optional


# Options a case passes to bootcheck besides the folder.
CASE_ARGS = {"outside_code_page": ["--codepage", "1252"]}

# (name, main boot text: None for no config folder, "dir" for a folder in its
#  place; {relative path: content, None for a folder}; [(line, code, message)])
CASES = [
    ("good_file", boot_text(), {}, []),
    ("wildcard_class_path", boot_text(replace={"-cp": "lib%(sep)s*"}), {}, []),
    ("no_config_folder", None, {}, [(None, "BC101",
      "cannot read the boot file (cannot open file), so the launcher shows the configuration-error box and starts nothing; create it or make it readable")]),
    ("boot_file_is_a_folder", "dir", {}, [(None, "BC101",
      "cannot read the boot file (not a regular file), so the launcher shows the configuration-error box and starts nothing; create it or make it readable")]),
    ("malformed_xml", boot_text().replace('value="32m"', "value=32m"), {}, [(5, "BC102",
      "the XML reader stops here: expected ' or \"; the launcher shows the configuration-error box and starts nothing; correct the file at this line")]),
    ("no_boot_element", boot_text().replace("<boot>", "<Boot>").replace("</boot>", "</Boot>"), {},
     [(2, "BC103",
      "no top-level <boot> element (the top-level element is <Boot>), so the launcher shows the configuration-error box and starts nothing; put the items inside <boot> ... </boot>")]),
    ("item_without_key", boot_text(items=GOOD_ITEMS + [(None, "x")]), {}, [(10, "BC104",
      "this <item> has no key attribute, and one such item anywhere in <boot> makes the launcher reject the file: it shows the configuration-error box; add key=\"...\" or remove the item")]),
    ("wanted_key_without_value", boot_text(replace={"-Xmx": None}), {}, [(6, "BC105",
      "the item with key \"-Xmx\" has no value attribute, so the launcher shows the configuration-error box and starts nothing (also when a later item has one); add value=\"...\"")]),
    ("launcher_args_append", boot_text(items=GOOD_ITEMS + [("launcherArgs", "append")]), {}, []),
    ("launcher_args_ignore", boot_text(items=GOOD_ITEMS + [("launcherArgs", "ignore")]), {}, []),
    ("launcher_args_unknown_value", boot_text(items=GOOD_ITEMS + [("launcherArgs", "yes")]), {}, [(10, "BC117",
      "launcherArgs value \"yes\" is neither \"append\" nor \"ignore\", so the launcher ignores it and passes none of its own arguments to java; write value=\"append\"")]),
    ("launcher_args_without_value", boot_text(items=GOOD_ITEMS + [("launcherArgs", None)]), {}, [(10, "BC117",
      "the item with key \"launcherArgs\" has no value attribute, so the launcher ignores it and passes none of its own arguments to java; write value=\"append\" or remove the item")]),
    ("launcher_args_misspelt", boot_text(items=GOOD_ITEMS + [("launcher-args", "append")]), {}, [(10, "BC201",
      "key \"launcher-args\" is not read (keys are exact and case-sensitive); as it stands, launcherArgs is empty; write key=\"launcherArgs\"")]),
    ("java_missing", boot_text(replace={"java": "${APP_DIR}no_such_java"}), {}, [(3, "BC110",
      "the java program \"{app}no_such_java%(exe)s\" does not exist, so the launcher cannot start it and shows a box with this file's path; write the path of java, such as value=\"${APP_DIR}jre%(sep)sbin%(sep)s%(javasample)s\"")]),
    ("java_is_a_folder", boot_text(replace={"java": "${APP_DIR}jre.exe"}), {"jre.exe": None}, [(3, "BC111",
      "the java program \"{app}jre.exe\" is a folder, so the launcher cannot start it and shows a box with this file's path; name the java program inside it, such as value=\"${APP_DIR}jre%(sep)sbin%(sep)s%(javasample)s\"")]),
    ("java_not_executable", boot_text(replace={"java": "${APP_DIR}lib%(sep)sapp.jar"}), {},
     [(3, "BC112",
      "the java program \"{app}lib%(sep)sapp.jar\" is not an executable file, so the launcher cannot start it and shows a box with this file's path; name the java program itself")]),
    ("command_line_too_long", boot_text(replace={"args": LONG_ARGS}), {}, [(None, "BC113", {
        side: "the command line is %d characters long; Windows refuses 32,767 or more, so the launcher cannot start java there; shorten the class path (a folder/* wildcard) or the args" % length
        for side, length in (("native", 33097), ("wine", 33072))})]),
    ("near_miss_key", boot_text(items=GOOD_ITEMS[:3] + [("Xmx", "64m")] + GOOD_ITEMS[4:]), {},
     [(6, "BC201",
      "key \"Xmx\" is not read (keys are exact and case-sensitive); as it stands, -Xmx is empty; write key=\"-Xmx\""), (2, "BC203",
      "-Xmx is empty, so java receives the bare option \"-Xmx\" and refuses to start; write a size such as \"64m\"")]),
    ("alias_key", boot_text(items=GOOD_ITEMS + [("classpath", "lib")]), {}, [(10, "BC201",
      "key \"classpath\" is not read (keys are exact and case-sensitive); the item with key \"-cp\" on line 7 is the one used; write key=\"-cp\"")]),
    ("key_given_twice", boot_text(items=GOOD_ITEMS + [("main", "demo.Other")]), {}, [(9, "BC202",
      "key \"main\" is given again on line 10, and the last one wins (\"demo.Other\"); remove the item you do not mean")]),
    ("heap_not_a_size", boot_text(replace={"-Xmx": "64MB"}), {}, [(6, "BC203",
      "-Xmx value \"64MB\" is not a JVM size, so java refuses to start; write digits with an optional k, m, g or t, such as \"512m\"")]),
    ("heap_empty", boot_text(replace={"-Xmn": False}), {}, [(2, "BC203",
      "-Xmn is empty, so java receives the bare option \"-Xmn\" and refuses to start; write a size such as \"16m\"")]),
    ("initial_heap_above_maximum", boot_text(replace={"-Xms": "1g"}), {}, [(5, "BC204",
      "-Xms 1g is larger than -Xmx 64m, so java refuses to start; make -Xms at most 64m")]),
    ("young_generation_above_maximum", boot_text(replace={"-Xmn": "65M"}), {}, [(4, "BC204",
      "-Xmn 65M is larger than -Xmx 64m, so java shrinks the young generation to fit; make -Xmn at most 64m")]),
    ("main_class_with_ending", boot_text(replace={"main": "demo.App.class"}), {}, [(9, "BC205",
      "main class \"demo.App.class\" is not a Java class name, so java cannot load it; leave out the \".class\" ending")]),
    ("main_class_empty", boot_text(replace={"main": ""}), {}, [(9, "BC205",
      "no main class: the command line ends without one, so java prints its usage and ends with 1, which the launcher reports with a box showing this file's path; write value=\"com.example.Main\" in the item with key \"main\"")]),
    ("class_path_entry_missing", boot_text(replace={"-cp": "lib%(sep)sapp.jar%(cpsep)slib%(sep)smissing.jar"}),
     {}, [(7, "BC206",
      "class-path entry \"lib%(sep)smissing.jar\" does not exist in {app}, the folder the launcher starts java in; correct the name, or write it relative to that folder")]),
    ("class_path_with_placeholder", boot_text(replace={"-cp": "${APP_DIR}lib%(sep)sapp.jar"}), {},
     [(7, "BC206",
      "class-path entry \"${APP_DIR}lib%(sep)sapp.jar\" does not exist in {app}, the folder the launcher starts java in; placeholders are replaced only in the java value, so write the path relative to that folder")]),
    ("java_with_unquoted_blank", boot_text(replace={"java": "${APP_DIR}my jre%(sep)s%(java)s -Dx=1"}),
     {"my jre/%(java)s": "java"}, [(3, "BC207",
      "the java value holds a blank and no quotes, so the program is \"{app}my\" (a file planted at \"{app}my%(exe)s\" would run: CWE-428) and the rest of the value becomes java's arguments; put the path in quotes, such as value=\"&quot;${APP_DIR}jre%(sep)sbin%(sep)s%(javasample)s&quot;\""), (3, "BC110",
      "the java program \"{app}my%(exe)s\" does not exist, so the launcher cannot start it and shows a box with this file's path; write the path of java, such as value=\"${APP_DIR}jre%(sep)sbin%(sep)s%(javasample)s\"")]),
    ("java_relative", boot_text(replace={"java": ".%(sep)s%(java)s"}), {}, [(3, "BC208",
      "the java path \".%(sep)s%(java)s\" is relative, so it is looked up from the folder the launcher is started in, not from the app folder; write value=\"${APP_DIR}%(java)s\"")]),
    ("line_end_in_value", boot_text(replace={"args": "-Da=1\n-Db=2"}), {}, [(8, "BC209",
      "the args value holds a line end, which stays inside a word of the command line; keep the value on one line")]),
    ("tab_in_value", boot_text(replace={"args": "-Da=1&#9;-Db=2"}), {}, [(8, "BC209",
      "the args value holds a tab, which splits words like a blank; write a blank or nothing")]),
    ("blanks_around_value", boot_text(replace={"main": "demo.App "}), {}, [(9, "BC210",
      "the main value \"demo.App \" has leading or trailing blanks, which the launcher keeps; remove them")]),
    # 日本 saved in Shift-JIS: bytes that are not UTF-8 (written through surrogateescape).
    ("bytes_not_utf8", boot_text(replace={"args": "-Dname=\udc93\udcfa\udc96\x7b"}), {}, [(8, "BC211",
      "the args value holds bytes outside ASCII that are not UTF-8; the launcher passes them unchanged, so Windows reads them in its ANSI code page and they mean something else on a Windows with another one; save the boot file as UTF-8")]),
    ("outside_code_page", boot_text(replace={"args": "-Dname=Łódź"}), {}, [(8, "BC215",
      "the args value holds characters that code page 1252 cannot hold: \"Ł\" (U+0141), \"ź\" (U+017A); java reads its command line in that code page, so it receives \"?\" in their place; use characters of that code page")]),
    ("undecoded_entity", boot_text(replace={"args": "-Dx=&amp;amp; -Dy=&nosuch;"}), {}, [(8, "BC216",
      "the args value holds \"&nosuch;\", an entity reference the reader does not decode, so java receives it as written; write the character itself, or &amp;nosuch; to keep the text")]),
    ("console_java", boot_text(replace={"java": "${APP_DIR}console.exe"}), {"console.exe": pe_header(3)},
     [(3, "BC217",
      "the java program \"{app}console.exe\" is a console program, so Windows opens a console window beside the app for as long as it runs; for an app with windows of its own write javaw.exe, such as value=\"${APP_DIR}jre%(sep)sbin%(sep)sjavaw.exe\" (java.exe suits a console app, or seeing java's output)")]),
    ("gui_java", boot_text(replace={"java": "${APP_DIR}gui.exe"}), {"gui.exe": pe_header(2)}, []),
    # A leading blank: the value does not begin with a placeholder, so only a
    # whole existing file would be quoted.
    ("another_program_runs", boot_text(replace={"java": " ${APP_DIR}my jre%(sep)s%(java)s"}),
     {"my%(exe)s": "MZ", "my jre/%(java)s": "MZ"}, [(3, "BC210",
      "the java value \" ${APP_DIR}my jre%(sep)s%(java)s\" has leading or trailing blanks, which the launcher keeps; remove them"),
      (3, "BC115",
      "the java value holds a blank and no quotes, and the launcher leaves it unquoted (it does not begin with ${APP_DIR} or ${PARENT_DIR}, and as written it names no file), so the system runs \"{app}my%(exe)s\", another program (CWE-428), with the rest of the value as its arguments; put the path in quotes without trailing blanks, such as value=\"&quot;${APP_DIR}jre%(sep)sbin%(sep)s%(javasample)s&quot;\"")]),
    ("mismatched_end_tag", boot_text(end="</boo>"), {}, [(10, "BC212",
      "end tag </boo> does not match the element it closes; the reader accepts it, so the file may not say what you meant; write the matching end tag")]),
    ("second_top_level_element", boot_text(after_end="<boot>\n</boot>"), {}, [(11, "BC213",
      "a second top-level <boot> is ignored: the launcher reads only the first one (line 2); move its items into that one")]),
    ("empty_class_path", boot_text(replace={"-cp": ""}), {}, [(7, "BC214",
      "the -cp value is empty, so java takes the next word \"-Ddemo.mode=test\" as the class path; write the class path, such as \"lib%(sep)sapp.jar\"")]),
    # singleInstance: only the main application's boot file decides. A finding
    # with a fourth element names its boot file below the app folder.
    ("single_instance_forward", boot_text(items=GOOD_ITEMS + [("singleInstance", "forward")]), {}, []),
    ("single_instance_ignore", boot_text(items=GOOD_ITEMS + [("singleInstance", "ignore")]), {}, []),
    ("single_instance_unknown_value", boot_text(items=GOOD_ITEMS + [("singleInstance", "true")]), {}, [(10, "BC118",
      "singleInstance value \"true\" is neither \"forward\" nor \"ignore\", so the launcher ignores it and every launch starts another app; write value=\"forward\", and only for an app that reads its inbox")]),
    ("single_instance_without_value", boot_text(items=GOOD_ITEMS + [("singleInstance", None)]), {}, [(10, "BC118",
      "the item with key \"singleInstance\" has no value attribute, so the launcher ignores it and every launch starts another app; write value=\"forward\" or remove the item")]),
    # One item without a value makes the launcher ignore the key, whatever a later one says.
    ("single_instance_forward_after_one_without_value",
     boot_text(items=GOOD_ITEMS + [("singleInstance", None), ("singleInstance", "forward")]), {}, [(10, "BC118",
      "the item with key \"singleInstance\" has no value attribute, so the launcher ignores it and every launch starts another app; write value=\"forward\" or remove the item")]),
    ("single_instance_misspelt", boot_text(items=GOOD_ITEMS + [("singleinstance", "forward")]), {}, [(10, "BC201",
      "key \"singleinstance\" is not read (keys are exact and case-sensitive); as it stands, singleInstance is empty; write key=\"singleInstance\"")]),
    # Files are written as they are: the updater names the launcher itself (on
    # Windows with ".exe" appended) and a class path that exists on both.
    ("single_instance_in_the_updater", boot_text(),
     {"updater/config/boot.xml": boot_text(items=[("java", "${APP_DIR}launcher"), ("-Xmn", "16m"), ("-Xms", "32m"),
                                                  ("-Xmx", "64m"), ("-cp", "lib"), ("main", "demo.App"),
                                                  ("singleInstance", "forward")])}, [(9, "BC218",
      "the updater's boot file does not decide singleInstance: the launcher reads it from the main application's boot file only; remove the item here and write it there",
      "updater/config/boot.xml")]),
]


# In a case's files: a copy of the stand-in java, which keeps its records beside itself.
JAVA_COPY = "a copy of the stand-in java"

# The command line bootcheck prints is the launcher's javaCommandLine= line, and
# its argument list and LAUNCHER_* variables are what java really receives:
# (name, the text of both boot files, {relative path: content}, the launcher's
#  own arguments, given to bootcheck after --launcher-args).
SAME_AS_LAUNCHER = [
    ("plain", boot_text(), {}, ()),
    ("bare_heap_options_and_empty_args", boot_text(replace={"-Xmn": False, "args": ""}), {}, ()),
    ("quotes_and_backslashes", boot_text(
        replace={"args": '-Da=&quot;x y&quot; -Db=c:\\\\dir\\ &quot;q\\&quot;&quot;'}), {}, ()),
    ("quoted_java_with_blank", boot_text(replace={"java": "&quot;${APP_DIR}my jre%(sep)s%(java)s&quot;"}),
     {"my jre/%(java)s": JAVA_COPY}, ()),
    ("parent_dir_placeholder", boot_text(replace={"java": "${PARENT_DIR}%(java)s"}), {}, ()),
    ("forwarded_arguments", boot_text(items=GOOD_ITEMS + [("launcherArgs", "append")]), {},
     ("two words", 'say "hi"', "trail\\", "", "*")),
]

# bootcheck's exit status for what it is given: (arguments, with {app} for the
# app folder without its trailing separator; status; the first line it writes
# on standard error, or None for none).
EXIT_STATUSES = [
    (["{app}"], 0, None),
    (["--help"], 0, None),
    (["{app}%(sep)sno_such_folder"], 2, 'bootcheck: APP_DIR "{app}%(sep)sno_such_folder" is not a folder'),
    (["{app}%(sep)slib%(sep)sapp.jar"], 2, 'bootcheck: APP_DIR "{app}%(sep)slib%(sep)sapp.jar" is not a folder'),
    (["--verbose", "{app}"], 2, "bootcheck: unknown option --verbose"),
    (["--codepage", "65001", "{app}"], 2, "bootcheck: --codepage takes 932 or 1252"),
    (["{app}", "{app}"], 2, "bootcheck: give one APP_DIR"),
]
