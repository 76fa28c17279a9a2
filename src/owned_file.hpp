#pragma once

// An open file that closes itself, and the words for why a file call failed,
// for the tools' platform sides (seticon, update).

#include <string>

#ifdef _WIN32
#include <windows.h>

// Closes the handle when the function that opened it returns.
struct FileHandle {
    HANDLE handle;
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

inline std::string errorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_ACCESS_DENIED: return "access is denied";
    case ERROR_SHARING_VIOLATION: return "another program has it open";
    case ERROR_LOCK_VIOLATION: return "another program has locked it";
    case ERROR_WRITE_PROTECT: return "the disk is write-protected";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "the disk is full";
    case ERROR_INVALID_NAME: return "the name is not valid";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "there is already a file named so";
    case ERROR_DIR_NOT_EMPTY: return "the folder is not empty";
    case ERROR_NOT_SAME_DEVICE: return "it is on another drive";
    default: return "Windows error " + std::to_string(error);
    }
}
#else
#include <cerrno>
#include <cstring>
#include <unistd.h>

// Closes the descriptor when the function that opened it returns.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

inline std::string errorText() {
    return std::strerror(errno);
}
#endif
