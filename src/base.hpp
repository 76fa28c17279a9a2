#pragma once

#include <string>

char* stringToChar(const std::string& str);
std::wstring utf8ToWString(const std::string& utf8Str);
void MessageBox2(const char* message);
void MessageBox2(const std::string& msg);
