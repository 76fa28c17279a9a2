#include "program_file.hpp"

#include <cstdlib>
#include <unistd.h>

const char classPathSeparator = ':';

bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

bool hasFolderPart(const std::string& path) {
    return path.find('/') != std::string::npos;
}

std::string programFileName(const std::string& program) {
    return program;
}

// posix_spawnp's search: PATH, or the system's default path when it is unset.
std::vector<std::string> programSearchFolders(const std::string&) {
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

bool isExecutableFile(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}
