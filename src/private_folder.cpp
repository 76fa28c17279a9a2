#include "private_folder.hpp"

#include "const.hpp"
#include "system_dll.hpp"

#include <windows.h>

#include <cstring>
#include <vector>

// The security calls live in advapi32, which the exe loads from the system
// folder when it first needs them, as it loads user32 for a box.
typedef BOOL(WINAPI* OpenProcessTokenProc)(HANDLE process, DWORD access, HANDLE* token);
typedef BOOL(WINAPI* GetTokenInformationProc)(HANDLE token, TOKEN_INFORMATION_CLASS what, LPVOID buffer,
                                              DWORD size, LPDWORD needed);
typedef BOOL(WINAPI* GetFileSecurityWProc)(LPCWSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR buffer,
                                           DWORD size, LPDWORD needed);

typedef std::vector<BYTE> Bytes;

static const BYTE aclRevision = 2;
static const BYTE allowedAce = 0;  // ACCESS_ALLOWED_ACE_TYPE
static const BYTE deniedAce = 1;   // ACCESS_DENIED_ACE_TYPE
static const BYTE inheritedByFilesAndFolders = 0x03;
static const DWORD fileAllAccess = 0x001F01FF;
static const WORD selfRelative = 0x8000;
static const WORD daclPresent = 0x0004;
static const WORD daclProtected = 0x1000;
// The SIDs that may always get in: LocalSystem, the Administrators group,
// and those that stand for the owner (CREATOR OWNER, OWNER RIGHTS).
static const Bytes localSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const Bytes administrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
static const Bytes creatorOwner = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
static const Bytes ownerRights = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};

template <typename Proc>
static Proc advapi32(const char* name) {
    HMODULE module = loadSystemDll(L"advapi32.dll", true);
    FARPROC proc = module != NULL ? GetProcAddress(module, name) : NULL;
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(proc));
}

static WORD word(const Bytes& bytes, size_t at) {
    return static_cast<WORD>(bytes[at] | bytes[at + 1] << 8);
}

static DWORD dword(const Bytes& bytes, size_t at) {
    return static_cast<DWORD>(word(bytes, at)) | static_cast<DWORD>(word(bytes, at + 2)) << 16;
}

static void put(Bytes& bytes, DWORD value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

// The SID at offset at of bytes; empty when it does not fit.
static Bytes sidAt(const Bytes& bytes, size_t at) {
    if (at == 0 || at + 8 > bytes.size() || at + 8 + 4 * static_cast<size_t>(bytes[at + 1]) > bytes.size()) {
        return Bytes();
    }
    return Bytes(bytes.begin() + at, bytes.begin() + at + 8 + 4 * bytes[at + 1]);
}

static Bytes currentUser() {
    OpenProcessTokenProc openProcessToken = advapi32<OpenProcessTokenProc>("OpenProcessToken");
    GetTokenInformationProc getTokenInformation = advapi32<GetTokenInformationProc>("GetTokenInformation");
    HANDLE token = NULL;
    if (openProcessToken == NULL || getTokenInformation == NULL ||
        !openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return Bytes();
    }
    DWORD needed = 0;
    getTokenInformation(token, TokenUser, NULL, 0, &needed);
    std::vector<BYTE> buffer(needed);
    Bytes sid;
    if (needed >= sizeof(TOKEN_USER) && getTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
        const BYTE* start = static_cast<const BYTE*>(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
        sid.assign(start, start + 8 + 4 * start[1]);
    }
    CloseHandle(token);
    return sid;
}

// The owner and the access list of path, in the self-relative form.
static Bytes securityOf(const std::wstring& path) {
    GetFileSecurityWProc getFileSecurity = advapi32<GetFileSecurityWProc>("GetFileSecurityW");
    SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    if (getFileSecurity == NULL) {
        return Bytes();
    }
    getFileSecurity(path.c_str(), what, NULL, 0, &needed);
    Bytes descriptor(needed);
    if (needed < 20 || !getFileSecurity(path.c_str(), what, descriptor.data(), needed, &needed)) {
        return Bytes();
    }
    return descriptor;
}

bool isPrivateFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    Bytes user = currentUser();
    Bytes descriptor = securityOf(path);
    if (user.empty() || descriptor.empty() || sidAt(descriptor, dword(descriptor, 4)) != user ||
        !(word(descriptor, 2) & daclPresent)) {
        return false;
    }
    // No access list at all lets everyone in.
    size_t acl = dword(descriptor, 16);
    if (acl == 0 || acl + 8 > descriptor.size()) {
        return false;
    }
    size_t ace = acl + 8;
    for (WORD i = 0; i < word(descriptor, acl + 4); ++i) {
        if (ace + 8 > descriptor.size()) {
            return false;
        }
        BYTE type = descriptor[ace];
        Bytes sid = sidAt(descriptor, ace + 8);
        bool owner = sid == user || sid == creatorOwner || sid == ownerRights;
        if (type != deniedAce && (type != allowedAce || (!owner && sid != localSystem && sid != administrators))) {
            return false;
        }
        ace += word(descriptor, ace + 2);
    }
    return true;
}

bool makePrivateFolder(const std::wstring& path) {
    Bytes user = currentUser();
    if (user.empty()) {
        return false;
    }
    // A self-relative descriptor: this user owns the folder, and one access
    // entry, which files and folders made in it inherit, lets this user in;
    // nothing is inherited from the folder above.
    WORD aceSize = static_cast<WORD>(8 + user.size());
    Bytes descriptor = {1, 0};
    put(descriptor, selfRelative | daclPresent | daclProtected, 2);
    put(descriptor, 20, 4);                                    // owner
    put(descriptor, 0, 4);                                     // group
    put(descriptor, 0, 4);                                     // SACL
    put(descriptor, static_cast<DWORD>(20 + user.size()), 4);  // DACL
    descriptor.insert(descriptor.end(), user.begin(), user.end());
    descriptor.push_back(aclRevision);
    descriptor.push_back(0);
    put(descriptor, 8 + aceSize, 2);
    put(descriptor, 1, 2);
    put(descriptor, 0, 2);
    descriptor.push_back(allowedAce);
    descriptor.push_back(inheritedByFilesAndFolders);
    put(descriptor, aceSize, 2);
    put(descriptor, fileAllAccess, 4);
    descriptor.insert(descriptor.end(), user.begin(), user.end());
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), descriptor.data(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

void removeFolderEntry(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        std::wstring folder = path + static_cast<wchar_t>(fileSep[0]);
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    DeleteFileW((folder + data.cFileName).c_str());
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    RemoveDirectoryW(path.c_str());
}
