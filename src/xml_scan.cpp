#include "xml_scan.hpp"

#include "text_classes.hpp"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The reader's character classes.
bool isNameChar(char c) {
    return c != '\0' && !isXmlBlank(c) && c != '/' && c != '>' && c != '?';
}

bool isAttributeNameChar(char c) {
    return isNameChar(c) && c != '!' && c != '<' && c != '=';
}

// Moves p past the next occurrence of end; false when the text ends first.
bool skipPast(const char*& p, const char* end) {
    const char* found = std::strstr(p, end);
    if (found == NULL) {
        return false;
    }
    p = found + std::strlen(end);
    return true;
}

bool skipDoctype(const char*& p) {
    while (*p != '>') {
        if (*p == '\0') {
            return false;
        }
        if (*p++ == '[') {
            for (int level = 1; level > 0; ++p) {
                if (*p == '[') {
                    ++level;
                } else if (*p == ']') {
                    --level;
                } else if (*p == '\0') {
                    return false;
                }
            }
        }
    }
    ++p;
    return true;
}

void skipBlanks(const char*& p) {
    while (isXmlBlank(*p)) {
        ++p;
    }
}

// Moves p past one node that starts after its '<'. Returns 1 for a start tag
// that opens an element, whose name it sets, 0 for anything else, -1 where the
// reader gives up.
int skipNode(const char*& p, const char*& name, std::size_t& nameLength) {
    if (*p == '?') {
        ++p;
        return skipPast(p, "?>") ? 0 : -1;
    }
    if (*p == '!') {
        bool ok;
        if (std::strncmp(p, "!--", 3) == 0) {
            p += 3;
            ok = skipPast(p, "-->");
        } else if (std::strncmp(p, "![CDATA[", 8) == 0) {
            p += 8;
            ok = skipPast(p, "]]>");
        } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isXmlBlank(p[8])) {
            p += 9;
            ok = skipDoctype(p);
        } else {
            ++p;
            ok = skipPast(p, ">");
        }
        return ok ? 0 : -1;
    }
    name = p;
    while (isNameChar(*p)) {
        ++p;
    }
    if (p == name) {
        return -1;
    }
    nameLength = static_cast<std::size_t>(p - name);
    skipBlanks(p);
    while (isAttributeNameChar(*p)) {
        while (isAttributeNameChar(*p)) {
            ++p;
        }
        skipBlanks(p);
        if (*p++ != '=') {
            return -1;
        }
        skipBlanks(p);
        char quote = *p++;
        if (quote != '"' && quote != '\'') {
            return -1;
        }
        while (*p != quote) {
            if (*p++ == '\0') {
                return -1;
            }
        }
        ++p;
        skipBlanks(p);
    }
    if (*p == '>') {
        ++p;
        return 1;
    }
    if (p[0] == '/' && p[1] == '>') {
        p += 2;
        return 0;
    }
    return -1;
}

long lineAt(const std::string& text, const char* where) {
    return static_cast<long>(std::count(text.c_str(), where, '\n') + 1);
}

}  // namespace

// The XML reader, and the tree built from it, recurse once per element level:
// a deep enough file overflows the stack, so the depth is known before it
// parses. The reader does not check that an end tag names the element it
// closes; the walk notes the first one that does not, for the boot-file
// checker.
XmlScan scanXmlTags(const std::string& text, std::size_t maxNesting) {
    XmlScan scan{0, 0, ""};
    const char* p = text.c_str();
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    std::vector<std::pair<const char*, std::size_t> > open;
    for (;;) {
        if (open.empty()) {
            skipBlanks(p);
            if (*p != '<') {
                return scan;
            }
        } else {
            while (*p != '<') {
                if (*p++ == '\0') {
                    return scan;
                }
            }
            if (p[1] == '/') {
                p += 2;
                const char* name = p;
                while (isNameChar(*p)) {
                    ++p;
                }
                std::size_t nameLength = static_cast<std::size_t>(p - name);
                if (scan.mismatchLine == 0 &&
                    (nameLength != open.back().second || std::strncmp(name, open.back().first, nameLength) != 0)) {
                    scan.mismatchLine = lineAt(text, name);
                    scan.mismatchName.assign(name, nameLength);
                }
                skipBlanks(p);
                if (*p++ != '>') {
                    return scan;
                }
                open.pop_back();
                continue;
            }
        }
        const char* tag = p++;
        const char* name = NULL;
        std::size_t nameLength = 0;
        int opened = skipNode(p, name, nameLength);
        if (opened < 0) {
            return scan;
        }
        if (opened == 1) {
            open.push_back(std::make_pair(name, nameLength));
        }
        if (open.size() > maxNesting) {
            scan.tooDeepLine = lineAt(text, tag);
            return scan;
        }
    }
}
