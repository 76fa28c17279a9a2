#pragma once

#include <string>

char* stringToChar(const std::string& str);
std::wstring utf8ToWString(const std::string& utf8Str);
// The "Error" box. The narrow form shows message as ANSI text (MessageBoxA);
// the string form takes UTF-8 and shows it through MessageBoxW.
void MessageBox2(const char* message);
void MessageBox2(const std::string& msg);

// Writes one diagnostic line to standard output in one piece and flushes it,
// so that a child sharing standard output never lands inside the line.
void logLine(const std::string& line);

// Code-page conversions of the Windows API. codePage 0 (CP_ACP) is the
// system's ANSI code page; a checker passes another to see what a Windows
// with that one would do. wstringToAnsi gives TRUE only for an exact ANSI
// form: no default character, no best-fit look-alike, so the narrow text of a
// path names the same file as the wide one.
int wstringToAnsi(const std::wstring& wide, std::string& ansi, unsigned codePage = 0);
// The ANSI form with the code page's default character for what it lacks,
// never a best-fit look-alike; "" when the conversion fails.
std::string wstringToAnsiReplacing(const std::wstring& wide, unsigned codePage = 0);
std::string wstringToUtf8(const std::wstring& wide);
std::wstring ansiToWString(const std::string& ansi, unsigned codePage = 0);
std::string ansiToUtf8(const std::string& ansi, unsigned codePage = 0);

// Conversions through the current C locale. When a character cannot be
// converted, dest gets the text converted up to that character.
void narrow(const std::wstring& src, std::string& dest);
void widen(const std::string& src, std::wstring& dest);

// A boot-file value as Windows is to read it: valid UTF-8 holding bytes
// outside ASCII in the ANSI code page, with its default character for what the
// code page cannot hold (no best-fit look-alikes); anything else unchanged.
std::string utf8ToAnsi(const std::string& value, unsigned codePage = 0);
