#include "boot_layout.hpp"

#include <algorithm>

namespace rapidxml = boost::property_tree::detail::rapidxml;

// Parsing decodes in place and leaves stale bytes behind, so lines are counted
// in the untouched text at the offset the parsed pointer has in its buffer.
static long lineAt(const ParsedXml& parsed, const char* where) {
    std::ptrdiff_t offset = where - parsed.buffer;
    if (offset < 0 || offset > static_cast<std::ptrdiff_t>(parsed.text.size())) {
        return 0;
    }
    return static_cast<long>(std::count(parsed.text.begin(), parsed.text.begin() + offset, '\n')) + 1;
}

// An attribute's text as the file writes it, entity references undecoded: it
// starts where the decoded value starts and runs to the quote that opened it.
static std::string rawText(const ParsedXml& parsed, const char* value) {
    std::ptrdiff_t offset = value - parsed.buffer;
    if (offset < 1 || offset >= static_cast<std::ptrdiff_t>(parsed.text.size())) {
        return std::string();
    }
    char quote = parsed.text[offset - 1];
    std::string::const_iterator end = std::find(parsed.text.begin() + offset, parsed.text.end(), quote);
    return std::string(parsed.text.begin() + offset, end);
}

BootLayout bootLayoutOf(const ParsedXml& parsed) {
    BootLayout layout{true, {}, 0, {}, parsed.scan.mismatchLine, parsed.scan.mismatchName};
    rapidxml::xml_node<char>* boot = NULL;
    for (rapidxml::xml_node<char>* node = parsed.document.first_node(); node; node = node->next_sibling()) {
        if (node->type() != rapidxml::node_element) {
            continue;
        }
        std::string name(node->name(), node->name_size());
        layout.topElements.push_back(TopElement{lineAt(parsed, node->name()), name});
        if (boot == NULL && name == "boot") {
            boot = node;
            layout.bootLine = layout.topElements.back().line;
        }
    }
    if (boot == NULL) {
        return layout;
    }
    for (rapidxml::xml_node<char>* node = boot->first_node(); node; node = node->next_sibling()) {
        if (node->type() != rapidxml::node_element || std::string(node->name(), node->name_size()) != "item") {
            continue;
        }
        BootItem item{lineAt(parsed, node->name()), false, 0, "", false, 0, "", ""};
        // The tree keeps the first of two attributes with the same name.
        if (rapidxml::xml_attribute<char>* key = node->first_attribute("key")) {
            item.hasKey = true;
            item.keyLine = lineAt(parsed, key->name());
            item.key.assign(key->value(), key->value_size());
        }
        if (rapidxml::xml_attribute<char>* value = node->first_attribute("value")) {
            item.hasValue = true;
            item.valueLine = lineAt(parsed, value->name());
            item.value.assign(value->value(), value->value_size());
            item.rawValue = rawText(parsed, value->value());
        }
        layout.items.push_back(item);
    }
    return layout;
}
