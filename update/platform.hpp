#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The operating system's side of update, one source file per platform
// (platform_windows.cpp: WinHTTP, BCrypt, the wide file API and a small
// window; platform_posix.cpp: libcurl and OpenSSL). Paths and texts are UTF-8
// throughout; on Windows they become wide text at the calls. Every function
// that can fail returns "" or why it failed, in words a user can read.

// The program itself, given its arguments (without the program name) as UTF-8.
int updateMain(const std::vector<std::string>& args);

// The full path of the running program.
std::string ownProgramPath();

// The value of an environment variable, "" when it is not set.
std::string environmentValue(const std::string& name);

// One line to standard output or error, shown correctly whatever its letters.
void printLine(FILE* stream, const std::string& line);

// Seconds since the Unix epoch, from the system clock.
int64_t secondsNow();

// Ends the process at once, as a crash or a kill would: no clean-up, no
// flushing. Only the fault points of test builds call it.
[[noreturn]] void dieNow();

// A deadline for the whole process, the one bound that holds whatever a
// transport does (its timeouts bound each step, not the sum). When seconds pass before the next call, onExpiry runs on
// another thread and the process ends with the exit code it returns; nothing
// else of the program runs after it. Each call sets a new deadline; 0 lifts it.
void setDeadline(int seconds, std::function<int()> onExpiry);

// Locks the file at path (created when missing) for this process alone, until
// it ends. Fails at once when another process holds it.
std::string lockForThisProcess(const std::string& path);

// --- Hashes and signatures (never hand-written: the OS's or OpenSSL's) ---

// The SHA-256 of bytes in lower-case hex.
std::string sha256Hex(const std::string& bytes);

// Fills hex with the SHA-256 of the file's whole content, in lower-case hex.
std::string fileSha256(const std::string& path, std::string& hex);

// Whether signature is an RSA signature (PKCS #1 v1.5, SHA-256) of data by the
// public key in publicKeyPem ("-----BEGIN PUBLIC KEY-----", SubjectPublicKeyInfo).
// A key that cannot be read verifies nothing.
bool signatureValid(const std::string& publicKeyPem, const std::string& data, const std::string& signature);

// --- Transport ---

// What a server answered, known before its body arrives.
struct FetchHeaders {
    int status = 0;            // the final status, after redirects
    std::string etag;          // "" when the server sent none
    std::string contentType;
    int64_t contentLength = -1;  // -1 when not given
};

struct Fetch {
    std::string url;            // http:// or https://
    int64_t from = 0;           // > 0: ask for the bytes from here on (Range)
    std::string ifRange;        // with from: the ETag the earlier bytes came with (If-Range)
    int timeoutSeconds = 30;    // the whole request, connecting included
    // Called once with the final response's headers; false stops the transfer.
    std::function<bool(const FetchHeaders&)> onHeaders;
    // Called with each piece of the body; false stops the transfer.
    std::function<bool(const char* data, size_t size)> onData;
};

// Sends a GET as the user's own programs would: on Windows through WinHTTP
// with the user's proxy settings (automatic configuration included) and the
// Windows certificate store; elsewhere through libcurl, with its proxy
// variables (http_proxy, https_proxy, no_proxy). Redirects are followed, at
// most 5. Returns "" when a response arrived whole (any status; a callback
// that said stop counts as whole), else why not ("no connection to
// updates.example.com", "timed out after 30 s", "too many redirects", ...).
std::string fetchUrl(const Fetch& fetch);

// --- Files ---

// Whether path names an existing file, folder or link (not followed).
bool pathExists(const std::string& path);

// Whether path itself is a symbolic link, junction or other reparse point.
bool isLinkOrReparsePoint(const std::string& path);

// Reads a whole regular file of at most maxBytes.
std::string readWholeFile(const std::string& path, size_t maxBytes, std::string& bytes);

// Writes bytes to path whole or not at all, and on disk when it returns: a new
// file beside it, flushed, then renamed over path (write-through).
std::string writeFileDurably(const std::string& path, const std::string& bytes);

// Appends bytes to path (created when missing).
std::string appendToFile(const std::string& path, const char* data, size_t size);

// Truncates path to size bytes (0 creates an empty file).
std::string truncateFile(const std::string& path, int64_t size);

// The file's size, or -1 when it is not a regular file.
int64_t fileSize(const std::string& path);

// Moves a file or an empty folder from one path to another on the same
// volume, never replacing: fails when to exists. The move is on disk when it
// returns (write-through). A running exe can be moved. While from or to is
// locked (a virus scanner, an open file) it is retried for up to
// retrySeconds.
std::string moveFile(const std::string& from, const std::string& to, int retrySeconds);

// Removes a file, or a link itself (never what it points to). Retried like
// moveFile. A missing file is no error.
std::string removeFile(const std::string& path, int retrySeconds);

// Creates path and the folders above it that are missing.
std::string makeFolders(const std::string& path);

// Removes an empty folder; a folder that is not empty or missing is no error.
void removeEmptyFolder(const std::string& path);

// The names in a folder, "." and ".." left out, with whether each is a folder
// (a link or reparse point counts as a file: it is never entered).
struct FolderEntry {
    std::string name;
    bool folder;
};
std::string listFolder(const std::string& path, std::vector<FolderEntry>& entries);

// The bytes free for this user on the volume that holds path.
std::string freeBytes(const std::string& path, int64_t& bytes);

// Stores the installed version and its size in the product's entry in
// "Apps & features" (HKCU ...\Uninstall\productId: DisplayVersion,
// EstimatedSize in KB), when that entry exists. Elsewhere nothing.
std::string recordInstalledVersion(const std::string& productId, const std::string& version, int64_t bytes);

// --- The progress window ---

// Whether the user's Windows speaks Japanese (its user interface language).
// Elsewhere: whether LC_ALL, LC_MESSAGES or LANG starts with "ja".
bool japaneseUserInterface();

// Opens the window on a thread of its own: the product name, the line
// status, a progress bar and Cancel. Elsewhere nothing is shown.
void openProgressWindow(const std::string& product, const std::string& status);
// done of total bytes; total 0 shows a bar that moves without a measure.
void showProgress(int64_t done, int64_t total);
// Whether the user pressed Cancel or closed the window.
bool cancelRequested();
void closeProgressWindow();
