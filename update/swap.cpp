// The swap, through a journal: every step is one rename, and the journal says
// which renames belong to the swap, so that a swap cut off at any step is
// finished (the new files are all staged and checked before it starts) and a
// rollback cut off at any step is finished too. The old files wait under
// old/ until the new version has started well.
#include "platform.hpp"
#include "update_steps.hpp"

#include "case_fold.hpp"
#include "update_files.hpp"
#include "utf8.hpp"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

static const char phaseSwapping[] = "swapping";
static const char phaseTrial[] = "trial";
static const char phaseRollingBack[] = "rolling back";

// One rename pair of the swap: a staged file that replaces or adds a path, or
// an old file set aside without replacement.
enum StepKind { stepReplace, stepAdd, stepRemove };
static const char* const stepWords[] = {"replace", "add", "remove"};

struct JournalStep {
    StepKind kind;
    std::string path;
};

struct Journal {
    std::string phase;
    std::string product;
    std::string from;
    int64_t fromBytes = 0;
    std::string to;
    int starts = 0;
    std::string reason;  // why a rollback happens
    std::vector<JournalStep> steps;
};

// The journal's steps as the crash tests count them: each rename and each
// journal write is one.
static int stepsTaken = 0;

static void stepTaken() {
    faultPoint("step-" + std::to_string(++stepsTaken));
}

bool journalExists(const std::string& app) {
    return pathExists(updateJournalOf(app));
}

static std::string writeJournal(const std::string& app, const Journal& journal) {
    std::string text = "phase " + journal.phase + "\nproduct " + journal.product + "\nfrom " + journal.from +
                       "\nfrom-bytes " + std::to_string(journal.fromBytes) + "\nto " + journal.to + "\nstarts " +
                       std::to_string(journal.starts) + "\nreason " + journal.reason + "\n";
    for (const JournalStep& step : journal.steps) {
        text += std::string(stepWords[step.kind]) + " " + step.path + "\n";
    }
    std::string error = writeFileDurably(updateJournalOf(app), text);
    stepTaken();
    return error;
}

static std::string readJournal(const std::string& app, Journal& journal) {
    std::string text;
    std::string error = readWholeFile(updateJournalOf(app), feedManifestLimit, text);
    if (!error.empty()) {
        return "the update's journal: " + error;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t blank = line.find(' ');
        std::string word = line.substr(0, blank);
        std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        const char* const* kind = std::find(std::begin(stepWords), std::end(stepWords), word);
        if (kind != std::end(stepWords) && feedPathProblem(value).empty()) {
            journal.steps.push_back({static_cast<StepKind>(kind - std::begin(stepWords)), value});
        } else if (word == "phase") {
            journal.phase = value;
        } else if (word == "product") {
            journal.product = value;
        } else if (word == "from") {
            journal.from = value;
        } else if (word == "from-bytes") {
            journal.fromBytes = std::strtoll(value.c_str(), nullptr, 10);
        } else if (word == "to") {
            journal.to = value;
        } else if (word == "starts") {
            journal.starts = std::atoi(value.c_str());
        } else if (word == "reason") {
            journal.reason = value;
        } else {
            return "the update's journal is damaged: \"" + line + "\"";
        }
    }
    if (journal.phase != phaseSwapping && journal.phase != phaseTrial && journal.phase != phaseRollingBack) {
        return "the update's journal is damaged: no phase";
    }
    return "";
}

static std::string parentOf(const std::string& path) {
    return path.substr(0, path.find_last_of("/\\"));
}

// Moves from to to, making to's folder first.
static std::string moveInto(const std::string& from, const std::string& to) {
    std::string error = makeFolders(parentOf(to));
    if (error.empty()) {
        error = moveFile(from, to, lockedFileRetrySeconds);
    }
    stepTaken();
    return error;
}

// The swap's renames; each is skipped when it has been done, so running this
// again after a cut finishes the swap.
static std::string swapForward(const std::string& app, const Journal& journal) {
    for (const JournalStep& step : journal.steps) {
        std::string target = pathBelow(app, step.path);
        std::string aside = asidePathOf(app, journal.to, step.path);
        std::string staged = stagedPathOf(app, step.path);
        std::string error;
        if (step.kind != stepAdd && pathExists(target) && !pathExists(aside) &&
            (step.kind == stepRemove || pathExists(staged))) {
            error = moveInto(target, aside);
        }
        if (error.empty() && step.kind != stepRemove && pathExists(staged)) {
            error = moveInto(staged, target);
        }
        if (!error.empty()) {
            return step.path + ": " + error;
        }
    }
    return "";
}

// The swap undone, last step first; also resumable.
static std::string swapBack(const std::string& app, const Journal& journal) {
    for (auto step = journal.steps.rbegin(); step != journal.steps.rend(); ++step) {
        std::string target = pathBelow(app, step->path);
        std::string aside = asidePathOf(app, journal.to, step->path);
        std::string error;
        std::string staged = stagedPathOf(app, step->path);
        bool ours = step->kind == stepAdd || (step->kind == stepReplace && pathExists(aside));
        // Moved, not deleted: the new update.exe may be the running one.
        if (ours && pathExists(target)) {
            if (pathExists(staged)) {
                error = removeFile(target, lockedFileRetrySeconds);
                stepTaken();
            } else {
                error = moveInto(target, staged);
            }
        }
        if (error.empty() && step->kind != stepAdd && pathExists(aside) && !pathExists(target)) {
            error = moveInto(aside, target);
        }
        if (!error.empty()) {
            return step->path + ": " + error;
        }
    }
    return "";
}

// A folder's files and links below it, by relative path; links are never entered.
static void listFilesBelow(const std::string& app, const std::string& relative, std::vector<std::string>& files) {
    std::vector<FolderEntry> entries;
    if (!listFolder(pathBelow(app, relative), entries).empty()) {
        return;
    }
    for (const FolderEntry& entry : entries) {
        std::string path = relative + "/" + entry.name;
        if (entry.folder) {
            listFilesBelow(app, path, files);
        } else {
            files.push_back(path);
        }
    }
}

// Removes what it can and leaves the rest for a later clean-up: the old
// launcher.exe is still running while its successor is on trial.
static void removeTree(const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (listFolder(folder, entries).empty()) {
        for (const FolderEntry& entry : entries) {
            std::string path = pathBelow(folder + "/", entry.name);
            if (entry.folder) {
                removeTree(path);
            } else {
                removeFile(path, 0);
            }
        }
    }
    removeEmptyFolder(folder);
}

// The staged files and every version's set-aside files.
void removeLeftovers(const std::string& app) {
    std::string state = pathBelow(app, updateStateName);
    std::vector<FolderEntry> entries;
    listFolder(state, entries);
    for (const FolderEntry& entry : entries) {
        if (entry.folder && (entry.name == "new" || entry.name.compare(0, 4, "old-") == 0)) {
            removeTree(pathBelow(state + "/", entry.name));
        }
    }
}

static std::set<std::string> foldedPaths(const std::vector<FeedFile>& files) {
    std::set<std::string> paths;
    for (const FeedFile& file : files) {
        paths.insert(foldedCase(file.path));
    }
    return paths;
}

// The installer's manifest (UTF-16 lines) with the new version's files and
// code folders in place of the old ones; its other lines stay.
static std::string installerManifestFor(const std::string& old, const FeedManifest& offered) {
    std::string lines;
    for (size_t i = old.size() >= 2 && old[0] == '\xff' && old[1] == '\xfe' ? 2 : 0; i + 1 < old.size(); i += 2) {
        uint32_t unit = static_cast<unsigned char>(old[i]) | static_cast<unsigned char>(old[i + 1]) << 8;
        appendUtf8(lines, unit);
    }
    std::string kept;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "file ") != 0 && line.compare(0, 5, "code ") != 0) {
            kept += line + "\n";
        }
    }
    for (const std::string& folder : offered.codeFolders) {
        kept += "code " + folder + "\r\n";
    }
    for (const FeedFile& file : offered.files) {
        std::string path = file.path;
        std::replace(path.begin(), path.end(), '/', '\\');
        kept += "file " + path + "\r\n";
    }
    std::string text = "\xff\xfe";
    for (size_t i = 0; i < kept.size();) {
        uint32_t code = 0;
        size_t length = decodeUtf8(reinterpret_cast<const unsigned char*>(kept.data()) + i, kept.size() - i, code);
        if (length == 0) {
            code = '?';
            length = 1;
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            uint32_t high = 0xd800 + (code >> 10), low = 0xdc00 + (code & 0x3ff);
            text += {static_cast<char>(high & 0xff), static_cast<char>(high >> 8), static_cast<char>(low & 0xff),
                     static_cast<char>(low >> 8)};
        } else {
            text += {static_cast<char>(code & 0xff), static_cast<char>(code >> 8)};
        }
    }
    return text;
}

// Stages a file that update writes itself (the version record, the installer's
// manifest) and adds its step.
static std::string stageText(const std::string& app, const std::string& relative, const std::string& text,
                             Journal& journal) {
    std::string staged = stagedPathOf(app, relative);
    std::string error = makeFolders(parentOf(staged));
    if (error.empty()) {
        error = writeFileDurably(staged, text);
    }
    journal.steps.push_back({pathExists(pathBelow(app, relative)) ? stepReplace : stepAdd, relative});
    return error;
}

static std::string rollBack(const std::string& app, Journal& journal) {
    std::string error = swapBack(app, journal);
    if (error.empty()) {
        recordInstalledVersion(journal.product, journal.from, journal.fromBytes);
        writeOutcome(app, {journal.to, "rolled back", journal.reason});
        error = removeFile(updateJournalOf(app), lockedFileRetrySeconds);
        stepTaken();
        removeLeftovers(app);
    }
    return error.empty() ? "" : "the rollback to " + journal.from + " stopped at " + error;
}

// The swap is done: the new version is in place, on trial.
static std::string enterTrial(const std::string& app, Journal& journal, const FeedManifest& offered) {
    recordInstalledVersion(journal.product, journal.to, feedBytes(offered));
    journal.phase = phaseTrial;
    journal.starts = 0;
    return writeJournal(app, journal);
}

std::string swapIn(const std::string& app, const FeedManifest& installed, const Offer& offer) {
    const FeedManifest& offered = offer.manifest;
    Journal journal;
    journal.phase = phaseSwapping;
    journal.product = installed.product;
    journal.from = installed.version;
    journal.fromBytes = feedBytes(installed);
    journal.to = offered.version;
    removeTree(pathBelow(app, std::string(updateStateName) + "/old-" + offered.version));

    std::set<std::string> keepPaths = foldedPaths(offered.files);
    std::set<std::string> staged;
    for (const FeedFile& file : offer.downloads) {
        if (staged.insert(foldedCase(file.path)).second) {
            journal.steps.push_back({pathExists(pathBelow(app, file.path)) ? stepReplace : stepAdd, file.path});
        }
    }
    // What the old version put there and the new one does not ship goes, and
    // so do files nobody listed in the folders that hold code; what the app
    // wrote elsewhere stays.
    std::vector<std::string> goes;
    for (const FeedFile& file : installed.files) {
        goes.push_back(file.path);
    }
    std::set<std::string> codeFolders(installed.codeFolders.begin(), installed.codeFolders.end());
    codeFolders.insert(offered.codeFolders.begin(), offered.codeFolders.end());
    for (const std::string& folder : codeFolders) {
        if (!isLinkOrReparsePoint(pathBelow(app, folder))) {
            listFilesBelow(app, folder, goes);
        }
    }
    std::set<std::string> gone;
    for (const std::string& path : goes) {
        std::string folded = foldedCase(path);
        if (!keepPaths.count(folded) && !isUpdateOwnFile(path) && foldedCase(updateInstalledName) != folded &&
            foldedCase(installerManifestName) != folded && pathExists(pathBelow(app, path)) &&
            gone.insert(folded).second) {
            journal.steps.push_back({stepRemove, path});
        }
    }
    std::string error = stageText(app, updateInstalledName, offer.text, journal);
    std::string installerManifest;
    if (error.empty() && readWholeFile(pathBelow(app, installerManifestName), feedManifestLimit, installerManifest).empty()) {
        error = stageText(app, installerManifestName, installerManifestFor(installerManifest, offered), journal);
    }
    if (error.empty()) {
        error = writeJournal(app, journal);
    }
    if (!error.empty()) {
        return "the update could not be prepared: " + error;
    }
    error = swapForward(app, journal);
    if (error.empty()) {
        // Every download is in place: their parts and ETags are done with.
        removeTree(pathBelow(app, std::string(updateStateName) + "/download"));
        return enterTrial(app, journal, offered);
    }
    // A file that stays locked: the old version comes back whole.
    journal.phase = phaseRollingBack;
    journal.reason = "the update to " + offered.version + " could not replace " + error;
    std::string undo = writeJournal(app, journal);
    if (undo.empty()) {
        undo = rollBack(app, journal);
    }
    return undo.empty() ? journal.reason : journal.reason + "; " + undo;
}

std::string finishJournal(const std::string& app) {
    if (!journalExists(app)) {
        return "";
    }
    Journal journal;
    std::string error = readJournal(app, journal);
    if (!error.empty() || journal.phase == phaseTrial) {
        return error;
    }
    if (journal.phase == phaseRollingBack) {
        return rollBack(app, journal);
    }
    error = swapForward(app, journal);
    FeedManifest offered;
    if (error.empty()) {
        error = readInstalled(app, offered);
    }
    if (error.empty()) {
        writeOutcome(app, {journal.to, "applied", ""});
        return enterTrial(app, journal, offered);
    }
    journal.phase = phaseRollingBack;
    journal.reason = "the update to " + journal.to + " could not replace " + error;
    error = writeJournal(app, journal);
    return error.empty() ? rollBack(app, journal) : error;
}

std::string commitTrial(const std::string& app) {
    Journal journal;
    std::string error = finishJournal(app);
    if (error.empty() && journalExists(app)) {
        error = readJournal(app, journal);
    }
    if (!error.empty() || !journalExists(app)) {
        return error;
    }
    error = removeFile(updateJournalOf(app), lockedFileRetrySeconds);
    stepTaken();
    removeLeftovers(app);
    return error;
}

std::string judgeTrial(const std::string& app, int exitCode, int64_t seconds, bool& rolledBack, std::string& why) {
    Journal journal;
    std::string error = journalExists(app) ? readJournal(app, journal) : "";
    if (!error.empty() || !journalExists(app) || journal.phase != phaseTrial) {
        return error;
    }
    bool good = exitCode == 0 || exitCode == 21 || seconds >= trialSeconds;
    if (good) {
        ++journal.starts;
        return journal.starts >= trialStarts ? commitTrial(app) : writeJournal(app, journal);
    }
    rolledBack = true;
    why = journal.to + " ended with exit code " + std::to_string(exitCode) + " after " + std::to_string(seconds) +
          " s; " + journal.from + " is back";
    journal.phase = phaseRollingBack;
    journal.reason = why;
    error = writeFileDurably(rolledBackPathOf(app), journal.to);
    if (error.empty()) {
        error = writeJournal(app, journal);
    }
    return error.empty() ? rollBack(app, journal) : error;
}
