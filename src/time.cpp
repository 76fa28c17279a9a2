#include "time.hpp"

#include <cstdio>
#include <ctime>

int getYYYYMMDDhhmmss() {
    std::time_t now = std::time(NULL);
    const std::tm* local = std::localtime(&now);
    // localtime fails for times it cannot represent; there is then nothing to print.
    if (local == NULL) {
        return 0;
    }
    std::printf("地方時: %4d/%2d/%2d %2d:%2d:%2d %d\n", local->tm_year + 1900, local->tm_mon + 1,
                local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec, local->tm_isdst);
    return 0;
}
