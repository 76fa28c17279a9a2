#pragma once

#include <string>
#include <vector>

// How the operating system finds and judges the program of a command line;
// one source file per platform.

// Separator of class-path entries for java on this platform.
extern const char classPathSeparator;

bool isAbsolutePath(const std::string& path);
// A path with a folder part is looked up as it is; a bare name is searched for.
bool hasFolderPart(const std::string& path);
// The file the system tries for a program path (Windows appends ".exe" to a
// name without extension).
std::string programFileName(const std::string& program);
// Folders searched for a bare program name, in the order the system tries them.
std::vector<std::string> programSearchFolders(const std::string& appDir);
bool isExecutableFile(const std::string& path);
