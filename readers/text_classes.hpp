#pragma once

// The two kinds of blank the launcher's inputs know.

// Separates the words of a Windows command line, narrow or wide.
inline bool isWordBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// White space of XML, which the boot-file reader skips between markup.
inline bool isXmlBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
