#include "code_page.hpp"

#include "base.hpp"

#include <windows.h>

unsigned ansiCodePage() {
    UINT codePage = GetACP();
    return codePage == CP_UTF8 ? 0 : codePage;
}

// The launcher's own conversion, which takes no best-fit look-alike.
bool codePageHolds(unsigned codePage, const std::string& character) {
    std::string ansi;
    std::wstring wide = utf8ToWString(character);
    return !wide.empty() && wstringToAnsi(wide, ansi, codePage);
}
