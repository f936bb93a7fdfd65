// Folders that only administrators may change. The program runs elevated and later runs
// what it finds in its folders, so nobody else may create, replace or link anything there.
// On Windows any authenticated user may create folders at the root of the system drive,
// so a folder at the program's name may have been made by someone else beforehand: only
// a folder whose identity this program recorded when it made it is ever used.
#include "system/system.h"

#include <aclapi.h>
#include <strsafe.h>

#include <ctime>

// Room of a folder's path as the records and holds name it.
constexpr size_t FolderNameUnits = 520;
// Folders held at one time: the base folder and one below it, with room to spare.
constexpr int MostHolds = 8;
// Names tried when something is moved aside: "-moved-<seconds>", then "-2" to "-99".
constexpr int MostAsideNames = 99;
// Attempts to make the folder anew when something keeps appearing at its name.
constexpr int MostAttempts = 3;

namespace {
// What tells a folder from any other, even one made later under the same name.
struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};
}  // namespace

static HANDLE Holds[MostHolds];
static wchar_t HeldNames[MostHolds][FolderNameUnits];

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

// The DACL of `descriptor`, when it has one that is not NULL.
static PACL DaclOf(PSECURITY_DESCRIPTOR descriptor)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present ? dacl : nullptr;
}

static bool SameAce(const void* a, const void* b)
{
    auto* first = static_cast<const ACCESS_ALLOWED_ACE*>(a);
    auto* second = static_cast<const ACCESS_ALLOWED_ACE*>(b);
    return first->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && second->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
           first->Header.AceFlags == second->Header.AceFlags && first->Mask == second->Mask &&
           EqualSid(const_cast<DWORD*>(&first->SidStart), const_cast<DWORD*>(&second->SidStart));
}

bool FolderSecurityIsAsWanted(PSECURITY_DESCRIPTOR current, PSECURITY_DESCRIPTOR wanted)
{
    PSID owner = nullptr, wantedOwner = nullptr;
    BOOL defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(current, &owner, &defaulted) || !owner ||
        !GetSecurityDescriptorOwner(wanted, &wantedOwner, &defaulted) || !wantedOwner || !EqualSid(owner, wantedOwner) ||
        !GetSecurityDescriptorControl(current, &control, &revision) || !(control & SE_DACL_PROTECTED))
        return false;
    PACL dacl = DaclOf(current), wantedDacl = DaclOf(wanted);
    if (!dacl || !wantedDacl || dacl->AceCount != wantedDacl->AceCount) return false;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        void* wantedAce = nullptr;
        if (!GetAce(dacl, i, &ace) || !GetAce(wantedDacl, i, &wantedAce) || !SameAce(ace, wantedAce)) return false;
    }
    return true;
}

bool CreateProtectedFolder(const wchar_t* folder)
{
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    return CreateDirectoryW(folder, &attributes) != 0;
}

// `folder` with backslashes and without a trailing one (a drive's root keeps its own):
// the name under which its identity is recorded, and the one links show under.
static bool FolderName(const wchar_t* folder, wchar_t (&name)[FolderNameUnits])
{
    size_t length = 0;
    if (FAILED(StringCchCopyW(name, FolderNameUnits, folder)) ||
        FAILED(StringCchLengthW(name, FolderNameUnits, &length)) || length == 0)
        return false;
    for (wchar_t* c = name; *c; ++c)
        if (*c == L'/') *c = L'\\';
    while (length > 1 && name[length - 1] == L'\\' && name[length - 2] != L':') name[--length] = L'\0';
    return true;
}

// A link or reparse point at the name, or a name that cannot be looked at. Wine shows a
// Unix link to a folder only by name, as a reparse point, and only without a trailing
// separator (which makes it follow the link); Windows shows its reparse points by name too.
static bool IsLinkOrUnknown(const wchar_t* name)
{
    DWORD attributes = GetFileAttributesW(name);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder as such, not a link or reparse point that leads somewhere else; asked by name
// and by handle (Windows shows its reparse points there without following them).
static bool IsRealFolder(const wchar_t* name, HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY, unwanted = FILE_ATTRIBUTE_REPARSE_POINT;
    DWORD attributes = GetFileAttributesW(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (wanted | unwanted)) == wanted &&
           GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & (wanted | unwanted)) == wanted;
}

// Opens what is at `name` without following a reparse point. Listing is data access: the
// share mode, which leaves out deletion, then binds every later open, so that the folder
// cannot be renamed, deleted or replaced while the handle lives (a handle without data
// or delete access would not stop a rename). Changing the security is asked for too.
static HANDLE OpenFolder(const wchar_t* name)
{
    return CreateFileW(name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

static bool IdentityOf(HANDLE handle, FolderIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// True when the folder open as `handle` is the one whose identity is recorded for `name`.
static bool IsRecorded(const wchar_t* name, HANDLE handle)
{
    FolderIdentity identity, recorded = {};
    HKEY key;
    if (!IdentityOf(handle, &identity) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProtectedFolderRecords, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof recorded;
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&recorded), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_BINARY && size == sizeof recorded &&
           memcmp(&identity, &recorded, sizeof identity) == 0;
}

static void Record(const wchar_t* name, HANDLE handle)
{
    FolderIdentity identity;
    HKEY key;
    if (!IdentityOf(handle, &identity) ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProtectedFolderRecords, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&identity), sizeof identity);
    RegCloseKey(key);
}

// Keeps `handle` open until ReleaseProtectedFolders; a folder held already is held by the
// new handle instead. False, with the handle closed, when there is no room.
static bool Hold(const wchar_t* name, HANDLE handle)
{
    int free = -1;
    for (int i = 0; i < MostHolds; ++i) {
        if (Holds[i] && _wcsicmp(HeldNames[i], name) == 0) {
            CloseHandle(Holds[i]);
            Holds[i] = handle;
            return true;
        }
        if (!Holds[i] && free < 0) free = i;
    }
    if (free < 0) {
        CloseHandle(handle);
        return false;
    }
    Holds[free] = handle;
    StringCchCopyW(HeldNames[free], FolderNameUnits, name);
    return true;
}

void ReleaseProtectedFolders()
{
    for (HANDLE& held : Holds) {
        if (held) CloseHandle(held);
        held = nullptr;
    }
}

bool HoldProtectedFolder(const wchar_t* folder)
{
    wchar_t name[FolderNameUnits];
    if (!FolderName(folder, name)) return false;
    HANDLE handle = OpenFolder(name);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (!IsRealFolder(name, handle)) {
        CloseHandle(handle);
        return false;
    }
    return Hold(name, handle);
}

// Gives the folder open as `handle` the administrators' security unless it has it already.
static bool KeepProtected(HANDLE handle)
{
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return false;
    PSECURITY_DESCRIPTOR current = nullptr;
    bool asWanted = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &current) == ERROR_SUCCESS &&
                    FolderSecurityIsAsWanted(current, &security.descriptor);
    if (current) LocalFree(current);
    // A folder whose owner is someone else stays theirs to change unless the owner changes too.
    return asWanted || SetSecurityInfo(handle, SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                           PROTECTED_DACL_SECURITY_INFORMATION,
                                       security.sids[1], nullptr, reinterpret_cast<PACL>(security.acl),
                                       nullptr) == ERROR_SUCCESS;
}

// Renames what is at `name` to "<name>-moved-<seconds>" (or with "-2", "-3", ... after it)
// in the same folder; false when no such name is free or the rename fails.
static bool MoveAside(const wchar_t* name)
{
    long long seconds = static_cast<long long>(time(nullptr));
    for (int number = 1; number <= MostAsideNames; ++number) {
        wchar_t aside[FolderNameUnits];
        HRESULT composed = number == 1 ? StringCchPrintfW(aside, FolderNameUnits, L"%s-moved-%I64d", name, seconds)
                                       : StringCchPrintfW(aside, FolderNameUnits, L"%s-moved-%I64d-%d", name,
                                                          seconds, number);
        if (FAILED(composed)) return false;
        if (MoveFileExW(name, aside, 0)) return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool PrepareProtectedFolder(const wchar_t* folder)
{
    wchar_t name[FolderNameUnits];
    if (!FolderName(folder, name)) return false;
    for (int attempt = 0; attempt < MostAttempts; ++attempt) {
        bool made = CreateProtectedFolder(name);
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        // The handle is held from the check on, so what was checked is what gets used.
        HANDLE handle = OpenFolder(name);
        bool real = handle != INVALID_HANDLE_VALUE && IsRealFolder(name, handle);
        if (real && made) {
            Record(name, handle);
            return Hold(name, handle);
        }
        if (real && IsRecorded(name, handle)) {
            if (KeepProtected(handle)) return Hold(name, handle);
            CloseHandle(handle);
            return false;
        }
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        // Moving a link would, under Wine, move what it leads to: it is left alone.
        if (made || IsLinkOrUnknown(name) || !MoveAside(name)) return false;
    }
    return false;
}
