#pragma once

// Each unit that includes this header gets its own copy of these constants.
static const int OK = 0;
static const int ERR = 1;
#ifndef TRUE
static const int TRUE = 1;
static const int FALSE = 0;
#endif

#ifdef _WIN32
static const char fileSep[] = "\\";
static const char consoleDevice[] = "CON";
#else
static const char fileSep[] = "/";
static const char consoleDevice[] = "/dev/tty";
#endif

static const char REP_APP_DIR[] = "${APP_DIR}";
static const char REP_PARENT_DIR[] = "${PARENT_DIR}";

// A separator between folders of a path: fileSep, or the forward slash every
// platform's file functions also accept.
inline bool isFileSeparator(wchar_t c) {
    return c == static_cast<wchar_t>(fileSep[0]) || c == L'/';
}
