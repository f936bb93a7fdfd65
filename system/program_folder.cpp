// Folders that only administrators may change. The program runs elevated and later runs
// what it finds in its folders, so nobody else may create, replace or link anything there.
#include "system/system.h"

#include <aclapi.h>
#include <strsafe.h>

bool ProgramFolder(wchar_t* folder, int capacity)
{
    wchar_t systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    return length > 0 && length < MAX_PATH &&
           SUCCEEDED(StringCchPrintfW(folder, capacity, L"%lc:/ZemaActiveX/", systemDirectory[0]));
}

// Full control for SYSTEM and Administrators, read and execute for Users; every ACE is
// inherited by the folder's files and subfolders, and nothing comes from the parent.
bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security)
{
    *security = ProtectedFolderSecurity{};
    static const struct {
        WELL_KNOWN_SID_TYPE sid;
        DWORD access;
    } grants[ProtectedFolderAceCount] = {
        {WinLocalSystemSid, FILE_ALL_ACCESS},
        {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
        {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    auto* acl = reinterpret_cast<PACL>(security->acl);
    if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION)) return false;
    for (int i = 0; i < ProtectedFolderAceCount; ++i) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        PSID sid = security->sids[i];
        if (!CreateWellKnownSid(grants[i].sid, nullptr, sid, &size) ||
            !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   grants[i].access, sid))
            return false;
    }
    return InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(&security->descriptor, security->sids[1], FALSE) &&
           SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool CreateProtectedFolder(const wchar_t* folder)
{
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    return CreateDirectoryW(folder, &attributes) != 0;
}

// A folder as such, not a link or reparse point that leads somewhere else. The name is
// asked (Wine shows a Unix link to a folder only there, as a reparse point, and only
// without a trailing separator, which makes it follow the link) and the handle (Windows
// shows its reparse points there without following them).
static bool IsRealFolder(const wchar_t* folder, HANDLE handle)
{
    wchar_t name[1000] = {};
    size_t length = 0;
    if (FAILED(StringCchCopyW(name, 1000, folder)) || FAILED(StringCchLengthW(name, 1000, &length))) return false;
    while (length > 1 && (name[length - 1] == L'/' || name[length - 1] == L'\\') && name[length - 2] != L':')
        name[--length] = L'\0';
    DWORD attributes = GetFileAttributesW(name);
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY, unwanted = FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (wanted | unwanted)) == wanted &&
           GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & (wanted | unwanted)) == wanted;
}

bool PrepareProtectedFolder(const wchar_t* folder)
{
    if (CreateProtectedFolder(folder)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return false;
    // The handle, shared without delete, keeps the folder from being renamed or replaced
    // between the check and the change, and the change lands on what was checked.
    HANDLE handle = CreateFileW(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // A folder made by someone else stays theirs to change unless the owner changes too.
    bool prepared = IsRealFolder(folder, handle) &&
                    SetSecurityInfo(handle, SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    security.sids[1], nullptr, reinterpret_cast<PACL>(security.acl),
                                    nullptr) == ERROR_SUCCESS;
    CloseHandle(handle);
    return prepared;
}
