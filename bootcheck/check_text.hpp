#pragma once

#include "base.hpp"
#include "const.hpp"
#include "text_classes.hpp"

#include <string>

// Small text helpers the checks share.

inline std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

inline bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A path in the system's ANSI code page as bootcheck writes it: UTF-8.
inline std::string shownPath(const std::string& path) {
    return ansiToUtf8(path);
}

// text without the XML white space around it.
inline std::string trimmed(const std::string& text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && isXmlBlank(text[start])) {
        ++start;
    }
    while (end > start && isXmlBlank(text[end - 1])) {
        --end;
    }
    return text.substr(start, end - start);
}
