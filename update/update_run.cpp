// The feed's side of an update: the signed manifest, the downloads and the
// staged new version.
#include "platform.hpp"
#include "update_steps.hpp"

#include "case_fold.hpp"
#include "update_files.hpp"

#include <algorithm>
#include <map>

// Bounded retries of a file's download; each resumes where the last stopped.
static const int downloadTries = 3;
static const int downloadSeconds = 3600;
static const int64_t freeSpaceMargin = 16 * 1024 * 1024;

std::string stagedPathOf(const std::string& app, const std::string& relative) {
    return pathBelow(app, std::string(updateStateName) + "/new/" + relative);
}

std::string asidePathOf(const std::string& app, const std::string& version, const std::string& relative) {
    return pathBelow(app, std::string(updateStateName) + "/old-" + version + "/" + relative);
}

std::string rolledBackPathOf(const std::string& app) {
    return pathBelow(app, std::string(updateStateName) + "/rolled-back.txt");
}

std::string downloadPathOf(const std::string& app, const std::string& sha256) {
    return pathBelow(app, std::string(updateStateName) + "/download/" + sha256 + ".part");
}

static std::string readSmallFile(const std::string& app, const std::string& relative, size_t limit,
                                 std::string& text) {
    std::string error = readWholeFile(pathBelow(app, relative), limit, text);
    return error.empty() ? "" : relative + ": " + error;
}

std::string readInstalled(const std::string& app, FeedManifest& installed) {
    std::string text;
    std::string error = readSmallFile(app, updateInstalledName, feedManifestLimit, text);
    if (error.empty()) {
        error = readFeedManifest(text, installed);
        if (!error.empty()) {
            error = std::string(updateInstalledName) + ": " + error;
        }
    }
    return error;
}

static std::string feedUrl(const std::string& app, std::string& url) {
    std::string error = readSmallFile(app, updateUrlName, 4096, url);
    url.erase(std::find_if(url.begin(), url.end(), [](char c) { return c == '\r' || c == '\n'; }), url.end());
    if (error.empty() && url.compare(0, 7, "http://") != 0 && url.compare(0, 8, "https://") != 0) {
        error = std::string(updateUrlName) + ": not an http:// or https:// URL";
    }
    if (error.empty() && url.back() != '/') {
        url += '/';
    }
    return error;
}

static int remainingSeconds(int64_t deadline) {
    return static_cast<int>(std::max<int64_t>(1, deadline - secondsNow()));
}

static bool isHtml(const FetchHeaders& headers) {
    return headers.contentType.compare(0, 9, "text/html") == 0;
}

// A small document of the feed (the manifest, its signature) whole, or why not.
static std::string fetchSmall(const std::string& url, size_t limit, int64_t deadline, std::string& body) {
    std::string problem;
    Fetch fetch;
    fetch.url = url;
    fetch.timeoutSeconds = remainingSeconds(deadline);
    fetch.onHeaders = [&](const FetchHeaders& headers) {
        if (headers.status != 200) {
            problem = "the server answered " + std::to_string(headers.status) + " for " + url;
        } else if (isHtml(headers)) {
            problem = "the server answered with an HTML page for " + url;
        } else if (headers.contentLength > static_cast<int64_t>(limit)) {
            problem = url + " is larger than " + std::to_string(limit) + " bytes";
        }
        return problem.empty();
    };
    fetch.onData = [&](const char* data, size_t size) {
        if (body.size() + size > limit) {
            problem = url + " is larger than " + std::to_string(limit) + " bytes";
            return false;
        }
        body.append(data, size);
        return true;
    };
    std::string error = fetchUrl(fetch);
    return !error.empty() ? error : problem;
}

// Whether the installed file at relative holds exactly file's bytes.
static bool installedAlready(const std::string& app, const FeedFile& file) {
    std::string path = pathBelow(app, file.path);
    std::string hex;
    return !isLinkOrReparsePoint(path) && fileSize(path) == file.size && fileSha256(path, hex).empty() &&
           hex == file.sha256;
}

// A path of the manifest must not pass through a link or junction inside the
// app folder: a move through it would land outside.
static std::string linkOnTheWay(const std::string& app, const std::string& relative) {
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        if (isLinkOrReparsePoint(pathBelow(app, relative.substr(0, slash)))) {
            return relative + " passes through the link " + relative.substr(0, slash);
        }
    }
    return "";
}

std::string fetchOffer(const std::string& app, const FeedManifest& installed, int64_t deadline, Offer& offer,
                       bool& upToDate) {
    std::string url, key, signature;
    std::string error = feedUrl(app, url);
    if (error.empty()) {
        error = readSmallFile(app, updateKeyName, 64 * 1024, key);
    }
    if (error.empty()) {
        error = fetchSmall(url + feedSignatureName, feedSignatureLimit, deadline, signature);
    }
    if (error.empty()) {
        error = fetchSmall(url + feedManifestName, feedManifestLimit, deadline, offer.text);
    }
    if (!error.empty()) {
        return error;
    }
    // Nothing of the manifest is read before its signature holds.
    if (!signatureValid(key, offer.text, signature)) {
        return "the feed's manifest is not signed by this installation's key (" + std::string(updateKeyName) + ")";
    }
    FeedManifest& offered = offer.manifest;
    error = readFeedManifest(offer.text, offered);
    if (!error.empty()) {
        return "the feed's manifest: " + error;
    }
    if (offered.product != installed.product) {
        return "the feed is for the product \"" + offered.product + "\", not \"" + installed.product + "\"";
    }
    int order = compareVersions(offered.version, installed.version);
    if (order < 0) {
        return "the feed offers " + offered.version + ", older than the installed " + installed.version;
    }
    if (offered.expires <= secondsNow()) {
        return "the feed's manifest expired at " + utcTimeText(offered.expires);
    }
    std::string rolledBack;
    offer.rolledBack = readWholeFile(rolledBackPathOf(app), 64, rolledBack).empty() && rolledBack == offered.version;
    upToDate = order == 0 || offer.rolledBack;
    for (const FeedFile& file : offered.files) {
        if (isUpdateOwnFile(file.path) || foldedCase(file.path) == foldedCase(updateInstalledName)) {
            return "the feed's manifest names " + file.path + ", which only the updater writes";
        }
        error = linkOnTheWay(app, file.path);
        if (!error.empty()) {
            return error;
        }
        if (!upToDate && !installedAlready(app, file)) {
            offer.downloads.push_back(file);
            offer.downloadBytes += file.size;
        }
    }
    return "";
}

// One file from the feed into download/SHA.part, resuming a part an earlier
// try left when the server still has the same file (If-Range on its ETag).
static std::string download(const std::string& app, const std::string& url, const std::string& version,
                            const FeedFile& file, int64_t& doneBefore, int64_t total) {
    std::string part = downloadPathOf(app, file.sha256);
    std::string etagPath = part.substr(0, part.size() - 5) + ".etag";
    std::string problem;
    Outcome stalled = {version, "failed",
                       "the download of " + file.path + " stalled for " + std::to_string(stallSeconds) + " s"};
    for (int attempt = 0; attempt < downloadTries; ++attempt) {
        int64_t have = std::max<int64_t>(0, fileSize(part));
        std::string etag;
        if (have > 0 && !readWholeFile(etagPath, 1024, etag).empty()) {
            have = 0;
        }
        if (have == file.size) {
            std::string hex;
            if (fileSha256(part, hex).empty() && hex == file.sha256) {
                doneBefore += file.size;
                return "";
            }
            have = 0;
        }
        if (have > file.size) {
            have = 0;
        }
        Fetch fetch;
        fetch.url = url + feedFilesFolder + "/" + file.sha256;
        fetch.from = have;
        fetch.ifRange = etag;
        // A large file on a slow line takes long; a stall is bounded by giveUpAfter.
        fetch.timeoutSeconds = downloadSeconds;
        int64_t written = have;
        problem.clear();
        bool startOver = false;
        fetch.onHeaders = [&](const FetchHeaders& headers) {
            if (headers.status == 206 && have > 0) {
                return true;
            }
            // The part is not a start of the server's file (it is shorter).
            if (headers.status == 416 && have > 0) {
                startOver = true;
                return false;
            }
            if (headers.status != 200) {
                problem = "the server answered " + std::to_string(headers.status) + " for " + file.path;
                return false;
            }
            if (isHtml(headers)) {
                problem = "the server answered with an HTML page for " + file.path;
                return false;
            }
            written = 0;
            problem = truncateFile(part, 0);
            if (problem.empty() && !headers.etag.empty()) {
                problem = writeFileDurably(etagPath, headers.etag);
            }
            return problem.empty();
        };
        giveUpAfter(stallSeconds, app, stalled);
        fetch.onData = [&](const char* data, size_t size) {
            giveUpAfter(stallSeconds, app, stalled);
            if (written + static_cast<int64_t>(size) > file.size) {
                problem = file.path + " is larger than the manifest says (" + std::to_string(file.size) + " bytes)";
                return false;
            }
            if (cancelRequested()) {
                problem = "cancelled";
                return false;
            }
            problem = appendToFile(part, data, size);
            written += static_cast<int64_t>(size);
            showProgress(doneBefore + written, total);
            return problem.empty();
        };
        std::string error = fetchUrl(fetch);
        if (startOver) {
            removeFile(part, lockedFileRetrySeconds);
            problem = file.path + " arrived cut short (" + std::to_string(have) + " of " + std::to_string(file.size) +
                      " bytes)";
            continue;
        }
        if (problem == "cancelled" || (!problem.empty() && error.empty())) {
            removeFile(part, lockedFileRetrySeconds);
            return problem;
        }
        if (error.empty() && written == file.size) {
            std::string hex;
            error = fileSha256(part, hex);
            if (error.empty() && hex != file.sha256) {
                removeFile(part, lockedFileRetrySeconds);
                return file.path + " does not match the manifest's SHA-256 (tampered or damaged on the way)";
            }
            doneBefore += file.size;
            return error;
        }
        problem = error.empty() ? file.path + " arrived cut short (" + std::to_string(written) + " of " +
                                      std::to_string(file.size) + " bytes)"
                                : error;
    }
    return problem;
}

std::string stageOffer(const std::string& app, const Offer& offer) {
    std::string url;
    std::string error = feedUrl(app, url);
    std::string state = pathBelow(app, updateStateName);
    if (error.empty()) {
        error = makeFolders(pathBelow(app, std::string(updateStateName) + "/download"));
    }
    int64_t free = 0;
    if (error.empty()) {
        error = freeBytes(state, free);
    }
    // Room for the downloads and for the new files moved beside the old ones.
    int64_t needed = offer.downloadBytes + freeSpaceMargin;
    if (error.empty() && free < needed) {
        error = "not enough free disk space: the update needs " + std::to_string(needed / 1000000 + 1) +
                " MB, the disk has " + std::to_string(free / 1000000) + " MB free";
    }
    int64_t done = 0;
    for (size_t i = 0; i < offer.downloads.size() && error.empty(); ++i) {
        const FeedFile& file = offer.downloads[i];
        std::string part = downloadPathOf(app, file.sha256);
        // The same content at two paths downloads once.
        bool first = std::none_of(offer.downloads.begin(), offer.downloads.begin() + i,
                                  [&](const FeedFile& other) { return other.sha256 == file.sha256; });
        if (first) {
            error = download(app, url, offer.manifest.version, file, done, offer.downloadBytes);
        }
    }
    setDeadline(0, nullptr);
    // Staged under new/ only when every file is here and checked.
    for (size_t i = 0; i < offer.downloads.size() && error.empty(); ++i) {
        const FeedFile& file = offer.downloads[i];
        std::string staged = stagedPathOf(app, file.path);
        error = makeFolders(staged.substr(0, staged.find_last_of("/\\")));
        if (error.empty()) {
            error = removeFile(staged, lockedFileRetrySeconds);
        }
        bool last = std::none_of(offer.downloads.begin() + i + 1, offer.downloads.end(),
                                 [&](const FeedFile& other) { return other.sha256 == file.sha256; });
        if (error.empty() && !last) {
            std::string bytes;
            error = readWholeFile(downloadPathOf(app, file.sha256), static_cast<size_t>(file.size), bytes);
            if (error.empty()) {
                error = writeFileDurably(staged, bytes);
            }
        } else if (error.empty()) {
            error = moveFile(downloadPathOf(app, file.sha256), staged, lockedFileRetrySeconds);
        }
    }
    return error;
}
