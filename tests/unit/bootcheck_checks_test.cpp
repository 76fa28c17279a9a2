// bootcheck's pure checks on values and the shared readers it and seticon use.
#include "pe_image.hpp"
#include "utf8.hpp"
#include "value_checks.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ValueChecks, JvmSizes) {
    const struct {
        const char* value;
        bool size;
        unsigned long long bytes;
    } cases[] = {
        {"512", true, 512},
        {"64k", true, 64ULL << 10},
        {"512m", true, 512ULL << 20},
        {"1G", true, 1ULL << 30},
        {"2t", true, 2ULL << 40},
        {"", false, 0},
        {"m", false, 0},
        {"512MB", false, 0},
        {"1.5g", false, 0},
        {" 64m", false, 0},
        {"-1m", false, 0},
        {"99999999999999999999999", true, ~0ULL},
        {"17179869184g", true, ~0ULL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isJvmSize(c.value), c.size) << c.value;
        if (c.size) {
            EXPECT_EQ(jvmSizeBytes(c.value), c.bytes) << c.value;
        }
    }
}

TEST(ValueChecks, ClassNames) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {
        {"Main", true},          {"com.example.Main", true}, {"com/example/Main", true},
        {"_x.$y.Z9", true},      {"日本.メイン", true},      {"", false},
        {"com..Main", false},    {".Main", false},           {"Main.", false},
        {"9lives.Main", false},  {"com.example.Main x", false}, {"com-example.Main", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isClassName(c.name), c.valid) << c.name;
    }
}

TEST(ValueChecks, ProbableKeys) {
    const struct {
        const char* key;
        const char* meant;
    } cases[] = {
        {"Xmx", "-Xmx"},       {"--xmx", "-Xmx"},    {" MAIN ", "main"},  {"JAVA", "java"},
        {"classpath", "-cp"},  {"Class-Path", "-cp"}, {"cp", "-cp"},      {"mainClass", "main"},
        {"jvmArgs", "args"},   {"javaw", ""},         {"Xmz", ""},        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(probableKey(c.key), c.meant) << c.key;
    }
}

TEST(SharedReaders, Utf8Sequences) {
    const struct {
        std::string bytes;
        size_t length;
        uint32_t codePoint;
    } cases[] = {
        {"A", 1, 0x41},
        {"\xC3\xA9", 2, 0xE9},
        {"\xE6\x97\xA5", 3, 0x65E5},
        {"\xF0\x9F\x98\x80", 4, 0x1F600},
        {"\xC0\xAF", 0, 0},          // overlong
        {"\xE0\x80\xAF", 0, 0},      // overlong
        {"\xED\xA0\x80", 0, 0},      // surrogate
        {"\xF4\x90\x80\x80", 0, 0},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 0, 0},  // no such lead byte
        {"\xE6\x97", 0, 0},          // cut off
        {"\x80", 0, 0},              // continuation alone
        {"\xC3(", 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t codePoint = 0;
        size_t length = decodeUtf8(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), codePoint);
        EXPECT_EQ(length, c.length) << testing::PrintToString(c.bytes);
        if (length != 0) {
            EXPECT_EQ(codePoint, c.codePoint) << testing::PrintToString(c.bytes);
        }
    }
}

// A PE32 image of two sections whose optional header holds four directories.
std::vector<uint8_t> sampleImage() {
    std::vector<uint8_t> file(0x400, 0);
    auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    file[0] = 'M', file[1] = 'Z';
    put(0x3c, 0x80, 4);
    put(0x80, 0x4550, 4);
    put(0x86, 2, 2);                    // sections
    put(0x94, 96 + 4 * 8, 2);           // optional header size
    put(0x98, 0x10b, 2);                // magic
    put(0x98 + 68, 2, 2);               // GUI subsystem
    put(0x98 + 92, 4, 4);               // directory count
    put(0x98 + 96 + 2 * 8, 0x2000, 4);  // resources at rva 0x2000
    put(0x98 + 96 + 2 * 8 + 4, 0x10, 4);
    size_t sections = 0x98 + 96 + 4 * 8;
    put(sections + 12, 0x1000, 4), put(sections + 16, 0x100, 4), put(sections + 20, 0x200, 4);
    put(sections + 40 + 12, 0x2000, 4), put(sections + 40 + 16, 0x100, 4), put(sections + 40 + 20, 0x300, 4);
    return file;
}

TEST(SharedReaders, PeHeaders) {
    PeHeaders headers;
    std::vector<uint8_t> image = sampleImage();
    ASSERT_EQ(readPeHeaders(image, headers), peImage);
    EXPECT_EQ(headers.subsystem, 2u);
    EXPECT_EQ(headers.checksumOffset, 0x98u + 64);
    uint32_t rva, size;
    peDirectory(image, headers, PE_DIRECTORY_RESOURCE, rva, size);
    EXPECT_EQ(rva, 0x2000u);
    EXPECT_EQ(peFileOffset(image, headers, rva, size), 0x300u);
    EXPECT_EQ(peFileOffset(image, headers, 0x2000, 0x101), 0u);  // past the section's raw end
    peDirectory(image, headers, PE_DIRECTORY_SECURITY, rva, size);
    EXPECT_EQ(size, 0u);  // only four directories

    const struct {
        const char* name;
        size_t at;
        uint8_t byte;
        size_t keep;
        PeProblem problem;
    } damaged[] = {
        {"no MZ", 0, 'X', 0x400, peNoMz},
        {"shorter than a DOS header", 0, 'M', 63, peNoMz},
        {"no PE signature", 0x80, 'Q', 0x400, peNoPe},
        {"optional header past the end", 0x95, 0x10, 0x400, peHeaderCut},
        {"unknown optional header", 0x99, 0x03, 0x400, peUnknownOptional},
        {"more directories than fit", 0x98 + 92, 9, 0x400, peDirectoriesCut},
        {"section table past the end", 0x86, 40, 0x400, peSectionsDamaged},
    };
    for (const auto& c : damaged) {
        std::vector<uint8_t> file = sampleImage();
        file[c.at] = c.byte;
        file.resize(c.keep);
        EXPECT_EQ(readPeHeaders(file, headers), c.problem) << c.name;
    }
}

}  // namespace
