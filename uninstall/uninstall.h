#pragma once
// Control uninstallation: installed-control query and registry purge.
//
// An uninstall works on the machine's registrations, HKEY_LOCAL_MACHINE\Software\Classes,
// never on the merged HKEY_CLASSES_ROOT, whose user half a user without administrator
// rights can write. It plans, saves, then deletes: every tree it will delete, and every
// tree of the control's registration that the control's own unregistration may remove, is
// decided first and written whole to one backup file; only when that file is complete is
// anything deleted and the server asked to unregister.
#include <windows.h>

// The main window's list of installed controls.
extern HWND ControlList;

// Refills ControlList with the family's ProgIDs; returns how many it added.
int QueryInstalledControls();
// Removes one control's registry entries and unregisters its server file.
void UninstallControl(const wchar_t* progId);

// Registry views. This 32-bit process sees the 32-bit view; on 64-bit Windows a class
// may also be registered in the 64-bit one.
constexpr REGSAM OwnView = 0;
constexpr REGSAM View64 = KEY_WOW64_64KEY;

// Room of a key path below HKEY_LOCAL_MACHINE\Software\Classes that an uninstall names:
// at most 521 characters and the terminator.
constexpr int KeyTreePathUnits = 522;
// Room that CopyKeyPath fills: at most 519 characters and the terminator.
constexpr int CopyKeyPathUnits = 520;
// Room of a default value read: at most 254 characters and the terminator.
constexpr int DefaultValueUnits = 255;
// Room of a key's stored full name, "HKEY_LOCAL_MACHINE\...".
constexpr int StoredNameUnits = 1024;

// Copies `source` into `destination` (room 520): 0 when whole, else the first 519
// characters and 0x8007007A (STRSAFE_E_INSUFFICIENT_BUFFER).
HRESULT CopyKeyPath(const wchar_t* source, wchar_t* destination);

// Registry access below HKEY_LOCAL_MACHINE\Software\Classes.

// Opens HKEY_LOCAL_MACHINE\Software\Classes in `view`.
LONG OpenClassesRoot(REGSAM view, REGSAM access, HKEY* root);
// True for the names of the platform's containers of class registrations ("CLSID",
// "Interface", "TypeLib", "AppID" and "Wow6432Node"), which are opened as the platform
// lays them out: on 64-bit Windows the 32-bit view reaches some of them through links of
// the platform's own.
bool IsContainerName(const wchar_t* name);
// Opens the key at `path` below `root` (opened in `view`) one name at a time: the leading
// containers as laid out, every other key with REG_OPTION_OPEN_LINK.
// ERROR_CANT_RESOLVE_FILENAME when one of those is a registry link.
LONG OpenKeyWithoutLinks(HKEY root, REGSAM view, const wchar_t* path, REGSAM access, HKEY* key);
// True when the key, opened with REG_OPTION_OPEN_LINK, is a registry link.
bool IsRegistryLink(HKEY key);
// True when an enumerated name is its own text: no NUL inside, no line break, so that
// it can be opened by name and written to a backup file.
bool IsWritableName(const wchar_t* name, DWORD length);
// The key's full name as stored, "HKEY_LOCAL_MACHINE\..."; false when the platform does
// not tell it or it does not fit `room`.
bool StoredKeyName(HKEY key, wchar_t* name, size_t room);
// Deletes the key at `path` below `root` (opened in `view`) with everything under it,
// never through a registry link and never a link: 1 when the key was deleted, 0 when it
// cannot be opened or something below it resists. A trailing "\" of `path` is removed.
int DeleteKeyTree(HKEY root, REGSAM view, wchar_t (&path)[KeyTreePathUnits]);
// Default value of the key at `path` in `view`; empty when the key cannot be opened, has
// no such value or the value does not fit.
void ReadClassesRootDefault(const wchar_t* path, wchar_t (&text)[DefaultValueUnits], REGSAM view = OwnView);

// The plan of the running uninstall: every tree it deletes or only saves.

// Empties the plan.
void BeginUninstallPlan();
// Adds the tree at `path` in `view`, when its key exists: deleted after the save, or only
// saved. A tree named twice (one key seen through two paths) is planned once. Once a
// tree cannot be planned (a link on the way, a key that cannot be opened, no room), the
// whole plan is refused.
void PlanKeyTree(REGSAM view, const wchar_t* path, bool deleted);
// False once the plan was refused.
bool UninstallPlanSound();
// True the first time the root with this stored name is purged in this plan: a root
// seen through two paths is enumerated once.
bool FirstPurgeOfRoot(const wchar_t* storedName);
struct PlannedTree {
    REGSAM view;
    const wchar_t* path;        // below HKEY_LOCAL_MACHINE\Software\Classes, as named
    const wchar_t* storedName;  // "HKEY_LOCAL_MACHINE\...", as stored
    bool deleted;
};
int PlannedTreeCount();
const PlannedTree& PlannedTreeAt(int index);
// True when the tree lies inside another planned tree, which saves it.
bool PlannedTreeInsideAnother(int index);
// Deletes every tree planned for deletion, in plan order.
void DeletePlannedTrees();

// The registry backup: every planned tree, every key and value with its exact type and
// data, in "<system drive>:/ZemaActiveX/backup/<unix seconds>-<ProgID>.reg", written under
// a temporary name, flushed and given its name only when whole. True when the file is
// complete, or when nothing is planned (no file then). False when any planned tree
// cannot be written whole; nothing of the file is left then.
bool SaveRegistryBackup(const wchar_t* progId);
// Tells the user, in a box owned by the main window, that the control was not uninstalled
// because its registry backup could not be saved.
void ReportRegistryBackupRefused(const wchar_t* progId);

// Deletes every key directly below `rootPath` (in `view`) whose GUID name agrees with
// `typeLibGuid` from its second group on (after the case fix chosen by the ProgID's first
// seven characters): plans their deletion, all of them in one pass. Nothing when
// `typeLibGuid` is no registry GUID, the zero GUID or one of the platform's reserved OLE
// range, whose family holds IUnknown, IDispatch and the like.
void PurgeTypeLibMatches(const wchar_t* progId, const wchar_t* typeLibGuid, const wchar_t* rootPath,
                         REGSAM view = OwnView);
// Plans the saving, without deletion, of the trees of the class's registration that its
// own unregistration may remove: every ProgID whose CLSID names the class, the class's
// AppID, the type library it names with every version, and the Interface keys whose
// TypeLib names that library.
void PlanRegistrationTrees(REGSAM view, const wchar_t* clsid);

// True when the first five characters of `name` (`nameLength` characters), in the ANSI
// code page, are one of the family's ProgID prefixes.
bool HasFamilyPrefix(const wchar_t* name, DWORD nameLength);

// Checks of the values an uninstall reads before it uses them.

// Room of a server path read from a class key.
constexpr int ServerPathUnits = 10000;
// True when `text` is exactly a registry GUID: 38 characters, "{8-4-4-4-12}" hexadecimal
// digits in either letter case.
bool IsRegistryGuid(const wchar_t* text);
// True when the class key "CLSID\<clsid>" in `view` names a ProgID of the family in its
// ProgID or VersionIndependentProgID subkey.
bool ClassBelongsToFamily(const wchar_t* clsid, REGSAM view = OwnView);
// Removes one enclosing pair of quotation marks from the server path in `path` (room
// `room`) and expands its %NAME% references with the machine's variables. False when the
// result is not a plain path (a '%', a '"' or a control character is left) or does not fit.
bool MakeServerPathPlain(wchar_t* path, size_t room);

// Checks of a server file before its own unregistration runs or its GUID family goes.

// True when the two plain paths name the same file: equal but for letter case, once each
// is in its long form where the file exists. A trailing "\<number>" (a resource index, as
// type-library paths carry) is not part of the file.
bool NamesSameFile(const wchar_t* first, const wchar_t* second);
// True when the two plain paths end in the same file name, letter case aside (`first` in
// its long form where the file exists).
bool HasSameFileName(const wchar_t* first, const wchar_t* second);
// True when no class outside the family, in any view, names a server file of the same
// file name as `serverPath`: its unregistration would remove a library that other
// classes need.
bool ServesOnlyTheFamily(const wchar_t* serverPath);
// True when the type library `typeLibGuid` in `view` has no key, or one of its win32 or
// win64 paths names `serverPath`: only then is its GUID family the control's to purge.
bool TypeLibNamesServer(REGSAM view, const wchar_t* typeLibGuid, const wchar_t* serverPath);

// True when this 32-bit process runs under WOW64; evaluated anew on every call.
bool DetectWow64();
// Plan the deletion of the fixed key sets of the two specially handled controls.
void PurgeBulkUploadCtl();
void PurgeStampServerCtl();
