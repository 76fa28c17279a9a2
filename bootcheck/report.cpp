#include "report.hpp"

#include "utf8.hpp"

#include <cstdio>

std::string findingLine(const Finding& finding) {
    std::string line = finding.file;
    if (finding.line > 0) {
        line += ":" + std::to_string(finding.line);
    }
    return line + (finding.error ? ": error: " : ": warning: ") + finding.text + " [" + finding.code + "]";
}

static std::string counted(int count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void printText(std::ostream& out, const std::vector<BootFileReport>& reports) {
    for (const BootFileReport& report : reports) {
        std::string when = report.role == "updater" ? ", run when the main application ends with 21" : "";
        out << "Boot file of the " << report.role << when << ": " << report.path << " (java starts in "
            << report.workingDirectory << ")\n";
        for (const Finding& finding : report.findings) {
            out << findingLine(finding) << '\n';
        }
        if (!report.started) {
            out << "The launcher shows the configuration-error box and starts nothing.\n\n";
            continue;
        }
        out << "The launcher runs: " << report.commandLine << '\n';
        out << "The program receives " << counted(static_cast<int>(report.arguments.size()), "argument")
            << " (the first is its own name):\n";
        for (size_t i = 0; i < report.arguments.size(); ++i) {
            out << "  [" << i << "] " << report.arguments[i] << '\n';
        }
        if (!report.environment.empty()) {
            out << "The launcher appends its own arguments after the main class and sets, exactly as given:\n";
            for (const std::string& variable : report.environment) {
                out << "  " << variable << '\n';
            }
            for (size_t i = 0; i < report.argumentForms.size(); ++i) {
                const std::string& form = report.argumentForms[i];
                if (form != "exact") {
                    out << "Argument " << i + 1 << " reaches java "
                        << (form == "shortName" ? "as its short name: the ANSI code page lacks characters of it\n"
                                                : "with \"?\" for characters the ANSI code page lacks\n");
                }
            }
        }
        out << '\n';
    }
    out << "bootcheck: " << counted(countFindings(reports, true), "error") << ", "
        << counted(countFindings(reports, false), "warning") << '\n';
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            size_t length = utf8Length(text, i);
            if (length == 0) {
                // Valid UTF-8 out, whatever a value held: the replacement character.
                out += "\\ufffd";
            } else {
                out.append(text, i, length);
                i += length;
                continue;
            }
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

void printJson(std::ostream& out, const std::string& appDir, const std::vector<BootFileReport>& reports) {
    out << "{\n  \"appDir\": " << jsonString(appDir) << ",\n  \"bootFiles\": [";
    for (size_t r = 0; r < reports.size(); ++r) {
        const BootFileReport& report = reports[r];
        out << (r == 0 ? "\n" : ",\n") << "    {\n"
            << "      \"role\": " << jsonString(report.role) << ",\n"
            << "      \"path\": " << jsonString(report.path) << ",\n"
            << "      \"workingDirectory\": " << jsonString(report.workingDirectory) << ",\n"
            << "      \"findings\": [";
        for (size_t f = 0; f < report.findings.size(); ++f) {
            const Finding& finding = report.findings[f];
            out << (f == 0 ? "\n" : ",\n") << "        {\"file\": " << jsonString(finding.file)
                << ", \"line\": " << (finding.line > 0 ? std::to_string(finding.line) : "null")
                << ", \"severity\": " << (finding.error ? "\"error\"" : "\"warning\"")
                << ", \"code\": " << jsonString(finding.code) << ", \"message\": " << jsonString(finding.text)
                << "}";
        }
        out << (report.findings.empty() ? "],\n" : "\n      ],\n");
        out << "      \"started\": " << (report.started ? "true" : "false") << ",\n"
            << "      \"commandLine\": " << (report.started ? jsonString(report.commandLine) : "null") << ",\n"
            << "      \"arguments\": [";
        for (size_t a = 0; a < report.arguments.size(); ++a) {
            out << (a == 0 ? "" : ", ") << jsonString(report.arguments[a]);
        }
        out << "]";
        // Only for a boot file that forwards arguments, so other reports keep their shape.
        if (!report.environment.empty()) {
            out << ",\n      \"environment\": [";
            for (size_t v = 0; v < report.environment.size(); ++v) {
                out << (v == 0 ? "" : ", ") << jsonString(report.environment[v]);
            }
            out << "],\n      \"argumentForms\": [";
            for (size_t a = 0; a < report.argumentForms.size(); ++a) {
                out << (a == 0 ? "" : ", ") << jsonString(report.argumentForms[a]);
            }
            out << "]";
        }
        out << "\n    }";
    }
    out << "\n  ],\n  \"errors\": " << countFindings(reports, true)
        << ",\n  \"warnings\": " << countFindings(reports, false) << "\n}\n";
}
