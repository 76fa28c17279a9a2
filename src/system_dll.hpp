#pragma once

#include <windows.h>

// Keeps every DLL that is loaded after this call, also those that system code
// loads on demand, out of the application folder, where anyone who can drop a
// file (a download folder, an unzipped archive) could plant one. Call it first
// in main. Child processes do not inherit it.
void restrictDllSearch();

// Loads a DLL of the operating system from the system folder only; NULL when
// it cannot be loaded. For the message boxes: where the system lacks the
// search flags, it also changes the search of child processes started later,
// unless childrenFollow (advapi32, whose imports are all known system DLLs).
HMODULE loadSystemDll(LPCWSTR name, bool childrenFollow = false);
