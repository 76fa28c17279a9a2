#include "output.hpp"

#include "base.hpp"

#include <windows.h>

#include <io.h>

#include <algorithm>

void writeText(std::FILE* stream, const std::string& utf8) {
    std::fflush(stream);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::wstring text = utf8ToWString(utf8);
        // A console takes a bounded amount per call.
        const size_t chunk = 8192;
        for (size_t start = 0; start < text.size(); start += chunk) {
            DWORD written;
            size_t count = std::min(chunk, text.size() - start);
            WriteConsoleW(handle, text.data() + start, static_cast<DWORD>(count), &written, NULL);
        }
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}
