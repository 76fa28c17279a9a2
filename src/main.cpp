#include "main.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "file.hpp"
#include "java.hpp"
#include "process_util.hpp"
#include "system_dll.hpp"
#include "xml_util.hpp"

#include <windows.h>

#include <conio.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

std::string javaCommandLine;
int EXIT_doUpdate = 21;

// Set when the launcher made the console itself, so it vanishes with the launcher.
static bool ownConsole = false;
static const DWORD consoleHoldMilliseconds = 20000;

static bool isExistingFile(const std::string& path) {
    char* pathChars = stringToChar(path);
    int exists = fileExists(pathChars);
    delete[] pathChars;
    return exists == TRUE;
}

const char folderQuoteRefusal[] = "the launcher's folder holds a double quote, so no quoting names the java program";

static bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string replacePlaceholders(const std::string& javaValue, size_t& programEnd) {
    std::string javaPath;
    bool leadingFolder = false;
    programEnd = std::string::npos;
    for (size_t i = 0; i < javaValue.size();) {
        const std::string* folder = NULL;
        size_t tokenLength = 0;
        if (javaValue.compare(i, sizeof REP_APP_DIR - 1, REP_APP_DIR) == 0) {
            folder = &appDir;
            tokenLength = sizeof REP_APP_DIR - 1;
        } else if (javaValue.compare(i, sizeof REP_PARENT_DIR - 1, REP_PARENT_DIR) == 0) {
            folder = &parentDir;
            tokenLength = sizeof REP_PARENT_DIR - 1;
        }
        if (folder != NULL) {
            // A quote in the folder would end or start quoting inside the path.
            if (folder->find('"') != std::string::npos) {
                throw std::runtime_error(folderQuoteRefusal);
            }
            leadingFolder = leadingFolder || i == 0;
            javaPath += *folder;
            i += tokenLength;
            continue;
        }
        if (leadingFolder && programEnd == std::string::npos && isBlank(javaValue[i])) {
            programEnd = javaPath.size();
        }
        javaPath += javaValue[i++];
    }
    if (leadingFolder && programEnd == std::string::npos) {
        programEnd = javaPath.size();
    }
    return javaPath;
}

std::string quoteJavaPath(const std::string& javaPath, size_t programEnd) {
    bool hasBlank = javaPath.find_first_of(" \t") != std::string::npos;
    if (javaPath.find('"') == std::string::npos && hasBlank) {
#ifdef _WIN32
        // CreateProcessA also tries the name with ".exe" appended.
        bool names = isExistingFile(javaPath) || isExistingFile(javaPath + ".exe");
#else
        bool names = isExistingFile(javaPath);
#endif
        if (names) {
            return '"' + javaPath + '"';
        }
    }
    // Unquoted, a blank in the inserted folder would end the program name there
    // and the system would run whatever that shorter name finds.
    if (programEnd != std::string::npos && programEnd <= javaPath.size()) {
        std::string program = javaPath.substr(0, programEnd);
        if (program.find_first_of(" \t") != std::string::npos) {
            return '"' + program + '"' + javaPath.substr(programEnd);
        }
    }
    return javaPath;
}

void readBootXml(const std::string& configPath) {
    boost::property_tree::ptree pt = readConfigXml(configPath);
    std::string javaValue = utf8ToAnsi(getXmlValue(pt, jop_java));
    std::string Xmn = utf8ToAnsi(getXmlValue(pt, jop_Xmn));
    std::string Xms = utf8ToAnsi(getXmlValue(pt, jop_Xms));
    std::string Xmx = utf8ToAnsi(getXmlValue(pt, jop_Xmx));
    std::string cp = utf8ToAnsi(getXmlValue(pt, jop_cp));
    std::string args = utf8ToAnsi(getXmlValue(pt, jop_args));
    std::string javaMainClass = utf8ToAnsi(getXmlValue(pt, jop_main));

    // Converted before the folders go in: they are in the ANSI code page already.
    size_t programEnd;
    std::string javaPath = replacePlaceholders(javaValue, programEnd);
    javaPath = quoteJavaPath(javaPath, programEnd);

    std::string javaOption = jop_Xmn + Xmn + " " + jop_Xms + Xms + " " + jop_Xmx + Xmx;
    std::string commandLine =
        javaPath + " " + javaOption + " -cp " + cp + " " + args + " " + javaMainClass;
    javaCommandLine = commandLine;
}

int launchJava(std::string currentDir, std::string configPath, int doWait) {
    try {
        readBootXml(configPath);
    } catch (const std::exception&) {
        MessageBox2(std::string("設定ファイル ") + ansiToUtf8(configPath) + " の解析に失敗しました。");
        return ERR;
    }
    logLine("currentDir=" + currentDir);
    logLine("javaCommandLine=" + javaCommandLine);

    // CreateProcessA may write into the command line, so hand it a private copy.
    std::vector<char> commandLine(javaCommandLine.begin(), javaCommandLine.end());
    commandLine.push_back('\0');
    int retCode = execute(commandLine.data(), currentDir.c_str(), doWait);

    logLine("launchJava:retCode=" + std::to_string(retCode));
    if (retCode == ERR) {
        MessageBox2(ansiToUtf8(configPath));
    }
    return retCode;
}

int launchMainApp() {
    std::string appDir2 = appDir;
    std::string configPath = appDir + "config" + fileSep + "boot.xml";
    logLine("configPath=" + configPath);
    return launchJava(appDir2, configPath, 1);
}

int launchUpdater() {
    std::string appDir2 = appDir + "updater";
    std::string configPath = appDir2 + fileSep + "config" + fileSep + "boot.xml";
    logLine("configPath2=" + configPath);
    return launchJava(appDir2, configPath, 1);
}

int moduleUpdate(const std::string& updaterPath) {
    // execute needs a writable command line; a vector owns it and fits any length.
    std::vector<char> commandLine(updaterPath.begin(), updaterPath.end());
    commandLine.push_back('\0');
    logLine(std::string("moduleUpdate#1:commandLine=") + commandLine.data());
    int retCode = execute(commandLine.data(), NULL, 1);
    logLine("moduleUpdate#2:retCode=" + std::to_string(retCode));
    return retCode;
}

// When no narrow path names the launcher's folder, no boot file is read at
// all: the user sees the real folder in the configuration-error box.
static void reportUnreachableAppDir() {
    std::string configPath = appDirUtf8 + "config" + fileSep + "boot.xml";
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

    int retCode = 0;
    bool appDirKnown = setModuleFileName() == OK;

    int debugFileExists = FALSE;
    if (appDirKnown) {
        std::string debugFilePath = appDir + fileSep + "debug";
        char* debugFilePathChars = stringToChar(debugFilePath);
        debugFileExists = fileExists(debugFilePathChars);
        delete[] debugFilePathChars;
    }
    logLine("debugFileExists=" + std::to_string(debugFileExists));
    if (debugFileExists) {
        openDebugConsole();
    }

    if (!appDirKnown) {
        reportUnreachableAppDir();
    }
    while (appDirKnown) {
        int exitCode1 = launchMainApp();
        if (exitCode1 != EXIT_doUpdate) {
            break;
        }
        int exitCode2 = launchUpdater();
        if (exitCode2 != 0) {
            MessageBox2(std::string("更新で例外が発生しました。戻り値= ") + std::to_string(exitCode2));
            break;
        }
    }
    if (ownConsole) {
        holdConsole();
    }
    return retCode;
}
