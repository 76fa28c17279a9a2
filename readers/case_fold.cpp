#include "case_fold.hpp"

#include "utf8.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

struct Folding {
    uint32_t from;
    uint32_t to[3];
};

const Folding foldings[] = {
#include "case_fold_table.inc"
};

void appendUtf8(std::string& text, uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string foldedCase(const std::string& text) {
    std::string folded;
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        size_t length = decodeUtf8(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i, code);
        if (length == 0) {
            folded += text[i++];
            continue;
        }
        const Folding* found = std::lower_bound(std::begin(foldings), std::end(foldings), code,
                                                [](const Folding& row, uint32_t key) { return row.from < key; });
        if (found == std::end(foldings) || found->from != code) {
            folded.append(text, i, length);
        } else {
            for (uint32_t to : found->to) {
                if (to != 0) {
                    appendUtf8(folded, to);
                }
            }
        }
        i += length;
    }
    return folded;
}
