// Feeds arbitrary bytes as a boot file through the launcher's own reading and
// command-line assembly, then splits the result the way the process starter
// does. A std::exception from the reader is the only allowed way out, and a
// file that fails must leave the previous command line in place.
#include "base_win.hpp"
#include "command_line.hpp"
#include "main.hpp"

#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

namespace {

std::string scratchDir;
std::string bootPath;

void removeScratch() {
    std::remove(bootPath.c_str());
    rmdir(scratchDir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != NULL ? tmp : "/tmp") + "/boot-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == NULL) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratchDir = pattern;
    bootPath = scratchDir + "/boot.xml";
    std::atexit(removeScratch);
    appDir = "/opt/app/";
    parentDir = "/opt/app/";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(bootPath.c_str(), "wb");
    if (file == NULL || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(bootPath.c_str());
        std::abort();
    }

    static const std::string previous = "previous command line";
    javaCommandLine = previous;
    try {
        readBootXml(bootPath);
    } catch (const std::exception&) {
        if (javaCommandLine != previous) {
            std::fprintf(stderr, "a failed read changed the command line to: %s\n",
                         javaCommandLine.c_str());
            std::abort();
        }
        return 0;
    }
    splitCommandLine(javaCommandLine.c_str());
    return 0;
}
