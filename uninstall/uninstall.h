#pragma once
// Control uninstallation: installed-control query and registry purge.
#include <windows.h>

// The main window's list of installed controls.
extern HWND ControlList;

// Refills ControlList with the family's ProgIDs; returns how many it added.
int QueryInstalledControls();
// Removes one control's registry entries and unregisters its server file.
void UninstallControl(const wchar_t* progId);

// Registry operations below HKEY_CLASSES_ROOT, used by UninstallControl.

// Room of the path buffer of a tree deletion, which grows in place while it descends.
constexpr int KeyTreePathUnits = 522;
// Room that CopyKeyPath fills: at most 519 characters and the terminator.
constexpr int CopyKeyPathUnits = 520;
// Room of a default value read: at most 254 characters and the terminator.
constexpr int DefaultValueUnits = 255;

// Copies `source` into `destination` (room 520): 0 when whole, else the first 519
// characters and 0x8007007A (STRSAFE_E_INSUFFICIENT_BUFFER).
HRESULT CopyKeyPath(const wchar_t* source, wchar_t* destination);
// Deletes the key at `path` below `root` with everything under it: 1 when the key was
// deleted, 0 when it cannot be opened or something below it resists. `path` is the
// working buffer; on return it holds the path given, minus a trailing "\" when the key
// could be opened.
int DeleteKeyTree(HKEY root, wchar_t (&path)[KeyTreePathUnits]);
// DeleteKeyTree on HKEY_CLASSES_ROOT with a copy of `path`; 0 without deleting when the
// copy would be cut.
int DeleteClassesRootTree(const wchar_t* path);
// Default value of the key at `path` below HKEY_CLASSES_ROOT; empty when the key cannot
// be opened, has no such value or the value does not fit.
void ReadClassesRootDefault(const wchar_t* path, wchar_t (&text)[DefaultValueUnits]);
// Deletes every key directly below `rootPath` whose GUID name agrees with `typeLibGuid`
// from its second group on (after the case fix chosen by the ProgID's first seven
// characters). Nothing when `typeLibGuid` is no registry GUID, the zero GUID or one of the
// platform's reserved OLE range, whose family holds IUnknown, IDispatch and the like.
void PurgeTypeLibMatches(const wchar_t* progId, const wchar_t* typeLibGuid, const wchar_t* rootPath);

// True when the first five characters of `name` (`nameLength` characters), in the ANSI
// code page, are one of the family's ProgID prefixes.
bool HasFamilyPrefix(const wchar_t* name, DWORD nameLength);

// Checks of the values an uninstall reads before it uses them.

// Room of a server path read from a class key.
constexpr int ServerPathUnits = 10000;
// True when `text` is exactly a registry GUID: 38 characters, "{8-4-4-4-12}" hexadecimal
// digits in either letter case.
bool IsRegistryGuid(const wchar_t* text);
// True when the class key "CLSID\<clsid>" names a ProgID of the family in its ProgID or
// VersionIndependentProgID subkey.
bool ClassBelongsToFamily(const wchar_t* clsid);
// Removes one enclosing pair of quotation marks from the server path in `path` (room
// `room`) and expands its %NAME% references with the machine's variables. False when the
// result is not a plain path (a '%', a '"' or a control character is left) or does not fit.
bool MakeServerPathPlain(wchar_t* path, size_t room);

// The registry backup of one uninstall. While a session is open, DeleteKeyTree first
// writes the tree it is given to the session's file
// "<system drive>:/ZemaActiveX/backup/<unix seconds>-<ProgID>.reg" (made by the first tree
// that exists, so a session that deletes nothing leaves no file), and deletes nothing that
// is not written there whole.
void BeginRegistryBackup(const wchar_t* progId);
// True when the tree at `path` below `root` is in the session's file whole, when the key
// does not exist, or when no session is open. Once the folder or the file could not be
// made or written, false for every tree until the session ends.
bool BackupKeyTree(HKEY root, const wchar_t* path);
// Closes the session; false when its folder or file could not be made or written.
bool EndRegistryBackup();
// Tells the user, in a box owned by the main window, that the control was not uninstalled
// because its registry backup could not be saved.
void ReportRegistryBackupRefused(const wchar_t* progId);

// True when this 32-bit process runs under WOW64; evaluated anew on every call.
bool DetectWow64();
// Delete the fixed key sets of the two specially handled controls.
void PurgeBulkUploadCtl();
void PurgeStampServerCtl();
