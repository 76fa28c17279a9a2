#include "main.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "file.hpp"
#include "java.hpp"
#include "process_util.hpp"
#include "xml_util.hpp"

#include <windows.h>

#include <boost/algorithm/string/replace.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <vector>

std::string javaCommandLine;
int EXIT_doUpdate = 21;

void readBootXml(const std::string& configPath) {
    boost::property_tree::ptree pt = readConfigXml(configPath);
    std::string javaPath = getXmlValue(pt, jop_java);
    std::string Xmn = getXmlValue(pt, jop_Xmn);
    std::string Xms = getXmlValue(pt, jop_Xms);
    std::string Xmx = getXmlValue(pt, jop_Xmx);
    std::string cp = getXmlValue(pt, jop_cp);
    std::string args = getXmlValue(pt, jop_args);
    std::string javaMainClass = getXmlValue(pt, jop_main);

    javaPath = boost::algorithm::replace_all_copy(javaPath, REP_APP_DIR, appDir);
    javaPath = boost::algorithm::replace_all_copy(javaPath, REP_PARENT_DIR, parentDir);

    std::string javaOption = jop_Xmn + Xmn + " " + jop_Xms + Xms + " " + jop_Xmx + Xmx;
    std::string commandLine =
        javaPath + " " + javaOption + " -cp " + cp + " " + args + " " + javaMainClass;
    javaCommandLine = commandLine;
}

int launchJava(std::string currentDir, std::string configPath, int doWait) {
    try {
        readBootXml(configPath);
    } catch (const std::exception&) {
        MessageBox2(std::string("設定ファイル ") + configPath + " の解析に失敗しました。");
        return ERR;
    }
    std::cout << "currentDir=" << currentDir << std::endl;
    std::cout << "javaCommandLine=" << javaCommandLine << std::endl;

    // CreateProcessA may write into the command line, so hand it a private copy.
    std::vector<char> commandLine(javaCommandLine.begin(), javaCommandLine.end());
    commandLine.push_back('\0');
    int retCode = execute(commandLine.data(), currentDir.c_str(), doWait);

    std::cout << "launchJava:retCode=" << retCode << std::endl;
    if (retCode == ERR) {
        MessageBox2(configPath);
    }
    return retCode;
}

int launchMainApp() {
    std::string appDir2 = appDir;
    std::string configPath = appDir + "config" + fileSep + "boot.xml";
    std::cout << "configPath=" << configPath << std::endl;
    return launchJava(appDir2, configPath, 1);
}

int launchUpdater() {
    std::string appDir2 = appDir + "updater";
    std::string configPath = appDir2 + fileSep + "config" + fileSep + "boot.xml";
    std::cout << "configPath2=" << configPath << std::endl;
    return launchJava(appDir2, configPath, 1);
}

int moduleUpdate(const std::string& updaterPath) {
    // execute needs a writable command line; a vector owns it and fits any length.
    std::vector<char> commandLine(updaterPath.begin(), updaterPath.end());
    commandLine.push_back('\0');
    std::cout << "moduleUpdate#1:commandLine=" << commandLine.data() << std::endl;
    int retCode = execute(commandLine.data(), NULL, 1);
    std::cout << "moduleUpdate#2:retCode=" << retCode << std::endl;
    return retCode;
}

static void openDebugConsole() {
    // Only switch the standard streams over once a console exists: reopening
    // onto a missing console would close them and lose every later line.
    if (AllocConsole()) {
        std::freopen(consoleDevice, "r", stdin);
        std::freopen(consoleDevice, "w", stdout);
    }
}

int main(int argc, char* argv[]) {
    std::printf("argc=%d\n", argc);
    std::printf("argv[0]=%s\n", argc > 0 ? argv[0] : "");

    int retCode = 0;
    setModuleFileName();

    std::string debugFilePath = appDir + fileSep + "debug";
    char* debugFilePathChars = stringToChar(debugFilePath);
    int debugFileExists = fileExists(debugFilePathChars);
    delete[] debugFilePathChars;
    std::cout << "debugFileExists=" << debugFileExists << std::endl;
    if (debugFileExists) {
        openDebugConsole();
    }

    for (;;) {
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
    return retCode;
}
