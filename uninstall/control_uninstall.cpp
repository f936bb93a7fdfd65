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

// Plans the fixed key set in the view this process sees, by the column of its WOW64
// state, and on 64-bit Windows in the 64-bit view too, where a 64-bit registration of the
// control puts its keys at the paths of the column without WOW64.
static void PurgeFixedKeys(const FixedKeySet& keys)
{
    bool wow64 = DetectWow64();
    for (const wchar_t* const* paths = wow64 ? keys.wow64 : keys.noWow64; *paths; ++paths)
        PlanKeyTree(OwnView, *paths, true);
    if (wow64)
        for (const wchar_t* const* paths = keys.noWow64; *paths; ++paths) PlanKeyTree(View64, *paths, true);
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

// Plans the deletion of the tree at `first` + `second` in `view`; a path that would not
// fit is not planned.
static void PlanComposedTree(REGSAM view, const wchar_t* first, const wchar_t* second)
{
    wchar_t path[WorkingPathUnits] = {};
    if (ComposePath(path, WorkingPathUnits, first, second, L"")) PlanKeyTree(view, path, true);
}

// The server file registered for the class in `view`, unquoted and expanded; empty when
// it cannot be read whole or is no plain path.
static void ReadServerPath(REGSAM view, const wchar_t* clsid, wchar_t (&serverPath)[ServerUnits])
{
    wchar_t keyPath[ServerUnits] = {};
    HKEY root, key;
    if (!ComposePath(keyPath, ServerUnits, L"CLSID\\", clsid, L"\\InprocServer32") ||
        OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS)
        return;
    LONG opened = RegOpenKeyExW(root, keyPath, REG_OPTION_OPEN_LINK, KEY_READ | view, &key);
    RegCloseKey(root);
    if (opened != ERROR_SUCCESS) return;
    DWORD type = 0;
    DWORD room = sizeof serverPath;
    LONG result = RegQueryValueExW(key, L"", nullptr, &type, reinterpret_cast<BYTE*>(serverPath), &room);
    RegCloseKey(key);
    // A value that filled the buffer has no terminator: it is not used cut.
    if (result != ERROR_SUCCESS || serverPath[ServerUnits - 1] != L'\0' ||
        !MakeServerPathPlain(serverPath, ServerUnits))
        ZeroMemory(serverPath, sizeof serverPath);
}

// Plans the removal of the control's extension keys, its TypeLib and Interface keys of
// its GUID family, its class keys and its ProgID tree in `view`. `clsid` is empty when it
// is unknown or not a class of the family there; the GUID family is purged only when the
// class's own type library names `serverPath`.
static void PurgeGeneral(const wchar_t* progId, const wchar_t* clsid, REGSAM view, const wchar_t* serverPath)
{
    PlanKeyTree(view, L".qmc", true);
    PlanKeyTree(view, L".qmx", true);

    // Under WOW64 this process names the 32-bit view's keys by their "Wow6432Node" paths
    // too; the 64-bit view's own keys are named without.
    bool wow64Paths = view == OwnView && DetectWow64();
    wchar_t typeLibValuePath[WorkingPathUnits] = {};
    wchar_t typeLibGuid[DefaultValueUnits] = {};
    if (clsid[0] != L'\0' &&
        ComposePath(typeLibValuePath, WorkingPathUnits, wow64Paths ? L"Wow6432Node\\CLSID\\" : L"CLSID\\", clsid,
                    L"\\TypeLib"))
        ReadClassesRootDefault(typeLibValuePath, typeLibGuid, view);
    // A type library that is not the control's own (it names other files) is some other
    // program's, and so is its GUID family. Each root goes in one pass: the matches are
    // collected before anything is deleted.
    if (typeLibGuid[0] != L'\0' && TypeLibNamesServer(view, typeLibGuid, serverPath)) {
        const wchar_t* roots[] = {L"Interface", wow64Paths ? L"Wow6432Node\\Interface" : nullptr, L"TypeLib"};
        for (const wchar_t* root : roots)
            if (root) PurgeTypeLibMatches(progId, typeLibGuid, root, view);
    }

    if (clsid[0] != L'\0') {
        if (wow64Paths) PlanComposedTree(view, L"Wow6432Node\\CLSID\\", clsid);
        PlanComposedTree(view, L"CLSID\\", clsid);
    }
    PlanComposedTree(view, progId, L"");
}

// One view's registration of the control's class.
struct ClassInView {
    REGSAM view;
    bool present;          // a class of the family is registered there
    bool unregistered;     // its server file is asked to unregister
    wchar_t serverPath[ServerUnits];
};

void UninstallControl(const wchar_t* progId)
{
    if (!IsSingleKeyName(progId)) return;
    BeginUninstallPlan();

    // Everything is read, and every tree decided, before anything is deleted.
    wchar_t clsid[DefaultValueUnits] = {};
    wchar_t clsidPath[WorkingPathUnits] = {};
    if (ComposePath(clsidPath, WorkingPathUnits, progId, L"\\CLSID", L""))
        ReadClassesRootDefault(clsidPath, clsid);
    if (!IsRegistryGuid(clsid)) clsid[0] = L'\0';
    // The ProgID's value may name any class, the platform's own too: only a class that
    // names a ProgID of the family is this control's, to delete and unregister. On 64-bit
    // Windows a 64-bit control's class is in the 64-bit view, which this process reaches
    // only by asking for it.
    static ClassInView classes[2];
    int viewCount = DetectWow64() ? 2 : 1;
    for (int i = 0; i < viewCount; ++i) {
        ClassInView& found = classes[i];
        found.view = i == 0 ? OwnView : View64;
        found.present = clsid[0] != L'\0' && ClassBelongsToFamily(clsid, found.view);
        found.unregistered = false;
        ZeroMemory(found.serverPath, sizeof found.serverPath);
        if (found.present) ReadServerPath(found.view, clsid, found.serverPath);
    }

    if (wcscmp(progId, L"Zema.BulkUploadCtl") == 0) {
        PurgeBulkUploadCtl();
    } else if (wcscmp(progId, L"ZEMA.StampServerCtl") == 0) {
        PurgeStampServerCtl();
    } else {
        for (int i = 0; i < viewCount; ++i)
            if (i == 0 || classes[i].present)
                PurgeGeneral(progId, classes[i].present ? clsid : L"", classes[i].view, classes[i].serverPath);
    }

    // A server file that other classes need is never asked to unregister: it would take
    // their registrations with it. What a server's unregistration may remove beyond the
    // deleted trees is saved too.
    bool anyServer = false;
    for (int i = 0; i < viewCount; ++i) {
        ClassInView& found = classes[i];
        if (found.serverPath[0] == L'\0') continue;
        anyServer = true;
        bool again = i > 0 && classes[0].unregistered && _wcsicmp(found.serverPath, classes[0].serverPath) == 0;
        found.unregistered = !again && ServesOnlyTheFamily(found.serverPath);
        if (found.unregistered || again) PlanRegistrationTrees(found.view, clsid);
    }

    // Without a complete backup nothing is deleted, and no server is asked to remove
    // anything either.
    if (!SaveRegistryBackup(progId)) {
        ReportRegistryBackupRefused(progId);
        return;
    }
    DeletePlannedTrees();
    for (int i = 0; i < viewCount; ++i)
        if (classes[i].unregistered) UnregisterComponentFile(classes[i].serverPath);
    // Without any server file the procedure still ends with its unregistration, of nothing.
    if (!anyServer) UnregisterComponentFile(L"");
}
