// What the console text probe and the local-time printer write:
// characterCodeTest, getYYYYMMDDhhmmss.
#include "time.hpp"
#include "xtest_character.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Expected texts as u8 literals: UTF-8 whatever the compiler's execution charset.
const std::string narrowLines = std::string("TEST1\nTEST2\nTEST4\n") + u8"開発環境の設定に応じた文字列" +
                                "TEST5\n" + u8"前処理をしないと、この日本語もうまく表示できない。" + "\n";
const std::wstring japanese = L"\u65E5\u672C\u8A9E";

// Takes in every wide character except the first one it is offered.
class RefusesFirstCharacter : public std::wstreambuf {
public:
    std::wstring text;

protected:
    int_type overflow(int_type c) override {
        if (!refused) {
            refused = true;
            return traits_type::eof();
        }
        text += traits_type::to_char_type(c);
        return c;
    }

private:
    bool refused = false;
};

class CharacterCodeTest : public ::testing::Test {
protected:
    void SetUp() override { savedLocale = std::setlocale(LC_ALL, NULL); }
    void TearDown() override {
        std::setlocale(LC_ALL, savedLocale.c_str());
        std::wcout.rdbuf(savedWideBuffer);
        std::wcout.clear();
    }

    // Runs the probe with wcout writing into wideBuffer; returns standard output.
    std::string run(std::wstreambuf* wideBuffer) {
        std::wcout.rdbuf(wideBuffer);
        testing::internal::CaptureStdout();
        characterCodeTest();
        std::string out = testing::internal::GetCapturedStdout();
        std::wcout.rdbuf(savedWideBuffer);
        return out;
    }

    std::string savedLocale;
    std::wstreambuf* savedWideBuffer = std::wcout.rdbuf();
};

TEST_F(CharacterCodeTest, WritesLabelsNarrowTextsAndWideLines) {
    std::wstringbuf wide;
    std::string out = run(&wide);
    EXPECT_EQ(out, narrowLines);
    EXPECT_EQ(wide.str(), japanese + L"\n" + japanese + L"\n");
}

TEST_F(CharacterCodeTest, AWideLineTheStreamRefusesDoesNotSilenceTheNext) {
    RefusesFirstCharacter wide;
    std::string out = run(&wide);
    EXPECT_EQ(out, narrowLines);
    EXPECT_EQ(wide.text, japanese + L"\n");
    EXPECT_TRUE(std::wcout.good());
}

struct Zone {
    const char* tz;
    long offsetSeconds;
    int isDst;
};

// The line for UTC time t shifted by the zone's offset, formatted from gmtime.
std::string expectedLine(std::time_t t, const Zone& zone) {
    std::time_t shifted = t + zone.offsetSeconds;
    std::tm utc = *std::gmtime(&shifted);
    char fields[64];
    std::snprintf(fields, sizeof fields, "%4d/%2d/%2d %2d:%2d:%2d %d\n", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, zone.isDst);
    return u8"地方時: " + std::string(fields);
}

TEST(LocalTimePrinter, PrintsLocalTimeAndDaylightFlag) {
    const char* savedTz = getenv("TZ");
    std::string saved = savedTz ? savedTz : "";
    const std::vector<Zone> zones = {
        {"UTC0", 0, 0},
        {"JST-9", 9 * 3600, 0},
        {"EST5", -5 * 3600, 0},
        {"EST5EDT,0/0,J365/25", -4 * 3600, 1},  // daylight saving all year
    };
    for (const Zone& zone : zones) {
        setenv("TZ", zone.tz, 1);
        tzset();
        std::time_t before = std::time(NULL);
        testing::internal::CaptureStdout();
        int result = getYYYYMMDDhhmmss();
        std::string out = testing::internal::GetCapturedStdout();
        std::time_t after = std::time(NULL);

        EXPECT_EQ(result, 0) << zone.tz;
        std::vector<std::string> candidates;
        for (std::time_t t = before; t <= after; ++t) {
            candidates.push_back(expectedLine(t, zone));
        }
        EXPECT_NE(std::find(candidates.begin(), candidates.end(), out), candidates.end())
            << zone.tz << ": printed " << out << "expected " << candidates.front();
    }
    if (savedTz) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(LocalTimePrinter, LabelIsTheElevenUtf8Bytes) {
    testing::internal::CaptureStdout();
    getYYYYMMDDhhmmss();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(0, 11), "\xE5\x9C\xB0\xE6\x96\xB9\xE6\x99\x82: ");
}

}  // namespace
