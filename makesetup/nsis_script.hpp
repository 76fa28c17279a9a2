#pragma once

#include "app_folder.hpp"
#include "setup_options.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The installer's script: the fixed template (installer.nsi) and the two
// files makesetup writes beside it.

extern const char installerTemplate[];

// text as an NSIS string in double quotes: "$" and quotes escaped, so that
// makensis takes it literally.
std::string nsisString(const std::string& text);
// The same without the quotes, for a part of a string.
std::string nsisEscaped(const std::string& text);

// values.nsh: the vendor's checked values as defines.
std::string nsisValues(const SetupOptions& options, uintmax_t installedBytes, bool signUninstaller);

// content.nsh: the files to install (the app folder through the link "app"
// beside the script, the branded exe as options.exe), the executables to
// check for a running app, and the document types' registry keys.
std::string nsisContent(const SetupOptions& options, const std::vector<AppEntry>& entries);
