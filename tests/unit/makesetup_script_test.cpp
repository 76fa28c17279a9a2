// makesetup's pure steps: the options it refuses and derives, names compared
// as Windows compares them, and the installer's script it writes.
#include "app_folder.hpp"
#include "nsis_script.hpp"
#include "setup_options.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
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

TEST(WindowsNames, FoldedAsWindowsFileSystemsCompareThem) {
    EXPECT_TRUE(sameWindowsName("ΣΟΦΊΑ", "σοφία"));
    EXPECT_TRUE(sameWindowsName("Ｎｏｔｅｓ", "ｎｏｔｅｓ"));
    EXPECT_TRUE(sameWindowsName("STRASSE", "straße"));      // full folding: ß is "ss"
    EXPECT_TRUE(sameWindowsName("\xff.jar", "\xff.JAR"));  // a byte that is no UTF-8 stays itself
    EXPECT_FALSE(sameWindowsName("I", "ı"));                // no Turkish rule
}

TEST(SetupOptionChecks, KeepAndReplaceNameOneTopFolderOnOneSide) {
    std::string problem;
    checkedOptions({"--replace", ".."}, problem);
    EXPECT_EQ(problem, "--replace \"..\" is not the name of a folder at the top of the app folder (it is empty); give "
                       "one such as data");
    checkedOptions({"--keep", "Ä", "--replace", "ä"}, problem);
    EXPECT_EQ(problem, "--keep Ä and --replace ä name one folder; give it on one side");
}

TEST(SetupOptionChecks, UpdateOptions) {
    const std::string notAFolder = "is not the address of a folder on a web server (";
    const std::string example = "); give one such as https://updates.example.com/myapp/";
    const struct {
        std::vector<std::string> args;
        std::string problem;
        std::string url;
    } rows[] = {
        {{"--update-url", "HTTPS://Updates.example.com/%E6%9C%88", "--update-key", "k.pem"}, "",
         "https://Updates.example.com/%E6%9C%88/"},
        {{"--update-url", "http://10.0.0.1:8080/app/", "--update-key", "k.pem", "--expires", "3650"}, "",
         "http://10.0.0.1:8080/app/"},
        {{"--update-url", "ftp://x/", "--update-key", "k.pem"},
         "--update-url \"ftp://x/\" " + notAFolder + "it does not begin with http:// or https://" + example, ""},
        {{"--update-url", "https:///app", "--update-key", "k.pem"},
         "--update-url \"https:///app\" " + notAFolder + "it names no server" + example, ""},
        {{"--update-url", "https://x/my app", "--update-key", "k.pem"},
         "--update-url \"https://x/my app\" " + notAFolder +
             "it holds a blank, a quote, a backslash or a letter outside ASCII; percent-encode it" + example, ""},
        {{"--update-url", "https://x/?v=1", "--update-key", "k.pem"},
         "--update-url \"https://x/?v=1\" " + notAFolder +
             "it holds a query or a fragment, and file names are appended to it" + example, ""},
        {{"--update-url", "https://x/"},
         "--update-url needs --update-key KEY.pem, the private key that signs the updates (makesetup --new-key KEY.pem "
         "makes one)", ""},
        {{"--feed", "feed"}, "--feed is for a package with update.exe; give --update-url and --update-key too", ""},
        {{"--rotate-key", "new.pem"}, "--rotate-key is for a package with update.exe; give --update-url and --update-key too",
         ""},
        {{"--update-url", "https://x/", "--update-key", "k.pem", "--expires", "0"},
         "--expires \"0\" is not a number of days from 1 to 3650; give one such as 365", ""},
        {{"--update-url", "https://x/", "--update-key", "k.pem", "--expires", "1y"},
         "--expires \"1y\" is not a number of days from 1 to 3650; give one such as 365", ""},
    };
    for (const auto& row : rows) {
        std::string problem;
        SetupOptions options = checkedOptions(row.args, problem);
        EXPECT_EQ(problem, row.problem) << row.args[1];
        if (row.problem.empty()) {
            EXPECT_EQ(options.updateUrl, row.url);
        }
    }
    SetupOptions options;
    bool help = false;
    EXPECT_EQ(parseSetupOptions({"--new-key", "k.pem"}, options, help), "");
    EXPECT_EQ(options.newKey, "k.pem");
    EXPECT_EQ(parseSetupOptions({"--new-key", "k.pem", "MyApp"}, options, help),
              "--new-key is used alone: makesetup --new-key FILE");
}

TEST(SetupOptionChecks, TheOtherShortcutNameIsAFileName) {
    std::string problem;
    EXPECT_EQ(checkedOptions({"--vendor", "A/B: \"C\" <D>?"}, problem).otherShortcut, "Notes (A_B_ _C_ _D__)");
}

TEST(InstallerScript, TheTemplateIsFilledInOnePass) {
    EXPECT_EQ(filledTemplate("\"@NAME@\" mail@example.com @@EXE@@ @UNKNOWN@ @",
                             {{"@NAME@", "Notes @EXE@"}, {"@EXE@", "N.exe"}}),
              "\"Notes @EXE@\" mail@example.com @N.exe@ @UNKNOWN@ @");
}

// A counted jump (StrCmp a b 0 +3) lands elsewhere once a line is added above its target.
bool hasCountedJump(const std::string& script) {
    static const std::set<std::string> jumps = {"StrCmp", "StrCmpS", "IntCmp", "IntCmpU", "IfErrors",
                                                "IfFileExists", "IfSilent", "Goto"};
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || jumps.count(word) == 0) {
            continue;
        }
        while (words >> word) {
            if (word.size() > 1 && (word[0] == '+' || word[0] == '-') &&
                word.find_first_not_of("0123456789", 1) == std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

TEST(InstallerScript, EveryJumpGoesToAName) {
    std::string problem;
    SetupOptions options = checkedOptions({"--document", ".myrep=Report"}, problem);
    std::string script = nsisScript(options) + nsisContent(options, {{"lib", true}, {"lib/app.jar", false}});
    EXPECT_TRUE(hasCountedJump("\n    StrCmp $0 \"\" +3 0\n"));
    EXPECT_FALSE(hasCountedJump(script));
}

TEST(InstallerScript, CodeFoldersAreThoseThatShipJarsExesOrDlls) {
    SetupOptions options;
    options.keep = {"LIB"};
    options.replace = {"cache"};
    EXPECT_EQ(codeFolders(options, {{"help", true}, {"help/index.html", false}, {"jre", true}, {"jre/bin", true},
                                    {"jre/bin/JAVAW.EXE", false}, {"lib", true}, {"lib/app.jar", false},
                                    {"native", true}, {"native/x64/zip.dll", false}, {"top.jar", false}}),
              (std::vector<std::string>{"cache", "jre", "native"}));
}

TEST(InstallerScript, TheManifestListsTheCodeFoldersFirst) {
    std::string problem;
    SetupOptions options = checkedOptions({"--exe", "Notes $1.exe", "--document", ".myrep=Report"}, problem);
    std::string content = nsisContent(options, {{"lib", true}, {"lib/a{b}.jar", false}});
    size_t start = content.find("!macro writeManifest");
    EXPECT_EQ(content.substr(start, content.find("!macroend", start) - start),
              "!macro writeManifest\n"
              "    FileOpen $R0 \"$INSTDIR\\${MANIFEST}\" w\n"
              "    FileWriteUTF16LE /BOM $R0 \"exe  Notes $$1.exe$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"code lib$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file Notes $$1.exe$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"file lib\\a${U+7B}b}.jar$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"type .myrep$\\r$\\n\"\n"
              "    FileWriteUTF16LE $R0 \"prog " + options.documents[0].progId + "$\\r$\\n\"\n"
              "    FileClose $R0\n");
}

}  // namespace
