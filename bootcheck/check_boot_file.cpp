#include "check_boot_file.hpp"

#include "code_page.hpp"
#include "launcher_reading.hpp"
#include "program_checks.hpp"
#include "value_checks.hpp"

#include "java_command_line.hpp"

#include "base.hpp"
#include "java.hpp"
#include "launcher_args.hpp"
#include "single_instance.hpp"

// The words java receives, split as java.exe splits the line in its code page.
static std::vector<std::string> javaWords(const std::string& commandLine, unsigned codePage) {
    return splitCommandLine(commandLine.c_str(), [codePage](char c) { return isLeadByte(codePage, c); });
}

// A word of the command line as this system's file functions read it.
static std::string systemText(const std::string& word, unsigned codePage) {
    return codePage == 0 ? word : wstringToAnsiReplacing(ansiToWString(word, codePage));
}

BootFileReport checkBootFile(const std::string& role, const std::string& configPath,
                             const std::string& workingDirectory, const StartInputs& start) {
    BootFileReport report{role, ansiToUtf8(configPath), workingDirectory, {}, false, "", {}, {}, {}};
    LauncherReading reading = readAsLauncher(configPath, start);
    bool read = reading.boot.error.failure == bootRead;
    if (!read) {
        reportReadingFailure(report, reading, ansiToUtf8(start.appDir, start.codePage));
    }
    if (layoutApplies(reading)) {
        checkLayout(report, reading);
    }
    if (!read) {
        report.workingDirectory = ansiToUtf8(workingDirectory);
        return report;
    }

    report.started = true;
    // The checks probe files through the folder and the words as this system
    // names them; the report then shows them as UTF-8.
    std::vector<std::string> words = javaWords(reading.boot.commandLine, start.codePage);
    for (const std::string& word : words) {
        report.arguments.push_back(systemText(word, start.codePage));
    }
    std::map<std::string, std::string>& values = reading.boot.values;
    std::map<std::string, long> lines;
    unsigned checkedCodePage = start.codePage != 0 ? start.codePage : ansiCodePage();
    for (const std::string& key : bootKeys) {
        const BootItem* item = valueItem(reading, key);
        lines[key] = item != NULL ? item->valueLine : reading.layout.bootLine;
        checkValueText(report, key, values[key], lines[key], checkedCodePage);
        if (item != NULL) {
            checkEntities(report, key, item->rawValue, lines[key]);
        }
    }
    checkJava(report, values[jop_java], reading.boot.program, lines[jop_java], systemText(start.appDir, start.codePage));
    checkHeap(report, values, lines);
    checkClassPath(report, values[jop_cp], lines[jop_cp]);
    checkMainClass(report, values[jop_main], lines[jop_main]);
    checkCommandLineLength(report, reading.boot.commandLineLength);

    const BootError& forwarding = reading.boot.forwardingError;
    checkLauncherArgs(report, forwarding, optionalItem(reading, forwarding, launcherArgsKey));
    const BootError& single = reading.boot.singleInstanceError;
    checkSingleInstance(report, single, optionalItem(reading, single, singleInstanceKey), role == "updater");

    report.workingDirectory = ansiToUtf8(workingDirectory);
    report.commandLine = ansiToUtf8(reading.boot.commandLine, start.codePage);
    report.arguments.clear();
    for (const std::string& word : words) {
        report.arguments.push_back(ansiToUtf8(word, start.codePage));
    }
    for (const ForwardedArgument& argument : reading.boot.arguments) {
        static const char* const forms[] = {"exact", "shortName", "lossy"};
        report.argumentForms.push_back(forms[argument.form]);
    }
    for (const std::pair<std::wstring, std::wstring>& variable : reading.boot.childVariables) {
        report.environment.push_back(wstringToUtf8(variable.first + L"=" + variable.second));
    }
    return report;
}
