#include "launcher_args.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "text_classes.hpp"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <utility>

static const std::wstring argumentCountName = L"LAUNCHER_ARGC";
// L"LAUNCHER_ARG" followed by a number.
static const std::wstring argumentNamePrefix = L"LAUNCHER_ARG";

// Program name: a leading quote runs to the next quote, whatever stands
// between; otherwise the name runs to the first blank. Later words: 2n
// backslashes before a quote give n and the quote is markup, 2n+1 give n and a
// literal quote, other backslashes are literal. A markup quote opens quoting;
// inside, a quote closes it, and a quote right after that closing one is
// literal and leaves quoting closed.
std::vector<std::wstring> splitWindowsCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> words;
    const wchar_t* p = commandLine.c_str();
    std::wstring program;
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) {
            program += *p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        for (; *p != L'\0' && !isWordBlank(*p); ++p) {
            program += *p;
        }
    }
    words.push_back(program);
    for (;;) {
        while (isWordBlank(*p)) {
            ++p;
        }
        if (*p == L'\0') {
            return words;
        }
        std::wstring word;
        int quotes = 0;  // 1: inside quotes; 2: a quote just closed them
        while (*p != L'\0' && (quotes != 0 || !isWordBlank(*p))) {
            if (*p == L'\\') {
                size_t backslashes = 0;
                for (; *p == L'\\'; ++p) {
                    ++backslashes;
                }
                if (*p != L'"') {
                    word.append(backslashes, L'\\');
                    continue;
                }
                word.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    word += L'"';
                    ++p;
                    quotes = quotes == 2 ? 0 : quotes;
                    continue;
                }
            }
            if (*p == L'"') {
                if (++quotes == 3) {
                    word += L'"';
                    quotes = 0;
                }
                ++p;
                if (*p != L'"' && quotes == 2) {
                    quotes = 0;
                }
                continue;
            }
            word += *p++;
        }
        words.push_back(word);
    }
}

std::vector<std::wstring> launcherArguments(int argc, char* argv[]) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::wstring> words = splitWindowsCommandLine(GetCommandLineW());
    return std::vector<std::wstring>(words.begin() + 1, words.end());
#else
    // The stand-in's ANSI code page keeps every byte, UTF-8 or not.
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(ansiToWString(argv[i]));
    }
    return arguments;
#endif
}

ForwardedArgument forwardedArgument(const std::wstring& argument, unsigned codePage) {
    ForwardedArgument forwarded{"", argumentExact};
    if (wstringToAnsi(argument, forwarded.ansi, codePage)) {
        return forwarded;
    }
    if (!argument.empty() && ansiPath(argument, forwarded.ansi, codePage) == OK) {
        forwarded.form = argumentShortName;
        return forwarded;
    }
    forwarded.form = argumentLossy;
    forwarded.ansi = wstringToAnsiReplacing(argument, codePage);
    return forwarded;
}

bool isLeadByte(unsigned codePage, char c) {
    return IsDBCSLeadByteEx(codePage == 0 ? CP_ACP : codePage, static_cast<BYTE>(c)) != FALSE;
}

// Backslashes count only before a quote, where they are doubled; the quote
// itself is escaped. A trail byte of a double-byte character is no backslash:
// java reads the line character by character.
std::string quoteForJava(const std::string& argument, unsigned codePage) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < argument.size(); ++i) {
        char c = argument[i];
        if (isLeadByte(codePage, c) && i + 1 < argument.size()) {
            quoted.append(argument, i++, 2);
            backslashes = 0;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes + 1, '\\');
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

size_t commandLineUnits(const std::string& commandLine, unsigned codePage) {
    std::wstring wide = ansiToWString(commandLine, codePage);
    size_t units = wide.size();
#if WCHAR_MAX > 0xFFFF
    // Wide characters of 32 bits (the stand-in's): one beyond the BMP is two units on Windows.
    for (wchar_t c : wide) {
        units += c > 0xFFFF ? 1 : 0;
    }
#endif
    return units;
}

std::vector<std::pair<std::wstring, std::wstring> > launcherVariables(const std::vector<std::wstring>& arguments) {
    // Filled in place: GCC 12's link-time optimisation for i686 fails on a
    // second caller of this vector's push_back (binds_to_current_def_p).
    std::vector<std::pair<std::wstring, std::wstring> > variables(arguments.size() + 1);
    variables[0].first = argumentCountName;
    variables[0].second = std::to_wstring(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        variables[i + 1].first = argumentNamePrefix + std::to_wstring(i + 1);
        variables[i + 1].second = arguments[i];
    }
    return variables;
}

// LAUNCHER_ARGC and LAUNCHER_ARG followed by digits; Windows compares names
// without case.
static bool isArgumentVariable(const wchar_t* name, size_t length) {
    size_t prefix = argumentNamePrefix.size();
    if (length <= prefix) {
        return false;
    }
    for (size_t i = 0; i < prefix; ++i) {
        if (static_cast<wchar_t>(std::towupper(name[i])) != argumentNamePrefix[i]) {
            return false;
        }
    }
    if (length == prefix + 1 && std::towupper(name[prefix]) == L'C') {
        return true;
    }
    for (size_t i = prefix; i < length; ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return false;
        }
    }
    return true;
}

static std::vector<std::pair<std::wstring, std::wstring> > currentArgumentVariables() {
    std::vector<std::pair<std::wstring, std::wstring> > variables;
    LPWSTR block = GetEnvironmentStringsW();
    if (block == NULL) {
        return variables;
    }
    for (LPCWSTR entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        // A leading '=' belongs to the name (Windows' per-drive folders).
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        if (equals != NULL && isArgumentVariable(entry, static_cast<size_t>(equals - entry))) {
            variables.push_back(std::make_pair(std::wstring(entry, equals), std::wstring(equals + 1)));
        }
    }
    FreeEnvironmentStringsW(block);
    return variables;
}

static std::vector<std::pair<std::wstring, std::wstring> > givenVariables;
// Until a start forwards arguments the environment is the one the launcher was given.
static bool environmentChanged = false;

void rememberGivenEnvironment() {
    givenVariables = currentArgumentVariables();
}

void prepareChildEnvironment(bool forward, const std::vector<std::wstring>& arguments) {
    if (!forward && !environmentChanged) {
        return;
    }
    for (const std::pair<std::wstring, std::wstring>& variable : currentArgumentVariables()) {
        SetEnvironmentVariableW(variable.first.c_str(), NULL);
    }
    if (!forward) {
        for (const std::pair<std::wstring, std::wstring>& variable : givenVariables) {
            SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str());
        }
        environmentChanged = false;
        return;
    }
    for (const std::pair<std::wstring, std::wstring>& variable : launcherVariables(arguments)) {
        SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str());
    }
    environmentChanged = true;
}
