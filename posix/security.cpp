// Security: the current user and a file's owner and access list, in the
// binary forms Windows hands out (SIDs, self-relative security descriptors).
#include "handles.hpp"
#include "windows.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

void put(Bytes& bytes, uint32_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

// S-1-authority-subAuthorities...
Bytes sid(BYTE authority, std::vector<uint32_t> subAuthorities) {
    Bytes bytes = {1, static_cast<BYTE>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
    for (uint32_t sub : subAuthorities) {
        put(bytes, sub, 4);
    }
    return bytes;
}

Bytes userSid(uid_t uid) {
    return sid(22, {1, static_cast<uint32_t>(uid)});
}

Bytes groupSid(gid_t gid) {
    return sid(22, {2, static_cast<uint32_t>(gid)});
}

const Bytes everyone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

BOOL copyOrSayHowMuch(const Bytes& bytes, LPVOID buffer, DWORD size, LPDWORD needed) {
    *needed = static_cast<DWORD>(bytes.size());
    if (buffer == NULL || size < bytes.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    return TRUE;
}

}  // namespace

HANDLE GetCurrentProcess(void) {
    return INVALID_HANDLE_VALUE;
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD, HANDLE* TokenHandle) {
    if (ProcessHandle != INVALID_HANDLE_VALUE || TokenHandle == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *TokenHandle = new HandleRecord{tokenHandle, 0, false, 0, -1, NULL, L""};
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength, LPDWORD ReturnLength) {
    HandleRecord* token = static_cast<HandleRecord*>(TokenHandle);
    if (token == NULL || token->kind != tokenHandle || TokenInformationClass != TokenUser) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The SID follows the structure that points to it.
    Bytes user = userSid(getuid());
    Bytes bytes(sizeof(TOKEN_USER), 0);
    bytes.insert(bytes.end(), user.begin(), user.end());
    if (!copyOrSayHowMuch(bytes, TokenInformation, TokenInformationLength, ReturnLength)) {
        return FALSE;
    }
    TOKEN_USER* result = static_cast<TOKEN_USER*>(TokenInformation);
    result->User.Sid = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    result->User.Attributes = 0;
    return TRUE;
}

BOOL GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR pSecurityDescriptor,
                      DWORD nLength, LPDWORD lpnLengthNeeded) {
    std::string path;
    struct stat st;
    if (lpFileName == NULL || !pathBytes(lpFileName, path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (stat(path.c_str(), &st) != 0) {
        setLastErrorFromErrno(errno);
        return FALSE;
    }
    Bytes owner = userSid(st.st_uid);
    std::vector<Bytes> allowed;
    if (st.st_mode & 0700) {
        allowed.push_back(owner);
    }
    if (st.st_mode & 0070) {
        allowed.push_back(groupSid(st.st_gid));
    }
    if (st.st_mode & 0007) {
        allowed.push_back(everyone);
    }
    Bytes acl;
    for (const Bytes& who : allowed) {
        acl.push_back(0);  // ACCESS_ALLOWED_ACE_TYPE
        acl.push_back(0);
        put(acl, static_cast<uint32_t>(8 + who.size()), 2);
        put(acl, 0x001F01FF, 4);
        acl.insert(acl.end(), who.begin(), who.end());
    }
    Bytes descriptor = {1, 0};
    put(descriptor, 0x8000 | 0x0004, 2);  // self-relative, with an access list
    put(descriptor, 20, 4);
    put(descriptor, 0, 4);
    put(descriptor, 0, 4);
    put(descriptor, static_cast<uint32_t>(20 + owner.size()), 4);
    descriptor.insert(descriptor.end(), owner.begin(), owner.end());
    descriptor.push_back(2);
    descriptor.push_back(0);
    put(descriptor, static_cast<uint32_t>(8 + acl.size()), 2);
    put(descriptor, static_cast<uint32_t>(allowed.size()), 2);
    put(descriptor, 0, 2);
    descriptor.insert(descriptor.end(), acl.begin(), acl.end());
    return copyOrSayHowMuch(descriptor, pSecurityDescriptor, nLength, lpnLengthNeeded);
}
