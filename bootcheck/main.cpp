// bootcheck: tells the person who writes a boot file what the launcher will
// do with it and what is wrong, reading it through the launcher's own code.
#include "check_boot_file.hpp"
#include "findings.hpp"
#include "output.hpp"
#include "program_file.hpp"
#include "report.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "launcher_args.hpp"

#include <boost/filesystem/operations.hpp>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace fs = boost::filesystem;

static const char usage[] =
    "usage: bootcheck [--json] [--codepage 932|1252] [APP_DIR]\n"
    "       bootcheck [--json] [--codepage 932|1252] [APP_DIR] --launcher-args [ARG...]\n"
    "       bootcheck --windows [--json] [--codepage 932|1252] [APP_DIR] [--launcher-args [ARG...]]\n"
    "       bootcheck --help\n";

static void printHelp() {
    std::ostringstream out;
    out << usage << "\n"
              << "Checks APP_DIR/config/boot.xml (the main application) and\n"
                 "APP_DIR/updater/config/boot.xml (the updater) exactly as a launcher placed\n"
                 "in APP_DIR (default: the current folder) reads them, with " << REP_APP_DIR << " and\n"
        << REP_PARENT_DIR << " standing for APP_DIR with its trailing separator.\n"
                 "\n"
                 "For each boot file it prints the file's path, each finding as\n"
                 "  PATH:LINE: error: TEXT [CODE]    or    PATH:LINE: warning: TEXT [CODE]\n"
                 "(\":LINE\" left out where no line applies), the command line the launcher\n"
                 "would run, and the arguments the program receives, one per line, split as\n"
                 "java.exe on Windows splits them. Errors: the launcher would show a box or\n"
                 "fail to start the program. Warnings: it starts, but probably not as meant.\n"
                 "Relative java paths are looked up from the current folder, as the launcher\n"
                 "does.\n"
                 "\n"
                 "Everything is written as UTF-8 (to a Windows console as its text).\n"
                 "\n"
                 "  --json   print the same findings as one JSON document (a byte of a value that\n"
                 "           is not UTF-8 appears as U+FFFD)\n"
                 "  --codepage 932|1252\n"
                 "           read as a launcher on a Windows with that ANSI code page (932\n"
                 "           Japanese, 1252 Western): the launcher converts UTF-8 values and its\n"
                 "           own arguments to it, and java receives \"?\" for a character it lacks.\n"
                 "           Default: the ANSI code page of this Windows; none elsewhere.\n"
                 "  --windows\n"
                 "           judge paths as the Windows exe does, for a folder made for Windows and\n"
                 "           checked here: \"jre\\bin\\javaw.exe\" is a path, \".exe\" is tried, \";\"\n"
                 "           separates class-path entries. Paths on a drive of that machine\n"
                 "           (C:\\...) and programs found through its PATH are not checked.\n"
                 "           On Windows these are the rules anyway.\n"
                 "  --launcher-args [ARG...]\n"
                 "           the arguments the launcher is started with, as a file association's\n"
                 "           \"%1\" or a dropped file gives them; everything after it is one. For a\n"
                 "           boot file with launcherArgs=append it shows them after the main class\n"
                 "           and the LAUNCHER_ARGC and LAUNCHER_ARG1... variables the program gets.\n"
                 "  --help   print this text\n"
                 "\n"
                 "Exit status: 0 no error found (warnings allowed), 1 at least one error,\n"
                 "2 usage error or APP_DIR is not a folder.\n"
                 "bootcheck never writes a file and never starts the program it checks.\n"
                 "\n"
                 "Findings:\n";
    for (const FindingKind& kind : findingKinds) {
        out << "  " << kind.code << (kind.error ? " error    " : " warning  ") << kind.summary << "\n"
            << "           e.g. " << kind.example << "\n";
    }
    writeText(stdout, out.str());
}

// message: UTF-8.
static int usageError(const std::string& message) {
    writeText(stderr, "bootcheck: " + message + "\n" + usage);
    return 2;
}

// APP_DIR as the launcher's own folder would read: absolute, in the system's
// separators, ending in one separator.
static std::string appFolderText(const std::string& argument) {
#ifdef _WIN32
    fs::path folder = fs::absolute(fs::path(argument)).lexically_normal();
#else
    // The native launcher names its folder from /proc/self/exe, links resolved.
    fs::path folder = fs::canonical(fs::path(argument));
#endif
    folder.make_preferred();
    std::string text = folder.string();
    while (text.size() > 1 && isFileSeparator(text.back()) && !(text.size() == 3 && text[1] == ':')) {
        text.pop_back();
    }
    if (text.size() > 1 && text.back() == '.' && isFileSeparator(text[text.size() - 2])) {
        text.pop_back();
    }
    return isFileSeparator(text.back()) ? text : text + fileSep;
}

// A launcher on a Windows with another code page names its folder in that one:
// exactly, or by its short name, or with "?".
static std::string inCodePage(const std::string& path, unsigned codePage) {
    std::string converted;
    if (codePage == 0 || ansiPath(ansiToWString(path), converted, codePage) == OK) {
        return codePage == 0 ? path : converted;
    }
    return wstringToAnsiReplacing(ansiToWString(path), codePage);
}

int main(int argc, char* argv[]) {
    bool json = false;
    std::vector<std::string> folders;
    bool optionsEnded = false;
    std::vector<std::wstring> launcherArgs;
    unsigned codePage = 0;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!optionsEnded && argument == "--launcher-args") {
            // Read as the launcher reads its own: on Windows from the wide command line.
            std::vector<std::wstring> words = launcherArguments(argc, argv);
            launcherArgs.assign(words.begin() + std::min(static_cast<size_t>(i), words.size()), words.end());
            break;
        }
        if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            printHelp();
            return 0;
        } else if (!optionsEnded && argument == "--json") {
            json = true;
        } else if (!optionsEnded && argument == "--windows") {
            useWindowsRules();
        } else if (!optionsEnded && argument == "--codepage") {
            std::string number = i + 1 < argc ? argv[++i] : "";
            if (number != "932" && number != "1252") {
                return usageError("--codepage takes 932 or 1252");
            }
            codePage = static_cast<unsigned>(std::stoul(number));
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return usageError("unknown option " + ansiToUtf8(argument));
        } else {
            folders.push_back(argument);
        }
    }
    if (folders.size() > 1) {
        return usageError("give one APP_DIR");
    }
    std::string folder = folders.empty() ? std::string(".") : folders[0];
    boost::system::error_code ignored;
    if (folder.empty() || !fs::is_directory(folder, ignored)) {
        return usageError("APP_DIR \"" + ansiToUtf8(folder) + "\" is not a folder");
    }

    // The launcher's own folder and the rules it derives from it; the files
    // are read by their names on this system.
    std::string appDir = appFolderText(folder);
    std::string launcherDir = inCodePage(appDir, codePage);
    StartInputs start{launcherDir, parentDirOf(launcherDir), launcherArgs, codePage};
    std::vector<BootFileReport> reports = {
        checkBootFile("main application", mainBootFileOf(appDir), appDir, start),
        checkBootFile("updater", updaterBootFileOf(appDir), updaterDirOf(appDir), start),
    };
    std::ostringstream out;
    if (json) {
        printJson(out, ansiToUtf8(appDir), reports);
    } else {
        printText(out, reports);
    }
    writeText(stdout, out.str());
    return countFindings(reports, true) > 0 ? 1 : 0;
}
