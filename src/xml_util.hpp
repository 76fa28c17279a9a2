#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>

// Reads a boot file into a property tree; throws what the XML reader throws.
boost::property_tree::ptree readConfigXml(const std::string& filePath);

// Value of the last <item> under <boot> whose key attribute is key1, or "".
// Throws when there is no <boot>, an item has no key, or a matching item has no value.
std::string getXmlValue(const boost::property_tree::ptree& pt, const std::string& key1);
