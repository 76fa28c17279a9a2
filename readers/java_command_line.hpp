#pragma once

#include <string>
#include <vector>

// Splits a command line into words the way java.exe does on Windows (its
// launcher's rules, which differ from the C runtime's in two quote sequences),
// so a command line means the same on both platforms.
std::vector<std::string> splitCommandLine(const char* commandLine);
