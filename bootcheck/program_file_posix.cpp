#include "program_file.hpp"

#include "pe_image.hpp"

#include <cstdlib>
#include <unistd.h>

char classPathSeparator = ':';

static bool windowsRules = false;

void useWindowsRules() {
    windowsRules = true;
    classPathSeparator = ';';
}

const char* folderSeparator() {
    return windowsRules ? "\\" : "/";
}

static bool isWindowsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A drive or a share: a path of the Windows machine, not of the app folder here.
static bool isWindowsRooted(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') ||
           (path.size() >= 2 && isWindowsSeparator(path[0]) && isWindowsSeparator(path[1]));
}

std::string localPath(const std::string& path) {
    if (!windowsRules) {
        return path;
    }
    if (isWindowsRooted(path)) {
        return "";
    }
    std::string local = path;
    for (char& c : local) {
        c = c == '\\' ? '/' : c;
    }
    return local;
}

// With Windows' rules the app folder's own path, which begins with "/" here,
// counts as absolute too.
bool isAbsolutePath(const std::string& path) {
    return (!path.empty() && path[0] == '/') || (windowsRules && isWindowsRooted(path));
}

bool hasFolderPart(const std::string& path) {
    return path.find_first_of(windowsRules ? "\\/:" : "/") != std::string::npos;
}

// CreateProcessA appends ".exe" to a name without extension.
std::string programFileName(const std::string& program) {
    if (!windowsRules) {
        return program;
    }
    size_t name = program.find_last_of("\\/:");
    name = name == std::string::npos ? 0 : name + 1;
    return program.find('.', name) == std::string::npos ? program + ".exe" : program;
}

// posix_spawnp's search: PATH, or the system's default path when it is unset.
// With Windows' rules the launcher's folder, the one folder of that search
// that is here; the others are the Windows machine's.
std::vector<std::string> programSearchFolders(const std::string& appDir) {
    if (windowsRules) {
        return {appDir};
    }
    const char* path = std::getenv("PATH");
    std::string list = path != NULL ? path : "/bin:/usr/bin";
    std::vector<std::string> folders;
    size_t start = 0;
    for (;;) {
        size_t end = list.find(':', start);
        std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        folders.push_back(folder.empty() ? "." : folder);
        if (end == std::string::npos) {
            return folders;
        }
        start = end + 1;
    }
}

// With Windows' rules, what CreateProcessA can start: a PE image ("MZ") or a batch file.
bool isExecutableFile(const std::string& path) {
    return windowsRules ? isWindowsProgramFile(path) : access(path.c_str(), X_OK) == 0;
}
