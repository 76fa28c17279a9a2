#pragma once

#include <string>
#include <vector>

// One thing bootcheck has to say about a boot file. line 0: no line applies.
struct Finding {
    std::string file;
    long line;
    bool error;
    std::string code;
    std::string text;
};

// What the launcher will do with one boot file, and what is wrong with it.
struct BootFileReport {
    std::string role;              // "main application" or "updater"
    std::string path;              // as the launcher forms it
    std::string workingDirectory;  // the one the launcher gives the program
    std::vector<Finding> findings;
    bool started;                  // the launcher gets as far as starting a program
    std::string commandLine;
    std::vector<std::string> arguments;  // as the program's C runtime splits them
};

// Every kind of finding: code, severity, one-line summary and an example line.
struct FindingKind {
    const char* code;
    bool error;
    const char* summary;
    const char* example;
};

extern const std::vector<FindingKind> findingKinds;

void addFinding(BootFileReport& report, long line, const char* code, const std::string& text);
int countFindings(const std::vector<BootFileReport>& reports, bool errors);
