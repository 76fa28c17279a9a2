#pragma once

#include <string>

// Keys of the boot file. "-Xmn", "-Xms" and "-Xmx" double as the option
// prefixes written into the Java command line.
const std::string jop_java = "java";
const std::string jop_Xmn = "-Xmn";
const std::string jop_Xms = "-Xms";
const std::string jop_Xmx = "-Xmx";
const std::string jop_cp = "-cp";
const std::string jop_args = "args";
const std::string jop_main = "main";
