#include "aux_lock_elsewhere.hpp"

#include <windows.h>

namespace {

HANDLE holder = INVALID_HANDLE_VALUE;

HANDLE openShared(const std::string& filePath) {
    return CreateFileA(filePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

bool lockWholeFile(HANDLE file) {
    OVERLAPPED from = {};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                      MAXDWORD, &from) != 0;
}

}  // namespace

bool lockElsewhere(const std::string& filePath) {
    holder = openShared(filePath);
    return holder != INVALID_HANDLE_VALUE && lockWholeFile(holder);
}

void unlockElsewhere() {
    if (holder != INVALID_HANDLE_VALUE) {
        OVERLAPPED from = {};
        UnlockFileEx(holder, 0, MAXDWORD, MAXDWORD, &from);
        CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
    }
}

bool canLockElsewhere(const std::string& filePath) {
    HANDLE file = openShared(filePath);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool locked = lockWholeFile(file);
    if (locked) {
        OVERLAPPED from = {};
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from);
    }
    CloseHandle(file);
    return locked;
}
