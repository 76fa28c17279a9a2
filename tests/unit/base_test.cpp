// Application paths, text conversion, message boxes and the file probe; built
// natively and for Windows (windows_api_test), where they meet the real API.
#include "base.hpp"
#include "base_win.hpp"
#include "file.hpp"
#include "test_files.hpp"

#include <windows.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <memory>
#include <vector>

namespace {

// The test's own path, told by the system rather than by the code under test.
std::string runningExecutable() {
#ifdef _WIN32
    char self[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
#else
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
#endif
    return length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string();
}

TEST(ApplicationPaths, ComeFromTheRunningExecutable) {
    std::string selfPath = runningExecutable();
    size_t separator = selfPath.find_last_of("/\\");
    ASSERT_NE(separator, std::string::npos) << selfPath;

    setModuleFileName();
    EXPECT_EQ(appDir, selfPath.substr(0, separator + 1));
    EXPECT_EQ(exeFileName, selfPath.substr(separator + 1));
    EXPECT_EQ(parentDir, appDir);
    EXPECT_EQ(appDir.back(), selfPath[separator]);
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
        {"Windows path", "D:\\app\\config\\boot.xml", L"D:\\app\\config\\boot.xml"},
        {"outside the BMP: a surrogate pair where wchar_t has 16 bits", "\xF0\x9F\x98\x80", L"\U0001F600"},
        {"ends at the first NUL", std::string("ab\0cd", 5), L"ab"},
        {"stray continuation byte", "a\x80z", L"a\uFFFDz"},
#ifndef _WIN32
        // Windows gives one U+FFFD here, one per maximal ill-formed part; the stand-in two.
        {"cut-off sequence", "a\xE6\x97", L"a\uFFFD\uFFFD"},
#endif
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

#ifndef _WIN32
// On Windows a box is a window: the desktop test reads it.
TEST(MessageBoxes, ShowCaptionAndTextAsOneLine) {
    testing::internal::CaptureStderr();
    MessageBox2("CloseHandle(hThread)");
    MessageBox2(std::string("\xE6\x9B\xB4\xE6\x96\xB0 /opt/app/config/boot.xml"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: CloseHandle(hThread)\n"
              "Error: \xE6\x9B\xB4\xE6\x96\xB0 /opt/app/config/boot.xml\n");
}
#endif

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
    const std::string separator(1, static_cast<char>(boost::filesystem::path::preferred_separator));
    EXPECT_EQ(fileExistsAt(dir.string() + separator + separator + "debug"), TRUE);
}

}  // namespace
