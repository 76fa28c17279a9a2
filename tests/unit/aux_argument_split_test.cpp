// Splitting a GUI program's command line in place: parseWinArg.
#include "win_util.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct SplitCase {
    const char* name;
    std::string line;
    std::string afterSplit;  // the same bytes, with a NUL where each word was ended
};

TEST(ParseWinArg, EndsEachWordWithANulInPlace) {
    const std::vector<SplitCase> cases = {
        {"plain words", "abc de f", "abc\0de\0f"s},
        {"quoted word with blanks", "\"a b\" c", "\"a b\0 c"s},
        {"quoted path", "\"C:\\Program Files\\app.exe\" -x", "\"C:\\Program Files\\app.exe\0 -x"s},
        {"several blanks", "a   b", "a\0  b"s},
        {"leading and trailing blanks", "  a  ", "  a\0 "s},
        {"tab inside a word", "a\tb c", "a\tb\0c"s},
        {"tabs only, no blank", "a\t\tb", "a\t\tb"s},
        {"unterminated quote", "x \"a b", "x\0\"a b"s},
        {"quote inside a word", "a\"b c\"", "a\"b\0c\""s},
        {"word right after a closing quote", "\"a\"b", "\"a\0b"s},
        {"empty quoted word", "\"\" x", "\"\0 x"s},
        {"Japanese words", "日本 語", "日本\0語"s},
        {"blanks only", "   ", "   "s},
        {"empty line", "", ""s},
    };
    for (const SplitCase& c : cases) {
        std::vector<char> buffer(c.line.begin(), c.line.end());
        buffer.push_back('\0');
        parseWinArg(NULL, NULL, buffer.data(), 0);
        EXPECT_EQ(std::string(buffer.data(), c.line.size()), c.afterSplit) << c.name;
        EXPECT_EQ(buffer.back(), '\0') << c.name << ": the terminator was moved";
    }
}

}  // namespace
