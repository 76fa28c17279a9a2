#pragma once

#include <cstdio>
#include <string>

// Writes UTF-8 text to stream (stdout or stderr): to a Windows console through
// the wide API, so the user reads the text whatever the console's code page;
// anywhere else (a file, a pipe, Linux) as its UTF-8 bytes. One source file
// per platform.
void writeText(std::FILE* stream, const std::string& utf8);
