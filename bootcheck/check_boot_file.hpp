#pragma once

#include "findings.hpp"

#include <string>
#include <vector>

// The code page whose missing characters are reported; 0: none.
extern unsigned checkedCodePage;

// Reads configPath once through the launcher's own reading, as a launcher in
// the folder appDir (a global of the launcher's base) would, and reports what
// the launcher will run and what is wrong. Starts nothing, writes nothing.
// launcherArgs stand for the launcher's own arguments.
BootFileReport checkBootFile(const std::string& role, const std::string& configPath,
                             const std::string& workingDirectory, const std::vector<std::wstring>& launcherArgs);
