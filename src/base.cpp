#include "base.hpp"

#include <windows.h>

#include <cstring>
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
