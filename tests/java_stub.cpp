// Stand-in for the java executable in end-to-end tests. Next to itself it
// appends one record per call to calls.log (working directory, arguments, the
// arguments that open as files, and the LAUNCHER_* environment variables) and
// takes its exit code from the first line of exit_codes (0 when none).
// While a file named hold lies next to it (at most a minute), it keeps
// running, so a test can look at the desktop during its run; hold.N does the
// same for the Nth call only. It also records its process id and, when
// LAUNCHER_INBOX names a folder, the requests there when it started.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define getcwd _getcwd
#else
#include <dirent.h>
#include <unistd.h>
extern char** environ;
#endif

static std::string ownDirectory(const char* argv0) {
    std::string path = argv0;
    size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

static int nextExitCode(const std::string& codesPath) {
    std::ifstream in(codesPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    in.close();
    if (lines.empty()) {
        return 0;
    }
    std::ofstream out(codesPath, std::ios::trunc);
    for (size_t i = 1; i < lines.size(); ++i) {
        out << lines[i] << '\n';
    }
    return std::atoi(lines[0].c_str());
}

// The values as they are, outside ASCII escaped so the log stays ASCII there:
// \uXXXX for each UTF-16 unit of the wide environment on Windows, which is
// what a Java app reads; \xHH for each byte natively.
static void logEnvironment(std::ofstream& log) {
#ifdef _WIN32
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (wcsncmp(entry, L"LAUNCHER_", 9) != 0) {
            continue;
        }
        log << "env=";
        for (const wchar_t* c = entry; *c != L'\0'; ++c) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(*c));
            log << (*c >= 0x80 || *c == L'\\' ? std::string(escape) : std::string(1, static_cast<char>(*c)));
        }
        log << '\n';
    }
    FreeEnvironmentStringsW(block);
#else
    for (char** variable = environ; *variable != NULL; ++variable) {
        if (std::strncmp(*variable, "LAUNCHER_", 9) != 0) {
            continue;
        }
        log << "env=";
        for (const char* c = *variable; *c != '\0'; ++c) {
            unsigned char byte = static_cast<unsigned char>(*c);
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            log << (byte >= 0x80 || byte == '\\' ? std::string(escape) : std::string(1, *c));
        }
        log << '\n';
    }
#endif
}

static std::vector<std::string> inboxRequests() {
    std::vector<std::string> names;
    const std::string suffix = ".request";
#ifdef _WIN32
    wchar_t inbox[32768];
    DWORD length = GetEnvironmentVariableW(L"LAUNCHER_INBOX", inbox, 32768);
    if (length == 0 || length >= 32768) {
        return names;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((std::wstring(inbox, length) + L"\\*.request").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name;
            for (const wchar_t* c = data.cFileName; *c != L'\0'; ++c) {
                name += *c < 0x80 ? static_cast<char>(*c) : '?';
            }
            names.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
#else
    const char* inbox = std::getenv("LAUNCHER_INBOX");
    DIR* folder = inbox != NULL ? opendir(inbox) : NULL;
    if (folder != NULL) {
        while (struct dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                names.push_back(name);
            }
        }
        closedir(folder);
    }
#endif
    std::sort(names.begin(), names.end());
    return names;
}

static int callCount(const std::string& logPath) {
    std::ifstream in(logPath);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line == "call" ? 1 : 0;
    }
    return count;
}

int main(int argc, char* argv[]) {
    std::string dir = ownDirectory(argv[0]);
    char cwd[4096] = "";
    if (getcwd(cwd, sizeof cwd) == NULL) {
        cwd[0] = '\0';
    }
    std::ofstream log(dir + "calls.log", std::ios::app | std::ios::binary);
    log << "call\ncwd=" << cwd << '\n';
    for (int i = 0; i < argc; ++i) {
        log << "arg=" << argv[i] << '\n';
    }
    for (int i = 1; i < argc; ++i) {
        if (std::FILE* file = std::fopen(argv[i], "rb")) {
            std::fclose(file);
            log << "opens=" << i << '\n';
        }
    }
    logEnvironment(log);
#ifdef _WIN32
    log << "pid=" << GetCurrentProcessId() << '\n';
#else
    log << "pid=" << getpid() << '\n';
#endif
    for (const std::string& name : inboxRequests()) {
        log << "request=" << name << '\n';
    }
    log.close();
    std::string ownHold = dir + "hold." + std::to_string(callCount(dir + "calls.log"));
    for (int waited = 0; waited < 60000 && (std::ifstream(dir + "hold") || std::ifstream(ownHold)); waited += 50) {
#ifdef _WIN32
        Sleep(50);
#else
        usleep(50000);
#endif
    }
    return nextExitCode(dir + "exit_codes");
}
