#include "uninstall/uninstall.h"
#include "system/system.h"

#include <cwchar>

#include <strsafe.h>

// Room of a composed key path of the general procedure.
constexpr int WorkingPathUnits = 255;
// Room of the server path and of the path of the key that holds it.
constexpr int ServerUnits = ServerPathUnits;

// Key trees of the two specially handled controls, deleted in this order; one list for
// a process without WOW64 and one for a process under WOW64, each ending in nullptr.
struct FixedKeySet {
    const wchar_t* noWow64[4];
    const wchar_t* wow64[5];
};
static const FixedKeySet BulkUploadKeys = {
    {L"Zema.BulkUploadCtl", L"TypeLib\\{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}",
     L"CLSID\\{5D3A71E4-C4B8-4a96-9E21-7F0B3C6D8E14}", nullptr},
    {L"Zema.BulkUploadCtl", L"TypeLib\\{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}",
     L"Wow6432Node\\CLSID\\{5D3A71E4-C4B8-4a96-9E21-7F0B3C6D8E14}",
     L"Wow6432Node\\TypeLib\\{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}", nullptr},
};
static const FixedKeySet StampServerKeys = {
    {L"ZEMA.StampServerCtl", L"TypeLib\\{B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35}",
     L"CLSID\\{B7E2C90F-3F14-4d5b-8C6A-2E9F41A07B35}", nullptr},
    {L"ZEMA.StampServerCtl", L"TypeLib\\{B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35}",
     L"Wow6432Node\\CLSID\\{B7E2C90F-3F14-4d5b-8C6A-2E9F41A07B35}",
     L"Wow6432Node\\TypeLib\\{B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35}", nullptr},
};

bool DetectWow64()
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    // Looked up at run time: systems without WOW64 may lack the function.
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process && !isWow64Process(GetCurrentProcess(), &wow64)) wow64 = FALSE;
    return wow64 != FALSE;
}

static void PurgeFixedKeys(const FixedKeySet& keys)
{
    const wchar_t* const* paths = DetectWow64() ? keys.wow64 : keys.noWow64;
    wchar_t tree[KeyTreePathUnits] = {};
    for (; *paths; ++paths)
        if (CopyKeyPath(*paths, tree) == S_OK) DeleteKeyTree(HKEY_CLASSES_ROOT, tree);
}

void PurgeBulkUploadCtl()
{
    PurgeFixedKeys(BulkUploadKeys);
}

void PurgeStampServerCtl()
{
    PurgeFixedKeys(StampServerKeys);
}

// A listed ProgID names one key: an empty text would name the root, and one with a
// backslash a key below a different one.
static bool IsSingleKeyName(const wchar_t* name)
{
    return name[0] != L'\0' && wcschr(name, L'\\') == nullptr;
}

// `first` + `second` + `third` in `path`; false when the whole does not fit.
static bool ComposePath(wchar_t* path, size_t room, const wchar_t* first, const wchar_t* second,
                        const wchar_t* third)
{
    return SUCCEEDED(StringCchCopyW(path, room, first)) && SUCCEEDED(StringCchCatW(path, room, second)) &&
           SUCCEEDED(StringCchCatW(path, room, third));
}

// Deletes the tree at `first` + `second`; a path that would not fit is not deleted.
static void DeleteComposedTree(const wchar_t* first, const wchar_t* second)
{
    wchar_t path[WorkingPathUnits] = {};
    if (ComposePath(path, WorkingPathUnits, first, second, L"")) DeleteClassesRootTree(path);
}

// The server file registered for the class, unquoted and expanded; empty when it cannot
// be read whole or is no plain path.
static void ReadServerPath(const wchar_t* clsid, wchar_t (&serverPath)[ServerUnits])
{
    wchar_t keyPath[ServerUnits] = {};
    HKEY key;
    if (!ComposePath(keyPath, ServerUnits, L"CLSID\\", clsid, L"\\InprocServer32") ||
        RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD room = sizeof serverPath;
    LONG result = RegQueryValueExW(key, L"", nullptr, &type, reinterpret_cast<BYTE*>(serverPath), &room);
    RegCloseKey(key);
    // A value that filled the buffer has no terminator: it is not used cut.
    if (result != ERROR_SUCCESS || serverPath[ServerUnits - 1] != L'\0' ||
        !MakeServerPathPlain(serverPath, ServerUnits))
        ZeroMemory(serverPath, sizeof serverPath);
}

// Removes the control's extension keys, its TypeLib and Interface keys of its GUID
// family, its class keys and its ProgID tree. `clsid` is empty when it is unknown or not
// a class of the family.
static void PurgeGeneral(const wchar_t* progId, const wchar_t* clsid)
{
    DeleteClassesRootTree(L".qmc");
    DeleteClassesRootTree(L".qmx");

    bool wow64 = DetectWow64();
    wchar_t typeLibValuePath[WorkingPathUnits] = {};
    bool hasTypeLibPath = clsid[0] != L'\0' &&
                          ComposePath(typeLibValuePath, WorkingPathUnits,
                                      wow64 ? L"Wow6432Node\\CLSID\\" : L"CLSID\\", clsid, L"\\TypeLib");
    // Without WOW64 "Interface" is purged twice: each pass steps over the key that moves
    // into a deleted one's place, and the second pass removes it.
    const wchar_t* roots[] = {L"Interface", wow64 ? L"Wow6432Node\\Interface" : L"Interface", L"TypeLib"};
    for (const wchar_t* root : roots) {
        wchar_t typeLibGuid[DefaultValueUnits] = {};
        if (hasTypeLibPath) ReadClassesRootDefault(typeLibValuePath, typeLibGuid);
        PurgeTypeLibMatches(progId, typeLibGuid, root);
    }

    // The class keys go after the purges: the TypeLib GUID is read from below them.
    if (clsid[0] != L'\0') {
        if (wow64) DeleteComposedTree(L"Wow6432Node\\CLSID\\", clsid);
        DeleteComposedTree(L"CLSID\\", clsid);
    }
    DeleteComposedTree(progId, L"");
}

void UninstallControl(const wchar_t* progId)
{
    if (!IsSingleKeyName(progId)) return;

    // Everything is read before anything is deleted.
    wchar_t clsid[DefaultValueUnits] = {};
    wchar_t clsidPath[WorkingPathUnits] = {};
    if (ComposePath(clsidPath, WorkingPathUnits, progId, L"\\CLSID", L""))
        ReadClassesRootDefault(clsidPath, clsid);
    // The ProgID's value may name any class, the platform's own too: only a GUID whose
    // class names a ProgID of the family is this control's, to delete and unregister.
    if (!IsRegistryGuid(clsid) || !ClassBelongsToFamily(clsid)) clsid[0] = L'\0';
    wchar_t serverPath[ServerUnits] = {};
    if (clsid[0] != L'\0') ReadServerPath(clsid, serverPath);

    BeginRegistryBackup(progId);
    if (wcscmp(progId, L"Zema.BulkUploadCtl") == 0)
        PurgeBulkUploadCtl();
    else if (wcscmp(progId, L"ZEMA.StampServerCtl") == 0)
        PurgeStampServerCtl();
    else
        PurgeGeneral(progId, clsid);
    // Without a backup the keys stay, and the server is not asked to remove them either.
    if (!EndRegistryBackup()) {
        ReportRegistryBackupRefused(progId);
        return;
    }
    UnregisterComponentFile(serverPath);
}
