#pragma once

#include "findings.hpp"

#include <cstdint>
#include <string>
#include <vector>

// One file or folder of the app folder, by its path below it ("/" between names).
struct AppEntry {
    std::string relative;
    bool folder;
    std::string source = "";  // where makesetup reads the file; "" for APP_DIR/relative
};

// The app folder's contents, sorted, for an installer: every name must be
// possible on Windows and no two may be one name there (full case folding). Links to files are
// followed; links to folders and other special files are refused. The top
// folder's file named skip (case ignored) is left out. Returns "" or the
// first problem as "what is wrong; what to do".
std::string listAppFolder(const std::string& appDir, const std::string& skip, std::vector<AppEntry>& entries,
                          uintmax_t& totalBytes);

// Both boot files of appDir read as the launcher reads them on Windows,
// through bootcheck's checks with Windows' path rules; the updater's from
// updaterFrom instead when makesetup writes it (update.exe's), as if that
// folder were the app folder.
std::vector<BootFileReport> checkBootFiles(const std::string& appDir, const std::string& updaterFrom);

// Whether the main application's boot file forwards the launcher's arguments.
bool forwardsArguments(const BootFileReport& mainReport);
