#include "process_util.hpp"

#include "base.hpp"
#include "const.hpp"

#include <cstdio>
#include <string>

HANDLE childProcess = NULL;

static void rememberChild(HANDLE process) {
    // Nothing can use the previous child's handle once it is replaced, so close
    // it rather than leak one handle per launch in a long update cycle.
    if (childProcess != NULL) {
        CloseHandle(childProcess);
    }
    childProcess = process;
}

static int waitForChild() {
    DWORD waitResult = WaitForSingleObject(childProcess, INFINITE);
    switch (waitResult) {
        case WAIT_OBJECT_0: {
            logLine("result=WAIT_OBJECT_0");
            DWORD exitCode = 0;
            if (!GetExitCodeProcess(childProcess, &exitCode)) {
                MessageBox2("execute:GetExitCodeProcess Error.");
                return ERR;
            }
            return static_cast<int>(exitCode);
        }
        case WAIT_ABANDONED:
            logLine("result=WAIT_ABANDONED");
            return ERR;
        case WAIT_TIMEOUT:
            logLine("result=WAIT_TIMEOUT");
            return ERR;
        case WAIT_FAILED:
            logLine("result=WAIT_FAILED");
            return ERR;
        default:
            logLine("result=" + std::to_string(static_cast<int>(waitResult)));
            return ERR;
    }
}

int execute(char* lpCommandLine, const char* lpCurrentDir, int doWait, void (*started)(DWORD processId)) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};

    // The child shares our standard output; flush so lines keep their time order.
    std::fflush(stdout);
    BOOL createProcessResult = CreateProcessA(NULL, lpCommandLine, NULL, NULL, FALSE, 0, NULL,
                                              lpCurrentDir, &si, &pi);
    if (!createProcessResult) {
        logLine("execute:createProcessResult==" + std::to_string(static_cast<int>(createProcessResult)));
        return ERR;
    }

    rememberChild(pi.hProcess);
    if (!CloseHandle(pi.hThread)) {
        MessageBox2("CloseHandle(hThread)");
        return ERR;
    }
    if (started != NULL) {
        started(pi.dwProcessId);
    }
    logLine("execute:processId==" + std::to_string(static_cast<int>(GetCurrentProcessId())));

    if (!doWait) {
        return OK;
    }
    return waitForChild();
}
