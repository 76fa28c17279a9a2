// Processes: CreateProcessA on posix_spawn, handles as small heap records.
#include "handles.hpp"
#include "java_command_line.hpp"
#include "windows.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

// Thread handles carry nothing here; one shared record stands for all of them.
int threadRecord;

// Windows has no SIGPIPE: a write to a pipe whose reader has gone just fails.
// Ignore it from start-up on; true when it had the default disposition, which
// the children then get back.
bool ignoreSigpipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous;
    return sigaction(SIGPIPE, &ignore, &previous) == 0 && previous.sa_handler == SIG_DFL;
}

const bool sigpipeWasDefault = ignoreSigpipe();

std::string absoluteFromHere(const std::string& program) {
    // Windows resolves a relative program path against the parent's working
    // directory, not the child's, so anchor it before the child changes it.
    if (program.empty() || program[0] == '/' || program.find('/') == std::string::npos) {
        return program;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == NULL) {
        return program;
    }
    return std::string(cwd) + "/" + program;
}

}  // namespace

BOOL CreateProcessA(LPCSTR, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD, LPVOID, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    std::vector<std::string> words = splitCommandLine(lpCommandLine);
    if (words.empty()) {
        return FALSE;
    }
    words[0] = absoluteFromHere(words[0]);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(NULL);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (lpCurrentDirectory != NULL) {
        posix_spawn_file_actions_addchdir_np(&actions, lpCurrentDirectory);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (sigpipeWasDefault) {
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    }
    pid_t pid;
    // posix_spawnp reports a failed chdir or exec as its result and reaps the
    // failed child itself, so a failure leaves no process behind.
    int rc = words[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                 : posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return FALSE;
    }
    lpProcessInformation->hProcess = new HandleRecord{processHandle, pid, false, STILL_ACTIVE, -1, NULL, L""};
    lpProcessInformation->hThread = &threadRecord;
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = 0;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    if (hObject == NULL) {
        return FALSE;
    }
    if (hObject != &threadRecord) {
        closeHandleRecord(static_cast<HandleRecord*>(hObject));
    }
    return TRUE;
}

DWORD GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    HandleRecord* process = static_cast<HandleRecord*>(hHandle);
    if (process == NULL || hHandle == &threadRecord) {
        return WAIT_FAILED;
    }
    if (process->kind == mutexHandle) {
        return waitForMutex(process, dwMilliseconds);
    }
    if (process->kind != processHandle) {
        return WAIT_FAILED;
    }
    if (process->ended) {
        return WAIT_OBJECT_0;
    }
    int status;
    pid_t waited;
    do {
        waited = waitpid(process->pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        return WAIT_FAILED;
    }
    process->ended = true;
    process->exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) {
    HandleRecord* process = static_cast<HandleRecord*>(hProcess);
    if (process == NULL || hProcess == &threadRecord || process->kind != processHandle) {
        return FALSE;
    }
    *lpExitCode = process->exitCode;
    return TRUE;
}
