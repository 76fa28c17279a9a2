#pragma once

// The boot file a fuzz target reads: boot.xml in a folder of its own below
// $TMPDIR, both removed when the run ends. A file that cannot be made or
// written ends the run, as no input could be tried.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string scratchFolder;
inline std::string scratchBootFile;

// Makes the folder, named after prefix, and sets scratchBootFile.
inline void makeScratchBootFile(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != NULL ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == NULL) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratchFolder = pattern;
    scratchBootFile = scratchFolder + "/boot.xml";
    std::atexit([] {
        std::remove(scratchBootFile.c_str());
        rmdir(scratchFolder.c_str());
    });
}

inline void writeScratchBootFile(const void* data, size_t size) {
    FILE* file = std::fopen(scratchBootFile.c_str(), "wb");
    if (file == NULL || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(scratchBootFile.c_str());
        std::abort();
    }
}
