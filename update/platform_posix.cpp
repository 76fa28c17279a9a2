#include "platform.hpp"

#include "owned_file.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A rename or a new name is on disk once its folder is.
int syncFolder(const std::string& folder) {
    Descriptor dir{open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    return dir.fd >= 0 ? fsync(dir.fd) : -1;
}

std::string hexOf(const unsigned char* digest, unsigned size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

// Runs step until it succeeds or fails for a reason other than a busy file;
// a busy file is tried again for up to retrySeconds. errno tells the last
// failure.
template <typename Step>
int retryWhileBusy(int retrySeconds, Step step) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(retrySeconds);
    for (;;) {
        int result = step();
        if (result == 0 || (errno != EBUSY && errno != ETXTBSY) || std::chrono::steady_clock::now() >= giveUp) {
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Where renameat2 is missing: a hard link cannot replace either, so for a
// file it is link then unlink; a folder is renamed after a look for the target.
int moveWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    struct stat info;
    if (lstat(from, &info) != 0) {
        return -1;
    }
    if (!S_ISDIR(info.st_mode)) {
        return link(from, to) == 0 ? unlink(from) : -1;
    }
    if (lstat(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

}  // namespace

std::string ownProgramPath() {
    std::string path(4096, '\0');
    ssize_t size = readlink("/proc/self/exe", &path[0], path.size());
    path.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return path;
}

std::string environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

void printLine(FILE* stream, const std::string& line) {
    std::fputs((line + "\n").c_str(), stream);
    std::fflush(stream);
}

int64_t secondsNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

void dieNow() {
    _exit(137);
}

namespace {

// Never destroyed: at exit the watching thread still waits on it, and
// destroying a condition variable that has a waiter blocks for ever.
struct Deadline {
    std::mutex lock;
    std::condition_variable changed;
    std::chrono::steady_clock::time_point at;
    bool set = false;
    std::function<int()> expiry;
};
Deadline& deadline = *new Deadline;

void watchDeadline() {
    std::unique_lock<std::mutex> lock(deadline.lock);
    for (;;) {
        if (!deadline.set) {
            deadline.changed.wait(lock);
        } else if (deadline.changed.wait_until(lock, deadline.at) == std::cv_status::timeout && deadline.set &&
                   std::chrono::steady_clock::now() >= deadline.at) {
            int code = deadline.expiry();
            std::fflush(stdout);
            _exit(code);
        }
    }
}

}  // namespace

void setDeadline(int seconds, std::function<int()> onExpiry) {
    static std::once_flag started;
    std::call_once(started, [] { std::thread(watchDeadline).detach(); });
    std::lock_guard<std::mutex> lock(deadline.lock);
    deadline.set = seconds > 0;
    deadline.at = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    deadline.expiry = std::move(onExpiry);
    deadline.changed.notify_all();
}

std::string lockForThisProcess(const std::string& path) {
    // The descriptor stays open until the process ends.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errorText();
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        std::string why = errno == EWOULDBLOCK ? "another update of this app is running" : errorText();
        close(fd);
        return why;
    }
    return "";
}

// --- Hashes and signatures ---

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr)) {
        return "";
    }
    return hexOf(digest, size);
}

std::string fileSha256(const std::string& path, std::string& hex) {
    hex.clear();
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        return errno == ELOOP ? "it is a link" : errorText();
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || !EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr)) {
        return "SHA-256 is not available";
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = read(file.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errorText();
        }
        if (got == 0) {
            break;
        }
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    hex = hexOf(digest, size);
    return "";
}

bool signatureValid(const std::string& publicKeyPem, const std::string& data, const std::string& signature) {
    std::unique_ptr<BIO, int (*)(BIO*)> text(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())),
                                              BIO_free);
    if (!text) {
        return false;
    }
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(PEM_read_bio_PUBKEY(text.get(), nullptr, nullptr, nullptr),
                                                        EVP_PKEY_free);
    // Only RSA: another kind of key would verify another kind of signature.
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX* keyContext = nullptr;
    return context && EVP_DigestVerifyInit(context.get(), &keyContext, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

// --- Transport ---

namespace {

struct Transfer {
    const Fetch* fetch;
    CURL* curl;
    FetchHeaders headers;
    bool headersGiven = false;
    bool stopped = false;  // a callback said stop
};

bool startsWithNoCase(const std::string& text, const char* prefix) {
    size_t length = std::strlen(prefix);
    return text.size() >= length && strncasecmp(text.data(), prefix, length) == 0;
}

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Every response (each redirect's too) starts with its status line, so the
// fields kept are the last response's.
size_t onHeaderLine(char* data, size_t, size_t size, void* context) {
    Transfer& transfer = *static_cast<Transfer*>(context);
    std::string line(data, size);
    if (startsWithNoCase(line, "HTTP/")) {
        transfer.headers = FetchHeaders();
    } else if (startsWithNoCase(line, "ETag:")) {
        transfer.headers.etag = trimmed(line.substr(5));
    } else if (startsWithNoCase(line, "Content-Type:")) {
        transfer.headers.contentType = trimmed(line.substr(13));
    } else if (startsWithNoCase(line, "Content-Length:")) {
        std::string value = trimmed(line.substr(15));
        char* end = nullptr;
        long long length = std::strtoll(value.c_str(), &end, 10);
        transfer.headers.contentLength = !value.empty() && *end == '\0' && length >= 0 ? length : -1;
    }
    return size;
}

bool giveHeaders(Transfer& transfer) {
    if (transfer.headersGiven) {
        return true;
    }
    transfer.headersGiven = true;
    long status = 0;
    curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
    transfer.headers.status = static_cast<int>(status);
    if (transfer.fetch->onHeaders && !transfer.fetch->onHeaders(transfer.headers)) {
        transfer.stopped = true;
        return false;
    }
    return true;
}

// The body of the final response only: libcurl keeps redirects' bodies to itself.
size_t onBody(char* data, size_t, size_t size, void* context) {
    Transfer& transfer = *static_cast<Transfer*>(context);
    if (!giveHeaders(transfer)) {
        return 0;
    }
    if (size > 0 && transfer.fetch->onData && !transfer.fetch->onData(data, size)) {
        transfer.stopped = true;
        return 0;
    }
    return size;
}

std::string hostOf(const char* url) {
    std::string host = "the server";
    CURLU* parts = curl_url();
    char* name = nullptr;
    if (parts && url && curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &name, 0) == CURLUE_OK) {
        host = name;
        curl_free(name);
    }
    curl_url_cleanup(parts);
    return host;
}

}  // namespace

std::string fetchUrl(const Fetch& fetch) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        return "the download could not start";
    }
    Transfer transfer{&fetch, curl.get(), FetchHeaders(), false, false};
    char message[CURL_ERROR_SIZE] = "";
    curl_slist* extraHeaders = nullptr;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> extraHeadersOwner(nullptr, curl_slist_free_all);
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, fetch.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(fetch.timeoutSeconds));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "update");
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeaderLine);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    std::string range = std::to_string(fetch.from) + "-";
    if (fetch.from > 0) {
        curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
        if (!fetch.ifRange.empty()) {
            extraHeaders = curl_slist_append(extraHeaders, ("If-Range: " + fetch.ifRange).c_str());
            extraHeadersOwner.reset(extraHeaders);
            curl_easy_setopt(c, CURLOPT_HTTPHEADER, extraHeaders);
        }
    }

    CURLcode result = curl_easy_perform(c);
    if (result == CURLE_OK) {
        giveHeaders(transfer);
        return "";
    }
    if (transfer.stopped) {
        return "";
    }
    char* lastUrl = nullptr;
    curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &lastUrl);
    std::string host = hostOf(lastUrl ? lastUrl : fetch.url.c_str());
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return "no connection to " + host;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "no connection to the proxy";
    case CURLE_OPERATION_TIMEDOUT:
        return "timed out after " + std::to_string(fetch.timeoutSeconds) + " s";
    case CURLE_TOO_MANY_REDIRECTS:
        return "too many redirects";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "the certificate of " + host + " is not trusted";
    case CURLE_SSL_CONNECT_ERROR:
        return "no secure connection to " + host;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return "the connection to " + host + " broke off";
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return "not an http or https address: " + fetch.url;
    default:
        return "download from " + host + " failed: " + (message[0] ? message : curl_easy_strerror(result));
    }
}

// --- Files ---

bool pathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool isLinkOrReparsePoint(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string readWholeFile(const std::string& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        return errorText();
    }
    if (S_ISDIR(info.st_mode)) {
        return "it is a folder";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return "it is larger than " + std::to_string(maxBytes) + " bytes";
    }
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = read(file.fd, &bytes[done], bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            std::string problem = got < 0 ? errorText() : "it became shorter while being read";
            bytes.clear();
            return problem;
        }
        done += static_cast<size_t>(got);
    }
    return "";
}

namespace {

std::string writeAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = write(fd, data + done, size - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0) {
            return errorText();
        }
        done += static_cast<size_t>(wrote);
    }
    return "";
}

}  // namespace

std::string writeFileDurably(const std::string& path, const std::string& bytes) {
    std::string temporary;
    Descriptor file{-1};
    for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
        temporary = path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        file.fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST) {
            return errorText();
        }
    }
    if (file.fd < 0) {
        return errorText();
    }
    std::string problem = writeAll(file.fd, bytes.data(), bytes.size());
    if (problem.empty() && fsync(file.fd) != 0) {
        problem = errorText();
    }
    if (problem.empty() && rename(temporary.c_str(), path.c_str()) != 0) {
        problem = errorText();
    }
    if (!problem.empty()) {
        unlink(temporary.c_str());
        return problem;
    }
    return syncFolder(folderOf(path)) == 0 ? "" : errorText();
}

std::string appendToFile(const std::string& path, const char* data, size_t size) {
    Descriptor file{open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666)};
    if (file.fd < 0) {
        return errorText();
    }
    return writeAll(file.fd, data, size);
}

std::string truncateFile(const std::string& path, int64_t size) {
    Descriptor file{open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666)};
    if (file.fd < 0 || ftruncate(file.fd, static_cast<off_t>(size)) != 0) {
        return errorText();
    }
    return "";
}

int64_t fileSize(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : -1;
}

std::string moveFile(const std::string& from, const std::string& to, int retrySeconds) {
    int result = retryWhileBusy(retrySeconds, [&] { return moveWithoutReplacing(from.c_str(), to.c_str()); });
    if (result != 0) {
        return errno == EEXIST ? "there is already a file named so" : errorText();
    }
    std::string fromFolder = folderOf(from);
    std::string toFolder = folderOf(to);
    if (syncFolder(toFolder) != 0 || (fromFolder != toFolder && syncFolder(fromFolder) != 0)) {
        return errorText();
    }
    return "";
}

std::string removeFile(const std::string& path, int retrySeconds) {
    int result = retryWhileBusy(retrySeconds, [&] { return unlink(path.c_str()); });
    if (result != 0 && errno != ENOENT) {
        return errno == EISDIR ? "it is a folder" : errorText();
    }
    return result == 0 && syncFolder(folderOf(path)) != 0 ? errorText() : "";
}

std::string makeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        struct stat info;
        if (!part.empty() && mkdir(part.c_str(), 0777) != 0 &&
            (errno != EEXIST || stat(part.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
            return part + ": " + (errno == EEXIST ? "it is not a folder" : errorText());
        }
        if (slash == std::string::npos) {
            return "";
        }
    }
}

void removeEmptyFolder(const std::string& path) {
    rmdir(path.c_str());
}

std::string listFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path.c_str()), closedir);
    if (!folder) {
        return errorText();
    }
    errno = 0;
    while (dirent* entry = readdir(folder.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = lstat((path + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back({name, isFolder});
        errno = 0;
    }
    if (errno != 0) {
        return errorText();
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return "";
}

std::string freeBytes(const std::string& path, int64_t& bytes) {
    struct statvfs info;
    if (statvfs(path.c_str(), &info) != 0) {
        bytes = 0;
        return errorText();
    }
    bytes = static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
    return "";
}

std::string recordInstalledVersion(const std::string&, const std::string&, int64_t) {
    return "";
}

// --- The progress window: none here ---

bool japaneseUserInterface() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = environmentValue(name);
        if (!value.empty()) {
            return value.compare(0, 2, "ja") == 0;
        }
    }
    return false;
}

void openProgressWindow(const std::string&, const std::string&) {}

void showProgress(int64_t, int64_t) {}

bool cancelRequested() {
    return false;
}

void closeProgressWindow() {}
