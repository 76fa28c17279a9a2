#include "windows_name.hpp"

#include "case_fold.hpp"
#include "utf8.hpp"

#include <algorithm>
#include <iterator>

bool sameWindowsName(const std::string& a, const std::string& b) {
    return foldedCase(a) == foldedCase(b);
}

std::string windowsNameProblem(const std::string& name) {
    static const char* const reserved[] = {"con", "prn", "aux", "nul", "com1", "com2", "com3", "com4", "com5",
                                           "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4",
                                           "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
    if (name.empty() || name == "." || name == "..") {
        return "it is empty";
    }
    for (size_t i = 0; i < name.size();) {
        size_t length = utf8Length(name, i);
        if (length == 0) {
            return "it is not UTF-8";
        }
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (length == 1 && (c < 0x20 || std::string("<>:\"/\\|?*").find(name[i]) != std::string::npos)) {
            return "Windows does not allow the character " +
                   (c < 0x20 ? std::string("with code ") + std::to_string(c) : "\"" + name.substr(i, 1) + "\"") +
                   " in a file name";
        }
        i += length;
    }
    if (name.back() == ' ' || name.back() == '.') {
        return "Windows drops a blank or dot at the end of a file name";
    }
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    if (std::find(std::begin(reserved), std::end(reserved), stem) != std::end(reserved)) {
        return "\"" + stem + "\" is a device name on Windows";
    }
    return "";
}
