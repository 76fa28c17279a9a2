#include "single_instance.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "private_folder.hpp"
#include "system_dll.hpp"
#include "xml_util.hpp"

#include <windows.h>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cwchar>
#include <functional>

const wchar_t inboxVariable[] = L"LAUNCHER_INBOX";
const wchar_t requestSuffix[] = L".request";
const wchar_t processIdFile[] = L"app.pid";
// A request while it is written; the app never sees one by this name.
static const wchar_t partialSuffix[] = L".partial";
// Left by launchers of earlier versions while their cycle ends: they hold the
// folder until they have gone.
static const wchar_t closedFile[] = L"closed";
// The number of the last request; request names are never used twice.
static const wchar_t counterFile[] = L"counter";
static const size_t requestDigits = 20;
// A launcher waiting for an ending owner decides afresh this often.
static const DWORD decideAgainMilliseconds = 500;

static const std::wstring separator(1, static_cast<wchar_t>(fileSep[0]));

// The owner's state: the owner lock stays held for as long as the inbox is
// read; the inbox lock is taken around each look at the inbox.
static HANDLE ownerLock = NULL;
static HANDLE inboxLock = NULL;
static std::wstring inboxFolder;
static bool owning = false;
// The number of the last request there was when the app started: the app
// found those at its start. The count is taken before the app is started and
// holds once it runs.
static unsigned long long lastBeforeApp = 0;
static unsigned long long lastBeforeStart = 0;
static bool appStarting = false;

bool singleInstanceWanted(const std::string& configPath) {
    std::string value;
    return readBootValueQuietly(configPath, singleInstanceKey, value) && value == singleInstanceForward;
}

// The folder's final path: every way to it (a link, a junction, a subst
// drive, a mapped drive and its UNC path) ends in one. Else the path as given.
static std::wstring finalPath(const std::wstring& folder) {
    HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        return folder;
    }
    std::wstring path = folder;
    // Most paths fit the first buffer; a longer one says the size it needs.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int round = 0; round < 2; ++round) {
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length != 0 && length < size) {
            path.assign(buffer.data(), length);
            break;
        }
        if (length == 0) {
            break;
        }
        buffer.resize(length);
    }
    CloseHandle(handle);
    return path;
}

std::wstring appFolderId(const std::wstring& appFolder) {
    std::wstring folder = finalPath(appFolder);
    if (folder == appFolder) {
        DWORD size = GetLongPathNameW(appFolder.c_str(), NULL, 0);
        if (size != 0) {
            std::vector<wchar_t> longPath(size);
            DWORD length = GetLongPathNameW(appFolder.c_str(), longPath.data(), size);
            if (length != 0 && length < size) {
                folder.assign(longPath.data(), length);
            }
        }
    }
    // A final path ends without a separator; a path as given may have one.
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    // Windows compares names in its upper case.
    if (!folder.empty()) {
        int length = static_cast<int>(folder.size());
        std::vector<wchar_t> upper(folder.size());
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, folder.c_str(), length, upper.data(), length) == length) {
            folder.assign(upper.data(), upper.size());
        }
    }
    // A name-based UUID: the same text from every version of the launcher.
    std::string bytes;
    for (wchar_t unit : folder) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    boost::uuids::name_generator_sha1 generator(boost::uuids::ns::url());
    return boost::uuids::to_wstring(generator(bytes.data(), bytes.size()));
}

std::string requestText(const std::wstring& workingDir, const std::vector<std::wstring>& arguments) {
    std::string text = wstringToUtf8(workingDir);
    text += '\0';
    for (const std::wstring& argument : arguments) {
        text += wstringToUtf8(argument);
        text += '\0';
    }
    return text;
}

std::wstring requestName(unsigned long long number) {
    std::wstring digits = std::to_wstring(number);
    return std::wstring(requestDigits > digits.size() ? requestDigits - digits.size() : 0, L'0') + digits +
           requestSuffix;
}

unsigned long long requestNumber(const std::wstring& name) {
    size_t suffix = std::wcslen(requestSuffix);
    if (name.size() != requestDigits + suffix || name.compare(requestDigits, suffix, requestSuffix) != 0) {
        return 0;
    }
    unsigned long long number = 0;
    for (size_t i = 0; i < requestDigits; ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return 0;
        }
        number = number * 10 + static_cast<unsigned long long>(name[i] - L'0');
    }
    return number;
}

static std::wstring inboxPath(const std::wstring& name) {
    return inboxFolder + separator + name;
}

// A WAIT_ABANDONED lock was held by a process that died: it is ours now.
static bool take(HANDLE lock, DWORD milliseconds) {
    DWORD result = WaitForSingleObject(lock, milliseconds);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// The inbox's files are opened as themselves: a link planted there is not followed.
static HANDLE openInboxFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

static bool fileExistsWide(const std::wstring& path) {
    HANDLE file = openInboxFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// The first bytes of a small file; "" when there is none.
static std::string readSmallFile(const std::wstring& path) {
    HANDLE file = openInboxFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    char buffer[32];
    DWORD count = 0;
    std::string text;
    if (ReadFile(file, buffer, sizeof buffer, &count, NULL)) {
        text.assign(buffer, count);
    }
    CloseHandle(file);
    return text;
}

// Writes bytes from the start of a file opened with disposition; a link of
// that name is never followed: opening it fails, and it is deleted and a new
// file made. A file not written whole goes.
static bool writeWholeFile(const std::wstring& path, const std::string& bytes, DWORD disposition = CREATE_ALWAYS) {
    HANDLE file = openInboxFile(path, GENERIC_WRITE, disposition);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(path.c_str());
        file = openInboxFile(path, GENERIC_WRITE, CREATE_NEW);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, NULL) ||
            written == 0) {
            break;
        }
        done += written;
    }
    bool closed = CloseHandle(file) != FALSE;
    if (done != bytes.size() || !closed) {
        DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

static unsigned long long decimal(const std::string& text) {
    unsigned long long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || number > (~0ULL - 9) / 10) {
            break;
        }
        number = number * 10 + static_cast<unsigned long long>(c - '0');
    }
    return number;
}

// Calls seen with the name of each file in the inbox whose name ends in suffix.
static void forEachFile(const wchar_t* suffix, const std::function<void(const std::wstring&)>& seen) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(inboxPath(std::wstring(L"*") + suffix).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            seen(data.cFileName);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

static void logPath(const std::string& name, const std::wstring& path) {
    logLine("singleInstance:" + name + "=" + wstringToAnsiReplacing(path));
}

// Under the inbox lock: the number of the last request there has been.
static unsigned long long lastRequest() {
    unsigned long long last = decimal(readSmallFile(inboxPath(counterFile)));
    forEachFile(requestSuffix, [&last](const std::wstring& name) {
        unsigned long long number = requestNumber(name);
        last = number > last ? number : last;
    });
    return last;
}

// Under the inbox lock: the requests there are, after those numbered up to
// lastBeforeApp are removed: the app had them at its start.
static size_t requestsAfterTheApp() {
    size_t left = 0;
    forEachFile(requestSuffix, [&left](const std::wstring& name) {
        unsigned long long number = requestNumber(name);
        if (number != 0 && number <= lastBeforeApp) {
            DeleteFileW(inboxPath(name).c_str());
        } else if (number != 0) {
            ++left;
        }
    });
    return left;
}

// Under the inbox lock. What is not this user's private folder is replaced by
// a fresh one; requests an earlier owner left stay for the app to find.
static bool openInbox() {
    if (!isPrivateFolder(inboxFolder)) {
        removeFolderEntry(inboxFolder);
        if (!makePrivateFolder(inboxFolder)) {
            return false;
        }
    }
    forEachFile(partialSuffix, [](const std::wstring& name) { DeleteFileW(inboxPath(name).c_str()); });
    DeleteFileW(inboxPath(processIdFile).c_str());
    DeleteFileW(inboxPath(closedFile).c_str());
    return !fileExistsWide(inboxPath(closedFile));
}

// Under the inbox lock: one request, written whole under a name no app
// watches, then renamed; numbered after every request there is.
static bool writeRequest(const std::vector<std::wstring>& arguments, std::wstring& requestPath) {
    DWORD size = GetCurrentDirectoryW(0, NULL);
    std::vector<wchar_t> szCurrentDir(size + 1);
    DWORD length = size != 0 ? GetCurrentDirectoryW(size + 1, szCurrentDir.data()) : 0;
    if (length == 0 || length > size) {
        return false;
    }
    unsigned long long last = lastRequest();
    std::wstring name = requestName(last + 1);
    // The counter only grows, so the new digits cover the old ones: written
    // in place, as a file cut to nothing and written anew is flushed to disk
    // when closed (ext4), which a forwarding launcher would wait for.
    if (!writeWholeFile(inboxPath(counterFile), std::to_string(last + 1), OPEN_ALWAYS)) {
        return false;
    }
    std::wstring partial = inboxPath(name + partialSuffix);
    requestPath = inboxPath(name);
    if (!writeWholeFile(partial, requestText(std::wstring(szCurrentDir.data(), length), arguments), CREATE_NEW)) {
        return false;
    }
    if (!MoveFileExW(partial.c_str(), requestPath.c_str(), 0)) {
        DeleteFileW(partial.c_str());
        return false;
    }
    return true;
}

typedef BOOL(WINAPI* AllowSetForegroundWindowProc)(DWORD dwProcessId);

// Windows lets the process the user just started take the foreground; this
// hands that right to the running app, which is to come to the front.
static void allowForeground(DWORD processId) {
    if (processId == 0) {
        return;
    }
    HMODULE user32 = loadSystemDll(L"user32.dll");
    FARPROC proc = user32 != NULL ? GetProcAddress(user32, "AllowSetForegroundWindow") : NULL;
    if (proc != NULL) {
        reinterpret_cast<AllowSetForegroundWindowProc>(reinterpret_cast<void (*)(void)>(proc))(processId);
    }
}

// Releasing a lock this thread does not hold fails and changes nothing; a
// handle closed while held would leave it held until the launcher ends.
static void closeLocks() {
    if (ownerLock != NULL) {
        ReleaseMutex(ownerLock);
        CloseHandle(ownerLock);
    }
    if (inboxLock != NULL) {
        ReleaseMutex(inboxLock);
        CloseHandle(inboxLock);
    }
    ownerLock = NULL;
    inboxLock = NULL;
}

static AppFolderRole alone(const std::string& why) {
    logLine("singleInstance:alone=" + why);
    closeLocks();
    return roleAlone;
}

// Holding both locks; gives up the inbox lock.
static AppFolderRole becomeOwner() {
    if (!openInbox() || !SetEnvironmentVariableW(inboxVariable, inboxFolder.c_str())) {
        return alone("the inbox cannot be made");
    }
    lastBeforeApp = 0;
    appStarting = false;
    ReleaseMutex(inboxLock);
    owning = true;
    logPath("inbox", inboxFolder);
    return roleOwner;
}

// Holding the inbox lock while the owner lock is held elsewhere; gives up the inbox lock.
static AppFolderRole forward(const std::vector<std::wstring>& arguments) {
    std::wstring requestPath;
    bool written = isPrivateFolder(inboxFolder) && writeRequest(arguments, requestPath);
    DWORD processId = static_cast<DWORD>(decimal(readSmallFile(inboxPath(processIdFile))));
    ReleaseMutex(inboxLock);
    if (!written) {
        return alone("the request cannot be written");
    }
    closeLocks();
    allowForeground(processId);
    logPath("forwarded", requestPath);
    return roleForwarded;
}

AppFolderRole takeAppFolderRole(const std::string& configPath, const std::vector<std::wstring>& arguments) {
    if (!singleInstanceWanted(configPath)) {
        return roleAlone;
    }
    std::wstring id = appFolderId(utf8ToWString(appDirUtf8));
    wchar_t szTempPath[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, szTempPath);
    if (length == 0 || length > MAX_PATH) {
        return alone("no temp folder");
    }
    inboxFolder = std::wstring(szTempPath, length) + L"launcher-inbox-" + id;
    ownerLock = CreateMutexW(NULL, FALSE, (L"Local\\launcher-" + id + L"-owner").c_str());
    inboxLock = CreateMutexW(NULL, FALSE, (L"Local\\launcher-" + id + L"-inbox").c_str());
    if (ownerLock == NULL || inboxLock == NULL) {
        return alone("no lock");
    }
    // Each round decides afresh: whoever holds the owner lock when this one
    // looks gets the request, whoever became the owner meanwhile included.
    for (;;) {
        if (!take(inboxLock, INFINITE)) {
            return alone("no lock");
        }
        if (take(ownerLock, 0)) {
            return becomeOwner();
        }
        if (!fileExistsWide(inboxPath(closedFile))) {
            return forward(arguments);
        }
        ReleaseMutex(inboxLock);
        if (take(ownerLock, decideAgainMilliseconds)) {
            ReleaseMutex(ownerLock);
        }
    }
}

void noteAppStarting() {
    if (owning && take(inboxLock, INFINITE)) {
        lastBeforeStart = lastRequest();
        appStarting = true;
        ReleaseMutex(inboxLock);
    }
}

void noteChildStarted(DWORD processId) {
    if (owning && take(inboxLock, INFINITE)) {
        if (appStarting) {
            lastBeforeApp = lastBeforeStart;
            appStarting = false;
        }
        writeWholeFile(inboxPath(processIdFile), std::to_string(processId));
        ReleaseMutex(inboxLock);
    }
}

void noteChildEnded() {
    if (owning && take(inboxLock, INFINITE)) {
        DeleteFileW(inboxPath(processIdFile).c_str());
        requestsAfterTheApp();
        ReleaseMutex(inboxLock);
    }
}

bool requestsWaiting() {
    if (!owning || !take(inboxLock, INFINITE)) {
        return false;
    }
    if (requestsAfterTheApp() > 0) {
        ReleaseMutex(inboxLock);
        logLine("singleInstance:restart=requests came while the app ended");
        return true;
    }
    // Still under the inbox lock: the next launcher finds the folder free.
    ReleaseMutex(ownerLock);
    owning = false;
    closeLocks();
    return false;
}

void leaveAppFolder() {
    if (!owning) {
        return;
    }
    if (take(inboxLock, INFINITE)) {
        DeleteFileW(inboxPath(processIdFile).c_str());
        requestsAfterTheApp();
        ReleaseMutex(ownerLock);
    }
    owning = false;
    closeLocks();
}
