#include "xml_util.hpp"

#include <boost/filesystem/path.hpp>
#include <boost/foreach.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <iostream>
#include <locale>

boost::property_tree::ptree readConfigXml(const std::string& filePath) {
    std::cout << filePath << std::endl;
    std::string fileName = boost::filesystem::path(filePath).string();
    boost::property_tree::ptree pt;
    boost::property_tree::read_xml(fileName, pt, 0, std::locale());
    return pt;
}

std::string getXmlValue(const boost::property_tree::ptree& pt, const std::string& key1) {
    std::string value;
    BOOST_FOREACH (const boost::property_tree::ptree::value_type& child, pt.get_child("boot")) {
        if (child.first != "item") {
            continue;
        }
        std::string key2 = child.second.get<std::string>("<xmlattr>.key");
        if (key1 == key2) {
            value = child.second.get<std::string>("<xmlattr>.value");
        }
    }
    return value;
}
