#include "quiet_output.hpp"

#include <fcntl.h>

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
static const char nullDevice[] = "NUL";
#else
#include <unistd.h>
static const char nullDevice[] = "/dev/null";
#endif

int quietStandardOutput() {
    std::cout.flush();
    std::fflush(stdout);
    int saved = dup(1);
    int null = open(nullDevice, O_WRONLY);
    if (saved >= 0 && null >= 0) {
        dup2(null, 1);
    }
    if (null >= 0) {
        close(null);
    }
    return saved;
}

void restoreStandardOutput(int saved) {
    std::cout.flush();
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
    }
}
