#pragma once

#include <string>

// Names as Windows' file systems take them. makesetup checks an app folder
// with these, and update checks the paths of a manifest.

// Whether two names are one on Windows' file systems (full case folding).
bool sameWindowsName(const std::string& a, const std::string& b);

// Why name cannot be a file or folder name on Windows, or "".
std::string windowsNameProblem(const std::string& name);
