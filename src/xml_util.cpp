#include "xml_util.hpp"

#include "base.hpp"

#include <sys/stat.h>

#include <boost/filesystem/path.hpp>
#include <boost/foreach.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <locale>
#include <sstream>

const std::uintmax_t maxBootFileSize = 1024 * 1024;
const std::size_t maxBootFileNesting = 256;

namespace {

typedef boost::property_tree::xml_parser::xml_parser_error xmlError;

// Refuses the file with the reader's own error type, so that every reason
// reaches the caller as one kind of failure.
[[noreturn]] void refuse(const std::string& message, const std::string& fileName, long line) {
    throw xmlError(message, fileName, line);
}

// The reader's character classes.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c) {
    return c != '\0' && !isBlank(c) && c != '/' && c != '>' && c != '?';
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

// Moves p past one node that starts after its '<'. Returns 1 for a start tag
// that opens an element, 0 for anything else, -1 where the reader gives up.
int skipNode(const char*& p) {
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
        } else if (std::strncmp(p, "!DOCTYPE", 8) == 0 && isBlank(p[8])) {
            p += 9;
            ok = skipDoctype(p);
        } else {
            ++p;
            ok = skipPast(p, ">");
        }
        return ok ? 0 : -1;
    }
    const char* name = p;
    while (isNameChar(*p)) {
        ++p;
    }
    if (p == name) {
        return -1;
    }
    while (isBlank(*p)) {
        ++p;
    }
    while (isAttributeNameChar(*p)) {
        while (isAttributeNameChar(*p)) {
            ++p;
        }
        while (isBlank(*p)) {
            ++p;
        }
        if (*p++ != '=') {
            return -1;
        }
        while (isBlank(*p)) {
            ++p;
        }
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
        while (isBlank(*p)) {
            ++p;
        }
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

// The XML reader, and the tree built from it, recurse once per element level:
// a deep enough file overflows the stack. This walks the text the way the
// reader tokenizes it, without recursion, and refuses the file before the
// reader sees it. Where the reader would stop with an error the walk stops
// too, since the reader goes no deeper than that point.
void checkNesting(const std::string& text, const std::string& fileName) {
    const char* p = text.c_str();
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    std::size_t depth = 0;
    for (;;) {
        if (depth == 0) {
            while (isBlank(*p)) {
                ++p;
            }
            if (*p != '<') {
                return;
            }
        } else {
            while (*p != '<') {
                if (*p++ == '\0') {
                    return;
                }
            }
            if (p[1] == '/') {
                p += 2;
                while (isNameChar(*p)) {
                    ++p;
                }
                while (isBlank(*p)) {
                    ++p;
                }
                if (*p++ != '>') {
                    return;
                }
                --depth;
                continue;
            }
        }
        const char* tag = p++;
        int opened = skipNode(p);
        if (opened < 0) {
            return;
        }
        depth += static_cast<std::size_t>(opened);
        if (depth > maxBootFileNesting) {
            long line = static_cast<long>(std::count(text.c_str(), tag, '\n') + 1);
            refuse("elements nested deeper than " + std::to_string(maxBootFileNesting) +
                               " levels",
                           fileName, line);
        }
    }
}

typedef boost::property_tree::ptree ptree;

const std::string attributesName = "<xmlattr>";
const std::string keyAttribute = "key";
const std::string valueAttribute = "value";

// What get<std::string>("<xmlattr>.NAME") gives, found the same way (the first
// child of that name at each step) but without parsing a path for every item:
// the lookups run once per item and key.
const std::string& attribute(const ptree& element, const std::string& name) {
    ptree::const_assoc_iterator attributes = element.find(attributesName);
    if (attributes != element.not_found()) {
        ptree::const_assoc_iterator found = attributes->second.find(name);
        if (found != attributes->second.not_found()) {
            return found->second.data();
        }
    }
    BOOST_PROPERTY_TREE_THROW(boost::property_tree::ptree_bad_path(
        "No such node", ptree::path_type(attributesName + "." + name)));
}

}  // namespace

// The kind and size are checked before the file is opened: a FIFO would block
// the open, a device never end. Where the size cannot be told here (a file too
// large for the C runtime's stat), the bounded read below still refuses it.
std::string readBootText(const std::string& fileName) {
    struct stat status;
    if (stat(fileName.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            refuse("not a regular file", fileName, 0);
        }
        if (static_cast<std::uintmax_t>(status.st_size) > maxBootFileSize) {
            refuse("larger than " + std::to_string(maxBootFileSize) + " bytes", fileName, 0);
        }
    }
    // Unbuffered: every read below goes straight into the caller's buffer.
    std::ifstream stream;
    stream.rdbuf()->pubsetbuf(NULL, 0);
    stream.open(fileName.c_str());
    if (!stream) {
        refuse("cannot open file", fileName, 0);
    }
    stream.imbue(std::locale());
    // The size may change after the check; never take in more than the limit.
    std::string text;
    char buffer[4096];
    for (;;) {
        std::streamsize count = stream.rdbuf()->sgetn(buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > maxBootFileSize) {
            refuse("larger than " + std::to_string(maxBootFileSize) + " bytes", fileName, 0);
        }
    }
    return text;
}

boost::property_tree::ptree readConfigXml(const std::string& filePath) {
    logLine(filePath);
    std::string fileName = boost::filesystem::path(filePath).string();
    std::istringstream stream;
    {
        std::string text = readBootText(fileName);
        checkNesting(text, fileName);
        stream.str(text);
    }
    stream.imbue(std::locale());
    boost::property_tree::ptree pt;
    boost::property_tree::xml_parser::read_xml_internal(stream, pt, 0, fileName);
    return pt;
}

std::string getXmlValue(const boost::property_tree::ptree& pt, const std::string& key1) {
    std::string value;
    BOOST_FOREACH (const boost::property_tree::ptree::value_type& child, pt.get_child("boot")) {
        if (child.first != "item") {
            continue;
        }
        const std::string& key2 = attribute(child.second, keyAttribute);
        if (key1 == key2) {
            value = attribute(child.second, valueAttribute);
            // A NUL (from &#0; and the like) would silently end the command line there.
            if (value.find('\0') != std::string::npos) {
                BOOST_PROPERTY_TREE_THROW(boost::property_tree::ptree_bad_data(
                    "value of item \"" + key1 + "\" holds a NUL character", value));
            }
        }
    }
    return value;
}
