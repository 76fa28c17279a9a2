#include "app_folder.hpp"

#include "check_boot_file.hpp"
#include "nsis_script.hpp"
#include "program_file.hpp"
#include "setup_options.hpp"

#include "case_fold.hpp"

#include "base_win.hpp"
#include "const.hpp"
#include "update_files.hpp"

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <map>

namespace fs = boost::filesystem;

std::string listAppFolder(const std::string& appDir, const std::string& skip, std::vector<AppEntry>& entries,
                          uintmax_t& totalBytes) {
    entries.clear();
    totalBytes = 0;
    std::map<std::string, std::string> byFoldedName;
    boost::system::error_code error;
    fs::recursive_directory_iterator it(appDir, error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        std::string relative = path.lexically_relative(appDir).generic_string();
        std::string name = path.filename().string();
        std::string problem = windowsNameProblem(name);
        if (!problem.empty()) {
            return "\"" + relative + "\" in the app folder cannot be installed on Windows (" + problem +
                   "); rename it";
        }
        std::string folded = foldedCase(relative);
        if (byFoldedName.count(folded) != 0) {
            // Named in a fixed order, whichever the folder lists first.
            const std::string& other = byFoldedName[folded];
            return "\"" + std::max(relative, other) + "\" and \"" + std::min(relative, other) +
                   "\" in the app folder differ only in case, which is one name on Windows; rename one";
        }
        byFoldedName[folded] = relative;
        if (it.depth() == 0 && sameWindowsName(name, uninstallerName)) {
            return "the app folder holds uninstall.exe, the name of the uninstaller the installer adds; rename it";
        }
        for (const char* own : {markerName, installerManifestName}) {
            if (it.depth() == 0 && sameWindowsName(name, own)) {
                return "the app folder holds " + name + ", the name of a file the installer adds; rename it";
            }
        }
        fs::file_status link = it->symlink_status(error);
        fs::file_status status = it->status(error);
        if (error) {
            return "\"" + relative + "\" in the app folder cannot be read (" + error.message() + ")";
        }
        if (fs::is_symlink(link) && fs::is_directory(status)) {
            return "\"" + relative + "\" in the app folder is a link to a folder; copy the folder in instead";
        }
        if (fs::is_directory(status)) {
            entries.push_back({relative, true});
        } else if (fs::is_regular_file(status)) {
            if (it.depth() == 0 && sameWindowsName(name, skip)) {
                continue;
            }
            totalBytes += fs::file_size(path, error);
            entries.push_back({relative, false});
        } else {
            return "\"" + relative + "\" in the app folder is " +
                   (fs::exists(status) ? "not a regular file" : "a broken link") + "; remove it";
        }
    }
    if (error) {
        return "the app folder cannot be read (" + error.message() + ")";
    }
    std::sort(entries.begin(), entries.end(),
              [](const AppEntry& a, const AppEntry& b) { return a.relative < b.relative; });
    return "";
}

std::vector<BootFileReport> checkBootFiles(const std::string& folder, const std::string& updaterFrom) {
    useWindowsRules();
    auto folderPath = [](const std::string& path) {
        std::string full = fs::canonical(path).string();
        return full + (isFileSeparator(full.back()) ? "" : fileSep);
    };
    std::string appDir = folderPath(folder);
    std::string updaterAppDir = folderPath(updaterFrom);
    StartInputs start{appDir, parentDirOf(appDir), {}, 0};
    StartInputs updaterStart{updaterAppDir, parentDirOf(updaterAppDir), {}, 0};
    return {
        checkBootFile("main application", mainBootFileOf(appDir), appDir, start),
        checkBootFile("updater", updaterBootFileOf(updaterAppDir), updaterDirOf(updaterAppDir), updaterStart),
    };
}

bool forwardsArguments(const BootFileReport& mainReport) {
    return !mainReport.environment.empty();
}
