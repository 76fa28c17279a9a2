// Install folders: the java path's quoting, the code-page conversions, and the
// application paths taken from the wide module path.
#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "main.hpp"
#include "boot_reading.hpp"
#include "test_files.hpp"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace {

struct QuoteCase {
    const char* name;
    std::string value;  // "@" stands for the scratch folder
    std::string expected;
};

class QuotingRule : public ScratchDirTest {
protected:
    std::string expand(const std::string& text) const {
        std::string out;
        for (char c : text) {
            out += c == '@' ? dir.string() : std::string(1, c);
        }
        return out;
    }
};

TEST_F(QuotingRule, QuotesOnlyAWholeExistingFileWithBlanks) {
    writeFile(dir / "my app" / "java", "");
    writeFile(dir / "tab\tdir" / "java", "");
    writeFile(dir / "plain" / "java", "");
    boost::filesystem::create_directories(dir / "my dir");
    const std::vector<QuoteCase> cases = {
        {"blank in the folder", "@/my app/java", "\"@/my app/java\""},
        {"tab in the folder", "@/tab\tdir/java", "\"@/tab\tdir/java\""},
        {"no blank", "@/plain/java", "@/plain/java"},
        {"missing file", "@/my app/nojava", "@/my app/nojava"},
        {"option after the path", "@/my app/java -Xss1m", "@/my app/java -Xss1m"},
        {"quoted by the boot file", "\"@/my app/java\"", "\"@/my app/java\""},
        {"quote inside", "@/my app/ja\"va", "@/my app/ja\"va"},
        {"folder, not a file", "@/my dir", "@/my dir"},
        {"trailing blank", "@/my app/java ", "@/my app/java "},
        {"empty", "", ""},
        {"plain word", "java", "java"},
    };
    for (const QuoteCase& c : cases) {
        EXPECT_EQ(quoteJavaPath(expand(c.value)), expand(c.expected)) << c.name;
    }
}

TEST_F(QuotingRule, ProgramPartAfterALeadingPlaceholder) {
    writeFile(dir / "my app" / "java", "");
    // (value, end of the program part, expected); "@" is the scratch folder, whose
    // "my app" holds a blank.
    const struct {
        const char* name;
        std::string value;
        size_t programEnd;
        std::string expected;
    } cases[] = {
        {"whole existing file first", "@/my app/java", 0, "\"@/my app/java\""},
        {"missing java", "@/my app/nojava", std::string::npos, "@/my app/nojava"},
        {"missing java, program part", "@/my app/nojava", 14, "\"@/my app/nojava\""},
        {"option after the path", "@/my app/java -Xss1m", 12, "\"@/my app/java\" -Xss1m"},
        {"trailing blank", "@/my app/java ", 12, "\"@/my app/java\" "},
        {"quote later in the value", "@/my app/java -Da=\"x y\"", 12, "\"@/my app/java\" -Da=\"x y\""},
        {"program part without blank", "@/plain/java -Xss1m", 11, "@/plain/java -Xss1m"},
    };
    for (const auto& c : cases) {
        size_t programEnd = c.programEnd == std::string::npos || c.programEnd == 0
                                ? c.programEnd
                                : dir.string().size() + c.programEnd;
        EXPECT_EQ(quoteJavaPath(expand(c.value), programEnd), expand(c.expected)) << c.name;
    }
}

TEST(PlaceholderPass, ReplacesBothTokensOnceFromLeftToRight) {
    // (folder, value, result, end of the program part or npos)
    const struct {
        std::string folder;
        std::string value;
        std::string expected;
        size_t programEnd;
    } cases[] = {
        {"/a/", "${APP_DIR}java", "/a/java", 7},
        {"/a/", "${PARENT_DIR}java -Xss1m", "/a/java -Xss1m", 7},
        {"/a/", "${APP_DIR}x${PARENT_DIR}y", "/a/x/a/y", 8},
        {"/a/", "java${APP_DIR}", "java/a/", std::string::npos},
        {"/a/", " ${APP_DIR}java", " /a/java", std::string::npos},
        {"/a/", "${APP_DIR", "${APP_DIR", std::string::npos},
        {"/a/", "$${APP_DIR}}", "$/a/}", std::string::npos},
        {"/x${PARENT_DIR}y/", "${APP_DIR}java", "/x${PARENT_DIR}y/java", 21},
        {"/x${APP_DIR}y/", "${PARENT_DIR}java\tz", "/x${APP_DIR}y/java\tz", 18},
        {"/my app/", "${APP_DIR}jre/java -X", "/my app/jre/java -X", 16},
    };
    for (const auto& c : cases) {
        size_t programEnd = 0;
        EXPECT_EQ(replacePlaceholders(c.value, programEnd, StartInputs{c.folder, c.folder, {}, 0}), c.expected)
            << c.value;
        EXPECT_EQ(programEnd, c.programEnd) << c.value;
    }
    StartInputs quoted{"/my \"app\"/", "/my \"app\"/", {}, 0};
    size_t programEnd = 0;
    EXPECT_THROW(replacePlaceholders("${PARENT_DIR}java", programEnd, quoted), std::runtime_error);
    EXPECT_EQ(replacePlaceholders("java", programEnd, quoted), "java");

}

TEST(BootValueConversion, NativeValuesPassUnchanged) {
    // The ANSI code page here is UTF-8; on Windows the Wine suites see the conversion.
    const std::string values[] = {"-Dapp.mode=demo", "-Dname=\xE6\x97\xA5\xE6\x9C\xAC",
                                  "-Dname=\x93\xFA\x96\x7B", "", "caf\xC3"};
    for (const std::string& value : values) {
        EXPECT_EQ(utf8ToAnsi(value), value);
    }
}

TEST_F(QuotingRule, CommandLineCarriesTheQuotedPath) {
    std::string app = (dir / "My Apps").string() + "/";
    writeFile(app + "java", "");
    writeFile(app + "config/boot.xml",
              "<boot><item key=\"java\" value=\"${APP_DIR}java\"/>"
              "<item key=\"-Xmx\" value=\"64m\"/><item key=\"main\" value=\"Main\"/></boot>");
    std::string savedAppDir = appDir, savedParentDir = parentDir;
    appDir = parentDir = app;
    readBootXml(app + "config/boot.xml");
    appDir = savedAppDir, parentDir = savedParentDir;
    EXPECT_EQ(javaCommandLine, "\"" + app + "java\" -Xmn -Xms -Xmx64m -cp   Main");
}

struct AnsiCase {
    const char* name;
    std::wstring wide;
    int exact;
    std::string ansi;
};

TEST(CodePageConversion, WideToAnsiIsExactOrRefused) {
    // The narrow code page here is UTF-8; bytes that are not UTF-8 travel as U+DC80..U+DCFF.
    const std::vector<AnsiCase> cases = {
        {"empty", L"", TRUE, ""},
        {"ASCII path", L"/apps/tool/", TRUE, "/apps/tool/"},
        {"Japanese", L"/\u30A2\u30D7\u30EA/", TRUE, "/\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA/"},
        {"Polish", L"\u0141\u00F3d\u017A", TRUE, "\xC5\x81\xC3\xB3" "d\xC5\xBA"},
        {"byte that is not UTF-8", L"/a\xDCFF/", TRUE, "/a\xFF/"},
        {"lone surrogate", L"/a\xD800/", FALSE, ""},
    };
    for (const AnsiCase& c : cases) {
        std::string ansi = "stale";
        EXPECT_EQ(wstringToAnsi(c.wide, ansi), c.exact) << c.name;
        EXPECT_EQ(ansi, c.ansi) << c.name;
    }
}

struct Utf8Case {
    const char* name;
    std::string input;
    std::string utf8;
};

TEST(CodePageConversion, AnsiToUtf8ForTheBoxes) {
    const std::vector<Utf8Case> cases = {
        {"empty", "", ""},
        {"ASCII", "C:\\apps\\config\\boot.xml", "C:\\apps\\config\\boot.xml"},
        {"Japanese", "/\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA/", "/\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA/"},
        {"byte that is not UTF-8", "/a\xFF/", "/a\xEF\xBF\xBD/"},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(ansiToUtf8(c.input), c.utf8) << c.name;
    }
}

TEST(CodePageConversion, WideToUtf8) {
    EXPECT_EQ(wstringToUtf8(L""), "");
    EXPECT_EQ(wstringToUtf8(L"D:\\\u30A2\u30D7\u30EA\\"), "D:\\\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA\\");
    EXPECT_EQ(wstringToUtf8(L"a\xD800z"), "a\xEF\xBF\xBDz");
}

TEST(CodePageConversion, DefaultCharacterIsReported) {
    BOOL usedDefaultChar = TRUE;
    char out[8] = "";
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"ab", 2, out, 8, NULL,
                                  &usedDefaultChar), 2);
    EXPECT_FALSE(usedDefaultChar);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"a\xD800", 2, out, 8, NULL,
                                  &usedDefaultChar), 2);
    EXPECT_TRUE(usedDefaultChar);
    EXPECT_EQ(std::string(out, 2), "a?");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, L"a\xD800", 2, out, 8, NULL, NULL), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", 3, out, 2, NULL, NULL), 0) << "buffer too small";
}

struct AppPathsCase {
    const char* name;
    std::wstring modulePath;
    int result;
    std::string appDir;
    std::string exeFileName;
    std::string appDirUtf8;
};

TEST(ApplicationPaths, ComeFromTheWideModulePath) {
    const std::wstring longFolder = L"/" + std::wstring(150, L'x') + L"/" + std::wstring(200, L'y');
    const std::string longFolderUtf8 = "/" + std::string(150, 'x') + "/" + std::string(200, 'y');
    const std::vector<AppPathsCase> cases = {
        {"plain", L"/apps/tool/launcher", OK, "/apps/tool/", "launcher", "/apps/tool/"},
        {"blanks", L"/My Apps/tool/launcher.exe", OK, "/My Apps/tool/", "launcher.exe", "/My Apps/tool/"},
        {"Japanese folder", L"/\u30A2\u30D7\u30EA/launcher", OK, "/\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA/",
         "launcher", "/\xE3\x82\xA2\xE3\x83\x97\xE3\x83\xAA/"},
        {"folder beyond 255 bytes keeps its separator", longFolder + L"/launcher", OK,
         longFolderUtf8 + "/", "launcher", longFolderUtf8 + "/"},
        {"root", L"/launcher", OK, "/", "launcher", "/"},
        {"no folder at all", L"launcher", ERR, "", "", ""},
        // No narrow form and no file to take a short form from.
        {"folder without a narrow form", L"/a\xD800/launcher", ERR, "", "", "/a\xEF\xBF\xBD/"},
    };
    for (const AppPathsCase& c : cases) {
        EXPECT_EQ(setAppPaths(c.modulePath), c.result) << c.name;
        EXPECT_EQ(appDir, c.appDir) << c.name;
        EXPECT_EQ(parentDir, c.appDir) << c.name;
        EXPECT_EQ(exeFileName, c.exeFileName) << c.name;
        EXPECT_EQ(appDirUtf8, c.appDirUtf8) << c.name;
    }
    ASSERT_EQ(setModuleFileName(), OK);
}

TEST(ApplicationPaths, ModulePathQueryReportsACutPath) {
    wchar_t full[4096];
    DWORD length = GetModuleFileNameW(NULL, full, 4096);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, 4096u);
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(GetModuleFileNameW(NULL, small, 4), 4u);
    EXPECT_EQ(std::wstring(small), std::wstring(full, 3));
}

class ShortPathQuery : public ScratchDirTest {};

TEST_F(ShortPathQuery, AnExistingPathIsItsOwnShortForm) {
    writeFile(dir / "my app" / "launcher", "");
    std::wstring existing = dir.wstring() + L"/my app/launcher";
    wchar_t buffer[4096];
    EXPECT_EQ(GetShortPathNameW(existing.c_str(), NULL, 0), existing.size() + 1);
    EXPECT_EQ(GetShortPathNameW(existing.c_str(), buffer, 4096), existing.size());
    EXPECT_EQ(std::wstring(buffer), existing);
    EXPECT_EQ(GetShortPathNameW((existing + L"x").c_str(), buffer, 4096), 0u);
}

}  // namespace
