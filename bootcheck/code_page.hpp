#pragma once

#include <string>

// Which characters an ANSI code page holds; one source file per platform.

// The ANSI code page the launcher converts boot-file values to on this system;
// 0 where that is UTF-8, which holds every character.
unsigned ansiCodePage();
// True when codePage holds the character (one UTF-8 sequence) exactly: it
// converts there and back without a best-fit look-alike or default character.
bool codePageHolds(unsigned codePage, const std::string& character);
