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

// Reads configPath once, through the launcher's own reading, as a launcher
// started with start would.
LauncherReading readAsLauncher(const std::string& configPath, const StartInputs& start);

// Whether the file's structure is checked: the reader parsed it and the
// launcher got as far as looking up its keys.
bool layoutApplies(const LauncherReading& reading);

// Why the launcher rejects the file, as one finding. appDir: the launcher's folder as UTF-8.
void reportReadingFailure(BootFileReport& report, const LauncherReading& reading, const std::string& appDir);

// Keys meant as one of the seven, keys given twice, unmatched end tags and
// further top-level elements.
void checkLayout(BootFileReport& report, const LauncherReading& reading);

// The layout's item at index, counted as the reading counts items, or NULL.
const BootItem* itemAt(const LauncherReading& reading, int index);
// The item whose value the launcher took for key, or NULL.
const BootItem* valueItem(const LauncherReading& reading, const std::string& key);
// For a key beyond the seven that the reading looked up with failure: the item
// that failed it (one without a value, or with a NUL), else the one whose value
// the launcher took, or NULL.
const BootItem* optionalItem(const LauncherReading& reading, const BootError& failure, const std::string& key);
