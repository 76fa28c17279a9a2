// Stand-in child for the benchmarks, built for Linux and for Windows. Its role
// is its last argument, where the launcher puts the main class:
//   Main     ends with 21 while the file cycles_left next to it holds a count
//            above zero, counting it down; otherwise ends with 0;
//   Sleep    sleeps for the milliseconds given by the argument before it;
//   anything else ends with 0 at once.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

static std::string ownDirectory(const char* argv0) {
    std::string path = argv0;
    size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

static int nextMainExitCode(const std::string& counterPath) {
    FILE* counter = std::fopen(counterPath.c_str(), "r+");
    if (counter == NULL) {
        return 0;
    }
    long left = 0;
    int exitCode = 0;
    if (std::fscanf(counter, "%ld", &left) == 1 && left > 0) {
        std::rewind(counter);
        std::fprintf(counter, "%-20ld\n", left - 1);
        exitCode = 21;
    }
    std::fclose(counter);
    return exitCode;
}

static void sleepMilliseconds(long ms) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(ms));
#else
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
#endif
}

int main(int argc, char* argv[]) {
    const char* role = argv[argc - 1];
    if (std::strcmp(role, "Main") == 0) {
        return nextMainExitCode(ownDirectory(argv[0]) + "cycles_left");
    }
    if (std::strcmp(role, "Sleep") == 0 && argc >= 3) {
        sleepMilliseconds(std::atol(argv[argc - 2]));
    }
    return 0;
}
