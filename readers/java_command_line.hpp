#pragma once

#include <functional>
#include <string>
#include <vector>

// Splits a command line into words the way java.exe does on Windows (its
// launcher's rules, which differ from the C runtime's in two quote sequences),
// so a command line means the same on both platforms. isLeadByte, when given,
// tells the lead bytes of the code page the line is in: java reads a
// double-byte character whole, so its trail byte is never a backslash or quote.
std::vector<std::string> splitCommandLine(const char* commandLine,
                                          const std::function<bool(char)>& isLeadByte = nullptr);
