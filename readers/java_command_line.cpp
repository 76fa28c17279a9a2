#include "java_command_line.hpp"

#include "text_classes.hpp"

typedef std::function<bool(char)> LeadBytes;

// Copies a double-byte character whole.
static bool doubleByte(const char*& p, std::string& word, const LeadBytes& isLeadByte) {
    if (!isLeadByte || p[1] == '\0' || !isLeadByte(*p)) {
        return false;
    }
    word.append(p, 2);
    p += 2;
    return true;
}

// The program name: quotes group and are dropped, backslashes are literal.
static std::string programName(const char*& p, const LeadBytes& isLeadByte) {
    std::string word;
    bool inQuotes = false;
    while (*p != '\0' && (inQuotes || !isWordBlank(*p))) {
        if (doubleByte(p, word, isLeadByte)) {
            continue;
        }
        if (*p == '"') {
            inQuotes = !inQuotes;
        } else {
            word += *p;
        }
        ++p;
    }
    return word;
}

// Any later word, split as java.exe's launcher splits it: backslashes are
// literal unless a run of them ends at a double quote; then 2n backslashes give
// n and the quote toggles quoting, 2n+1 give n and a literal quote. Inside
// quotes, two quotes in a row give one literal quote. Where java.exe differs
// from the C runtime: outside quotes, a quote right after such a literal quote
// is literal too and starts quoting.
static std::string argument(const char*& p, const LeadBytes& isLeadByte) {
    std::string word;
    bool inQuotes = false;
    while (*p != '\0' && (inQuotes || !isWordBlank(*p))) {
        if (doubleByte(p, word, isLeadByte)) {
            continue;
        }
        if (*p == '\\') {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p != '"') {
                word.append(backslashes, '\\');
                continue;
            }
            word.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                word += '"';
                ++p;
                if (!inQuotes && *p == '"') {
                    word += '"';
                    inQuotes = true;
                    ++p;
                }
            }
        } else if (*p == '"') {
            if (inQuotes && p[1] == '"') {
                word += '"';
                p += 2;
            } else {
                inQuotes = !inQuotes;
                ++p;
            }
        } else {
            word += *p++;
        }
    }
    return word;
}

std::vector<std::string> splitCommandLine(const char* commandLine, const LeadBytes& isLeadByte) {
    std::vector<std::string> words;
    const char* p = commandLine;
    for (;;) {
        while (isWordBlank(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return words;
        }
        words.push_back(words.empty() ? programName(p, isLeadByte) : argument(p, isLeadByte));
    }
}
