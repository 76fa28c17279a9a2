#include "boot_layout.hpp"

#include "xml_util.hpp"

#include <boost/property_tree/detail/rapidxml.hpp>
#include <algorithm>

namespace rapidxml = boost::property_tree::detail::rapidxml;

// read_xml's parser flags for flags 0: comments kept, whitespace untouched.
static const int readerFlags = rapidxml::parse_comment_nodes;

// Parsing decodes in place and leaves stale bytes behind, so lines are counted
// in an untouched copy at the offset the parsed pointer has in its buffer.
static long lineAt(const std::vector<char>& original, const std::vector<char>& parsed, const char* where) {
    std::ptrdiff_t offset = where - parsed.data();
    if (offset < 0 || offset > static_cast<std::ptrdiff_t>(original.size())) {
        return 0;
    }
    return static_cast<long>(std::count(original.begin(), original.begin() + offset, '\n')) + 1;
}

static void findMismatch(const std::vector<char>& original, BootLayout& layout) {
    std::vector<char> buffer = original;
    rapidxml::xml_document<char> doc;
    try {
        doc.parse<readerFlags | rapidxml::parse_validate_closing_tags>(buffer.data());
    } catch (const rapidxml::parse_error& e) {
        const char* end = e.where<char>();
        const char* start = end;
        while (start > buffer.data() && start[-1] != '/') {
            --start;
        }
        layout.mismatchLine = lineAt(original, buffer, end);
        layout.mismatchName.assign(start, end);
    }
}

// An attribute's text as the file writes it, entity references undecoded:
// parsing decodes in place, so it starts where the decoded value starts and
// runs to the quote that opened it.
static std::string rawText(const std::vector<char>& original, const std::vector<char>& parsed, const char* value) {
    std::ptrdiff_t offset = value - parsed.data();
    if (offset < 1 || offset >= static_cast<std::ptrdiff_t>(original.size())) {
        return std::string();
    }
    char quote = original[offset - 1];
    std::vector<char>::const_iterator end = std::find(original.begin() + offset, original.end(), quote);
    return std::string(original.begin() + offset, end);
}

BootLayout readBootLayout(const std::string& fileName) {
    BootLayout layout{false, {}, 0, {}, 0, ""};
    // Only called on a file the launcher's reader accepted, so this read and
    // the parse below stay within the reader's limits.
    std::vector<char> original;
    try {
        std::string text = readBootText(fileName);
        original.assign(text.begin(), text.end());
    } catch (const std::exception&) {
        return layout;
    }
    original.push_back('\0');
    std::vector<char> buffer = original;
    rapidxml::xml_document<char> doc;
    try {
        doc.parse<readerFlags>(buffer.data());
    } catch (const rapidxml::parse_error&) {
        return layout;
    }
    layout.parsed = true;

    rapidxml::xml_node<char>* boot = NULL;
    for (rapidxml::xml_node<char>* node = doc.first_node(); node; node = node->next_sibling()) {
        if (node->type() != rapidxml::node_element) {
            continue;
        }
        std::string name(node->name(), node->name_size());
        layout.topElements.push_back(TopElement{lineAt(original, buffer, node->name()), name});
        if (boot == NULL && name == "boot") {
            boot = node;
            layout.bootLine = layout.topElements.back().line;
        }
    }
    if (boot != NULL) {
        for (rapidxml::xml_node<char>* node = boot->first_node(); node; node = node->next_sibling()) {
            if (node->type() != rapidxml::node_element || std::string(node->name(), node->name_size()) != "item") {
                continue;
            }
            BootItem item{lineAt(original, buffer, node->name()), false, 0, "", false, 0, "", ""};
            // The tree keeps the first of two attributes with the same name.
            if (rapidxml::xml_attribute<char>* key = node->first_attribute("key")) {
                item.hasKey = true;
                item.keyLine = lineAt(original, buffer, key->name());
                item.key.assign(key->value(), key->value_size());
            }
            if (rapidxml::xml_attribute<char>* value = node->first_attribute("value")) {
                item.hasValue = true;
                item.valueLine = lineAt(original, buffer, value->name());
                item.value.assign(value->value(), value->value_size());
                item.rawValue = rawText(original, buffer, value->value());
            }
            layout.items.push_back(item);
        }
    }
    findMismatch(original, layout);
    return layout;
}
