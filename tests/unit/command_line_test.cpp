// Argument splitting of the POSIX process starter: the same words java.exe
// would see for the same command line on Windows.
#include "java_command_line.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SplitCase {
    const char* commandLine;
    std::vector<std::string> words;
};

TEST(ArgumentSplitting, MatchesJavaOnWindows) {
    const std::vector<SplitCase> cases = {
        {"java -Xmx1g Main", {"java", "-Xmx1g", "Main"}},
        {"  java \t -cp   a.jar  ", {"java", "-cp", "a.jar"}},
        {"", {}},
        {"   ", {}},
        {"java \"a b\" c", {"java", "a b", "c"}},
        {"java a\" \"b", {"java", "a b"}},
        {"java \"\" x", {"java", "", "x"}},
        {"java \"\"", {"java", ""}},
        {"java -Da=\"x y\"z", {"java", "-Da=x yz"}},
        {"java \"unterminated arg", {"java", "unterminated arg"}},
        {"java C:\\dir\\file", {"java", "C:\\dir\\file"}},
        {"java a\\\\b", {"java", "a\\\\b"}},
        {"java a\\\"b", {"java", "a\"b"}},
        {"java a\\\\\"b c\"", {"java", "a\\b c"}},
        {"java a\\\\\\\"b", {"java", "a\\\"b"}},
        {"java \"dir\\\\\" next", {"java", "dir\\", "next"}},
        {"java \"dir\\\" next\"", {"java", "dir\" next"}},
        {"java \"a\"\"b\"", {"java", "a\"b"}},
        {"java \xE6\x97\xA5\xE6\x9C\xAC", {"java", "\xE6\x97\xA5\xE6\x9C\xAC"}},
        {"\"/opt/my jre/java\" -version", {"/opt/my jre/java", "-version"}},
        {"C:\\jre\\bin\\java.exe\\\" x", {"C:\\jre\\bin\\java.exe\\ x"}},
        {"\"C:\\my jre\\\"bin x", {"C:\\my jre\\bin", "x"}},
        // java.exe's launcher, unlike the C runtime (a"b c, "x y):
        {"java a\\\"\"b c", {"java", "a\"\"b c"}},
        {"java \\\"\"x y\"", {"java", "\"\"x y"}},
        {"java \"a\\\"\"b\"", {"java", "a\"b"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(splitCommandLine(c.commandLine), c.words) << "[" << c.commandLine << "]";
    }
}

}  // namespace
