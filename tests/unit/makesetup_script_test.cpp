// makesetup's pure steps: the options it refuses and derives, names compared
// as Windows compares them, and the installer's script it writes.
#include "app_folder.hpp"
#include "case_fold.hpp"
#include "nsis_script.hpp"
#include "setup_options.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

SetupOptions checkedOptions(const std::vector<std::string>& extra, std::string& problem) {
    std::vector<std::string> args = {"MyApp", "--name", "Notes", "--vendor", "Example", "--version", "1.0"};
    args.insert(args.end(), extra.begin(), extra.end());
    SetupOptions options;
    bool help = false;
    problem = parseSetupOptions(args, options, help);
    if (problem.empty()) {
        problem = checkSetupOptions(options);
    }
    return options;
}

// The lines of text from the one that starts with first up to and with the one that starts with last.
std::string linesBetween(const std::string& text, const std::string& first, const std::string& last) {
    size_t start = text.find(first);
    size_t end = text.find('\n', text.find(last, start));
    return start == std::string::npos ? "" : text.substr(start, end + 1 - start);
}

TEST(WindowsNames, FoldedAsWindowsFileSystemsCompareThem) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"lib/Ä.jar", "lib/ä.jar", true},
        {"ΣΟΦΊΑ", "σοφία", true},
        {"ЖУРНАЛ.TXT", "журнал.txt", true},
        {"Ｎｏｔｅｓ", "ｎｏｔｅｓ", true},  // full-width letters fold as well
        {"STRASSE", "straße", true},      // full folding: ß is "ss"
        {"Uninstall.EXE", "uninstall.exe", true},
        {"I", "ı", false},  // no Turkish rule: the dotless i is its own letter
        {"a.jar", "b.jar", false},
        {"\xff.jar", "\xff.JAR", true},  // a byte that is no UTF-8 stays itself
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameWindowsName(c.a, c.b), c.same) << c.a << " / " << c.b;
    }
    EXPECT_EQ(foldedCase("Ä-ẞ"), "ä-ss");
}

TEST(SetupOptionChecks, KeepAndReplaceNameOneTopFolderOnOneSide) {
    const struct {
        std::vector<std::string> args;
        std::string problem;
    } cases[] = {
        {{"--keep", "plugins", "--replace", "cache", "--keep", "data"}, ""},
        {{"--keep", "lib/plugins"},
         "--keep \"lib/plugins\" is not the name of a folder at the top of the app folder (Windows does not allow "
         "the character \"/\" in a file name); give one such as data"},
        {{"--replace", ".."},
         "--replace \"..\" is not the name of a folder at the top of the app folder (it is empty); give one such as data"},
        {{"--keep", "Ä", "--replace", "ä"}, "--keep Ä and --replace ä name one folder; give it on one side"},
        {{"--keep"}, "--keep needs a value"},
    };
    for (const auto& c : cases) {
        std::string problem;
        checkedOptions(c.args, problem);
        EXPECT_EQ(problem, c.problem) << testing::PrintToString(c.args);
    }
}

TEST(SetupOptionChecks, TheOtherShortcutNameIsAFileName) {
    const struct {
        const char* vendor;
        const char* shortcut;
    } cases[] = {
        {"Example", "Notes (Example)"},
        {"A/B: \"C\" <D>?", "Notes (A_B_ _C_ _D__)"},
    };
    for (const auto& c : cases) {
        std::string problem;
        SetupOptions options = checkedOptions({"--vendor", c.vendor}, problem);
        EXPECT_EQ(problem, "");
        EXPECT_EQ(options.otherShortcut, c.shortcut);
        EXPECT_EQ(windowsNameProblem(options.otherShortcut + ".lnk"), "");
    }
}

TEST(InstallerScript, TheTemplateIsFilledInOnePass) {
    const std::vector<std::pair<std::string, std::string>> words = {{"@NAME@", "Notes @EXE@"}, {"@EXE@", "N.exe"}};
    const struct {
        const char* text;
        const char* filled;
    } cases[] = {
        {"Name \"@NAME@\" @EXE@", "Name \"Notes @EXE@\" N.exe"},
        {"mail@example.com @EXE@", "mail@example.com N.exe"},  // an "@" that opens no word
        {"@@EXE@@", "@N.exe@"},
        {"@UNKNOWN@ @", "@UNKNOWN@ @"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(filledTemplate(c.text, words), c.filled) << c.text;
    }
}

TEST(InstallerScript, EveryJumpGoesToAName) {
    std::string problem;
    SetupOptions options = checkedOptions({"--document", ".myrep=Report"}, problem);
    ASSERT_EQ(problem, "");
    std::string script = nsisScript(options) + nsisContent(options, {{"lib", true}, {"lib/app.jar", false}});
    // A counted jump (StrCmp a b 0 +3) lands elsewhere once a line is added above its target.
    std::regex countedJump("\\n\\s*(StrCmpS?|IntCmpU?|IfErrors|IfFileExists|IfSilent|Goto)\\b[^\\n]*\\s[+-][0-9]+\\s*\\n");
    EXPECT_FALSE(std::regex_search(script, countedJump));
}

TEST(InstallerScript, CodeFoldersAreThoseThatShipJarsExesOrDlls) {
    const std::vector<AppEntry> entries = {
        {"config", true},          {"config/boot.xml", false}, {"help", true},          {"help/index.html", false},
        {"jre", true},             {"jre/bin", true},          {"jre/bin/JAVAW.EXE", false}, {"lib", true},
        {"lib/app.jar", false},    {"native", true},           {"native/x64/zip.dll", false}, {"top.jar", false},
        {"updater", true},         {"updater/updater.jar", false},
    };
    const struct {
        std::vector<std::string> keep;
        std::vector<std::string> replace;
        std::vector<std::string> code;
    } cases[] = {
        {{}, {}, {"jre", "lib", "native", "updater"}},
        {{"LIB"}, {"cache"}, {"cache", "jre", "native", "updater"}},
        {{"help"}, {"help"}, {"jre", "lib", "native", "updater"}},
    };
    for (const auto& c : cases) {
        SetupOptions options;
        options.keep = c.keep;
        options.replace = c.replace;
        EXPECT_EQ(codeFolders(options, entries), c.code);
    }
}

TEST(InstallerScript, TheManifestListsTheCodeFoldersTheFilesAndTheTypes) {
    std::string problem;
    SetupOptions options = checkedOptions({"--exe", "Notes $1.exe", "--document", ".myrep=Report", "--keep", "plugins"},
                                          problem);
    ASSERT_EQ(problem, "");
    const std::vector<AppEntry> entries = {{"config", true}, {"config/boot.xml", false}, {"lib", true},
                                           {"lib/a{b}.jar", false}, {"plugins", true}, {"plugins/p.jar", false}};
    std::string content = nsisContent(options, entries);
    std::string progId = options.documents[0].progId;
    EXPECT_EQ(linesBetween(content, "!macro writeManifest", "!macroend"),
              "!macro writeManifest\n"
              "    FileOpen $R0 \"$INSTDIR\\${MANIFEST}\" w\n"
              "    FileWriteUTF16LE /BOM $R0 \"exe  Notes $$1.exe$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"code lib$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file Notes $$1.exe$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file config\\boot.xml$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file lib\\a${U+7B}b}.jar$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file plugins\\p.jar$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"type .myrep$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"prog " + progId + "$\\r$\\n\"\n"
              "    FileClose $R0\n"
              "!macroend\n");
    EXPECT_EQ(linesBetween(content, "!macro keptFolders", "!macroend"),
              "!macro keptFolders\n"
              "    StrCpy $R4 \"plugins\"\n"
              "    ${If} $R3 == $R4\n"
              "        StrCpy $R0 1\n"
              "    ${EndIf}\n"
              "!macroend\n");
    EXPECT_EQ(linesBetween(content, "!macro removeCodeFolders", "!macroend"),
              "!macro removeCodeFolders\n"
              "    Push \"$folder\\lib\"\n"
              "    Call removeTree\n"
              "!macroend\n");
}

}  // namespace
