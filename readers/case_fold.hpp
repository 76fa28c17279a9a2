#pragma once

#include <string>

// text (UTF-8) under Unicode's full case folding: two names that Windows'
// file systems take as one ("Ä.jar" and "ä.jar") fold to the same text.
// Bytes that are not UTF-8 stay as they are.
std::string foldedCase(const std::string& text);
