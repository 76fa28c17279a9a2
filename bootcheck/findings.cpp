#include "findings.hpp"

// The code's text is spelled from its name, so the two cannot disagree.
#define FINDING(code, error, summary, example) {code, #code, error, summary, example}

constexpr FindingKind findingKinds[findingCodeCount] = {
    FINDING(BC101, true, "the boot file cannot be read",
            "config/boot.xml: error: cannot read the boot file (cannot open file); ... [BC101]"),
    FINDING(BC102, true, "the reader refuses the file (malformed XML or a limit), with its own message",
            "config/boot.xml:7: error: the XML reader stops here: expected ' or \"; ... [BC102]"),
    FINDING(BC103, true, "no top-level <boot> element",
            "config/boot.xml:2: error: no top-level <boot> element (the top-level element is <Boot>); ... [BC103]"),
    FINDING(BC104, true, "an <item> without a key attribute",
            "config/boot.xml:5: error: this <item> has no key attribute; ... [BC104]"),
    FINDING(BC105, true, "an <item> with a wanted key but without a value attribute",
            "config/boot.xml:4: error: the item with key \"-Xmx\" has no value attribute; ... [BC105]"),
    FINDING(BC110, true, "the program named by the java value does not exist",
            "config/boot.xml:3: error: the java program \"/app/jre/bin/java\" does not exist; ... [BC110]"),
    FINDING(BC111, true, "the program named by the java value is a folder",
            "config/boot.xml:3: error: the java program \"/app/jre\" is a folder; ... [BC111]"),
    FINDING(BC112, true, "the program named by the java value is not executable",
            "config/boot.xml:3: error: the java program \"/app/java\" is not an executable file; ... [BC112]"),
    FINDING(BC113, true, "the command line is longer than Windows accepts",
            "config/boot.xml: error: the command line is 40012 characters long; ... [BC113]"),
    FINDING(BC114, true, "a missing java program in an app folder with a blank: the launcher quotes it and shows a box",
            "config/boot.xml:3: error: the java program \"C:\\My App\\jre\\bin\\javaw.exe\" does not exist; ... [BC114]"),
    FINDING(BC115, true, "a java value with an unquoted blank that runs another, existing program (CWE-428)",
            "config/boot.xml:3: error: the java value holds a blank and no quotes, and the launcher leaves it unquoted; ... [BC115]"),
    FINDING(BC116, true, "an app folder holding a double quote while the java value holds a placeholder",
            "config/boot.xml:3: error: the app folder \"/home/me/my \"app\"/\" holds a double quote; ... [BC116]"),
    FINDING(BC117, true, "a launcherArgs item whose value is not \"append\" or \"ignore\"",
            "config/boot.xml:9: error: launcherArgs value \"yes\" is neither \"append\" nor \"ignore\"; ... [BC117]"),
    FINDING(BC118, true, "a singleInstance item whose value is not \"forward\" or \"ignore\"",
            "config/boot.xml:10: error: singleInstance value \"yes\" is neither \"forward\" nor \"ignore\"; ... [BC118]"),
    FINDING(BC201, false, "a key that is probably meant to be one of the seven keys",
            "config/boot.xml:6: warning: key \"Xmx\" is not read (keys are exact and case-sensitive); ... [BC201]"),
    FINDING(BC202, false, "a wanted key given more than once",
            "config/boot.xml:4: warning: key \"main\" is given again on line 9, and the last one wins (\"demo.Other\"); ... [BC202]"),
    FINDING(BC203, false, "a heap size that is empty or not in the JVM's size syntax",
            "config/boot.xml:5: warning: -Xmx value \"512MB\" is not a JVM size; ... [BC203]"),
    FINDING(BC204, false, "-Xms or -Xmn larger than -Xmx",
            "config/boot.xml:5: warning: -Xms 1g is larger than -Xmx 512m; ... [BC204]"),
    FINDING(BC205, false, "an empty or malformed main class name",
            "config/boot.xml:9: warning: main class \"com.example.Main.class\" is not a Java class name; ... [BC205]"),
    FINDING(BC206, false, "a class-path entry that does not exist",
            "config/boot.xml:7: warning: class-path entry \"lib/app.jar\" does not exist in /app/; ... [BC206]"),
    FINDING(BC207, false, "a java value with an unquoted blank that the launcher does not quote",
            "config/boot.xml:3: warning: the java value holds a blank and no quotes, so the program is \"C:\\Program\"; ... [BC207]"),
    FINDING(BC208, false, "a relative java path",
            "config/boot.xml:3: warning: the java path \"jre/bin/java\" is relative; ... [BC208]"),
    FINDING(BC209, false, "a line end or tab inside a value",
            "config/boot.xml:8: warning: the args value holds a line end; ... [BC209]"),
    FINDING(BC210, false, "leading or trailing blanks in a value",
            "config/boot.xml:9: warning: the main value \"demo.App \" has leading or trailing blanks, which the launcher keeps; ... [BC210]"),
    FINDING(BC211, false, "bytes outside ASCII that are not UTF-8 in a value, passed to Windows unchanged",
            "config/boot.xml:7: warning: the -cp value holds bytes outside ASCII that are not UTF-8; ... [BC211]"),
    FINDING(BC212, false, "an end tag that does not match its element",
            "config/boot.xml:10: warning: end tag </boot2> does not match the element it closes; ... [BC212]"),
    FINDING(BC213, false, "a second top-level element",
            "config/boot.xml:12: warning: a second top-level <boot> is ignored: the launcher reads only the first one (line 2); ... [BC213]"),
    FINDING(BC214, false, "an empty -cp value",
            "config/boot.xml:7: warning: the -cp value is empty, so java takes the next word \"demo.App\" as the class path; ... [BC214]"),
    FINDING(BC215, false, "characters that the ANSI code page (or --codepage) cannot hold",
            "config/boot.xml:8: warning: the args value holds characters that code page 1252 cannot hold: \"\u0141\" (U+0141); ... [BC215]"),
    FINDING(BC216, false, "an entity reference that the reader leaves undecoded",
            "config/boot.xml:8: warning: the args value holds \"&nosuch;\", an entity reference the reader does not decode, so java receives it as written; ... [BC216]"),
    FINDING(BC217, false, "a console-subsystem java program (java.exe), which brings a console window",
            "config/boot.xml:3: warning: the java program \"C:\\app\\jre\\bin\\java.exe\" is a console program; ... [BC217]"),
    FINDING(BC218, false, "a singleInstance item in the updater's boot file, which does not decide",
            "updater/config/boot.xml:8: warning: the updater's boot file does not decide singleInstance; ... [BC218]"),
};

#undef FINDING

// Each row stands at its code's place: a code without a row, or rows out of
// order, fail the build.
constexpr bool rowsAreInOrder() {
    for (int i = 0; i < findingCodeCount; ++i) {
        if (findingKinds[i].id != i || findingKinds[i].summary == nullptr) {
            return false;
        }
    }
    return true;
}
static_assert(rowsAreInOrder(), "findingKinds must list every FindingCode once, in order");

void addFinding(BootFileReport& report, long line, FindingCode code, const std::string& text) {
    const FindingKind& kind = findingKinds[code];
    report.findings.push_back(Finding{report.path, line, kind.error, kind.code, text});
}

int countFindings(const std::vector<BootFileReport>& reports, bool errors) {
    int count = 0;
    for (const BootFileReport& report : reports) {
        for (const Finding& finding : report.findings) {
            count += finding.error == errors ? 1 : 0;
        }
    }
    return count;
}
