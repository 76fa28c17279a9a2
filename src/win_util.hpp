#pragma once

#include <windows.h>

// Splits lpsCmdLine in place into blank-separated words ("..." keeps blanks
// inside a word), ending each word with a NUL.
void parseWinArg(HINSTANCE hCurInst, HINSTANCE hPrevInst, LPSTR lpsCmdLine, int nCmdShow);
