#include "main.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "boot_reading.hpp"
#include "const.hpp"
#include "file.hpp"
#include "launcher_args.hpp"
#include "process_util.hpp"
#include "single_instance.hpp"
#include "system_dll.hpp"
#include "update_files.hpp"

#include <windows.h>

#include <conio.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

std::string javaCommandLine;
int EXIT_doUpdate = 21;
std::vector<std::wstring> launcherArgs;
bool javaTakesLauncherArgs = false;

// Set when the launcher made the console itself, so it vanishes with the launcher.
static bool ownConsole = false;
static const DWORD consoleHoldMilliseconds = 20000;

// The C APIs below take writable text; a vector owns the copy and fits any length.
static std::vector<char> writableCopy(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

// The length of the command line javaCommandLine holds, in UTF-16 units.
static size_t javaCommandLineLength = 0;

// A box of the launch cycle. The owner of the app folder gives it up first:
// a later launcher must neither wait for the box nor write into an inbox that
// nobody reads; it becomes the owner and starts the app itself.
static void cycleBox(const std::string& text) {
    leaveAppFolder();
    MessageBox2(text);
}

void readBootXml(const std::string& configPath) {
    logLine(configPath);
    BootReading reading = readBootFile(configPath, launcherStartInputs(launcherArgs));
    if (reading.error.failure != bootRead) {
        throwBootError(reading.error, configPath);
    }
    for (size_t i = 0; i < reading.arguments.size(); ++i) {
        const ForwardedArgument& argument = reading.arguments[i];
        if (argument.form != argumentExact) {
            logLine("launcherArgs:arg" + std::to_string(i + 1) + "=" + argument.ansi +
                    (argument.form == argumentShortName
                         ? " (its short name: the ANSI code page lacks characters of it)"
                         : " (\"?\" for characters the ANSI code page lacks; " +
                               wstringToUtf8(reading.childVariables[i + 1].first) + " holds it exactly)"));
        }
    }
    javaCommandLine = reading.commandLine;
    javaCommandLineLength = reading.commandLineLength;
    javaTakesLauncherArgs = reading.forwardsArguments;
}

int launchJava(std::string currentDir, std::string configPath, int doWait) {
    try {
        readBootXml(configPath);
    } catch (const std::exception&) {
        cycleBox(std::string("設定ファイル ") + ansiToUtf8(configPath) + " の解析に失敗しました。");
        return ERR;
    }
    // Refused here rather than by CreateProcessA, so the user learns why; a
    // boot file too long by itself fails as it always has.
    size_t characters = javaTakesLauncherArgs && !launcherArgs.empty() ? javaCommandLineLength : 0;
    if (characters >= commandLineLimit) {
        cycleBox("起動時に渡された引数 (" + std::to_string(launcherArgs.size()) +
                 " 個) が長すぎて、Windows のコマンドラインに収まりません (" + std::to_string(characters) +
                 " 文字、上限 " + std::to_string(commandLineLimit - 1) + " 文字)。");
        return ERR;
    }
    prepareChildEnvironment(javaTakesLauncherArgs, launcherArgs);
    logLine("currentDir=" + currentDir);
    logLine("javaCommandLine=" + javaCommandLine);

    // CreateProcessA may write into the command line, so it gets a private copy.
    std::vector<char> commandLine = writableCopy(javaCommandLine);
    int retCode = execute(commandLine.data(), currentDir.c_str(), doWait, noteChildStarted);
    noteChildEnded();

    logLine("launchJava:retCode=" + std::to_string(retCode));
    if (retCode == ERR) {
        cycleBox(ansiToUtf8(configPath));
    }
    return retCode;
}

int launchMainApp() {
    std::string appDir2 = appDir;
    std::string configPath = mainBootFileOf(appDir);
    logLine("configPath=" + configPath);
    noteAppStarting();
    return launchJava(appDir2, configPath, 1);
}

int launchUpdater() {
    std::string appDir2 = updaterDirOf(appDir);
    std::string configPath = updaterBootFileOf(appDir);
    logLine("configPath2=" + configPath);
    return launchJava(appDir2, configPath, 1);
}

int moduleUpdate(const std::string& updaterPath) {
    std::vector<char> commandLine = writableCopy(updaterPath);
    logLine(std::string("moduleUpdate#1:commandLine=") + commandLine.data());
    int retCode = execute(commandLine.data(), NULL, 1);
    logLine("moduleUpdate#2:retCode=" + std::to_string(retCode));
    return retCode;
}

// When no narrow path names the launcher's folder, no boot file is read at
// all: the user sees the real folder in the configuration-error box.
static void reportUnreachableAppDir() {
    std::string configPath = mainBootFileOf(appDirUtf8);
    logLine("configPath=" + configPath);
    MessageBox2(std::string("設定ファイル ") + configPath + " の解析に失敗しました。");
}

static void openDebugConsole() {
    // Only switch the standard streams over once a console exists: reopening
    // onto a missing console would close them and lose every later line.
    if (AllocConsole()) {
        std::freopen(consoleDevice, "r", stdin);
        std::freopen(consoleDevice, "w", stdout);
        // A console without a window (Wine without a display) has no reader.
        ownConsole = GetConsoleWindow() != NULL;
    }
}

// Keeps the launcher's own console readable until Enter or the time is up, so
// an unattended start still ends.
static void holdConsole() {
    std::fflush(stdout);
    _cputws(L"Enter キーを押すと閉じます。\r\n");
    const DWORD step = 100;
    for (DWORD waited = 0; waited < consoleHoldMilliseconds; waited += step) {
        while (_kbhit()) {
            int c = _getch();
            if (c == '\r' || c == '\n') {
                return;
            }
        }
        Sleep(step);
    }
}

static void updateFailureBox(int updaterExitCode) {
    cycleBox(std::string("更新で例外が発生しました。戻り値= ") + std::to_string(updaterExitCode));
}

// An app updated by update.exe has a journal while a swap is cut off or its
// new version is on trial: then the updater runs before the app starts (to
// finish or undo the swap) and after it ended (to judge the new version).
static bool updateJournalWaiting() {
    return fileExists(writableCopy(updateJournalOf(appDir)).data());
}

static void setVariable(const char* name, const std::string& value) {
    std::wstring wideName(name, name + std::char_traits<char>::length(name));
    std::wstring wideValue(value.begin(), value.end());
    SetEnvironmentVariableW(wideName.c_str(), value.empty() ? NULL : wideValue.c_str());
}

// The updater run for step; false (after the update-failure box) when it failed.
static bool runUpdateStep(const char* step, int appExitCode, long long appSeconds) {
    bool ended = std::string(step) == updateStepEnded;
    logLine(std::string("updateStep=") + step);
    setVariable(updateStepVariable, step);
    setVariable(appExitCodeVariable, ended ? std::to_string(appExitCode) : "");
    setVariable(appSecondsVariable, ended ? std::to_string(appSeconds) : "");
    int exitCode = launchUpdater();
    setVariable(updateStepVariable, "");
    setVariable(appExitCodeVariable, "");
    setVariable(appSecondsVariable, "");
    if (exitCode != 0) {
        updateFailureBox(exitCode);
        return false;
    }
    return true;
}

// The launch cycle, its one place: the app; on 21 the updater, and on its 0
// the app again. The app also starts once more when requests came for it
// while the cycle ended (singleInstance=forward).
static void runLaunchCycle() {
    for (;;) {
        if (updateJournalWaiting() && !runUpdateStep(updateStepFinish, 0, 0)) {
            return;
        }
        std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
        int exitCode1 = launchMainApp();
        long long seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
        if (updateJournalWaiting() && !runUpdateStep(updateStepEnded, exitCode1, seconds)) {
            return;
        }
        if (exitCode1 != EXIT_doUpdate) {
            if (requestsWaiting()) {
                continue;
            }
            return;
        }
        int exitCode2 = launchUpdater();
        if (exitCode2 != 0) {
            updateFailureBox(exitCode2);
            return;
        }
    }
}

int main(int argc, char* argv[]) {
    restrictDllSearch();
#ifndef _WIN32
    // Every line is flushed as soon as it is written, so a buffer buys nothing;
    // without one the C library sets none up on the heap at the first print.
    // The Windows C runtime writes an unbuffered stream byte by byte, so there
    // the stream keeps its buffer.
    std::setvbuf(stdout, NULL, _IONBF, 0);
#endif
    std::printf("argc=%d\n", argc);
    std::printf("argv[0]=%s\n", argc > 0 ? argv[0] : "");

    launcherArgs = launcherArguments(argc, argv);

    int retCode = 0;
    bool appDirKnown = setModuleFileName() == OK;

    int debugFileExists = FALSE;
    if (appDirKnown) {
        std::string debugFilePath = appDir + fileSep + "debug";
        debugFileExists = fileExists(writableCopy(debugFilePath).data());
    }
    logLine("debugFileExists=" + std::to_string(debugFileExists));
    if (debugFileExists) {
        openDebugConsole();
    }

    if (!appDirKnown) {
        reportUnreachableAppDir();
    }
    AppFolderRole role =
        appDirKnown ? takeAppFolderRole(mainBootFileOf(appDir), launcherArgs) : roleAlone;
    if (appDirKnown && role != roleForwarded) {
        // Only a launcher that starts children needs it; a forwarding one is
        // spared reading its whole environment.
        rememberGivenEnvironment();
        runLaunchCycle();
    }
    leaveAppFolder();
    if (ownConsole) {
        holdConsole();
    }
    return retCode;
}
