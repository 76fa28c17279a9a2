#include "system_dll.hpp"

#include <string>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD DirectoryFlags);

// Whether SetDefaultDllDirectories took effect; Windows 7 has it only with
// KB2533623, and LoadLibraryExW accepts the LOAD_LIBRARY_SEARCH_ flags only then.
static bool searchFlagsKnown = false;

void restrictDllSearch() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel32 != NULL ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : NULL;
    if (proc != NULL) {
        SetDefaultDllDirectoriesProc setDefaultDllDirectories =
            reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void (*)(void)>(proc));
        searchFlagsKnown = setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    }
}

HMODULE loadSystemDll(LPCWSTR name, bool childrenFollow) {
    if (!searchFlagsKnown && !childrenFollow) {
        // Without the flags only the current directory can be taken out of the
        // search; the application folder stays first for DLLs loaded by name.
        // Children inherit this setting, so it is made only here, when a box
        // is due: the launcher starts no child after a box.
        SetDllDirectoryW(L"");
    }
    wchar_t szSystemDir[MAX_PATH];
    UINT length = GetSystemDirectoryW(szSystemDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return NULL;
    }
    std::wstring path = std::wstring(szSystemDir, length) + L"\\" + name;
    // The DLL's own imports come from the system folder too: through the
    // search flags, or else from the folder of the DLL, which comes first.
    DWORD dwFlags = searchFlagsKnown ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExW(path.c_str(), NULL, dwFlags);
}
