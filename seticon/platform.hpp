#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The operating system's side of seticon, one source file per platform. Paths
// and texts are UTF-8 throughout; on Windows they become wide text at the calls.

// The program itself, given its arguments (without the program name) as UTF-8.
int seticonMain(const std::vector<std::string>& args);

// Reads a whole regular file of at most maxBytes. Returns "" or why it could
// not ("no such file", "it is a folder", "it is larger than ...").
std::string readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes);

// Writes bytes to path whole or not at all: a new file in the same folder,
// renamed over path at the end. The file gets the permissions of path when it
// exists, else those of modelPath. Returns "" or why it could not.
std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                                const std::string& modelPath);

// One line to standard output or error, shown correctly whatever its letters.
void printLine(FILE* stream, const std::string& line);
