// Paths, text, message boxes and the console.
#include "windows.h"
#include "conio.h"
#include "handles.hpp"
#include "utf8.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <string>
#include <utility>

namespace {

const wchar_t replacementCharacter = 0xFFFD;
const wchar_t firstEscapedByte = 0xDC80;  // stands for the byte 0x80 in CP_ACP
const wchar_t lastEscapedByte = 0xDCFF;

// One UTF-8 sequence at p (of at most n bytes); an invalid or cut-off
// sequence yields U+FFFD and consumes one byte, as Windows does with flags 0.
wchar_t decodeUtf8Character(const unsigned char* p, size_t n, size_t& used) {
    uint32_t codePoint;
    used = decodeUtf8(p, n, codePoint);
    if (used == 0) {
        used = 1;
        return replacementCharacter;
    }
    return static_cast<wchar_t>(codePoint);
}

bool isValidCodePoint(uint32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

std::string encodeUtf8(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        appendUtf8(out, isValidCodePoint(c) ? c : replacementCharacter);
    }
    return out;
}

}  // namespace

bool pathBytes(LPCWSTR path, std::string& bytes) {
    int size = WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, path, -1, NULL, 0, NULL, NULL);
    if (size <= 0) {
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, path, -1, &bytes[0], size, NULL, NULL);
    bytes.resize(static_cast<size_t>(size) - 1);
    return true;
}

DWORD copyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == NULL || text.size() >= size) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

namespace {

// Code pages a checker asks for by number, 932 and 1252, from the C
// library's tables; 0 for any other.
const char* codePageName(UINT codePage) {
    return codePage == 932 ? "CP932" : codePage == 1252 ? "CP1252" : NULL;
}

// One converter per direction and code page, kept for the process.
iconv_t converter(UINT codePage, bool toCodePage) {
    static iconv_t converters[2][2] = {{reinterpret_cast<iconv_t>(-1), reinterpret_cast<iconv_t>(-1)},
                                       {reinterpret_cast<iconv_t>(-1), reinterpret_cast<iconv_t>(-1)}};
    iconv_t& slot = converters[codePage == 932 ? 0 : 1][toCodePage ? 0 : 1];
    if (slot == reinterpret_cast<iconv_t>(-1)) {
        slot = toCodePage ? iconv_open(codePageName(codePage), "UTF-8") : iconv_open("UTF-8", codePageName(codePage));
    }
    return slot;
}

bool convert(iconv_t cd, const std::string& in, std::string& out) {
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    iconv(cd, NULL, NULL, NULL, NULL);
    std::string input = in;
    char buffer[16];
    char* inPointer = &input[0];
    size_t inLeft = input.size();
    char* outPointer = buffer;
    size_t outLeft = sizeof buffer;
    bool done = iconv(cd, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    out.assign(buffer, sizeof buffer - outLeft);
    return done && !out.empty();
}

// A character the code page holds exactly: there and back unchanged, as
// Windows converts without best fit (a wave dash in 932 maps one way only).
// Each answer is kept: a long text repeats few characters.
bool encodeInCodePage(UINT codePage, uint32_t c, std::string& bytes) {
    static std::map<std::pair<UINT, uint32_t>, std::pair<bool, std::string> > known;
    std::map<std::pair<UINT, uint32_t>, std::pair<bool, std::string> >::iterator found =
        known.find(std::make_pair(codePage, c));
    if (found == known.end()) {
        std::string utf8;
        std::string ansi;
        std::string back;
        appendUtf8(utf8, c);
        bool holds = isValidCodePoint(c) && convert(converter(codePage, true), utf8, ansi) &&
                     convert(converter(codePage, false), ansi, back) && back == utf8;
        found = known.insert(std::make_pair(std::make_pair(codePage, c), std::make_pair(holds, ansi))).first;
    }
    bytes = found->second.second;
    return found->second.first;
}

BOOL isShiftJisLeadByte(BYTE c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// One character of the code page at p: two bytes after a lead byte, else one.
// What the table lacks becomes what Windows gives for it: U+30FB in 932, the
// same number in 1252's five unassigned bytes.
wchar_t decodeInCodePage(UINT codePage, const unsigned char* p, size_t n, size_t& used) {
    used = codePage == 932 && isShiftJisLeadByte(p[0]) && n >= 2 ? 2 : 1;
    static std::map<std::pair<UINT, std::string>, wchar_t> known;
    std::string bytes(reinterpret_cast<const char*>(p), used);
    std::map<std::pair<UINT, std::string>, wchar_t>::iterator found = known.find(std::make_pair(codePage, bytes));
    if (found != known.end()) {
        return found->second;
    }
    std::string utf8;
    uint32_t c;
    wchar_t wide = codePage == 932 ? static_cast<wchar_t>(0x30FB) : static_cast<wchar_t>(p[0]);
    if (convert(converter(codePage, false), bytes, utf8) &&
        decodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), c) == utf8.size()) {
        wide = static_cast<wchar_t>(c);
    }
    known[std::make_pair(codePage, bytes)] = wide;
    return wide;
}

}  // namespace

UINT GetACP(void) {
    return CP_UTF8;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (lpMultiByteStr == NULL || cbMultiByte == 0 || cbMultiByte < -1) {
        return 0;
    }
    // Length -1 means up to and including the terminator.
    size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    int count = 0;
    bool tableCodePage = codePageName(CodePage) != NULL;
    for (size_t i = 0; i < n;) {
        size_t used;
        wchar_t c = tableCodePage ? decodeInCodePage(CodePage, p + i, n - i, used)
                                  : decodeUtf8Character(p + i, n - i, used);
        // A decoded U+FFFD takes three bytes; one byte means an invalid sequence.
        if ((dwFlags & MB_ERR_INVALID_CHARS) && CodePage == CP_UTF8 && c == replacementCharacter &&
            used == 1) {
            return 0;
        }
        if (CodePage == CP_ACP && !tableCodePage && c == replacementCharacter && used == 1) {
            c = static_cast<wchar_t>(firstEscapedByte - 0x80 + p[i]);
        }
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

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    if (lpUsedDefaultChar != NULL) {
        *lpUsedDefaultChar = FALSE;
    }
    if (lpWideCharStr == NULL || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0) {
        return 0;
    }
    size_t n = cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint32_t>(lpWideCharStr[i]);
        std::string bytes;
        if (codePageName(CodePage) != NULL) {
            if (c < 0x80 || encodeInCodePage(CodePage, c, bytes)) {
                out += c < 0x80 ? std::string(1, static_cast<char>(c)) : bytes;
                continue;
            }
            out += lpDefaultChar != NULL ? *lpDefaultChar : '?';
            if (lpUsedDefaultChar != NULL) {
                *lpUsedDefaultChar = TRUE;
            }
        } else if (CodePage == CP_ACP && c >= firstEscapedByte && c <= lastEscapedByte) {
            out += static_cast<char>(c - firstEscapedByte + 0x80);
        } else if (isValidCodePoint(c)) {
            appendUtf8(out, c);
        } else if (dwFlags & WC_ERR_INVALID_CHARS) {
            return 0;
        } else if (lpUsedDefaultChar != NULL) {
            out += lpDefaultChar != NULL ? *lpDefaultChar : '?';
            *lpUsedDefaultChar = TRUE;
        } else {
            appendUtf8(out, replacementCharacter);
        }
    }
    if (cbMultiByte == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(cbMultiByte)) {
        return 0;  // buffer too small
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
    return CodePage == 932 && isShiftJisLeadByte(TestChar);
}

std::wstring wideOf(const char* bytes) {
    int count = MultiByteToWideChar(CP_ACP, 0, bytes, -1, NULL, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, &wide[0], count);
    wide.resize(count > 0 ? static_cast<size_t>(count) - 1 : 0);
    return wide;
}

LPWSTR GetEnvironmentStringsW(void) {
    std::wstring block;
    for (char** variable = environ; *variable != NULL; ++variable) {
        block += wideOf(*variable);
        block += L'\0';
    }
    block += L'\0';
    LPWSTR copy = new wchar_t[block.size()];
    std::wmemcpy(copy, block.data(), block.size());
    return copy;
}

BOOL FreeEnvironmentStringsW(LPWSTR penv) {
    delete[] penv;
    return TRUE;
}

BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
    std::string name;
    std::string value;
    if (lpName == NULL || !pathBytes(lpName, name) || name.empty() || name.find('=') != std::string::npos) {
        return FALSE;
    }
    if (lpValue == NULL) {
        return unsetenv(name.c_str()) == 0;
    }
    return pathBytes(lpValue, value) && setenv(name.c_str(), value.c_str(), 1) == 0;
}

// The length without terminator, or the size needed when the buffer is too
// small; 0 for a variable that is not set.
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    std::string name;
    const char* value = lpName != NULL && pathBytes(lpName, name) ? std::getenv(name.c_str()) : NULL;
    if (value == NULL) {
        return 0;
    }
    return copyOut(wideOf(value), lpBuffer, nSize);
}

// A path longer than the buffer is cut and terminated, and the result is
// nSize, as on Windows since Vista.
DWORD GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize) {
    std::string bytes(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", &bytes[0], bytes.size());
        if (length < 0) {
            return 0;
        }
        if (static_cast<size_t>(length) < bytes.size()) {
            bytes.resize(static_cast<size_t>(length));
            break;
        }
        bytes.resize(bytes.size() * 2);
    }
    if (nSize == 0) {
        return 0;
    }
    std::wstring path = wideOf(bytes.c_str());
    if (path.size() >= nSize) {
        std::wmemcpy(lpFilename, path.c_str(), nSize - 1);
        lpFilename[nSize - 1] = L'\0';
        return nSize;
    }
    std::wmemcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

// POSIX file systems keep no 8.3 names: an existing path is its own short form.
DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer) {
    std::string bytes;
    struct stat st;
    if (lpszLongPath == NULL || !pathBytes(lpszLongPath, bytes) || stat(bytes.c_str(), &st) != 0) {
        return 0;
    }
    return copyOut(lpszLongPath, lpszShortPath, cchBuffer);
}

namespace {

// The addresses stand for the module handles.
char kernel32Module;
char user32Module;
char advapi32Module;

// Whether the file name at the end of path is name, case ignored as on Windows.
bool namesFile(LPCWSTR path, LPCWSTR name) {
    LPCWSTR fileName = path;
    for (LPCWSTR p = path; *p != L'\0'; ++p) {
        if (*p == L'/' || *p == L'\\') {
            fileName = p + 1;
        }
    }
    for (; *fileName != L'\0' && *name != L'\0'; ++fileName, ++name) {
        if (std::towlower(*fileName) != std::towlower(*name)) {
            return false;
        }
    }
    return *fileName == *name;
}

BOOL setDefaultDllDirectories(DWORD) {
    return TRUE;
}

template <typename Function>
FARPROC asProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    return lpModuleName != NULL && namesFile(lpModuleName, L"kernel32.dll") ? &kernel32Module : NULL;
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD) {
    if (lpLibFileName == NULL) {
        return NULL;
    }
    return namesFile(lpLibFileName, L"user32.dll")     ? &user32Module
           : namesFile(lpLibFileName, L"advapi32.dll") ? &advapi32Module
                                                       : NULL;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    struct Export {
        HMODULE module;
        const char* name;
        FARPROC proc;
    };
    const Export exports[] = {
        {&kernel32Module, "SetDefaultDllDirectories", asProc(setDefaultDllDirectories)},
        {&user32Module, "MessageBoxA", asProc(MessageBoxA)},
        {&user32Module, "MessageBoxW", asProc(MessageBoxW)},
        {&user32Module, "AllowSetForegroundWindow", asProc(AllowSetForegroundWindow)},
        {&advapi32Module, "OpenProcessToken", asProc(OpenProcessToken)},
        {&advapi32Module, "GetTokenInformation", asProc(GetTokenInformation)},
        {&advapi32Module, "GetFileSecurityW", asProc(GetFileSecurityW)},
    };
    for (const Export& entry : exports) {
        if (entry.module == hModule && std::strcmp(entry.name, lpProcName) == 0) {
            return entry.proc;
        }
    }
    return NULL;
}

BOOL SetDllDirectoryW(LPCWSTR) {
    return TRUE;
}

// The built-in "DLLs" above are found by their file name in any folder.
UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return copyOut(L"/usr/lib", lpBuffer, uSize);
}

// There is no desktop to show a box on: each box becomes one line on standard
// error, "caption: text", and returns as if OK was pressed.
int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", lpCaption ? lpCaption : "", lpText ? lpText : "");
    std::fflush(stderr);
    return IDOK;
}

BOOL AllowSetForegroundWindow(DWORD) {
    return TRUE;
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

// A POSIX terminal has no window of its own.
HWND GetConsoleWindow(void) {
    return NULL;
}

void Sleep(DWORD dwMilliseconds) {
    usleep(static_cast<useconds_t>(dwMilliseconds) * 1000u);
}

// conio reads the console directly; here that is standard input.
int _kbhit(void) {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & POLLIN) ? 1 : 0;
}

int _getch(void) {
    unsigned char c;
    return read(STDIN_FILENO, &c, 1) == 1 ? c : EOF;
}

int _cputws(const wchar_t* str) {
    std::string text = encodeUtf8(str);
    std::fflush(stdout);
    return write(STDOUT_FILENO, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : -1;
}
