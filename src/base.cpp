#include "base.hpp"

#include <windows.h>

#include <climits>
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

void MessageBox2(const char* message) {
    MessageBoxA(NULL, message, "Error", MB_OK);
}

void MessageBox2(const std::string& msg) {
    std::wstring text = utf8ToWString(msg);
    MessageBoxW(NULL, text.c_str(), L"Error", MB_OK);
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
