#include "file.hpp"

#include "const.hpp"

#include <sys/stat.h>

#include <cstdio>

int fileExists(char* filePath) {
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
