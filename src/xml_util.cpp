#include "xml_util.hpp"

#include "base.hpp"

#include <sys/stat.h>

#include <boost/filesystem/path.hpp>
#include <boost/foreach.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

const std::uintmax_t maxBootFileSize = 1024 * 1024;
const std::size_t maxBootFileNesting = 256;

namespace {

namespace rapidxml = boost::property_tree::detail::rapidxml;
typedef boost::property_tree::ptree ptree;
typedef boost::property_tree::xml_parser::xml_parser_error xmlError;

bool fail(BootError& error, BootFailure failure, const std::string& message, long line = 0) {
    error = BootError{failure, message, line};
    return false;
}

std::string tooBigMessage() {
    return "larger than " + std::to_string(maxBootFileSize) + " bytes";
}

// The kind and size are checked before the file is opened: a FIFO would block
// the open, a device never end. Where the size cannot be told here (a file too
// large for the C runtime's stat), the bounded read below still refuses it.
bool loadBootText(const std::string& fileName, std::string& text, BootError& error) {
    struct stat status;
    if (stat(fileName.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return fail(error, bootNotRegularFile, "not a regular file");
        }
        if (static_cast<std::uintmax_t>(status.st_size) > maxBootFileSize) {
            return fail(error, bootTooBig, tooBigMessage());
        }
    }
    // Unbuffered: every read below goes straight into the caller's buffer.
    std::ifstream stream;
    stream.rdbuf()->pubsetbuf(NULL, 0);
    stream.open(fileName.c_str());
    if (!stream) {
        return fail(error, bootCannotOpen, "cannot open file");
    }
    stream.imbue(std::locale());
    // The size may change after the check; never take in more than the limit.
    char buffer[4096];
    for (;;) {
        std::streamsize count = stream.rdbuf()->sgetn(buffer, sizeof buffer);
        if (count <= 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > maxBootFileSize) {
            return fail(error, bootTooBig, tooBigMessage());
        }
    }
}

const std::string attributesName = "<xmlattr>";
const std::string keyAttribute = "key";
const std::string valueAttribute = "value";

// What get<std::string>("<xmlattr>.NAME") gives, found the same way (the first
// child of that name at each step) but without parsing a path for every item:
// the lookups run once per item and key. NULL when there is none.
const std::string* attribute(const ptree& element, const std::string& name) {
    ptree::const_assoc_iterator attributes = element.find(attributesName);
    if (attributes != element.not_found()) {
        ptree::const_assoc_iterator found = attributes->second.find(name);
        if (found != attributes->second.not_found()) {
            return &found->second.data();
        }
    }
    return NULL;
}

bool missingAttribute(BootError& error, BootFailure failure, const std::string& name) {
    return fail(error, failure, "No such node (" + attributesName + "." + name + ")");
}

}  // namespace

std::string readBootText(const std::string& fileName) {
    std::string text;
    BootError error;
    if (!loadBootText(fileName, text, error)) {
        throwBootError(error, fileName);
    }
    return text;
}

bool readBootTree(const std::string& filePath, ptree& pt, BootError& error, const XmlInspector& inspect) {
    std::string fileName = boost::filesystem::path(filePath).string();
    std::string text;
    if (!loadBootText(fileName, text, error)) {
        return false;
    }
    XmlScan scan = scanXmlTags(text, maxBootFileNesting);
    if (scan.tooDeepLine != 0) {
        return fail(error, bootTooDeep,
                    "elements nested deeper than " + std::to_string(maxBootFileNesting) + " levels",
                    scan.tooDeepLine);
    }
    // What read_xml does with flags 0: comments kept, white space untouched.
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    try {
        rapidxml::xml_document<char> document;
        document.parse<rapidxml::parse_comment_nodes>(buffer.data());
        ptree local;
        for (rapidxml::xml_node<char>* child = document.first_node(); child; child = child->next_sibling()) {
            boost::property_tree::xml_parser::read_xml_node(child, local, 0);
        }
        pt.swap(local);
        if (inspect) {
            inspect(ParsedXml{document, text, buffer.data(), scan});
        }
    } catch (const rapidxml::parse_error& e) {
        long line = static_cast<long>(std::count(buffer.data(), e.where<char>(), '\n') + 1);
        return fail(error, bootNotXml, e.what(), line);
    }
    return true;
}

bool readBootValueQuietly(const std::string& filePath, const std::string& key, std::string& value) {
    ptree pt;
    BootError error;
    return readBootTree(filePath, pt, error) && findXmlValue(pt, key, value, error);
}

ptree readConfigXml(const std::string& filePath) {
    logLine(filePath);
    ptree pt;
    BootError error;
    if (!readBootTree(filePath, pt, error)) {
        throwBootError(error, filePath);
    }
    return pt;
}

bool findXmlValue(const ptree& pt, const std::string& key1, std::string& value, BootError& error, int* item) {
    value.clear();
    int found = -1;
    int index = -1;
    ptree::const_assoc_iterator boot = pt.find("boot");
    if (boot == pt.not_found()) {
        return fail(error, bootNoBoot, "No such node (boot)");
    }
    BOOST_FOREACH (const ptree::value_type& child, boot->second) {
        if (child.first != "item") {
            continue;
        }
        ++index;
        const std::string* key2 = attribute(child.second, keyAttribute);
        if (key2 == NULL) {
            missingAttribute(error, bootItemWithoutKey, keyAttribute);
            error.item = index;
            return false;
        }
        if (key1 == *key2) {
            const std::string* given = attribute(child.second, valueAttribute);
            if (given == NULL) {
                missingAttribute(error, bootItemWithoutValue, valueAttribute);
                error.item = index;
                return false;
            }
            // A NUL (from &#0; and the like) would silently end the command line there.
            if (given->find('\0') != std::string::npos) {
                fail(error, bootValueHoldsNul, "value of item \"" + key1 + "\" holds a NUL character");
                error.item = index;
                return false;
            }
            value = *given;
            found = index;
        }
    }
    if (item != NULL) {
        *item = found;
    }
    return true;
}

std::string getXmlValue(const ptree& pt, const std::string& key1) {
    std::string value;
    BootError error;
    if (!findXmlValue(pt, key1, value, error)) {
        throwBootError(error, "");
    }
    return value;
}

void throwBootError(const BootError& error, const std::string& filePath) {
    switch (error.failure) {
    case bootNoBoot:
        BOOST_PROPERTY_TREE_THROW(boost::property_tree::ptree_bad_path("No such node", ptree::path_type("boot")));
    case bootItemWithoutKey:
    case bootItemWithoutValue: {
        const std::string& name = error.failure == bootItemWithoutKey ? keyAttribute : valueAttribute;
        BOOST_PROPERTY_TREE_THROW(
            boost::property_tree::ptree_bad_path("No such node", ptree::path_type(attributesName + "." + name)));
    }
    case bootValueHoldsNul:
        BOOST_PROPERTY_TREE_THROW(boost::property_tree::ptree_bad_data(error.message, std::string()));
    case bootFolderQuote:
        throw std::runtime_error(error.message);
    default:
        BOOST_PROPERTY_TREE_THROW(xmlError(error.message, boost::filesystem::path(filePath).string(), error.line));
    }
}
