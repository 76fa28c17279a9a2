// A hello world that also does what a forwarding launcher cannot skip: it
// loads user32 from the system folder, as the launcher does, and hands the
// foreground to a process (its own id: the call is the cost, not the effect).
#include "system_dll.hpp"

#include <windows.h>

#include <iostream>

typedef BOOL(WINAPI* AllowSetForegroundWindowProc)(DWORD dwProcessId);

int main() {
    restrictDllSearch();
    std::cout << "hello, world" << std::endl;
    HMODULE user32 = loadSystemDll(L"user32.dll");
    FARPROC proc = user32 != NULL ? GetProcAddress(user32, "AllowSetForegroundWindow") : NULL;
    if (proc == NULL) {
        return 1;
    }
    reinterpret_cast<AllowSetForegroundWindowProc>(reinterpret_cast<void (*)(void)>(proc))(GetCurrentProcessId());
    return 0;
}
