// Whether a server file may be run with an administrator's rights: only when nobody but
// the system, the administrators and the current user can have replaced it, or can
// replace it or a library beside it while it runs.
#include "system/system.h"

#include <aclapi.h>
#include <strsafe.h>

// ACE types that grant, as the headers of later systems name them.
constexpr BYTE AllowedCallbackAce = 0x9;
constexpr BYTE AllowedCompoundAce = 0x4, AllowedObjectAce = 0x5, AllowedCallbackObjectAce = 0xB;
// NT SERVICE\TrustedInstaller, which owns the system's own files.
constexpr DWORD TrustedInstallerRids[] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};

static bool IsTrustedSid(PSID sid, PSID currentUser)
{
    alignas(DWORD) BYTE trustedInstaller[SECURITY_MAX_SID_SIZE];
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    bool haveTrustedInstaller = InitializeSid(trustedInstaller, &nt, ARRAYSIZE(TrustedInstallerRids));
    for (DWORD i = 0; haveTrustedInstaller && i < ARRAYSIZE(TrustedInstallerRids); ++i)
        *GetSidSubAuthority(trustedInstaller, i) = TrustedInstallerRids[i];
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (haveTrustedInstaller && EqualSid(sid, trustedInstaller)) || (currentUser && EqualSid(sid, currentUser));
}

// The rights that let their holder change what runs. Everywhere: deleting or renaming
// the object, changing its permissions, taking it over. The file: writing it. Its own
// folder: adding a file (the loader takes a server's libraries from beside it) or
// deleting one. Further up: deleting or renaming a folder on the way.
static ACCESS_MASK ChangingRights(ServerPathPart part)
{
    const ACCESS_MASK everywhere = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    switch (part) {
    case ServerPathPart::File:
        return everywhere | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE;
    case ServerPathPart::Folder:
        return everywhere | FILE_ADD_FILE | FILE_DELETE_CHILD | GENERIC_WRITE;
    default:
        return everywhere | FILE_DELETE_CHILD;
    }
}

bool ServerPathIsTrusted(PSECURITY_DESCRIPTOR descriptor, PSID currentUser, ServerPathPart part)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    // The owner may always rewrite the permissions; no DACL, or a NULL one, grants all.
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
        !IsTrustedSid(owner, currentUser) || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !present || !dacl)
        return false;
    ACCESS_MASK changing = ChangingRights(part);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceFlags & INHERIT_ONLY_ACE) continue;
        BYTE type = allowed->Header.AceType;
        if (type == ACCESS_ALLOWED_ACE_TYPE || type == AllowedCallbackAce) {
            if ((allowed->Mask & changing) && !IsTrustedSid(&allowed->SidStart, currentUser)) return false;
        } else if (type == AllowedCompoundAce || type == AllowedObjectAce || type == AllowedCallbackObjectAce) {
            return false;  // grants in a form not read here
        }
    }
    return true;
}

// The user this process runs as, in `sid`.
static bool CurrentUser(BYTE (&sid)[SECURITY_MAX_SID_SIZE])
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(DWORD) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                CopySid(SECURITY_MAX_SID_SIZE, sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return read;
}

static bool IsTrustedPart(HANDLE handle, PSID currentUser, ServerPathPart part)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool trusted = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                   ServerPathIsTrusted(descriptor, currentUser, part);
    if (descriptor) LocalFree(descriptor);
    return trusted;
}

// Length of the root of an absolute path, "X:\" or "\\server\share\"; 0 for any other.
static size_t RootLength(const wchar_t* path)
{
    if (((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
        path[2] == L'\\')
        return 3;
    if (path[0] != L'\\' || path[1] != L'\\' || path[2] == L'?' || path[2] == L'.') return 0;
    const wchar_t* share = wcschr(path + 2, L'\\');
    const wchar_t* end = share && share[1] ? wcschr(share + 1, L'\\') : nullptr;
    return end ? static_cast<size_t>(end - path) + 1 : 0;
}

// A folder on the server's way, checked as the part it is: it must be a real folder (a
// link would lead the check elsewhere) that only the trusted may change.
static bool IsTrustedFolder(const wchar_t* folder, PSID currentUser, ServerPathPart part)
{
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    HANDLE handle = CreateFileW(folder, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool trusted = GetFileInformationByHandle(handle, &info) &&
                   (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                       FILE_ATTRIBUTE_DIRECTORY &&
                   IsTrustedPart(handle, currentUser, part);
    CloseHandle(handle);
    return trusted;
}

HANDLE HoldServerIfTrusted(const wchar_t* path)
{
    size_t root = RootLength(path), length = 0;
    alignas(DWORD) BYTE user[SECURITY_MAX_SID_SIZE];
    wchar_t folder[MAX_PATH * 2] = {};
    if (root == 0 || FAILED(StringCchCopyW(folder, ARRAYSIZE(folder), path)) ||
        FAILED(StringCchLengthW(folder, ARRAYSIZE(folder), &length)) || length <= root || !CurrentUser(user))
        return INVALID_HANDLE_VALUE;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return INVALID_HANDLE_VALUE;
    // Shared for reading only: nobody may write, replace or delete it while it is held.
    HANDLE server = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (server == INVALID_HANDLE_VALUE) return server;
    bool trusted = IsTrustedPart(server, user, ServerPathPart::File);
    // Every folder up to the root: the server's own, then those above it.
    ServerPathPart part = ServerPathPart::Folder;
    while (trusted && length > root) {
        while (length > root && folder[length - 1] != L'\\') --length;
        folder[length > root ? length - 1 : root] = L'\0';
        if (length > root) --length;
        trusted = IsTrustedFolder(folder, user, part);
        part = ServerPathPart::FolderAbove;
    }
    if (trusted) return server;
    CloseHandle(server);
    return INVALID_HANDLE_VALUE;
}
