// The least a launcher can do, to measure the launcher against: find its own
// path, start a child from its own folder and wait for it, ending with the
// child's exit code. No C++ library beyond what the C runtime gives, so the
// binary holds little more than the start-up code of the toolchain.
// Usage: spawn_floor CHILD [ARGS...]   (CHILD is a file name in spawn_floor's folder)
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace {

// Copies the folder of the running program, separator included, into buffer.
bool ownFolder(char* buffer, size_t size) {
#ifdef _WIN32
    DWORD length = GetModuleFileNameA(NULL, buffer, static_cast<DWORD>(size));
    if (length == 0 || length >= size) {
        return false;
    }
#else
    ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length <= 0) {
        return false;
    }
    buffer[length] = '\0';
#endif
    char* separator = std::strrchr(buffer, '/');
    char* backslash = std::strrchr(buffer, '\\');
    if (backslash > separator) {
        separator = backslash;
    }
    if (separator == NULL) {
        return false;
    }
    separator[1] = '\0';
    return true;
}

#ifdef _WIN32
int spawnAndWait(const char* program, char** args) {
    // The benchmark's arguments hold no blanks or quotes: joining them is enough.
    static char commandLine[32768];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
    for (char** arg = args + 1; *arg != NULL; ++arg) {
        size_t used = std::strlen(commandLine);
        std::snprintf(commandLine + used, sizeof commandLine - used, " %s", *arg);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                        &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
#else
int spawnAndWait(const char* program, char** args) {
    char* argv0 = args[0];
    args[0] = const_cast<char*>(program);
    pid_t pid;
    int rc = posix_spawn(&pid, program, NULL, NULL, args, environ);
    args[0] = argv0;
    if (rc != 0) {
        return -1;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

}  // namespace

int main(int argc, char* argv[]) {
    char program[4096];
    if (argc < 2 || !ownFolder(program, sizeof program) ||
        std::strlen(program) + std::strlen(argv[1]) >= sizeof program) {
        std::fputs("usage: spawn_floor CHILD [ARGS...]\n", stderr);
        return 2;
    }
    std::strcat(program, argv[1]);
    int exitCode = spawnAndWait(program, argv + 1);
    if (exitCode < 0) {
        std::fprintf(stderr, "spawn_floor: cannot start %s\n", program);
        return 2;
    }
    return exitCode;
}
