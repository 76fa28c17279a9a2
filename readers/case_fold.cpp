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
