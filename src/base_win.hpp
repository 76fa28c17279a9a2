#pragma once

#include <string>

// Paths of the running executable; filled once at start-up by setModuleFileName.
extern std::string appDir;       // directory, always ending in fileSep
extern std::string exeFileName;  // file name with extension
extern std::string parentDir;    // appDir's parent path plus fileSep: the same text as appDir
// The executable's directory as UTF-8, for messages; set also when appDir cannot be.
extern std::string appDirUtf8;

// Fills the globals above from the executable's path. ERR when no narrow path
// names the executable's folder (cut-off query, no exact or short ANSI form):
// then appDir stays empty and nothing may be read relative to it.
int setModuleFileName();
// The same from a given wide path of the executable.
int setAppPaths(const std::wstring& modulePath);
// A narrow path that names the same file: the exact ANSI form (in codePage, 0:
// the system's), else the short (8.3) form of an existing file or folder when
// that one converts exactly.
int ansiPath(const std::wstring& widePath, std::string& path, unsigned codePage = 0);

// parentDir's rule: the parent path of appDir (which ends in a separator), plus fileSep.
std::string parentDirOf(const std::string& appDir);
// The updater's folder in an app folder, without a trailing separator.
std::string updaterDirOf(const std::string& appDir);
// The boot files a launcher in appDir reads: the main application's and the updater's.
std::string mainBootFileOf(const std::string& appDir);
std::string updaterBootFileOf(const std::string& appDir);
