#pragma once

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

// Where things stand in a boot file, found by the reader the launcher uses
// (Boost.PropertyTree's rapidxml, the flags read_xml gives it for flags 0).
struct BootLayout {
    bool parsed;
    std::vector<TopElement> topElements;
    long bootLine;  // 0: no top-level <boot>
    std::vector<BootItem> items;
    long mismatchLine;  // 0: every end tag names its element
    std::string mismatchName;
};

// Reads the file the way read_xml does. Only call it for a file the launcher's
// reader has parsed: it parses to the same depth.
BootLayout readBootLayout(const std::string& fileName);
