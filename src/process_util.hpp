#pragma once

#include <windows.h>

// Handle of the most recently created child process.
extern HANDLE childProcess;
// When set, told of each child: its process id as soon as it runs, and, when
// execute waits, execute's result as soon as the child has ended.
extern void (*childStarted)(DWORD processId);
extern void (*childEnded)(int result);

// Starts lpCommandLine in lpCurrentDir (NULL: inherit) and, when doWait is
// nonzero, waits for it. Returns the child's exit code, OK when not waiting,
// or ERR when the child could not be started or awaited.
int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait);
