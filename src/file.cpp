#include "file.hpp"

#include "const.hpp"

#include <sys/stat.h>

#include <cstdio>

int fileExists(char* filePath) {
    // Opening a FIFO or a device may block or never end; only files count.
    struct stat before;
    if (stat(filePath, &before) == 0 && !S_ISREG(before.st_mode)) {
        return FALSE;
    }
    FILE* fp = std::fopen(filePath, "r");
    if (fp == NULL) {
        return FALSE;
    }
    // POSIX lets a directory be opened for reading; Windows does not. Only files count.
    struct stat st;
    bool isDirectory = fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode);
    std::fclose(fp);
    return isDirectory ? FALSE : TRUE;
}

int createFile(const char* filePath) {
    FILE* fp = std::fopen(filePath, "w");
    if (fp == NULL) {
        std::puts("cannot open");
        return FALSE;
    }
    std::fputs("123456789", fp);
    std::fclose(fp);
    return TRUE;
}
