#pragma once

#include "findings.hpp"

#include <string>

// Checks on the java program: whether the system finds and can start it, its
// subsystem, and what the launcher's quoting of the folder does to it. value
// is the java value as the file gives it, javaWord the java path as the
// command line begins with it, appDir the launcher's folder, where the system
// looks first for a bare program name.
void checkJava(BootFileReport& report, const std::string& value, const std::string& javaWord, long line,
               const std::string& appDir);
