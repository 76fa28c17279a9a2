#pragma once

#include <string>
#include <vector>

// The kinds of finding, each named by its stable code.
enum FindingCode {
    BC101,
    BC102,
    BC103,
    BC104,
    BC105,
    BC110,
    BC111,
    BC112,
    BC113,
    BC114,
    BC115,
    BC116,
    BC117,
    BC118,
    BC201,
    BC202,
    BC203,
    BC204,
    BC205,
    BC206,
    BC207,
    BC208,
    BC209,
    BC210,
    BC211,
    BC212,
    BC213,
    BC214,
    BC215,
    BC216,
    BC217,
    BC218,
    findingCodeCount
};

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
    // NAME=VALUE of the LAUNCHER_ARGC and LAUNCHER_ARGn variables the program
    // gets, when the boot file forwards the launcher's arguments.
    std::vector<std::string> environment;
    // How each forwarded argument reaches java: "exact", "shortName" or "lossy".
    std::vector<std::string> argumentForms;
};

// Every kind of finding: code, severity, one-line summary and an example line.
struct FindingKind {
    FindingCode id;
    const char* code;
    bool error;
    const char* summary;
    const char* example;
};

// One row per code, in the order of FindingCode.
extern const FindingKind findingKinds[findingCodeCount];

void addFinding(BootFileReport& report, long line, FindingCode code, const std::string& text);
int countFindings(const std::vector<BootFileReport>& reports, bool errors);
