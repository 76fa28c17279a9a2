#include "base.hpp"

#include "const.hpp"
#include "system_dll.hpp"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

char* stringToChar(const std::string& str) {
    char* copy = new char[str.length() + 1];
    std::memcpy(copy, str.c_str(), str.length() + 1);
    return copy;
}

std::wstring utf8ToWString(const std::string& utf8Str) {
    int iBufferSize = MultiByteToWideChar(CP_UTF8, 0, utf8Str.c_str(), -1, NULL, 0);
    if (iBufferSize <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(iBufferSize);
    MultiByteToWideChar(CP_UTF8, 0, utf8Str.c_str(), -1, buffer.data(), iBufferSize);
    return std::wstring(buffer.data(), iBufferSize - 1);
}

typedef int(WINAPI* MessageBoxAProc)(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
typedef int(WINAPI* MessageBoxWProc)(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// USER32 and the GUI DLLs it brings are loaded only for the first box: a
// start that shows none stays a plain process, which starts and ends faster.
static FARPROC user32Proc(LPCSTR lpProcName) {
    static HMODULE user32 = loadSystemDll(L"user32.dll");
    return user32 != NULL ? GetProcAddress(user32, lpProcName) : NULL;
}

template <typename Proc>
static Proc procAs(FARPROC proc) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(proc));
}

void MessageBox2(const char* message) {
    MessageBoxAProc messageBoxA = procAs<MessageBoxAProc>(user32Proc("MessageBoxA"));
    if (messageBoxA == NULL) {
        logLine(std::string("Error: ") + message);
        return;
    }
    messageBoxA(NULL, message, "Error", MB_OK);
}

void MessageBox2(const std::string& msg) {
    MessageBoxWProc messageBoxW = procAs<MessageBoxWProc>(user32Proc("MessageBoxW"));
    if (messageBoxW == NULL) {
        logLine("Error: " + msg);
        return;
    }
    std::wstring text = utf8ToWString(msg);
    messageBoxW(NULL, text.c_str(), L"Error", MB_OK);
}

void logLine(const std::string& line) {
    std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// A UTF-8 code page lacks nothing and takes neither the best-fit flag nor the
// default-character report.
static bool isUtf8CodePage(unsigned codePage) {
    return (codePage == CP_ACP ? GetACP() : codePage) == CP_UTF8;
}

int wstringToAnsi(const std::wstring& wide, std::string& ansi, unsigned codePage) {
    ansi.clear();
    if (wide.empty()) {
        return TRUE;
    }
    bool ansiIsUtf8 = isUtf8CodePage(codePage);
    DWORD dwFlags = ansiIsUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefaultChar = FALSE;
    LPBOOL lpUsedDefaultChar = ansiIsUtf8 ? NULL : &usedDefaultChar;
    int cchWide = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(codePage, dwFlags, wide.data(), cchWide, NULL, 0, NULL,
                                   lpUsedDefaultChar);
    if (size <= 0 || usedDefaultChar) {
        return FALSE;
    }
    std::vector<char> buffer(size);
    if (WideCharToMultiByte(codePage, dwFlags, wide.data(), cchWide, buffer.data(), size, NULL,
                            lpUsedDefaultChar) != size || usedDefaultChar) {
        return FALSE;
    }
    ansi.assign(buffer.data(), size);
    return TRUE;
}

std::string wstringToUtf8(const std::wstring& wide) {
    int cchWide = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), cchWide, NULL, 0, NULL, NULL);
    if (size <= 0) {
        return std::string();
    }
    std::vector<char> buffer(size);
    size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), cchWide, buffer.data(), size, NULL, NULL);
    return std::string(buffer.data(), size > 0 ? size : 0);
}

std::wstring ansiToWString(const std::string& ansi, unsigned codePage) {
    int cbAnsi = static_cast<int>(ansi.size());
    int size = MultiByteToWideChar(codePage, 0, ansi.data(), cbAnsi, NULL, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(size);
    size = MultiByteToWideChar(codePage, 0, ansi.data(), cbAnsi, buffer.data(), size);
    return std::wstring(buffer.data(), size > 0 ? size : 0);
}

std::string ansiToUtf8(const std::string& ansi, unsigned codePage) {
    return wstringToUtf8(ansiToWString(ansi, codePage));
}

void narrow(const std::wstring& src, std::string& dest) {
    size_t size = src.length() * MB_CUR_MAX + 1;
    std::vector<char> buffer(size);
    size_t length = std::wcstombs(buffer.data(), src.c_str(), size);
    if (length != static_cast<size_t>(-1)) {
        dest.assign(buffer.data(), length);
        return;
    }
    // The buffer is undefined after a failure: convert again up to the failing character.
    dest.clear();
    std::mbstate_t state = std::mbstate_t();
    char bytes[MB_LEN_MAX];
    for (const wchar_t* p = src.c_str(); *p != L'\0'; ++p) {
        size_t n = std::wcrtomb(bytes, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            break;
        }
        dest.append(bytes, n);
    }
}

void widen(const std::string& src, std::wstring& dest) {
    size_t size = src.length() + 1;
    std::vector<wchar_t> buffer(size);
    size_t length = std::mbstowcs(buffer.data(), src.c_str(), size);
    if (length != static_cast<size_t>(-1)) {
        dest.assign(buffer.data(), length);
        return;
    }
    // The buffer is undefined after a failure: convert again up to the failing sequence.
    dest.clear();
    std::mbstate_t state = std::mbstate_t();
    const char* p = src.c_str();
    const char* end = p + std::strlen(p);
    while (p < end) {
        wchar_t c;
        size_t n = std::mbrtowc(&c, p, static_cast<size_t>(end - p), &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
            break;
        }
        dest += c;
        p += n;
    }
}

std::string utf8ToAnsi(const std::string& value, unsigned codePage) {
    bool ascii = true;
    for (char c : value) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii || isUtf8CodePage(codePage)) {
        return value;
    }
    // A file saved in an ANSI code page is not UTF-8: its bytes are already what Windows reads.
    int cbValue = static_cast<int>(value.size());
    int cchWide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value.data(), cbValue, NULL, 0);
    if (cchWide <= 0) {
        return value;
    }
    std::vector<wchar_t> wide(cchWide);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value.data(), cbValue, wide.data(), cchWide);
    std::string ansi = wstringToAnsiReplacing(std::wstring(wide.data(), cchWide), codePage);
    return ansi.empty() ? value : ansi;
}

std::string wstringToAnsiReplacing(const std::wstring& wide, unsigned codePage) {
    // No best fit: a look-alike could name another file; the default character
    // names none.
    DWORD dwFlags = isUtf8CodePage(codePage) ? 0 : WC_NO_BEST_FIT_CHARS;
    int cchWide = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(codePage, dwFlags, wide.data(), cchWide, NULL, 0, NULL, NULL);
    if (size <= 0) {
        return std::string();
    }
    std::vector<char> ansi(size);
    size = WideCharToMultiByte(codePage, dwFlags, wide.data(), cchWide, ansi.data(), size, NULL, NULL);
    return size > 0 ? std::string(ansi.data(), size) : std::string();
}
