#pragma once

#include <windows.h>

// Handle of the most recently created child process.
extern HANDLE childProcess;
// Starts lpCommandLine in lpCurrentDir (NULL: inherit) and, when doWait is
// nonzero, waits for it. started, when given, hears the child's process id as
// soon as it runs. Returns the child's exit code, OK when not waiting, or ERR
// when the child could not be started or awaited.
int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait, void (*started)(DWORD processId) = NULL);
