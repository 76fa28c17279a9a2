#pragma once

#include <string>
#include <vector>

// How the operating system finds and judges the program of a command line;
// one source file per platform.

// Separator of class-path entries for java on this platform.
extern char classPathSeparator;

// Judges paths by Windows' rules from now on, for an app folder made for
// Windows but checked elsewhere (bootcheck --windows): "jre\bin\javaw.exe" is
// a path, ".exe" is tried, ";" separates class-path entries. On Windows these
// are the rules anyway.
void useWindowsRules();
// The separator of folders in the paths of a boot file.
const char* folderSeparator();
// The file on this machine that path names, or "" when it names a file of
// the Windows machine only (C:\..., \\server\...), which nothing here can judge.
std::string localPath(const std::string& path);

bool isAbsolutePath(const std::string& path);
// A path with a folder part is looked up as it is; a bare name is searched for.
bool hasFolderPart(const std::string& path);
// The file the system tries for a program path (Windows appends ".exe" to a
// name without extension).
std::string programFileName(const std::string& program);
// Folders searched for a bare program name, in the order the system tries them.
std::vector<std::string> programSearchFolders(const std::string& appDir);
bool isExecutableFile(const std::string& path);
