#include "update_files.hpp"

#include "const.hpp"

const char updateProgramName[] = "updater/update.exe";
const char updateKeyName[] = "updater/update-key.pem";
const char updateUrlName[] = "updater/update-url.txt";
const char updateInstalledName[] = "updater/update-installed.txt";
const char updateStateName[] = "updater/update-state";
const char lastUpdateName[] = "updater/last-update.txt";
const char installerManifestName[] = "install-manifest.txt";

const char updateStepVariable[] = "LAUNCHER_UPDATE_STEP";
const char updateStepFinish[] = "finish";
const char updateStepEnded[] = "ended";
const char appExitCodeVariable[] = "LAUNCHER_APP_EXIT_CODE";
const char appSecondsVariable[] = "LAUNCHER_APP_SECONDS";

static std::string below(const std::string& appDir, const std::string& relative) {
    std::string path = appDir + relative;
    for (char& c : path) {
        if (c == '/') {
            c = fileSep[0];
        }
    }
    return path;
}

std::string updateStateDirOf(const std::string& appDir) {
    return below(appDir, updateStateName);
}

std::string updateJournalOf(const std::string& appDir) {
    return below(appDir, std::string(updateStateName) + "/journal.txt");
}

static bool sameAsciiName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? a[i] - 'A' + 'a' : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool isUpdateOwnFile(const std::string& relative) {
    std::string state = updateStateName;
    return sameAsciiName(relative, lastUpdateName) || sameAsciiName(relative, state) ||
           (relative.size() > state.size() && relative[state.size()] == '/' &&
            sameAsciiName(relative.substr(0, state.size()), state));
}
