#pragma once

#include "findings.hpp"

#include <string>

// Checks on the java program: whether the system finds and can start it, its
// subsystem, and what the launcher's quoting of the folder does to it. value
// is the java value as the file gives it, javaWord the java path as the
// command line begins with it.
void checkJava(BootFileReport& report, const std::string& value, const std::string& javaWord, long line);
