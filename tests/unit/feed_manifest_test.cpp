// The feed manifest that makesetup writes and update reads: its text both
// ways, the lines and paths it refuses, versions and times.
#include "feed_manifest.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string hashA(64, 'a');
const std::string hashB(64, 'b');
const std::string header = "launcher-update 1\nproduct {id}\nversion 2.0.0\nreleased 2026-12-09T10:00:00Z\n"
                           "expires 2027-12-09T10:00:00Z\n";

std::string problemOf(const std::string& text) {
    FeedManifest manifest;
    return readFeedManifest(text, manifest);
}

TEST(FeedManifest, TextAndBack) {
    FeedManifest written;
    written.product = "{id}";
    written.version = "2.0.0";
    written.released = utcTimeSeconds("2026-12-09T10:00:00Z");
    written.expires = utcTimeSeconds("2027-12-09T10:00:00Z");
    written.codeFolders = {"lib", "updater"};
    written.files = {{"月次 アプリ.exe", 7, hashB}, {"lib/app.jar", 123456, hashA}, {"Lib.txt", 0, hashA}};
    std::string text = feedManifestText(written);
    EXPECT_EQ(text, header + "code lib\ncode updater\nfile 0 " + hashA + " Lib.txt\nfile 123456 " + hashA +
                        " lib/app.jar\nfile 7 " + hashB + " 月次 アプリ.exe\n");
    FeedManifest read;
    ASSERT_EQ(readFeedManifest(text, read), "");
    EXPECT_EQ(feedManifestText(read), text);
    EXPECT_EQ(read.codeFolders, written.codeFolders);
    EXPECT_EQ(feedBytes(read), 123463);
}

TEST(FeedManifest, EachBadLineIsNamed) {
    const std::string file = "file 1 " + hashA + " lib/a.jar\n";
    const struct {
        const char* what;
        std::string text;
        std::string problem;
    } rows[] = {
        {"no line end", header.substr(0, header.size() - 1), "it does not end with a line end"},
        {"another format", "launcher-update 2\n", "line 1: not a manifest of this updater (\"launcher-update 1\" expected)"},
        {"header cut short", "launcher-update 1\nproduct x\n", "line 2: the manifest ends before its header does"},
        {"header out of order", "launcher-update 1\nversion 1.0\n", "line 2: \"product ...\" expected"},
        {"bad version", "launcher-update 1\nproduct x\nversion 1.0b\n", "line 3: \"1.0b\" is not a version of digits and dots"},
        {"bad time", "launcher-update 1\nproduct x\nversion 1.0\nreleased 2026-02-30T00:00:00Z\n",
         "line 4: \"2026-02-30T00:00:00Z\" is not a time such as 2026-12-09T10:00:00Z"},
        {"expiry first", "launcher-update 1\nproduct x\nversion 1.0\nreleased 2026-12-09T10:00:00Z\n"
                         "expires 2026-12-09T09:59:59Z\n", "line 5: it expires before its release"},
        {"unknown line", header + "link x\n", "line 6: \"link\" is not a line of a manifest"},
        {"code after files", header + file + "code lib\n", "line 7: a code folder after the files"},
        {"code folder twice", header + "code lib\ncode LIB\n", "line 7: the code folder \"LIB\" is given twice"},
        {"code folder path", header + "code lib/x\n",
         "line 6: the code folder \"lib/x\" cannot be a folder at the top (it is not one name)"},
        {"file without path", header + "file 1 " + hashA + "\n", "line 6: \"file SIZE SHA-256 PATH\" expected"},
        {"negative size", header + "file -1 " + hashA + " a\n", "line 6: the size \"-1\" is not a number of bytes"},
        {"upper-case hash", header + "file 1 " + std::string(64, 'A') + " a\n",
         "line 6: the hash \"" + std::string(64, 'A') + "\" is not 64 lower-case hex digits"},
        {"short hash", header + "file 1 abc a\n", "line 6: the hash \"abc\" is not 64 lower-case hex digits"},
        {"bad path", header + "file 1 " + hashA + " ../a\n",
         "line 6: the path \"../a\" cannot name a file in the app folder (it holds a \"..\" name)"},
        {"updater's own file", header + "file 1 " + hashA + " updater/Last-Update.txt\n",
         "line 6: the path \"updater/Last-Update.txt\" is one of the updater's own files"},
        {"the installed record", header + "file 1 " + hashA + " updater/update-installed.txt\n",
         "line 6: the path \"updater/update-installed.txt\" is one of the updater's own files"},
        {"unsorted", header + "file 1 " + hashA + " b\nfile 1 " + hashA + " a\n", "line 7: the files are not sorted by path"},
        {"same path by full case folding", header + "file 1 " + hashA + " STRASSE.jar\nfile 1 " + hashA + " straße.jar\n",
         "line 7: the path \"straße.jar\" is listed twice (case folded)"},
        {"a file below a file", header + "file 1 " + hashA + " A\nfile 1 " + hashA + " a/b\n",
         "line 7: the path \"a/b\" is below a file listed before"},
        {"a file that is a folder", header + "file 1 " + hashA + " B/x\nfile 1 " + hashA + " b\n",
         "line 7: the path \"b\" is a folder of another path"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(problemOf(row.text), row.problem) << row.what;
    }
}

TEST(FeedManifest, PathsThatLeaveTheFolderOrThatWindowsCannotHold) {
    const std::pair<const char*, const char*> rows[] = {
        {"lib/app.jar", ""},
        {"jre/bin/月次 アプリ.dll", ""},
        {"", "it is empty"},
        {"..", "it holds a \"..\" name"},
        {"a/./b", "it holds a \".\" name"},
        {"a//b", "it has an empty name"},
        {"lib/", "it has an empty name"},
        {"/abs", "it is absolute"},
        {"\\abs", "it is absolute"},
        {"C:x", "it names a drive"},
        {"a\\b", "it holds \"\\\" (names are separated by \"/\")"},
        {"CON", "\"CON\": \"con\" is a device name on Windows"},
        {"lib/nul.txt", "\"nul.txt\": \"nul\" is a device name on Windows"},
        {"lib/Com1.jar", "\"Com1.jar\": \"com1\" is a device name on Windows"},
        {"app.jar.", "\"app.jar.\": Windows drops a blank or dot at the end of a file name"},
        {"app.jar ", "\"app.jar \": Windows drops a blank or dot at the end of a file name"},
        {"a?.jar", "\"a?.jar\": Windows does not allow the character \"?\" in a file name"},
        {"a\tb", "\"a\tb\": Windows does not allow the character with code 9 in a file name"},
        {"\xff.jar", "\"\xff.jar\": it is not UTF-8"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(feedPathProblem(row.first), row.second) << row.first;
    }
}

TEST(FeedManifest, VersionsCompareNumberByNumber) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } rows[] = {
        {"1.2", "1.10", -1}, {"2.0", "2.0.0", 0}, {"2.0.1", "2.0", 1}, {"1.02", "1.2", 0},
        {"10.0", "9.99", 1}, {"123456789012345678901.0", "123456789012345678902", -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(compareVersions(row.a, row.b), row.order) << row.a << " " << row.b;
        EXPECT_EQ(compareVersions(row.b, row.a), -row.order) << row.b << " " << row.a;
    }
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2b", "v1", "1 .2"}) {
        EXPECT_FALSE(validVersion(bad)) << bad;
    }
    EXPECT_TRUE(validVersion("7"));
}

TEST(FeedManifest, TimesInUtc) {
    const std::pair<const char*, int64_t> rows[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"2038-01-19T03:14:08Z", 2147483648},  // beyond a signed 32-bit time_t
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2023-02-29T00:00:00Z", -1},
        {"2026-12-09T24:00:00Z", -1},
        {"2026-12-09 10:00:00Z", -1},
        {"2026-12-09T10:00:00", -1},
        {"1969-12-31T23:59:59Z", -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(utcTimeSeconds(row.first), row.second) << row.first;
        if (row.second >= 0) {
            EXPECT_EQ(utcTimeText(row.second), row.first);
        }
    }
}

}  // namespace
