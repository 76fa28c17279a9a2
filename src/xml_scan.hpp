#pragma once

#include <cstddef>
#include <string>

// What a walk over a boot file's tags finds before the reader parses it.
struct XmlScan {
    long tooDeepLine;  // of the first element that nests deeper than the limit; 0: none
    long mismatchLine;         // of the first end tag naming another element than it closes; 0: none
    std::string mismatchName;  // that end tag's name
};

// Walks text the way the XML reader tokenizes it, without recursion, up to
// where the reader would stop with an error or an element nests deeper than
// maxNesting levels.
XmlScan scanXmlTags(const std::string& text, std::size_t maxNesting);
