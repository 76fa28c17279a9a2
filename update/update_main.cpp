// update: the updater an app's launcher runs when the app exits 21. It reads
// its own files from the app folder it sits in (updater/ below it), and what
// the launcher wants from LAUNCHER_UPDATE_STEP.
#include "platform.hpp"
#include "update_steps.hpp"

#include "const.hpp"
#include "update_files.hpp"

#include <cstdlib>

// The app's --check: nothing written, within the time it was given.
static const int checkDefaultSeconds = 30;
static const int exitUpToDate = 0;
static const int exitUpdateAvailable = 10;
static const int exitCheckFailed = 1;
// What the launcher's update-failure box shows when it cannot go on: never 1,
// for which the launcher shows the updater's boot file path first, as for a
// program that did not start.
static const int exitSwapStuck = 2;  // a swap could neither be finished nor undone
static const int exitBusy = 3;       // another updater of this app folder is at work

std::string appFolder() {
    std::string program = ownProgramPath();
    std::string updater = program.substr(0, program.find_last_of(std::string("/") + fileSep));
    return updater.substr(0, updater.find_last_of(std::string("/") + fileSep) + 1);
}

std::string pathBelow(const std::string& folder, const std::string& relative) {
    std::string path = folder + relative;
    for (size_t i = folder.size(); i < path.size(); ++i) {
        if (path[i] == '/') {
            path[i] = fileSep[0];
        }
    }
    return path;
}

void writeOutcome(const std::string& app, const Outcome& outcome) {
    // One line, read by java.util.Properties, which takes "\" as an escape.
    std::string reason;
    for (char c : outcome.reason) {
        reason += c == '\\' ? "\\\\" : c == '\n' || c == '\r' ? " " : std::string(1, c);
    }
    std::string text = "version=" + outcome.version + "\nresult=" + outcome.result + "\nreason=" + reason +
                       "\ntime=" + utcTimeText(secondsNow()) + "\n";
    std::string error = writeFileDurably(pathBelow(app, lastUpdateName), text);
    if (!error.empty()) {
        printLine(stderr, "update: " + error);
    }
}

void giveUpAfter(int seconds, const std::string& app, const Outcome& outcome) {
    setDeadline(seconds, [app, outcome] {
        writeOutcome(app, outcome);
        return 0;
    });
}

void faultPoint(const std::string& name) {
#ifdef UPDATE_FAULT_POINTS
    if (environmentValue("UPDATE_FAULT_AT") == name) {
        dieNow();
    }
#else
    (void)name;
#endif
}

static std::string rolledBackNote(const Offer& offer) {
    return offer.rolledBack ? offer.manifest.version + " was rolled back; a newer version will be offered" : "";
}

static int check(const std::vector<std::string>& args, size_t timeoutAt) {
    int seconds = checkDefaultSeconds;
    if (timeoutAt < args.size()) {
        char* end = nullptr;
        long value = std::strtol(args[timeoutAt].c_str(), &end, 10);
        if (end == args[timeoutAt].c_str() || *end != '\0' || value < 1 || value > 3600) {
            printLine(stdout, "error: --timeout wants whole seconds from 1 to 3600, not \"" + args[timeoutAt] + "\"");
            return exitCheckFailed;
        }
        seconds = static_cast<int>(value);
    }
    setDeadline(seconds, [seconds] {
        printLine(stdout, "error: timed out after " + std::to_string(seconds) + " s waiting for the feed");
        return exitCheckFailed;
    });
    std::string app = appFolder();
    FeedManifest installed;
    std::string error = readInstalled(app, installed);
    Offer offer;
    bool upToDate = false;
    if (error.empty()) {
        error = fetchOffer(app, installed, secondsNow() + seconds, offer, upToDate);
    }
    setDeadline(0, nullptr);
    if (!error.empty()) {
        printLine(stdout, "error: " + error);
        return exitCheckFailed;
    }
    if (upToDate) {
        std::string note = rolledBackNote(offer);
        printLine(stdout, "up to date: " + installed.version + (note.empty() ? "" : " (" + note + ")"));
        return exitUpToDate;
    }
    printLine(stdout, "version=" + offer.manifest.version + "\ndownload=" + std::to_string(offer.downloadBytes));
    return exitUpdateAvailable;
}

static std::string updatingText(const std::string& version) {
    return japaneseUserInterface() ? version + " に更新しています" : "updating to " + version;
}

// The launcher's update: whatever happens before the swap, the installed
// version stays and the app learns why from last-update.txt.
static int update(bool silent) {
    std::string app = appFolder();
    std::string error = journalExists(app) ? commitTrial(app) : "";
    if (!error.empty()) {
        printLine(stderr, "update: " + error);
        return exitSwapStuck;
    }
    removeLeftovers(app);
    FeedManifest installed;
    Offer offer;
    bool upToDate = false;
    error = readInstalled(app, installed);
    if (error.empty()) {
        giveUpAfter(stallSeconds, app,
                    {installed.version, "failed", "timed out after " + std::to_string(stallSeconds) + " s waiting for the feed"});
        error = fetchOffer(app, installed, secondsNow() + stallSeconds, offer, upToDate);
        setDeadline(0, nullptr);
    }
    // The outcome names the version offered only once the offer holds.
    std::string version = error.empty() ? offer.manifest.version : installed.version;
    if (error.empty() && upToDate) {
        writeOutcome(app, {installed.version, "up to date", rolledBackNote(offer)});
        return 0;
    }
    if (error.empty()) {
        if (!silent) {
            openProgressWindow(installed.product, updatingText(offer.manifest.version));
        }
        error = stageOffer(app, offer);
        if (error.empty() && cancelRequested()) {
            error = "cancelled";
        }
        if (error.empty()) {
            faultPoint("staged");
            error = swapIn(app, installed, offer);
        }
        closeProgressWindow();
    }
    if (error.empty()) {
        writeOutcome(app, {version, "applied", ""});
    } else if (error == "cancelled") {
        writeOutcome(app, {version, "cancelled", "the user cancelled the update"});
    } else {
        writeOutcome(app, {version, "failed", error});
    }
    // A swap that could neither finish nor be undone leaves its journal, and
    // the launcher must not start the app on it.
    return journalExists(app) && !error.empty() ? exitSwapStuck : 0;
}

static int finish() {
    std::string error = finishJournal(appFolder());
    if (!error.empty()) {
        printLine(stderr, "update: " + error);
        return exitSwapStuck;
    }
    return 0;
}

static int ended() {
    std::string app = appFolder();
    char* end = nullptr;
    std::string codeText = environmentValue(appExitCodeVariable);
    long code = std::strtol(codeText.c_str(), &end, 10);
    long long seconds = std::strtoll(environmentValue(appSecondsVariable).c_str(), nullptr, 10);
    bool rolledBack = false;
    std::string why;
    std::string error = judgeTrial(app, codeText.empty() ? 1 : static_cast<int>(code), seconds, rolledBack, why);
    if (!error.empty()) {
        printLine(stderr, "update: " + error);
        return exitSwapStuck;
    }
    return 0;
}

int updateMain(const std::vector<std::string>& args) {
    bool silent = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--check") {
            size_t timeoutAt = args.size();
            if (i + 1 < args.size() && args[i + 1] == "--timeout") {
                timeoutAt = i + 2;
                if (timeoutAt >= args.size()) {
                    printLine(stdout, "error: --timeout wants a number of seconds");
                    return exitCheckFailed;
                }
            }
            return check(args, timeoutAt);
        }
        silent = silent || args[i] == "--silent";
    }
    // One updater at a time per app folder: a second launcher may start at the worst moment.
    std::string app = appFolder();
    std::string state = updateStateDirOf(app);
    std::string error = makeFolders(state);
    if (error.empty()) {
        error = lockForThisProcess(pathBelow(state + fileSep, "lock"));
    }
    if (!error.empty()) {
        printLine(stderr, "update: " + error);
        return exitBusy;
    }
    std::string step = environmentValue(updateStepVariable);
    if (step == updateStepFinish) {
        return finish();
    }
    if (step == updateStepEnded) {
        return ended();
    }
    return update(silent);
}
