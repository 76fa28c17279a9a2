#pragma once

#include "findings.hpp"

#include "boot_reading.hpp"

#include <string>

// Reads configPath once through the launcher's own reading, as a launcher
// started with start would (its folder, its arguments, the code page java
// reads in), and reports what the launcher will run and what is wrong.
// Characters the code page cannot hold are reported for start.codePage, or
// for the system's ANSI code page when that is 0 (none where it is UTF-8).
// Starts nothing, writes nothing. The report's texts are UTF-8.
BootFileReport checkBootFile(const std::string& role, const std::string& configPath,
                             const std::string& workingDirectory, const StartInputs& start);
