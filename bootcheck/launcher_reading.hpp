#pragma once

#include "boot_layout.hpp"
#include "findings.hpp"

#include "boot_reading.hpp"

#include <string>
#include <vector>

// One boot file as the launcher reads it, and where its parts stand.
struct LauncherReading {
    BootReading boot;
    BootLayout layout;  // parsed: false when the reader did not parse the file
};

// Reads configPath once, through the launcher's own reading, as a launcher in
// the folder appDir (a global of the launcher's base) would.
// launcherArgs stand for the launcher's own arguments.
LauncherReading readAsLauncher(const std::string& configPath, const std::vector<std::wstring>& launcherArgs);

// Whether the file's structure is checked: the reader parsed it and the
// launcher got as far as looking up its keys.
bool layoutApplies(const LauncherReading& reading);

// Why the launcher rejects the file, as one finding.
void reportReadingFailure(BootFileReport& report, const LauncherReading& reading);

// Keys meant as one of the seven, keys given twice, unmatched end tags and
// further top-level elements.
void checkLayout(BootFileReport& report, const BootLayout& layout);

// The item whose value the launcher uses for key, or NULL.
const BootItem* lastItemWithKey(const BootLayout& layout, const std::string& key);
