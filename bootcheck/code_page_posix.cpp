#include "code_page.hpp"

#include <iconv.h>

#include <vector>

unsigned ansiCodePage() {
    return 0;
}

// One conversion through the C library's tables; false when it fails.
static bool convert(const std::string& to, const std::string& from, const std::string& text, std::string& result) {
    iconv_t converter = iconv_open(to.c_str(), from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::vector<char> input(text.begin(), text.end());
    std::vector<char> output(4 * text.size() + 4);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    bool done = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(converter);
    result.assign(output.data(), output.size() - outLeft);
    return done;
}

// The round trip turns away what the table maps one way only, as Windows'
// conversion without best fit does (a wave dash in 932, for instance).
bool codePageHolds(unsigned codePage, const std::string& character) {
    std::string name = "CP" + std::to_string(codePage);
    std::string ansi;
    std::string back;
    return convert(name, "UTF-8", character, ansi) && convert("UTF-8", name, ansi, back) && back == character;
}
