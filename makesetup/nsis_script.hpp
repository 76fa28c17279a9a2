#pragma once

#include "app_folder.hpp"
#include "setup_options.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The installer's script: the template (installer.nsi) with the vendor's
// texts in place, and the two files makesetup writes beside it.

extern const char installerTemplate[];

// text inside an NSIS string in double quotes, taken literally by makensis
// in a line of the script it reads once: "$", quotes and "{" (which would
// make "${...}" a define) escaped. A define's value is scanned again where it
// is used, so such text never goes through !define or a macro's parameter.
std::string nsisEscaped(const std::string& text);
std::string nsisString(const std::string& text);
// text in a value of VIAddVersionKey, which makensis does not unescape as a
// string ("$$" stays): "$" and "{" as ${U+24} and ${U+7B}, quotes as $\".
std::string nsisVersionText(const std::string& text);

// setup.nsi: the template with @PRODUCT_NAME@, @PRODUCT_VENDOR@,
// @PRODUCT_VERSION@ and @EXE_NAME@ replaced, and the same texts in the
// installer's version block (@VI_...@, the copyright's line left out when
// there is none).
std::string nsisScript(const SetupOptions& options);

// values.nsh: the ASCII values as defines.
std::string nsisValues(const SetupOptions& options, uintmax_t installedBytes, bool signUninstaller);

// content.nsh: the files to install, each from a link "files/N" beside the
// script (entries[N], so that no name of the app folder goes into a source
// path, which makensis reads without unescaping "$$"), the branded exe from
// the link "files/branded.exe"; the executables the running-app check tries; the document
// types' registry keys.
std::string nsisContent(const SetupOptions& options, const std::vector<AppEntry>& entries);
// The name of entries[index]'s link below "files/".
std::string nsisSourceName(size_t index);
