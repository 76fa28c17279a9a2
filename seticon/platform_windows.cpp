#include "platform.hpp"

#include "base.hpp"
#include "owned_file.hpp"

#include <windows.h>

std::string readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes) {
    std::wstring widePath = utf8ToWString(path);
    DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    FileHandle file{CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)};
    LARGE_INTEGER size;
    if (file.handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.handle, &size)) {
        return errorText(GetLastError());
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        return "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, NULL)) {
            return errorText(GetLastError());
        }
        if (got == 0) {
            return "it became shorter while being read";
        }
        done += got;
    }
    return "";
}

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, const std::string&) {
    std::wstring target = utf8ToWString(path);
    std::wstring temporary;
    FileHandle file{INVALID_HANDLE_VALUE};
    for (int attempt = 0; attempt < 100 && file.handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L".seticon-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(attempt) + L".tmp";
        file.handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file.handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            return errorText(GetLastError());
        }
    }
    if (file.handle == INVALID_HANDLE_VALUE) {
        return errorText(GetLastError());
    }
    DWORD error = 0;
    size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        DWORD wrote = 0;
        if (!WriteFile(file.handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, NULL)) {
            error = GetLastError();
        }
        done += wrote;
    }
    if (error == 0 && !FlushFileBuffers(file.handle)) {
        error = GetLastError();
    }
    CloseHandle(file.handle);
    file.handle = INVALID_HANDLE_VALUE;
    if (error == 0 &&
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
        return errorText(error);
    }
    return "";
}

// A console shows wide text as it is; redirected output gets UTF-8.
void printLine(FILE* stream, const std::string& line) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    std::fflush(stream);
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::wstring wide = utf8ToWString(line + "\n");
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, NULL);
        return;
    }
    std::fputs((line + "\n").c_str(), stream);
    std::fflush(stream);
}
