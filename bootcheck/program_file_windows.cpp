#include "program_file.hpp"

#include "pe_image.hpp"

#include "const.hpp"

#include <windows.h>

#include <cstdlib>

char classPathSeparator = ';';

void useWindowsRules() {
}

const char* folderSeparator() {
    return "\\";
}

std::string localPath(const std::string& path) {
    return path;
}

bool isAbsolutePath(const std::string& path) {
    return (path.size() >= 3 && path[1] == ':' && isFileSeparator(path[2])) ||
           (path.size() >= 2 && isFileSeparator(path[0]) && isFileSeparator(path[1]));
}

bool hasFolderPart(const std::string& path) {
    return path.find_first_of("\\/:") != std::string::npos;
}

std::string programFileName(const std::string& program) {
    size_t name = program.find_last_of("\\/:");
    name = name == std::string::npos ? 0 : name + 1;
    return program.find('.', name) == std::string::npos ? program + ".exe" : program;
}

static std::string folderOf(UINT (WINAPI* query)(LPSTR, UINT)) {
    char folder[MAX_PATH] = "";
    UINT length = query(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(folder) : std::string();
}

// CreateProcessA's order: the launcher's folder, the current folder, the
// system folders, then PATH.
std::vector<std::string> programSearchFolders(const std::string& appDir) {
    std::vector<std::string> folders = {appDir, "."};
    std::string system = folderOf(GetSystemDirectoryA);
    std::string windows = folderOf(GetWindowsDirectoryA);
    if (!system.empty()) {
        folders.push_back(system);
    }
    if (!windows.empty()) {
        folders.push_back(windows);
    }
    const char* path = std::getenv("PATH");
    std::string list = path != NULL ? path : "";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty()) {
            folders.push_back(folder);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return folders;
}

// What CreateProcessA can start is a PE image, which begins with "MZ", or a
// batch file, which it hands to the command interpreter.
bool isExecutableFile(const std::string& path) {
    return isWindowsProgramFile(path);
}
