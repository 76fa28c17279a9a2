// What the stand-in's units share. Handles: one plain record per object, told apart by kind,
// so CloseHandle and WaitForSingleObject can serve every kind.
#pragma once

#include "windows.h"

#include <sys/types.h>

#include <string>

enum HandleKind { processHandle, fileHandle, findHandle, mutexHandle, tokenHandle };

struct HandleRecord {
    HandleKind kind;
    pid_t pid;  // processHandle
    bool ended;
    DWORD exitCode;
    int fd;              // fileHandle, mutexHandle (a file to lock)
    void* folder;        // findHandle: the open folder (DIR*)
    std::wstring match;  // findHandle: the file name pattern
};

// The narrow bytes of a wide path as the file system sees them.
bool pathBytes(LPCWSTR path, std::string& bytes);
// Text of the process (paths, the environment) as CP_ACP reads it.
std::wstring wideOf(const char* bytes);
// Copies text and its terminator into a buffer of size units when it fits.
// Returns the length without terminator, or the size needed when it does not fit.
DWORD copyOut(const std::wstring& text, LPWSTR buffer, DWORD size);

// Sets what GetLastError reports from errno.
void setLastErrorFromErrno(int error);

// For WaitForSingleObject and CloseHandle on a mutex.
DWORD waitForMutex(HandleRecord* mutex, DWORD dwMilliseconds);
void closeHandleRecord(HandleRecord* record);
