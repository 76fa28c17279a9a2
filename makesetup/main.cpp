// makesetup: turns an app folder into a per-user Windows installer with the
// vendor's name, icon, version, document types and signature, through NSIS.
#include "app_folder.hpp"
#include "nsis_script.hpp"
#include "setup_options.hpp"
#include "update_feed.hpp"

#include "branding.hpp"
#include "pe_icon.hpp"
#include "platform.hpp"
#include "report.hpp"

#include "little_endian.hpp"

#include <boost/filesystem/operations.hpp>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = boost::filesystem;

static const char usage[] =
    "usage: makesetup APP_DIR --name NAME --vendor VENDOR --version VERSION\n"
    "                 [--exe FILE.exe] [--launcher LAUNCHER.exe] [--icon PNG|ICO]\n"
    "                 [--document .EXT=TYPE-NAME]... [--id ID] [--copyright TEXT]\n"
    "                 [--sign-command CMD] [--arch x86|amd64] [-o SETUP.exe]\n"
    "                 [--keep FOLDER]... [--replace FOLDER]... [--script FILE]\n"
    "                 [--update-url URL --update-key KEY.pem [--update-exe FILE]\n"
    "                  [--feed DIR] [--expires DAYS] [--rotate-key NEW.pem]]\n"
    "       makesetup --new-key KEY.pem\n"
    "       makesetup --help";

static void printHelp() {
    printLine(stdout, std::string(usage) + "\n\n"
        "Builds a Windows installer of APP_DIR (config/boot.xml, updater/config/boot.xml,\n"
        "the jars, a bundled JRE: copied whole) with makensis. It installs per user,\n"
        "without elevation, into %LOCALAPPDATA%\\Programs\\NAME (/D= chooses another\n"
        "folder), adds a Start menu entry NAME, an entry in \"Apps & features\", the\n"
        "document types, and an uninstaller that removes the folder whole. Installing a\n"
        "new version replaces the installed one's code and keeps the files the app\n"
        "wrote in its folder. /S installs and uninstalls silently.\n"
        "\n"
        "  --name NAME        the product's name as users see it\n"
        "  --vendor VENDOR    the publisher\n"
        "  --version VERSION  1.2, 1.2.3 or 1.2.3.4, digits only\n"
        "  --exe FILE.exe     the launcher's file name in the installed folder\n"
        "                     (default NAME.exe)\n"
        "  --launcher EXE     the launcher to ship (default: launcher.exe beside makesetup)\n"
        "  --icon PNG|ICO     the picture of the exe, the shortcut, the documents and the\n"
        "                     installer (default: the launcher's own)\n"
        "  --document .EXT=TYPE-NAME\n"
        "                     a document type the app opens (repeatable); needs\n"
        "                     launcherArgs=append in config/boot.xml\n"
        "  --id ID            what identifies the product across versions (default:\n"
        "                     derived from vendor and name)\n"
        "  --copyright TEXT   LegalCopyright of the exe's version block\n"
        "  --sign-command CMD signs a file in place: run as CMD FILE for the branded exe,\n"
        "                     the uninstaller and the installer; non-zero stops the build\n"
        "  --arch x86|amd64   the installer's own architecture (default x86)\n"
        "  -o SETUP.exe       the output (default NAME-VERSION-setup.exe here)\n"
        "  --keep FOLDER      a top folder in which an upgrade keeps the files the\n"
        "                     package did not ship, though it holds a .jar, .exe or\n"
        "                     .dll (repeatable)\n"
        "  --replace FOLDER   a top folder an upgrade removes whole, though it holds\n"
        "                     none (repeatable)\n"
        "  --script FILE      write the installer's script to FILE instead of building\n"
        "\n"
        "Updates (update.exe in updater\\ in place of the app folder's own updater):\n"
        "  --update-url URL   the feed's address (http:// or https://) update.exe reads\n"
        "  --update-key KEY.pem\n"
        "                     the private key that signs the feed's manifests\n"
        "  --update-exe FILE  the update.exe to ship (default: the one beside makesetup)\n"
        "  --feed DIR         add this version to the feed folder DIR, to upload whole\n"
        "  --expires DAYS     days until this version's manifest expires (default 365)\n"
        "  --rotate-key NEW.pem\n"
        "                     ship NEW's public key: later versions are signed with NEW\n"
        "  --new-key KEY.pem  make a signing key pair, KEY.pem (private: never ship it)\n"
        "                     and KEY.pem.pub.pem, and nothing else\n"
        "\n"
        "Before makensis runs, the boot files are checked as bootcheck --windows checks\n"
        "them; errors stop the build. Nothing is left behind when anything fails, but\n"
        "the files a feed stored whole under their hash.\n"
        "\n"
        "Exit status: 0 installer (or script) written, 1 an input cannot be used or a\n"
        "step failed (nothing written), 2 usage error.");
}

static volatile std::sig_atomic_t interruption = 0;

static void interrupt(int signal) {
    interruption = signal;
}

static int usageError(const std::string& message) {
    printLine(stderr, "makesetup: " + message + "\n" + usage);
    return 2;
}

static int refuse(const std::string& message) {
    printLine(stderr, "makesetup: error: " + message);
    return 1;
}

static std::string programOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return "";
}

// Runs program with args in folder, its output into logPath (or ours when
// empty). Returns its exit status, 128 + the signal that ended it, or -1.
static int runProgram(const std::vector<std::string>& command, const std::string& folder, const std::string& logPath) {
    pid_t child = fork();
    if (child == 0) {
        if (!logPath.empty()) {
            int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (log < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) {
                _exit(127);
            }
        }
        if (!folder.empty() && chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        for (const std::string& word : command) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static std::string readText(const std::string& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

static bool writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path.c_str(), std::ios::binary);
    file << text;
    file.close();
    return !file.fail();
}

static std::string ownFolder() {
    boost::system::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

// The icon image of a launcher as an ICO file of one 128x128 24-bit image.
static std::vector<uint8_t> icoFile(const std::vector<uint8_t>& exe, size_t iconOffset) {
    std::vector<uint8_t> ico(22 + ICON_IMAGE_SIZE, 0);
    writeLe16(ico, 2, 1);
    writeLe16(ico, 4, 1);
    ico[6] = ICON_SIDE;
    ico[7] = ICON_SIDE;
    writeLe16(ico, 10, 1);
    writeLe16(ico, 12, 24);
    writeLe32(ico, 14, static_cast<uint32_t>(ICON_IMAGE_SIZE));
    writeLe32(ico, 18, 22);
    std::copy(exe.begin() + iconOffset, exe.begin() + iconOffset + ICON_IMAGE_SIZE, ico.begin() + 22);
    return ico;
}

static std::string megabytes(uintmax_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// The package's own files in the scratch folder: the branded exe, and those
// --update-url adds.
static std::string brandedExeOf(const SetupOptions& options, const std::string& scratch) {
    return scratch + "/brand/" + options.exe;
}

static std::string updaterFilesOf(const std::string& scratch) {
    return scratch + "/update";
}

// This version's manifest, in the package as the installed record and, with
// --feed, signed. The branded exe is signed by then: its final bytes are listed.
static std::string describeVersion(const SetupOptions& options, const std::vector<AppEntry>& entries,
                                   int64_t released, const std::string& scratch, FeedManifest& manifest,
                                   std::string& text, std::vector<std::string>& sources, std::string& signature) {
    std::string problem = packageManifest(options, fs::canonical(options.appDir).string(),
                                          brandedExeOf(options, scratch), entries, released, manifest, sources);
    if (problem.empty()) {
        text = feedManifestText(manifest);
        problem = writeInstalledRecord(updaterFilesOf(scratch), text);
    }
    if (problem.empty() && !options.feed.empty()) {
        problem = signText(options.updateKey, text, signature);
    }
    return problem;
}

// Everything after the checks, in the scratch folder beside the output.
static int buildInstaller(const SetupOptions& options, const std::vector<AppEntry>& entries, uintmax_t appBytes,
                          const std::vector<uint8_t>& exe, size_t iconOffset, const std::string& makensis,
                          int64_t released, const std::string& scratch) {
    bool signing = !options.signCommand.empty();
    std::string brandedExe = brandedExeOf(options, scratch);
    boost::system::error_code error;
    fs::create_directory(scratch + "/brand", error);
    if (!error) {
        fs::create_directory(scratch + "/files", error);
    }
    if (!error) {
        fs::create_symlink(brandedExe, scratch + "/files/branded.exe", error);
    }
    std::string appFolder = fs::canonical(options.appDir).string();
    for (size_t i = 0; i < entries.size() && !error; ++i) {
        if (!entries[i].folder) {
            std::string source = entries[i].source.empty() ? appFolder + "/" + entries[i].relative : entries[i].source;
            fs::create_symlink(source, scratch + "/files/" + nsisSourceName(i), error);
        }
    }
    std::vector<uint8_t> ico = icoFile(exe, iconOffset);
    std::string problem = error ? error.message() : writeFileAtomically(brandedExe, exe, brandedExe);
    if (problem.empty()) {
        problem = writeFileAtomically(scratch + "/icon.ico", ico, scratch + "/icon.ico");
    }
    bool written = problem.empty() && writeText(scratch + "/setup.nsi", nsisScript(options)) &&
                   writeText(scratch + "/values.nsh", nsisValues(options, appBytes + exe.size(), signing)) &&
                   writeText(scratch + "/content.nsh", nsisContent(options, entries)) &&
                   (!signing || (writeText(scratch + "/sign", "#!/bin/sh\n" + options.signCommand + " \"$1\"\n") &&
                                 chmod((scratch + "/sign").c_str(), 0700) == 0));
    if (!written) {
        return refuse("cannot write in " + scratch + (problem.empty() ? "" : " (" + problem + ")") +
                      "; choose an output folder you can write to");
    }
    if (signing) {
        int status = runProgram({"/bin/sh", scratch + "/sign", brandedExe}, "", "");
        if (status != 0) {
            return refuse("the sign command ended with " + std::to_string(status) + " on " + options.exe +
                          "; nothing was written");
        }
    }
    FeedManifest manifest;
    std::string manifestText, signature;
    std::vector<std::string> sources;
    if (!options.updateUrl.empty()) {
        problem = describeVersion(options, entries, released, scratch, manifest, manifestText, sources, signature);
        if (!problem.empty()) {
            return refuse(problem);
        }
    }
    if (interruption != 0) {
        return 1;
    }
    std::string log = scratch + "/makensis.log";
    int status = runProgram({makensis, "-V2", "-INPUTCHARSET", "UTF8", "setup.nsi"}, scratch, log);
    if (status != 0 || interruption != 0) {
        std::string output = readText(log);
        if (!output.empty() && output.back() == '\n') {
            output.pop_back();
        }
        return refuse("makensis ended with " + std::to_string(status) +
                      (signing ? " (a sign command that fails on the uninstaller stops it too)" : "") +
                      "; nothing was written. Its output:\n" + output);
    }
    if (signing) {
        status = runProgram({"/bin/sh", scratch + "/sign", scratch + "/setup.exe"}, "", "");
        if (status != 0) {
            return refuse("the sign command ended with " + std::to_string(status) +
                          " on the installer; nothing was written");
        }
    }
    if (interruption != 0) {
        return 1;
    }
    // The feed before the installer: a feed that cannot take this version
    // leaves no installer that claims to update from it.
    FeedChange change;
    if (!options.feed.empty()) {
        problem = publishVersion(options.feed, manifest, manifestText, signature, sources, change);
        if (!problem.empty()) {
            return refuse(problem + "; the installer was not written");
        }
    }
    if (rename((scratch + "/setup.exe").c_str(), options.output.c_str()) != 0) {
        return refuse("cannot write " + options.output + " (" + std::strerror(errno) + ")");
    }
    size_t files = static_cast<size_t>(std::count_if(entries.begin(), entries.end(),
                                                     [](const AppEntry& entry) { return !entry.folder; }));
    printLine(stdout, options.output + ": installer of " + options.name + " " + options.version + " by " +
                          options.vendor + " (" + options.arch + "), " + std::to_string(files + 1) + " files, " +
                          megabytes(appBytes + exe.size()) + " installed, " +
                          std::to_string(options.documents.size()) + " document types" +
                          (signing ? ", signed" : "") +
                          (options.updateUrl.empty() ? "" : ", updates from " + options.updateUrl));
    if (!options.feed.empty()) {
        printLine(stdout, options.feed + ": " + options.version + (change.wasThere ? " was there already" : " added") +
                              ", " + std::to_string(change.newFiles) + " of " + std::to_string(manifest.files.size()) +
                              " files new (" + megabytes(static_cast<uintmax_t>(change.newBytes)) +
                              "), newest version " + change.newest + "; upload the folder whole");
    }
    return 0;
}

// --new-key: a signing key pair and nothing else.
static int makeKey(const std::string& file) {
    std::string problem = makeSigningKey(file);
    if (!problem.empty()) {
        return refuse(problem);
    }
    printLine(stdout, file + ": the private key that signs your updates. Keep it safe and secret: never ship it, "
                             "never put it in the app folder; without it no update reaches your customers.\n" +
                          publicKeyFileOf(file) + ": its public key (makesetup puts it in the package for you)");
    return 0;
}

// Everything from the app folder's listing on, with scratch as the working folder.
static int makePackage(SetupOptions& options, const std::string& scratch) {
    std::vector<AppEntry> entries;
    uintmax_t appBytes = 0;
    std::string problem = listAppFolder(options.appDir, options.exe, entries, appBytes);
    if (!problem.empty()) {
        return refuse(problem);
    }
    std::string updaterFrom = options.appDir;
    int64_t released = 0;
    if (!options.updateUrl.empty()) {
        std::string updateExe = options.updateExe.empty() ? ownFolder() + "/update.exe" : options.updateExe;
        problem = addUpdaterFiles(options, updateExe, updaterFilesOf(scratch), entries);
        if (problem.empty()) {
            problem = releaseTime(released);
        }
        if (!problem.empty()) {
            return refuse(problem);
        }
        updaterFrom = updaterFilesOf(scratch);
        for (const AppEntry& entry : entries) {
            boost::system::error_code error;
            appBytes += entry.source.empty() || entry.folder ? 0 : fs::file_size(entry.source, error);
        }
    }

    std::vector<BootFileReport> reports = checkBootFiles(options.appDir, updaterFrom);
    int errors = countFindings(reports, true);
    for (const BootFileReport& report : reports) {
        for (const Finding& finding : report.findings) {
            printLine(stderr, findingLine(finding));
        }
    }
    if (errors > 0) {
        return refuse("the boot files have " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
                      " (above), so the installed app would not start; correct them (bootcheck --windows " +
                      options.appDir + " checks again)");
    }
    if (!options.documents.empty() && !forwardsArguments(reports[0])) {
        return refuse("--document needs the app to get the document's name, but " + reports[0].path +
                      " does not forward the launcher's arguments; add <item key=\"launcherArgs\" value=\"append\"/> "
                      "to its <boot>");
    }

    std::string launcherPath = options.launcher.empty() ? ownFolder() + "/launcher.exe" : options.launcher;
    std::vector<uint8_t> exe;
    problem = readWholeFile(launcherPath, INPUT_MAX_BYTES, exe);
    if (!problem.empty()) {
        return refuse("cannot read the launcher " + launcherPath + " (" + problem + "); give it with --launcher");
    }
    Picture picture;
    if (!options.icon.empty()) {
        std::vector<uint8_t> image;
        problem = readWholeFile(options.icon, INPUT_MAX_BYTES, image);
        if (!problem.empty()) {
            return refuse("cannot read " + options.icon + " (" + problem + "); give a PNG or ICO file");
        }
        problem = decodeImage(image, options.icon, picture);
        if (!problem.empty()) {
            return refuse(problem);
        }
    }
    LauncherSlots slots;
    problem = findLauncherSlots(exe, launcherPath, slots);
    VersionBlock block{options.name, options.vendor, options.version, options.exe, options.copyright};
    int fittedWidth = 0, fittedHeight = 0;
    if (problem.empty()) {
        problem = brandLauncher(exe, launcherPath, options.icon.empty() ? nullptr : &picture, &block, fittedWidth,
                                fittedHeight);
    }
    if (!problem.empty()) {
        return refuse(problem);
    }

    if (interruption != 0) {
        return 1;
    }
    if (!options.script.empty()) {
        std::string values = nsisValues(options, appBytes + exe.size(), !options.signCommand.empty());
        std::string script = readableScript(nsisScript(options), values, nsisContent(options, entries));
        std::string temporary = options.script + ".makesetup-part";
        if (!writeText(temporary, script) || rename(temporary.c_str(), options.script.c_str()) != 0) {
            std::remove(temporary.c_str());
            return refuse("cannot write " + options.script + " (" + std::strerror(errno) + ")");
        }
        printLine(stdout, options.script + ": the installer's script for " + options.name + " " + options.version);
        return 0;
    }

    std::string makensis = programOnPath("makensis");
    if (makensis.empty()) {
        return refuse("makensis is not installed; install the package nsis (apt-get install nsis)");
    }
    return buildInstaller(options, entries, appBytes, exe, slots.iconOffset, makensis, released, scratch);
}

int main(int argc, char* argv[]) {
    SetupOptions options;
    bool help = false;
    std::string problem = parseSetupOptions(std::vector<std::string>(argv + 1, argv + argc), options, help);
    if (help) {
        printHelp();
        return 0;
    }
    if (!problem.empty()) {
        return usageError(problem);
    }
    if (!options.newKey.empty()) {
        return makeKey(options.newKey);
    }
    problem = checkSetupOptions(options);
    if (!problem.empty()) {
        return refuse(problem);
    }
    if (!options.feed.empty() && !options.script.empty()) {
        return refuse("--script builds no installer, so it adds nothing to a feed; leave out --feed or --script");
    }
    boost::system::error_code error;
    if (!fs::is_directory(options.appDir, error)) {
        return refuse("APP_DIR \"" + options.appDir + "\" is not a folder; give the app folder that holds config/boot.xml");
    }

    fs::path output = fs::absolute(options.script.empty() ? options.output : options.script);
    std::string pattern = (output.parent_path() / ("." + output.filename().string() + ".makesetup-XXXXXX")).string();
    std::vector<char> scratchName(pattern.begin(), pattern.end());
    scratchName.push_back('\0');
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, interrupt);
    }
    if (mkdtemp(scratchName.data()) == nullptr) {
        return refuse("cannot write in " + output.parent_path().string() + " (" + std::strerror(errno) +
                      "); choose an output folder you can write to");
    }
    std::string scratch = scratchName.data();
    int status = makePackage(options, scratch);
    fs::remove_all(scratch, error);
    if (interruption != 0) {
        printLine(stderr, "makesetup: interrupted; nothing was written");
        std::signal(interruption, SIG_DFL);
        std::raise(interruption);
    }
    return status;
}
