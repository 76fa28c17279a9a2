// Reads an exe's version block the way Explorer's Properties → Details does:
// GetFileVersionInfoW, the first translation of \VarFileInfo\Translation,
// then each string of that table. Prints NAME=VALUE lines in UTF-8, and
// FileVersion as the four numbers of the fixed part.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

static std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, NULL, NULL);
    return result;
}

extern "C" int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_probe EXE\n");
        return 2;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, block.data())) {
        std::printf("no version block (error %lu)\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != NULL) {
        std::printf("fixed=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xffff,
                    fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xffff);
    }
    WORD* translation = NULL;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) || length < 4) {
        std::printf("no translation\n");
        return 1;
    }
    const wchar_t* names[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright",
                              L"OriginalFilename", L"ProductName", L"ProductVersion"};
    for (const wchar_t* name : names) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
        wchar_t* value = NULL;
        if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) && value != NULL) {
            std::printf("%s=%s\n", utf8(name).c_str(), utf8(value).c_str());
        }
    }
    return 0;
}
