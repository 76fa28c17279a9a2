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
// A narrow path that names the same file: the exact ANSI form, else the short
// (8.3) form of an existing file or folder when that one converts exactly.
int ansiPath(const std::wstring& widePath, std::string& path);
