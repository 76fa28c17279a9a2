// Application paths, text conversion, message boxes and the file probe.
#include "base.hpp"
#include "base_win.hpp"
#include "file.hpp"
#include "test_files.hpp"

#include <windows.h>

#include <unistd.h>

#include <memory>
#include <vector>

namespace {

TEST(ApplicationPaths, ComeFromTheRunningExecutable) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    std::string selfPath(self, static_cast<size_t>(length));

    setModuleFileName();
    size_t slash = selfPath.rfind('/');
    EXPECT_EQ(appDir, selfPath.substr(0, slash + 1));
    EXPECT_EQ(exeFileName, selfPath.substr(slash + 1));
    EXPECT_EQ(parentDir, appDir);
    EXPECT_EQ(appDir.back(), '/');
}

struct WideCase {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

TEST(Utf8ToWString, ConvertsLikeTheWindowsConverter) {
    const std::vector<WideCase> cases = {
        {"empty", "", L""},
        {"ASCII", "Error 42", L"Error 42"},
        {"Japanese word", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\u65E5\u672C\u8A9E"},
        {"message text", "\xE6\x88\xBB\xE3\x82\x8A\xE5\x80\xA4= 5", L"\u623B\u308A\u5024= 5"},
        {"ends at the first NUL", std::string("ab\0cd", 5), L"ab"},
        {"stray continuation byte", "a\x80z", L"a\uFFFDz"},
        {"cut-off sequence", "a\xE6\x97", L"a\uFFFD\uFFFD"},
        {"overlong encoding", "\xC0\xAF", L"\uFFFD\uFFFD"},
    };
    for (const WideCase& c : cases) {
        EXPECT_EQ(utf8ToWString(c.utf8), c.wide) << c.name;
    }
    EXPECT_EQ(utf8ToWString("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E").size(), 3u);
}

TEST(Utf8ToWString, CountsTheTerminatorForLengthMinusOne) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE6\x97\xA5x", -1, NULL, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE6\x97\xA5x", 4, NULL, 0), 2);
    wchar_t small[1];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 1), 0);
}

TEST(MessageBoxes, ShowCaptionAndTextAsOneLine) {
    testing::internal::CaptureStderr();
    MessageBox2("CloseHandle(hThread)");
    MessageBox2(std::string("\xE6\x9B\xB4\xE6\x96\xB0 /opt/app/config/boot.xml"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: CloseHandle(hThread)\n"
              "Error: \xE6\x9B\xB4\xE6\x96\xB0 /opt/app/config/boot.xml\n");
}

TEST(StringToChar, CopiesTextAndTerminator) {
    std::unique_ptr<char[]> copy(stringToChar("a b\xE6\x97\xA5"));
    EXPECT_STREQ(copy.get(), "a b\xE6\x97\xA5");
    std::unique_ptr<char[]> empty(stringToChar(""));
    EXPECT_STREQ(empty.get(), "");
}

class FileExists : public ScratchDirTest {
protected:
    int probe(const std::string& name) { return fileExistsAt(path(name)); }
};

TEST_F(FileExists, OnlyReadableFilesCount) {
    writeFile(dir / "empty", "");
    writeFile(dir / "debug", "anything");
    boost::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(probe("empty"), TRUE);
    EXPECT_EQ(probe("debug"), TRUE);
    EXPECT_EQ(probe("missing"), FALSE);
    EXPECT_EQ(probe("folder"), FALSE);
    EXPECT_EQ(probe("missing/debug"), FALSE);
}

TEST_F(FileExists, DoubledSeparatorIsOneSeparator) {
    writeFile(dir / "debug", "");
    EXPECT_EQ(probe("/debug"), TRUE);
}

}  // namespace
