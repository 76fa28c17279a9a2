#pragma once

#include <string>

// Paths of the running executable; filled once at start-up by setModuleFileName.
extern std::string appDir;       // directory, always ending in fileSep
extern std::string exeFileName;  // file name with extension
extern std::string parentDir;    // appDir's parent path plus fileSep: the same text as appDir

void setModuleFileName();
