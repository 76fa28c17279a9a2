#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes the UTF-8 sequence at p, of at most n bytes. Returns its length and
// sets codePoint, or returns 0 for an invalid, overlong, cut-off or surrogate
// sequence and for code points beyond U+10FFFF.
size_t decodeUtf8(const unsigned char* p, size_t n, uint32_t& codePoint);

// The length of the UTF-8 sequence at text[i], or 0 when none valid starts there.
size_t utf8Length(const std::string& text, size_t i);

// Appends code point code to text as UTF-8.
void appendUtf8(std::string& text, uint32_t code);
