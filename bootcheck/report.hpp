#pragma once

#include "findings.hpp"

#include <ostream>
#include <string>
#include <vector>

// PATH:LINE: error|warning: TEXT [CODE], with ":LINE" left out when line is 0.
std::string findingLine(const Finding& finding);
void printText(std::ostream& out, const std::vector<BootFileReport>& reports);
void printJson(std::ostream& out, const std::string& appDir, const std::vector<BootFileReport>& reports);
// JSON string literal of UTF-8 text: valid sequences pass through, a byte
// that starts none is written as U+FFFD.
std::string jsonString(const std::string& text);
