#pragma once

#include "xml_util.hpp"

#include <string>
#include <vector>

// An <item> under the <boot> the launcher reads, with the lines it stands on.
struct BootItem {
    long line;  // of "<item"
    bool hasKey;
    long keyLine;
    std::string key;
    bool hasValue;
    long valueLine;
    std::string value;
    std::string rawValue;  // as written in the file, entity references undecoded
};

// A top-level element of the document.
struct TopElement {
    long line;
    std::string name;
};

// Where things stand in a boot file, found in the document the launcher's
// reader parsed.
struct BootLayout {
    bool parsed;
    std::vector<TopElement> topElements;
    long bootLine;  // 0: no top-level <boot>
    std::vector<BootItem> items;
    long mismatchLine;  // 0: every end tag names its element
    std::string mismatchName;
};

BootLayout bootLayoutOf(const ParsedXml& parsed);
