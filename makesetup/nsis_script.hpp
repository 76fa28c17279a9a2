#pragma once

#include "app_folder.hpp"
#include "setup_options.hpp"

#include <cstdint>
#include <string>
#include <vector>

// The installer's script: the template (installer.nsi) with the vendor's
// texts in place, and the two files makesetup writes beside it.

extern const char installerTemplate[];

// The files the installer adds at the top of the folder, beside the app's.
extern const char uninstallerName[];
extern const char markerName[];    // the product's id: whose installation the folder is
// What the installation put there: installerManifestName (update_files.hpp),
// which update.exe rewrites after an update.

// text with each @WORD@ of words replaced by its value, in one pass: a value
// is never scanned again. Other text between "@" stays as it is.
std::string filledTemplate(const std::string& text, const std::vector<std::pair<std::string, std::string>>& words);

// The top folders an upgrade replaces whole: those in which the package ships
// a .jar, .exe or .dll, and --replace's, but not --keep's. Sorted.
std::vector<std::string> codeFolders(const SetupOptions& options, const std::vector<AppEntry>& entries);

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
// @PRODUCT_VERSION@, @EXE_NAME@ and @SHORTCUT_OTHER@ replaced, and the same
// texts in the installer's version block (@VI_...@, the copyright's line left
// out when there is none).
std::string nsisScript(const SetupOptions& options);

// values.nsh: the ASCII values as defines.
std::string nsisValues(const SetupOptions& options, uintmax_t installedBytes, bool signUninstaller);

// content.nsh: the manifest the installer writes; the files to install, each
// from a link "files/N" beside the script (entries[N], so that no name of the
// app folder goes into a source path, which makensis reads without unescaping
// "$$"), the branded exe from the link "files/branded.exe"; the executables
// the running-app check tries; the code folders an upgrade removes and those
// it keeps; the document types' registry keys.
std::string nsisContent(const SetupOptions& options, const std::vector<AppEntry>& entries);
// The name of entries[index]'s link below "files/".
std::string nsisSourceName(size_t index);

// The script a reader sees: setup.nsi with values.nsh and content.nsh in
// place of their !include lines.
std::string readableScript(const std::string& script, const std::string& values, const std::string& content);
