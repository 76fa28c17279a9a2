// Conversion between narrow and wide text through the current C locale: narrow, widen.
#include "base.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

class LocaleConversion : public ::testing::Test {
protected:
    void SetUp() override { savedLocale = std::setlocale(LC_ALL, NULL); }
    void TearDown() override { std::setlocale(LC_ALL, savedLocale.c_str()); }

    static bool useUtf8Locale() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", ".UTF-8"}) {
            if (std::setlocale(LC_ALL, name) != NULL) {
                return true;
            }
        }
        return false;
    }

    std::string savedLocale;
};

struct TextPair {
    std::string bytes;
    std::wstring wide;
};

TEST_F(LocaleConversion, AsciiRoundTripsInTheCLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const std::vector<TextPair> cases = {
        {"", L""},
        {"abc", L"abc"},
        {"C:\\apps\\tool\\launcher.exe", L"C:\\apps\\tool\\launcher.exe"},
        {"blanks, tabs\tand ~!@#$%^&*()", L"blanks, tabs\tand ~!@#$%^&*()"},
    };
    for (const TextPair& c : cases) {
        std::wstring wide = L"stale";
        widen(c.bytes, wide);
        EXPECT_EQ(wide, c.wide) << c.bytes;
        std::string bytes = "stale";
        narrow(c.wide, bytes);
        EXPECT_EQ(bytes, c.bytes) << c.bytes;
    }
}

TEST_F(LocaleConversion, JapaneseRoundTripsInAUtf8Locale) {
    if (!useUtf8Locale()) {
        GTEST_SKIP() << "this machine has no UTF-8 C locale";
    }
    const std::vector<TextPair> cases = {
        {u8"日本語", L"\u65E5\u672C\u8A9E"},
        {u8"a日b", L"a\u65E5b"},
        {u8"C:\\アプリ\\config\\boot.xml", L"C:\\\u30A2\u30D7\u30EA\\config\\boot.xml"},
    };
    for (const TextPair& c : cases) {
        std::wstring wide;
        widen(c.bytes, wide);
        EXPECT_EQ(wide, c.wide) << c.bytes;
        std::string bytes;
        narrow(c.wide, bytes);
        EXPECT_EQ(bytes, c.bytes) << c.bytes;
    }
}

// Where the locale cannot convert a character, dest gets the text before it.
TEST_F(LocaleConversion, NarrowStopsAtTheFirstUnrepresentableCharacter) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const std::vector<TextPair> cases = {
        {"ab", L"ab\u65E5cd"},
        {"", L"\u65E5"},
        {"x", L"x\u65E5\u672C"},
    };
    for (const TextPair& c : cases) {
        std::string bytes = "stale";
        narrow(c.wide, bytes);
        EXPECT_EQ(bytes, c.bytes) << c.bytes;
    }
    if (useUtf8Locale()) {
        std::string bytes = "stale";
        narrow(std::wstring(L"ab") + wchar_t(0xD800) + L"cd", bytes);
        EXPECT_EQ(bytes, "ab") << "a lone surrogate in a UTF-8 locale";
    }
}

TEST_F(LocaleConversion, WidenStopsAtTheFirstInvalidSequence) {
    if (!useUtf8Locale()) {
        GTEST_SKIP() << "this machine has no UTF-8 C locale";
    }
    const std::vector<TextPair> cases = {
        {"ab\xFF" "cd", L"ab"},
        {"\xFF", L""},
        {"ab\xE6\x97", L"ab"},
        {"\xE6\x97\xA5\xE6" "x", L"\u65E5"},
    };
    for (const TextPair& c : cases) {
        std::wstring wide = L"stale";
        widen(c.bytes, wide);
        EXPECT_EQ(wide, c.wide) << testing::PrintToString(c.bytes);
    }
}

}  // namespace
