#pragma once

#include <windows.h>

// Handle of the most recently created child process.
extern HANDLE childProcess;

// Starts lpCommandLine in lpCurrentDir (NULL: inherit) and, when doWait is
// nonzero, waits for it. Returns the child's exit code, OK when not waiting,
// or ERR when the child could not be started or awaited.
int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait);
