// The base routines against the real Windows API (run under Wine).
#include "base.hpp"
#include "base_win.hpp"
#include "file.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(ApplicationPaths, ComeFromGetModuleFileNameA) {
    char self[MAX_PATH] = "";
    ASSERT_GT(GetModuleFileNameA(NULL, self, MAX_PATH), 0u);
    std::string selfPath = self;
    size_t separator = selfPath.rfind('\\');
    ASSERT_NE(separator, std::string::npos);

    setModuleFileName();
    EXPECT_EQ(appDir, selfPath.substr(0, separator + 1));
    EXPECT_EQ(exeFileName, selfPath.substr(separator + 1));
    EXPECT_EQ(parentDir, appDir);
    EXPECT_EQ(appDir.back(), '\\');
}

struct Utf8Case {
    const char* utf8;
    std::wstring expected;
};

TEST(Utf8ToWString, ConvertsThroughMultiByteToWideChar) {
    const std::vector<Utf8Case> cases = {
        {"", L""},
        {"Error", L"Error"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\x65E5\x672C\x8A9E"},  // 日本語: 9 bytes, 3 units
        {"D:\\app\\config\\boot.xml", L"D:\\app\\config\\boot.xml"},
        {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},  // outside the BMP: a surrogate pair
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(utf8ToWString(c.utf8), c.expected) << c.utf8;
    }
}

TEST(FileExists, OnlyFilesThatOpenForReading) {
    char tempDir[MAX_PATH] = "";
    ASSERT_GT(GetTempPathA(MAX_PATH, tempDir), 0u);
    std::string base = std::string(tempDir) + "launcher_file_probe_" + std::to_string(GetCurrentProcessId());
    std::string file = base + ".txt";
    std::string directory = base + "_dir";
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), NULL));

    struct Row {
        std::string path;
        int expected;
    };
    const std::vector<Row> rows = {
        {file, 1},
        {directory, 0},
        {base + ".missing", 0},
        {std::string(tempDir) + "\\" + "launcher_file_probe_" + std::to_string(GetCurrentProcessId()) + ".txt", 1},
    };
    for (const Row& row : rows) {
        std::vector<char> path(row.path.begin(), row.path.end());
        path.push_back('\0');
        EXPECT_EQ(fileExists(path.data()), row.expected) << row.path;
    }
    DeleteFileA(file.c_str());
    RemoveDirectoryA(directory.c_str());
}

}  // namespace
