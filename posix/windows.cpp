// Paths, text, message boxes and the console.
#include "windows.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
    if (nSize == 0) {
        return 0;
    }
    ssize_t length = readlink("/proc/self/exe", lpFilename, nSize - 1);
    if (length < 0) {
        length = 0;
    }
    lpFilename[length] = '\0';
    return static_cast<DWORD>(length);
}

// Copies at most size-1 bytes and always terminates, like the CRT's own limits.
static void copyPart(char* dest, size_t size, const char* begin, const char* end) {
    if (dest == NULL) {
        return;
    }
    size_t length = static_cast<size_t>(end - begin);
    if (length >= size) {
        length = size - 1;
    }
    std::memcpy(dest, begin, length);
    dest[length] = '\0';
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    const char* end = path + std::strlen(path);
    const char* slash = std::strrchr(path, '/');
    const char* nameBegin = slash == NULL ? path : slash + 1;
    const char* dot = std::strrchr(nameBegin, '.');
    const char* extBegin = dot == NULL ? end : dot;
    copyPart(drive, _MAX_DRIVE, path, path);
    copyPart(dir, _MAX_DIR, path, nameBegin);
    copyPart(fname, _MAX_FNAME, nameBegin, extBegin);
    copyPart(ext, _MAX_EXT, extBegin, end);
}

namespace {

const wchar_t replacementCharacter = 0xFFFD;

// Decodes one UTF-8 sequence at p (of at most n bytes); an invalid or cut-off
// sequence yields U+FFFD and consumes one byte, as Windows does with flags 0.
wchar_t decodeUtf8(const unsigned char* p, size_t n, size_t& used) {
    used = 1;
    unsigned char lead = p[0];
    if (lead < 0x80) {
        return lead;
    }
    size_t length;
    uint32_t codePoint;
    uint32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return replacementCharacter;
    }
    if (length > n) {
        return replacementCharacter;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return replacementCharacter;
        }
        codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return replacementCharacter;
    }
    used = length;
    return static_cast<wchar_t>(codePoint);
}

std::string encodeUtf8(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = replacementCharacter;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

int MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (lpMultiByteStr == NULL || cbMultiByte == 0 || cbMultiByte < -1) {
        return 0;
    }
    // Length -1 means up to and including the terminator.
    size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    int count = 0;
    for (size_t i = 0; i < n;) {
        size_t used;
        wchar_t c = decodeUtf8(p + i, n - i, used);
        i += used;
        if (cchWideChar != 0) {
            if (count >= cchWideChar) {
                return 0;  // buffer too small
            }
            lpWideCharStr[count] = c;
        }
        ++count;
    }
    return count;
}

// There is no desktop to show a box on: each box becomes one line on standard
// error, "caption: text", and returns as if OK was pressed.
int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", lpCaption ? lpCaption : "", lpText ? lpText : "");
    std::fflush(stderr);
    return IDOK;
}

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    std::string text = encodeUtf8(lpText ? lpText : L"");
    std::string caption = encodeUtf8(lpCaption ? lpCaption : L"");
    return MessageBoxA(hWnd, text.c_str(), caption.c_str(), uType);
}

// The console of a POSIX process is its controlling terminal. Report success
// only when it can be opened, so the caller keeps its streams otherwise.
BOOL AllocConsole(void) {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return FALSE;
    }
    close(fd);
    return TRUE;
}

int lstrlenA(LPCSTR lpString) {
    return lpString == NULL ? 0 : static_cast<int>(std::strlen(lpString));
}
