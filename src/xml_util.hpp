#pragma once

#include "xml_scan.hpp"

#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// A boot file larger than this many bytes is refused unread.
extern const std::uintmax_t maxBootFileSize;
// A boot file whose elements nest deeper than this is refused before it is parsed.
extern const std::size_t maxBootFileNesting;

// Why a boot file gave no command line.
enum BootFailure {
    bootRead,  // no failure
    bootCannotOpen,
    bootNotRegularFile,
    bootTooBig,
    bootTooDeep,
    bootNotXml,
    bootNoBoot,
    bootItemWithoutKey,
    bootItemWithoutValue,
    bootValueHoldsNul,
    bootFolderQuote,  // the app folder holds a quote that a placeholder would insert
};

// A failure with the reader's message and the line it names (0: none).
struct BootError {
    BootFailure failure;
    std::string message;
    long line;
    int item = -1;  // the <item> under <boot> it names, counted from 0 in document order
};

// What the parse leaves for a caller that wants more than the tree: the
// document, the text it was parsed from, the parse buffer (the same offsets as
// the text; the parse decodes in place) and what the tag walk found.
struct ParsedXml {
    const boost::property_tree::detail::rapidxml::xml_document<char>& document;
    const std::string& text;
    const char* buffer;
    const XmlScan& scan;
};
typedef std::function<void(const ParsedXml&)> XmlInspector;

// The bytes of a boot file as the reader sees them (text mode, default locale).
// Throws the reader's error type for a file that cannot be opened, is not a
// regular file or is larger than maxBootFileSize.
std::string readBootText(const std::string& fileName);

// Reads the file into pt, as Boost.PropertyTree's read_xml does with flags 0.
// inspect, when given, sees the parsed document. False, with error set, for a
// file refused or unparsed. Writes nothing: a caller that logs does so itself.
bool readBootTree(const std::string& filePath, boost::property_tree::ptree& pt, BootError& error,
                  const XmlInspector& inspect = XmlInspector());

// The value findXmlValue finds for key in the boot file at filePath, read
// without the diagnostic line; false when the file is refused or the lookup fails.
bool readBootValueQuietly(const std::string& filePath, const std::string& key, std::string& value);

// Writes filePath as a diagnostic line, then readBootTree that throws the
// reader's error type.
boost::property_tree::ptree readConfigXml(const std::string& filePath);

// The value of the last <item> under <boot> whose key attribute is key1, or
// "". False, with error set, when there is no <boot>, an item has no key, or a
// matching item has no value or a value holding a NUL character. item, when
// given, gets the place of the item whose value it is (-1: none), counted as
// BootError::item counts.
bool findXmlValue(const boost::property_tree::ptree& pt, const std::string& key1, std::string& value,
                  BootError& error, int* item = NULL);

// findXmlValue that throws what the property tree's lookups throw.
std::string getXmlValue(const boost::property_tree::ptree& pt, const std::string& key1);

// Throws for error what the reader, the lookups or the placeholder pass throw
// for it: the XML reader's error type naming filePath, the property tree's
// bad path or bad data, or std::runtime_error.
[[noreturn]] void throwBootError(const BootError& error, const std::string& filePath);
