#include "platform.hpp"

#include "base.hpp"
#include "owned_file.hpp"

#include <windows.h>

#include <bcrypt.h>
#include <commctrl.h>
#include <versionhelpers.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

namespace {

// Wide text for the file API; a path too long for the plain form gets the
// \\?\ form, which takes backslashes only.
std::wstring widePath(const std::string& path) {
    std::wstring wide = utf8ToWString(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.size() < 240 || wide.compare(0, 4, L"\\\\?\\") == 0) {
        return wide;
    }
    if (wide.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + wide.substr(2);
    }
    if (wide.size() > 2 && wide[1] == L':') {
        return L"\\\\?\\" + wide;
    }
    return wide;
}

// Runs step until it succeeds or fails for a reason other than another
// program holding the file (a virus scanner, an open editor); that is tried
// again for up to retrySeconds. Returns 0 or the last error.
template <typename Step>
DWORD retryWhileHeld(int retrySeconds, Step step) {
    ULONGLONG giveUp = GetTickCount64() + static_cast<ULONGLONG>(retrySeconds) * 1000;
    for (;;) {
        if (step()) {
            return 0;
        }
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!held || GetTickCount64() >= giveUp) {
            return error;
        }
        Sleep(100);
    }
}

std::string hexOf(const unsigned char* digest, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

// One SHA-256 computation through BCrypt. Windows 7 wants the hash object's
// memory from the caller.
struct Sha256 {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<unsigned char> object;

    bool start() {
        DWORD objectSize = 0;
        DWORD got = 0;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
            !BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                              sizeof objectSize, &got, 0))) {
            return false;
        }
        object.resize(objectSize);
        return BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, object.data(), objectSize, nullptr, 0, 0));
    }
    bool add(const void* data, size_t size) {
        return BCRYPT_SUCCESS(
            BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0));
    }
    bool finish(unsigned char (&digest)[32]) {
        return BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    }
    ~Sha256() {
        if (hash) {
            BCryptDestroyHash(hash);
        }
        if (algorithm) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

}  // namespace

std::string ownProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) {
            return "";
        }
        if (size < path.size()) {
            return wstringToUtf8(std::wstring(path.data(), size));
        }
        path.resize(path.size() * 2);
    }
}

std::string environmentValue(const std::string& name) {
    std::wstring wideName = utf8ToWString(name);
    DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return "";
    }
    std::vector<wchar_t> value(size);
    size = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    return wstringToUtf8(std::wstring(value.data(), size));
}

// A console shows wide text as it is; a pipe (the app's ProcessBuilder) or a
// file gets UTF-8, written to the handle itself: a GUI program's C runtime
// may have no stream on it.
void printLine(FILE* stream, const std::string& line) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring wide = utf8ToWString(line + "\n");
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::string bytes = line + "\r\n";
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int64_t secondsNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // 100 ns ticks since 1601 to seconds since 1970.
    return static_cast<int64_t>((ticks.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

void dieNow() {
    TerminateProcess(GetCurrentProcess(), 9);
    ExitProcess(9);
}

namespace {

CRITICAL_SECTION deadlineLock;
HANDLE deadlineChanged = NULL;
ULONGLONG deadlineAt = 0;  // 0: none
std::function<int()> deadlineExpiry;

DWORD WINAPI watchDeadline(LPVOID) {
    for (;;) {
        EnterCriticalSection(&deadlineLock);
        ULONGLONG at = deadlineAt;
        ULONGLONG now = GetTickCount64();
        if (at != 0 && now >= at) {
            // The lock stays held: no new deadline, and the process ends here,
            // without the DLLs' clean-up, which the thread stuck in a
            // transport call would meet half-way.
            TerminateProcess(GetCurrentProcess(), static_cast<UINT>(deadlineExpiry()));
        }
        LeaveCriticalSection(&deadlineLock);
        WaitForSingleObject(deadlineChanged, at == 0 ? INFINITE : static_cast<DWORD>(at - now));
    }
}

}  // namespace

void setDeadline(int seconds, std::function<int()> onExpiry) {
    if (deadlineChanged == NULL) {
        InitializeCriticalSection(&deadlineLock);
        deadlineChanged = CreateEventW(NULL, FALSE, FALSE, NULL);
        HANDLE thread = CreateThread(NULL, 0, watchDeadline, NULL, 0, NULL);
        if (thread != NULL) {
            CloseHandle(thread);
        }
    }
    EnterCriticalSection(&deadlineLock);
    deadlineAt = seconds > 0 ? GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000 : 0;
    deadlineExpiry = std::move(onExpiry);
    LeaveCriticalSection(&deadlineLock);
    SetEvent(deadlineChanged);
}

std::string lockForThisProcess(const std::string& path) {
    // Shared with nobody; the handle stays open until the process ends.
    HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        return "";
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION ? "another update of this app is running" : errorText(error);
}

// --- Hashes and signatures ---

std::string sha256Hex(const std::string& bytes) {
    Sha256 sha;
    unsigned char digest[32];
    if (!sha.start() || !sha.add(bytes.data(), bytes.size()) || !sha.finish(digest)) {
        return "";
    }
    return hexOf(digest, sizeof digest);
}

std::string fileSha256(const std::string& path, std::string& hex) {
    hex.clear();
    std::wstring wide = widePath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return "it is a link";
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    FileHandle file{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        return errorText(GetLastError());
    }
    Sha256 sha;
    if (!sha.start()) {
        return "SHA-256 is not available";
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return errorText(GetLastError());
        }
        if (got == 0) {
            break;
        }
        sha.add(buffer.data(), got);
    }
    unsigned char digest[32];
    if (!sha.finish(digest)) {
        return "SHA-256 is not available";
    }
    hex = hexOf(digest, sizeof digest);
    return "";
}

bool signatureValid(const std::string& publicKeyPem, const std::string& data, const std::string& signature) {
    DWORD derSize = 0;
    if (!CryptStringToBinaryA(publicKeyPem.data(), static_cast<DWORD>(publicKeyPem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &derSize, nullptr, nullptr)) {
        return false;
    }
    std::vector<BYTE> der(derSize);
    if (!CryptStringToBinaryA(publicKeyPem.data(), static_cast<DWORD>(publicKeyPem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &derSize, nullptr, nullptr)) {
        return false;
    }
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &info, &infoSize)) {
        return false;
    }
    // Only RSA: another kind of key would verify another kind of signature.
    BCRYPT_KEY_HANDLE key = nullptr;
    bool imported = std::string(info->Algorithm.pszObjId ? info->Algorithm.pszObjId : "") == szOID_RSA_RSA &&
                    CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key);
    LocalFree(info);
    if (!imported) {
        return false;
    }
    unsigned char digest[32];
    Sha256 sha;
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    bool valid = sha.start() && sha.add(data.data(), data.size()) && sha.finish(digest) &&
                 BCRYPT_SUCCESS(BCryptVerifySignature(
                     key, &padding, digest, sizeof digest,
                     reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data())),
                     static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1));
    BCryptDestroyKey(key);
    return valid;
}

// --- Transport ---

namespace {

// Closes a WinHTTP handle when the function that opened it returns.
struct InternetHandle {
    HINTERNET handle;
    ~InternetHandle() {
        if (handle) {
            WinHttpCloseHandle(handle);
        }
    }
};

// The user's proxy, as the browsers of Windows use it: automatic detection
// or a configuration script when set, else the fixed proxy and its bypass
// list. Empty: none. It is given to WinHttpOpen, the one place Wine takes a
// proxy from (it ignores WINHTTP_OPTION_PROXY).
struct Proxy {
    std::wstring server;
    std::wstring bypass;
};

Proxy usersProxy(const std::wstring& url, int timeoutMs) {
    Proxy proxy;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&settings)) {
        return proxy;
    }
    bool decided = false;
    if (settings.fAutoDetect || settings.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS automatic{};
        if (settings.lpszAutoConfigUrl) {
            automatic.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
            automatic.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
        }
        if (settings.fAutoDetect) {
            automatic.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            automatic.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        automatic.fAutoLogonIfChallenged = TRUE;
        InternetHandle lookup{WinHttpOpen(L"update", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                          WINHTTP_NO_PROXY_BYPASS, 0)};
        WINHTTP_PROXY_INFO found{};
        if (lookup.handle && WinHttpSetTimeouts(lookup.handle, timeoutMs, timeoutMs, timeoutMs, timeoutMs) &&
            WinHttpGetProxyForUrl(lookup.handle, url.c_str(), &automatic, &found)) {
            decided = true;
            if (found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && found.lpszProxy) {
                proxy.server = found.lpszProxy;
                proxy.bypass = found.lpszProxyBypass ? found.lpszProxyBypass : L"";
            }
            GlobalFree(found.lpszProxy);
            GlobalFree(found.lpszProxyBypass);
        }
    }
    if (!decided && settings.lpszProxy) {
        proxy.server = settings.lpszProxy;
        proxy.bypass = settings.lpszProxyBypass ? settings.lpszProxyBypass : L"";
    }
    GlobalFree(settings.lpszAutoConfigUrl);
    GlobalFree(settings.lpszProxy);
    GlobalFree(settings.lpszProxyBypass);
    return proxy;
}

// A response header as text, "" when the server sent none.
std::string headerText(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return "";
    }
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1);
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return "";
    }
    return wstringToUtf8(std::wstring(value.data(), size / sizeof(wchar_t)));
}

std::string fetchError(DWORD error, const std::string& host, const Fetch& fetch) {
    switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "no connection to " + host;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // Wine's WinHTTP passes the socket's own on
        return "timed out after " + std::to_string(fetch.timeoutSeconds) + " s";
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return "too many redirects";
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return "the certificate of " + host + " is not trusted";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return "no secure connection to " + host;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the connection to " + host + " broke off";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL:
        return "not an http or https address: " + fetch.url;
    default:
        return "download from " + host + " failed: Windows error " + std::to_string(error);
    }
}

}  // namespace

std::string fetchUrl(const Fetch& fetch) {
    std::wstring url = utf8ToWString(fetch.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        return "not an http or https address: " + fetch.url;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    std::string hostName = wstringToUtf8(host);

    // Each step may take what is left of the whole time.
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(fetch.timeoutSeconds) * 1000;
    auto leftMs = [&]() -> int {
        ULONGLONG now = GetTickCount64();
        return now >= deadline ? 1 : static_cast<int>(deadline - now);
    };

    Proxy proxy = usersProxy(url, leftMs());
    InternetHandle session{
        proxy.server.empty()
            ? WinHttpOpen(L"update", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
            : WinHttpOpen(L"update", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.server.c_str(),
                          proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.bypass.c_str(), 0)};
    if (!session.handle) {
        return fetchError(GetLastError(), hostName, fetch);
    }
    if (!proxy.server.empty()) {
        hostName += " through the proxy " + wstringToUtf8(proxy.server);
    }
    // Windows 7 speaks TLS 1.2 in WinHTTP only when asked; later ones by default.
    if (!IsWindows8OrGreater()) {
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    WinHttpSetTimeouts(session.handle, leftMs(), leftMs(), leftMs(), leftMs());
    InternetHandle connection{WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0)};
    if (!connection.handle) {
        return fetchError(GetLastError(), hostName, fetch);
    }
    InternetHandle request{WinHttpOpenRequest(connection.handle, L"GET", object.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)};
    if (!request.handle) {
        return fetchError(GetLastError(), hostName, fetch);
    }
    DWORD redirects = 5;
    WinHttpSetOption(request.handle, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
    std::wstring extraHeaders;
    if (fetch.from > 0) {
        extraHeaders = L"Range: bytes=" + std::to_wstring(fetch.from) + L"-\r\n";
        if (!fetch.ifRange.empty()) {
            extraHeaders += L"If-Range: " + utf8ToWString(fetch.ifRange) + L"\r\n";
        }
    }
    WinHttpSetTimeouts(request.handle, leftMs(), leftMs(), leftMs(), leftMs());
    // The wait for the response's headers has a limit of its own (Wine keeps it apart).
    DWORD responseMs = static_cast<DWORD>(leftMs());
    WinHttpSetOption(request.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof responseMs);
    if (!WinHttpSendRequest(request.handle, extraHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : extraHeaders.c_str(),
                            static_cast<DWORD>(extraHeaders.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr)) {
        return fetchError(GetLastError(), hostName, fetch);
    }

    FetchHeaders headers;
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    headers.status = static_cast<int>(status);
    // Redirects beyond the limit come back as the redirect itself.
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
        return "too many redirects";
    }
    headers.etag = headerText(request.handle, WINHTTP_QUERY_ETAG);
    headers.contentType = headerText(request.handle, WINHTTP_QUERY_CONTENT_TYPE);
    std::string length = headerText(request.handle, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty() && length.find_first_not_of("0123456789") == std::string::npos && length.size() < 19) {
        headers.contentLength = std::stoll(length);
    }
    if (fetch.onHeaders && !fetch.onHeaders(headers)) {
        return "";
    }

    std::vector<char> buffer(1 << 16);
    int64_t received = 0;
    for (;;) {
        WinHttpSetTimeouts(request.handle, leftMs(), leftMs(), leftMs(), leftMs());
        DWORD got = 0;
        if (!WinHttpReadData(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
            return fetchError(GetLastError(), hostName, fetch);
        }
        if (got == 0) {
            break;
        }
        received += got;
        if (fetch.onData && !fetch.onData(buffer.data(), got)) {
            return "";
        }
        if (GetTickCount64() >= deadline) {
            return fetchError(ERROR_WINHTTP_TIMEOUT, hostName, fetch);
        }
    }
    if (headers.contentLength >= 0 && received < headers.contentLength) {
        return fetchError(ERROR_WINHTTP_CONNECTION_ERROR, hostName, fetch);
    }
    return "";
}

// --- Files ---

bool pathExists(const std::string& path) {
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isLinkOrReparsePoint(const std::string& path) {
    DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string readWholeFile(const std::string& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    std::wstring wide = widePath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    FileHandle file{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    LARGE_INTEGER size;
    if (file.handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.handle, &size)) {
        return errorText(GetLastError());
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        return "it is larger than " + std::to_string(maxBytes) + " bytes";
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        bool read = ReadFile(file.handle, &bytes[done], static_cast<DWORD>(bytes.size() - done), &got, nullptr);
        if (!read || got == 0) {
            std::string problem = read ? "it became shorter while being read" : errorText(GetLastError());
            bytes.clear();
            return problem;
        }
        done += got;
    }
    return "";
}

namespace {

DWORD writeAll(HANDLE file, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD wrote = 0;
        DWORD piece = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 24));
        if (!WriteFile(file, data + done, piece, &wrote, nullptr)) {
            return GetLastError();
        }
        done += wrote;
    }
    return 0;
}

}  // namespace

std::string writeFileDurably(const std::string& path, const std::string& bytes) {
    std::wstring target = widePath(path);
    std::wstring temporary;
    FileHandle file{INVALID_HANDLE_VALUE};
    for (int attempt = 0; attempt < 100 && file.handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L".new-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        file.handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file.handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            return errorText(GetLastError());
        }
    }
    if (file.handle == INVALID_HANDLE_VALUE) {
        return errorText(GetLastError());
    }
    DWORD error = writeAll(file.handle, bytes.data(), bytes.size());
    if (error == 0 && !FlushFileBuffers(file.handle)) {
        error = GetLastError();
    }
    CloseHandle(file.handle);
    file.handle = INVALID_HANDLE_VALUE;
    if (error == 0 &&
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
        return errorText(error);
    }
    return "";
}

std::string appendToFile(const std::string& path, const char* data, size_t size) {
    FileHandle file{CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        return errorText(GetLastError());
    }
    DWORD error = writeAll(file.handle, data, size);
    return error == 0 ? "" : errorText(error);
}

std::string truncateFile(const std::string& path, int64_t size) {
    FileHandle file{CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (file.handle == INVALID_HANDLE_VALUE || !SetFilePointerEx(file.handle, end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(file.handle)) {
        return errorText(GetLastError());
    }
    return "";
}

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        return -1;
    }
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string moveFile(const std::string& from, const std::string& to, int retrySeconds) {
    std::wstring source = widePath(from);
    std::wstring target = widePath(to);
    DWORD error = retryWhileHeld(retrySeconds, [&] {
        return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    });
    return error == 0 ? "" : errorText(error);
}

std::string removeFile(const std::string& path, int retrySeconds) {
    std::wstring wide = widePath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "" : errorText(error);
    }
    bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if (folder && !link) {
        return "it is a folder";
    }
    // A read-only file is removed as any other: the update replaces it.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // A link to a folder is removed as a folder is: the link goes, never what it points to.
    DWORD error = retryWhileHeld(retrySeconds, [&] {
        return (folder ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())) != 0;
    });
    return error == 0 || error == ERROR_FILE_NOT_FOUND ? "" : errorText(error);
}

std::string makeFolders(const std::string& path) {
    std::string normal = path;
    std::replace(normal.begin(), normal.end(), '/', '\\');
    // Past the drive ("C:\") or the share ("\\server\share\"), which cannot be made.
    size_t start = 0;
    if (normal.compare(0, 2, "\\\\") == 0) {
        size_t server = normal.find('\\', 2);
        start = server == std::string::npos ? normal.size() : normal.find('\\', server + 1);
    } else if (normal.size() > 1 && normal[1] == ':') {
        start = 2;
    }
    for (size_t separator = normal.find('\\', start + 1);; separator = normal.find('\\', separator + 1)) {
        std::string part = normal.substr(0, separator);
        std::wstring wide = widePath(part);
        DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return part + ": " + errorText(GetLastError());
            }
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return part + ": it is not a folder";
        }
        if (separator == std::string::npos || separator + 1 == normal.size()) {
            return "";
        }
    }
}

void removeEmptyFolder(const std::string& path) {
    std::wstring wide = widePath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveDirectoryW(wide.c_str());
    }
}

std::string listFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(widePath(path + "\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return errorText(GetLastError());
    }
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        entries.push_back({wstringToUtf8(name), folder});
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        return errorText(error);
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return "";
}

std::string freeBytes(const std::string& path, int64_t& bytes) {
    ULARGE_INTEGER available;
    bytes = 0;
    std::wstring folder = widePath(path);
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
        return errorText(GetLastError());
    }
    bytes = static_cast<int64_t>(available.QuadPart);
    return "";
}

std::string recordInstalledVersion(const std::string& productId, const std::string& version, int64_t bytes) {
    std::wstring name = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + utf8ToWString(productId);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_SET_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        return "";
    }
    if (result != ERROR_SUCCESS) {
        return errorText(static_cast<DWORD>(result));
    }
    std::wstring wideVersion = utf8ToWString(version);
    DWORD kilobytes = static_cast<DWORD>(std::min<int64_t>((bytes + 1023) / 1024, 0xFFFFFFFF));
    result = RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(wideVersion.c_str()),
                            static_cast<DWORD>((wideVersion.size() + 1) * sizeof(wchar_t)));
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExW(key, L"EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kilobytes),
                                sizeof kilobytes);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? "" : errorText(static_cast<DWORD>(result));
}

// --- The progress window ---

bool japaneseUserInterface() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

namespace {

const UINT progressMessage = WM_APP + 1;  // wParam: 0..progressSteps, or -1 for no measure
const UINT closeMessage = WM_APP + 2;
const int progressSteps = 1000;
const int cancelId = IDCANCEL;  // Esc presses it too

// Shared between the updater's thread and the window's.
struct ProgressWindow {
    std::wstring product;
    std::wstring status;
    HANDLE thread = nullptr;
    HANDLE ready = nullptr;
    HWND window = nullptr;
    HWND bar = nullptr;
    HFONT font = nullptr;
    bool marquee = false;
    volatile LONG cancelled = 0;
};
ProgressWindow progress;

LRESULT CALLBACK progressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == cancelId) {
            InterlockedExchange(&progress.cancelled, 1);
            EnableWindow(reinterpret_cast<HWND>(lParam), FALSE);
        }
        return 0;
    case WM_CLOSE:  // the updater closes the window once it has stopped
        InterlockedExchange(&progress.cancelled, 1);
        return 0;
    case progressMessage: {
        bool measured = static_cast<int>(wParam) >= 0;
        if (measured == progress.marquee) {
            LONG_PTR style = GetWindowLongPtrW(progress.bar, GWL_STYLE);
            SetWindowLongPtrW(progress.bar, GWL_STYLE, measured ? style & ~PBS_MARQUEE : style | PBS_MARQUEE);
            SendMessageW(progress.bar, PBM_SETMARQUEE, measured ? FALSE : TRUE, 30);
            progress.marquee = !measured;
        }
        if (measured) {
            SendMessageW(progress.bar, PBM_SETPOS, wParam, 0);
        }
        return 0;
    }
    case closeMessage:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND child(const wchar_t* kind, const std::wstring& text, DWORD style, int x, int y, int width, int height, int id) {
    HWND control = CreateWindowExW(0, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                   progress.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(progress.font), FALSE);
    return control;
}

DWORD WINAPI progressThread(void*) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The font Windows uses in its own message boxes, Japanese letters included.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    progress.font = CreateFontIndirectW(&metrics.lfMessageFont);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = progressProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"UpdateProgress";
    RegisterClassExW(&windowClass);

    const int width = 440;
    const int height = 170;
    RECT frame{0, 0, width, height};
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int frameWidth = frame.right - frame.left;
    int frameHeight = frame.bottom - frame.top;
    progress.window = CreateWindowExW(0, windowClass.lpszClassName, progress.product.c_str(), style,
                                      work.left + (work.right - work.left - frameWidth) / 2,
                                      work.top + (work.bottom - work.top - frameHeight) / 2, frameWidth, frameHeight,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
    if (progress.window) {
        child(L"STATIC", progress.product, SS_LEFT | SS_NOPREFIX, 16, 14, width - 32, 20, 0);
        child(L"STATIC", progress.status, SS_LEFT | SS_NOPREFIX, 16, 40, width - 32, 20, 0);
        progress.bar = child(PROGRESS_CLASSW, L"", 0, 16, 70, width - 32, 20, 0);
        SendMessageW(progress.bar, PBM_SETRANGE32, 0, progressSteps);
        child(L"BUTTON", japaneseUserInterface() ? L"キャンセル" : L"Cancel", BS_PUSHBUTTON | WS_TABSTOP,
              width - 16 - 100, height - 16 - 28, 100, 28, cancelId);
        ShowWindow(progress.window, SW_SHOWNORMAL);
        SetForegroundWindow(progress.window);
    }
    SetEvent(progress.ready);
    if (!progress.window) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(progress.window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    DeleteObject(progress.font);
    return 0;
}

}  // namespace

void openProgressWindow(const std::string& product, const std::string& status) {
    if (progress.thread) {
        return;
    }
    progress.product = utf8ToWString(product);
    progress.status = utf8ToWString(status);
    progress.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    progress.thread = CreateThread(nullptr, 0, progressThread, nullptr, 0, nullptr);
    if (progress.thread && progress.ready) {
        HANDLE both[] = {progress.ready, progress.thread};
        WaitForMultipleObjects(2, both, FALSE, INFINITE);
    }
}

void showProgress(int64_t done, int64_t total) {
    if (progress.window) {
        WPARAM position = total > 0 ? static_cast<WPARAM>(std::min<int64_t>(done * progressSteps / total,
                                                                            progressSteps))
                                    : static_cast<WPARAM>(-1);
        PostMessageW(progress.window, progressMessage, position, 0);
    }
}

bool cancelRequested() {
    return InterlockedCompareExchange(&progress.cancelled, 0, 0) != 0;
}

void closeProgressWindow() {
    if (!progress.thread) {
        return;
    }
    if (progress.window) {
        PostMessageW(progress.window, closeMessage, 0, 0);
    }
    WaitForSingleObject(progress.thread, INFINITE);
    CloseHandle(progress.thread);
    CloseHandle(progress.ready);
    progress.thread = nullptr;
    progress.ready = nullptr;
    progress.window = nullptr;
}
