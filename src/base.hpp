#pragma once

#include <string>

char* stringToChar(const std::string& str);
std::wstring utf8ToWString(const std::string& utf8Str);
void MessageBox2(const char* message);
void MessageBox2(const std::string& msg);

// Conversions through the current C locale. When a character cannot be
// converted, dest gets the text converted up to that character.
void narrow(const std::wstring& src, std::string& dest);
void widen(const std::string& src, std::wstring& dest);
