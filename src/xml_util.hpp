#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

// A boot file larger than this many bytes is refused unread.
extern const std::uintmax_t maxBootFileSize;
// A boot file whose elements nest deeper than this is refused before it is parsed.
extern const std::size_t maxBootFileNesting;

// The bytes of a boot file as the reader sees them (text mode, default locale).
// Throws the reader's error type for a file that cannot be opened, is not a
// regular file or is larger than maxBootFileSize.
std::string readBootText(const std::string& fileName);

// Reads a boot file into a property tree; throws what the XML reader throws,
// and the reader's error type for a file that is not a regular file, is larger
// than maxBootFileSize or nests deeper than maxBootFileNesting.
boost::property_tree::ptree readConfigXml(const std::string& filePath);

// Value of the last <item> under <boot> whose key attribute is key1, or "".
// Throws when there is no <boot>, an item has no key, or a matching item has
// no value or a value holding a NUL character.
std::string getXmlValue(const boost::property_tree::ptree& pt, const std::string& key1);
