#include "check_boot_file.hpp"

#include "launcher_reading.hpp"
#include "program_checks.hpp"
#include "value_checks.hpp"

#include "java_command_line.hpp"

#include "base.hpp"
#include "java.hpp"
#include "launcher_args.hpp"

unsigned checkedCodePage = 0;

BootFileReport checkBootFile(const std::string& role, const std::string& configPath,
                             const std::string& workingDirectory, const std::vector<std::wstring>& launcherArgs) {
    BootFileReport report{role, configPath, workingDirectory, {}, false, "", {}, {}};
    LauncherReading reading = readAsLauncher(configPath, launcherArgs);
    bool read = reading.boot.error.failure == bootRead;
    if (!read) {
        reportReadingFailure(report, reading);
    }
    if (layoutApplies(reading)) {
        checkLayout(report, reading.layout);
    }
    if (!read) {
        return report;
    }

    report.started = true;
    report.commandLine = reading.boot.commandLine;
    report.arguments = splitCommandLine(report.commandLine.c_str());
    std::map<std::string, std::string>& values = reading.boot.values;
    std::map<std::string, long> lines;
    for (const std::string& key : bootKeys) {
        const BootItem* item = lastItemWithKey(reading.layout, key);
        lines[key] = item != NULL ? item->valueLine : reading.layout.bootLine;
        checkValueText(report, key, values[key], lines[key], checkedCodePage);
        if (item != NULL) {
            checkEntities(report, key, item->rawValue, lines[key]);
        }
    }
    checkJava(report, values[jop_java], reading.boot.program, lines[jop_java]);
    checkHeap(report, values, lines);
    checkClassPath(report, values[jop_cp], lines[jop_cp]);
    checkMainClass(report, values[jop_main], lines[jop_main]);
    checkCommandLineLength(report);

    checkLauncherArgs(report, reading.layout);
    checkSingleInstance(report, reading.layout, role == "updater");
    if (reading.boot.forwardsArguments) {
        report.environment.push_back("LAUNCHER_ARGC=" + std::to_string(launcherArgs.size()));
        for (size_t i = 0; i < launcherArgs.size(); ++i) {
            report.environment.push_back("LAUNCHER_ARG" + std::to_string(i + 1) + "=" + wstringToUtf8(launcherArgs[i]));
        }
    }
    return report;
}
