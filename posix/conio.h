// POSIX stand-in for the console routines of the C runtime the launcher uses.
#pragma once

#include <wchar.h>

int _kbhit(void);
int _getch(void);
int _cputws(const wchar_t* str);
