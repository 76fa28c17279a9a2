// Stand-in java.exe that needs a DLL of its own beside it (jli.dll, imported
// at load time, as the real java.exe does). Each argument that ends in .dll
// it loads by name, and exits with the number that failed: run directly, it
// shows that planted DLLs are found where the test put them.
#include <windows.h>

#include <cstring>

extern "C" __declspec(dllimport) int plantedDllMark(void);

int main(int argc, char* argv[]) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        size_t length = std::strlen(argv[i]);
        if (length > 4 && _stricmp(argv[i] + length - 4, ".dll") == 0 && LoadLibraryA(argv[i]) == NULL) {
            ++failed;
        }
    }
    return plantedDllMark() == 1 ? failed : 100;
}
