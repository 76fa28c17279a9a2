#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The manifest of one version in an update feed: what makesetup writes and
// signs, and what update reads once the signature holds. Also the record of
// the installed version (updater/update-installed.txt), in the same form.
//
//   launcher-update 1
//   product ID
//   version 2.0.0
//   released 2026-12-09T10:00:00Z
//   expires 2027-12-09T10:00:00Z
//   code lib                      (a top folder an update replaces whole)
//   file 123456 <sha256 hex> lib/app.jar
//
// Lines end in "\n", fields are separated by one blank, paths are UTF-8 with
// "/" between names, files sorted by path. The text is signed as it stands.

// The feed's layout below its URL.
extern const char feedManifestName[];   // "manifest.txt"
extern const char feedSignatureName[];  // "manifest.sig": RSA PKCS #1 v1.5 over SHA-256, raw bytes
extern const char feedFilesFolder[];    // "files": each file once, named by its SHA-256 hex

// The largest manifest or signature update reads.
const size_t feedManifestLimit = 8 * 1024 * 1024;
const size_t feedSignatureLimit = 4096;

struct FeedFile {
    std::string path;
    int64_t size = 0;
    std::string sha256;
};

struct FeedManifest {
    std::string product;
    std::string version;
    int64_t released = 0;  // seconds since the Unix epoch, UTC
    int64_t expires = 0;
    std::vector<std::string> codeFolders;
    std::vector<FeedFile> files;
};

// The manifest's text.
std::string feedManifestText(const FeedManifest& manifest);

// Reads text into manifest. Returns "" or what is wrong with it, naming the
// line ("line 7: ..."). A file path that would leave the install folder
// (feedPathProblem), a hash that is not 64 hex digits, a path twice (on
// Windows' terms: case folded) or a bad version is an error.
std::string readFeedManifest(const std::string& text, FeedManifest& manifest);

// Why path cannot name a file inside the install folder, or "": empty, absolute,
// a drive or "\", a "." or ".." name, a Windows device name (CON, NUL, COM1, ...),
// a name Windows cannot hold.
std::string feedPathProblem(const std::string& path);

// Compares dotted versions of digits ("1.2" < "1.10" and "2.0" == "2.0.0"):
// < 0, 0 or > 0. Both must be valid versions (validVersion).
int compareVersions(const std::string& a, const std::string& b);
bool validVersion(const std::string& version);

// Times in the manifest's form, "2026-12-09T10:00:00Z", and back (-1 for bad text).
std::string utcTimeText(int64_t seconds);
int64_t utcTimeSeconds(const std::string& text);

// The total size of the files.
int64_t feedBytes(const FeedManifest& manifest);
