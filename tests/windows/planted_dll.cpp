// A DLL that proves it was loaded: when a process attaches it, it appends the
// process's exe path to a file beside itself named after it, e.g.
// version.dll.loaded. The tests copy it under the names of system DLLs into
// an application folder, and import it under its own name (jli.dll) into a
// stand-in java.exe.
#include <windows.h>

#include <string>

extern "C" __declspec(dllexport) int plantedDllMark(void) {
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t dllPath[MAX_PATH];
    wchar_t exePath[MAX_PATH];
    DWORD dllLength = GetModuleFileNameW(hinstDLL, dllPath, MAX_PATH);
    DWORD exeLength = GetModuleFileNameW(NULL, exePath, MAX_PATH);
    if (dllLength == 0 || dllLength >= MAX_PATH || exeLength >= MAX_PATH) {
        return TRUE;
    }
    std::wstring markerPath = std::wstring(dllPath, dllLength) + L".loaded";
    HANDLE marker = CreateFileW(markerPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        std::wstring line = std::wstring(exePath, exeLength) + L"\n";
        DWORD written;
        WriteFile(marker, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, NULL);
        CloseHandle(marker);
    }
    return TRUE;
}
