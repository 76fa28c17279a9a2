#include "code_page.hpp"

#include <windows.h>

#include <vector>

unsigned ansiCodePage() {
    UINT codePage = GetACP();
    return codePage == CP_UTF8 ? 0 : codePage;
}

bool codePageHolds(unsigned codePage, const std::string& character) {
    int cbCharacter = static_cast<int>(character.size());
    wchar_t wide[4];
    int cchWide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, character.data(), cbCharacter, wide, 4);
    if (cchWide <= 0) {
        return false;
    }
    char ansi[8];
    BOOL usedDefaultChar = FALSE;
    int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, cchWide, ansi, sizeof ansi, NULL,
                                   &usedDefaultChar);
    return size > 0 && !usedDefaultChar;
}
