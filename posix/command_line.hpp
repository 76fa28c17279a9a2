#pragma once

#include <string>
#include <vector>

// Splits a command line into words the way a Windows program's C runtime
// does, so a command line means the same on both platforms.
std::vector<std::string> splitCommandLine(const char* commandLine);
