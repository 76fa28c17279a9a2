// Files, folders and named mutexes: what the launcher needs for the inbox of
// a running app and for the one owner of an app folder.
#include "handles.hpp"
#include "windows.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

DWORD lastError = ERROR_SUCCESS;

HandleRecord* newRecord(HandleKind kind, int fd, void* folder = NULL) {
    return new HandleRecord{kind, 0, false, 0, fd, folder, L""};
}

HandleRecord* recordOf(HANDLE handle, HandleKind kind) {
    HandleRecord* record = static_cast<HandleRecord*>(handle);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE || record->kind != kind) {
        lastError = ERROR_INVALID_HANDLE;
        return NULL;
    }
    return record;
}

BOOL failWithErrno() {
    setLastErrorFromErrno(errno);
    return FALSE;
}

// A folder of the user's own: "winapi" in XDG_RUNTIME_DIR, else below /tmp;
// made on first use. "" when the path is taken by anything else, which might
// be another user's.
std::string userFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = runtime != NULL && *runtime == '/' ? std::string(runtime) + "/winapi"
                                                            : "/tmp/winapi-" + std::to_string(getuid());
    mkdir(folder.c_str(), 0700);
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        return "";
    }
    return folder;
}

// The file name pattern "*" or "*" followed by an end.
bool matches(const std::wstring& name, const std::wstring& pattern) {
    if (pattern.empty() || pattern[0] != L'*') {
        return name == pattern;
    }
    std::wstring end = pattern.substr(1);
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

BOOL nextMatch(HandleRecord* find, LPWIN32_FIND_DATAW data) {
    DIR* folder = static_cast<DIR*>(find->folder);
    for (errno = 0; struct dirent* entry = readdir(folder); errno = 0) {
        std::wstring name = wideOf(entry->d_name);
        if (!matches(name, find->match) || name.size() >= MAX_PATH) {
            continue;
        }
        struct stat st;
        bool isFolder = fstatat(dirfd(folder), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        data->dwFileAttributes = isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        std::wmemcpy(data->cFileName, name.c_str(), name.size() + 1);
        return TRUE;
    }
    lastError = errno == 0 ? ERROR_NO_MORE_FILES : ERROR_INVALID_PARAMETER;
    return FALSE;
}

}  // namespace

void setLastErrorFromErrno(int error) {
    switch (error) {
        case 0:
            lastError = ERROR_SUCCESS;
            break;
        case ENOENT:
            lastError = ERROR_FILE_NOT_FOUND;
            break;
        case ENOTDIR:
            lastError = ERROR_PATH_NOT_FOUND;
            break;
        case EEXIST:
            lastError = ERROR_ALREADY_EXISTS;
            break;
        case EACCES:
        case EPERM:
            lastError = ERROR_ACCESS_DENIED;
            break;
        default:
            lastError = ERROR_INVALID_PARAMETER;
    }
}

DWORD GetLastError(void) {
    return lastError;
}

void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    std::string path;
    if (lpFileName == NULL || !pathBytes(lpFileName, path)) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    bool reads = (dwDesiredAccess & GENERIC_READ) != 0;
    bool writes = (dwDesiredAccess & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY);
    if (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) {
        flags |= O_NOFOLLOW;
    }
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        default:
            lastError = ERROR_INVALID_PARAMETER;
            return INVALID_HANDLE_VALUE;
    }
    int fd = open(path.c_str(), flags, 0600);
    if (fd < 0) {
        failWithErrno();
        return INVALID_HANDLE_VALUE;
    }
    lastError = ERROR_SUCCESS;
    return newRecord(fileHandle, fd);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    HandleRecord* file = recordOf(hFile, fileHandle);
    if (file == NULL) {
        return FALSE;
    }
    ssize_t count;
    do {
        count = read(file->fd, lpBuffer, nNumberOfBytesToRead);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return failWithErrno();
    }
    *lpNumberOfBytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED) {
    HandleRecord* file = recordOf(hFile, fileHandle);
    if (file == NULL) {
        return FALSE;
    }
    ssize_t count;
    do {
        count = write(file->fd, lpBuffer, nNumberOfBytesToWrite);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return failWithErrno();
    }
    *lpNumberOfBytesWritten = static_cast<DWORD>(count);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    std::string path;
    if (lpFileName == NULL || !pathBytes(lpFileName, path)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return unlink(path.c_str()) == 0 ? TRUE : failWithErrno();
}

// Without MOVEFILE_REPLACE_EXISTING an existing target is refused, as on
// Windows: renameat2 with RENAME_NOREPLACE, or, where the file system lacks
// it, link and unlink, which give that without a window where both names are gone.
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    std::string from;
    std::string to;
    if (lpExistingFileName == NULL || lpNewFileName == NULL || !pathBytes(lpExistingFileName, from) ||
        !pathBytes(lpNewFileName, to)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
        return rename(from.c_str(), to.c_str()) == 0 ? TRUE : failWithErrno();
    }
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return TRUE;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return failWithErrno();
    }
    if (link(from.c_str(), to.c_str()) != 0) {
        return failWithErrno();
    }
    unlink(from.c_str());
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    std::string path;
    struct stat st;
    if (lpFileName == NULL || !pathBytes(lpFileName, path)) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_FILE_ATTRIBUTES;
    }
    if (lstat(path.c_str(), &st) != 0) {
        failWithErrno();
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        bool folder = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
    std::string path;
    struct stat st;
    if (lpPathName == NULL || !pathBytes(lpPathName, path) || lstat(path.c_str(), &st) != 0) {
        lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    return (S_ISLNK(st.st_mode) ? unlink(path.c_str()) : rmdir(path.c_str())) == 0 ? TRUE : failWithErrno();
}

DWORD GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath, DWORD) {
    HandleRecord* file = recordOf(hFile, fileHandle);
    if (file == NULL) {
        return 0;
    }
    std::string bytes(256, '\0');
    std::string link = "/proc/self/fd/" + std::to_string(file->fd);
    for (;;) {
        ssize_t length = readlink(link.c_str(), &bytes[0], bytes.size());
        if (length < 0) {
            failWithErrno();
            return 0;
        }
        if (static_cast<size_t>(length) < bytes.size()) {
            bytes.resize(static_cast<size_t>(length));
            break;
        }
        bytes.resize(bytes.size() * 2);
    }
    return copyOut(wideOf(bytes.c_str()), lpszFilePath, cchFilePath);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    std::string path;
    if (lpPathName == NULL || !pathBytes(lpPathName, path)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return mkdir(path.c_str(), 0700) == 0 ? TRUE : failWithErrno();
}

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    std::wstring pattern = lpFileName != NULL ? lpFileName : L"";
    size_t sep = pattern.find_last_of(L"/");
    std::string folderPath;
    if (sep == std::wstring::npos || !pathBytes(pattern.substr(0, sep + 1).c_str(), folderPath)) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    DIR* folder = opendir(folderPath.c_str());
    if (folder == NULL) {
        setLastErrorFromErrno(errno == ENOENT ? ENOTDIR : errno);
        return INVALID_HANDLE_VALUE;
    }
    HandleRecord* find = newRecord(findHandle, -1, folder);
    find->match = pattern.substr(sep + 1);
    if (!nextMatch(find, lpFindFileData)) {
        closeHandleRecord(find);
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    return find;
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    HandleRecord* find = recordOf(hFindFile, findHandle);
    return find != NULL && nextMatch(find, lpFindFileData);
}

BOOL FindClose(HANDLE hFindFile) {
    HandleRecord* find = recordOf(hFindFile, findHandle);
    if (find == NULL) {
        return FALSE;
    }
    closeHandleRecord(find);
    return TRUE;
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string folder = tmpdir != NULL && *tmpdir != '\0' ? tmpdir : userFolder();
    if (folder.empty()) {
        lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    return copyOut(wideOf(folder.c_str()), lpBuffer, nBufferLength);
}

DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    char* cwd = getcwd(NULL, 0);
    if (cwd == NULL) {
        failWithErrno();
        return 0;
    }
    std::wstring folder = wideOf(cwd);
    std::free(cwd);
    return copyOut(folder, lpBuffer, nBufferLength);
}

DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer) {
    std::string bytes;
    struct stat st;
    if (lpszShortPath == NULL || !pathBytes(lpszShortPath, bytes)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (stat(bytes.c_str(), &st) != 0) {
        failWithErrno();
        return 0;
    }
    return copyOut(lpszShortPath, lpszLongPath, cchBuffer);
}

int LCMapStringW(LCID, DWORD dwMapFlags, LPCWSTR lpSrcStr, int cchSrc, LPWSTR lpDestStr, int cchDest) {
    if (lpSrcStr == NULL || dwMapFlags != LCMAP_UPPERCASE || cchSrc < -1 || cchDest < 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    size_t n = cchSrc == -1 ? std::wcslen(lpSrcStr) + 1 : static_cast<size_t>(cchSrc);
    if (cchDest == 0) {
        return static_cast<int>(n);
    }
    if (n > static_cast<size_t>(cchDest)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        lpDestStr[i] = static_cast<wchar_t>(std::towupper(lpSrcStr[i]));
    }
    return static_cast<int>(n);
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
    std::string name;
    std::string folder = userFolder();
    if (bInitialOwner || lpName == NULL || !pathBytes(lpName, name) || name.empty() || folder.empty()) {
        lastError = folder.empty() ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER;
        return NULL;
    }
    for (char& c : name) {
        c = c == '\\' || c == '/' ? '_' : c;
    }
    int fd = open((folder + "/" + name + ".mutex").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        failWithErrno();
        return NULL;
    }
    lastError = ERROR_SUCCESS;
    return newRecord(mutexHandle, fd);
}

BOOL ReleaseMutex(HANDLE hMutex) {
    HandleRecord* mutex = recordOf(hMutex, mutexHandle);
    return mutex != NULL && flock(mutex->fd, LOCK_UN) == 0;
}

DWORD waitForMutex(HandleRecord* mutex, DWORD dwMilliseconds) {
    const DWORD step = 10;
    for (DWORD waited = 0;; waited += step) {
        int locked = flock(mutex->fd, dwMilliseconds == INFINITE ? LOCK_EX : LOCK_EX | LOCK_NB);
        if (locked == 0) {
            return WAIT_OBJECT_0;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            setLastErrorFromErrno(errno);
            return WAIT_FAILED;
        }
        if (errno == EWOULDBLOCK && waited >= dwMilliseconds) {
            return WAIT_TIMEOUT;
        }
        if (errno == EWOULDBLOCK) {
            usleep(step * 1000u);
        }
    }
}

void closeHandleRecord(HandleRecord* record) {
    if (record->kind == findHandle) {
        closedir(static_cast<DIR*>(record->folder));
    } else if (record->fd >= 0) {
        close(record->fd);
    }
    delete record;
}
