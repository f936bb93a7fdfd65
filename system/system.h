#pragma once
// What the elevated program needs from the platform, shared by registration and
// uninstall: the regsvr32 runner, the machine's environment, the check of a server file
// before it is run, the program's own protected folders and the exact conversion to the
// system code page.
#include <windows.h>

// Run the system directory's regsvr32 silently, started directly (no command
// interpreter) in the system directory with the machine's environment, and waited for
// without a time-out: unregister then register / unregister only. True when every
// command run ended with status 0. A path holding '"' or a control character, or ending
// in a backslash, is no file name and runs nothing.
bool RegisterComponentFile(const wchar_t* path);
// Before anything runs, the server file is opened and held, shared for reading only,
// until regsvr32 has ended; it runs only when neither the file nor any folder above it
// lets anyone but SYSTEM, Administrators, TrustedInstaller or the current user change
// it (ServerPathIsTrusted). The path must be absolute ("X:\..." or "\\server\share\...");
// regsvr32 is given its full form (GetFullPathNameW), the file that was checked.
bool UnregisterComponentFile(const wchar_t* path);

// Which part of a server's path a security descriptor belongs to: the server file, the
// folder that holds it (where the loader also finds the server's own libraries), or a
// folder further up.
enum class ServerPathPart { File, Folder, FolderAbove };
// True when `descriptor` lets nobody but SYSTEM, Administrators, TrustedInstaller and
// `currentUser` change that part: replace or write the file, add a file beside it,
// delete or rename it or a folder on its way, change permissions or take ownership.
// The owner, who may always rewrite the permissions, must be one of them; a missing or
// NULL DACL lets everyone do everything; inherit-only entries do not apply; deny
// entries are not counted on.
bool ServerPathIsTrusted(PSECURITY_DESCRIPTOR descriptor, PSID currentUser, ServerPathPart part);
// Opens the server file at `path` (absolute and full) shared for reading only, and
// returns the handle when the file, its folder and every folder above it are real ones
// that ServerPathIsTrusted passes for the current user; INVALID_HANDLE_VALUE otherwise.
HANDLE HoldServerIfTrusted(const wchar_t* path);

// The machine's environment block (sorted "NAME=value" strings, then an empty one), made
// from the machine's own variables only, never the user's: SystemRoot and SystemDrive,
// the variables of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment
// (REG_EXPAND_SZ expanded against these), ProgramFiles and CommonProgramFiles of this
// program's registry view, and a Path of the system and Windows directories only.
// Read anew on every call. False when it does not fit `capacity` units.
bool BuildMachineEnvironment(wchar_t* block, size_t capacity);
// Expands every %NAME% of `text` that names a variable of the machine's environment; any
// other %...% is left as it is. False when the result does not fit `capacity` units.
bool ExpandMachineVariables(const wchar_t* text, wchar_t* out, size_t capacity);

// How a conversion to `codePage` (CP_ACP: the system code page) keeps from writing a
// character inexactly. UTF-8 writes every character, takes no best-fit flag and no
// default-character report, and refuses only a lone surrogate; every other code page
// refuses best-fit look-alikes ('Ā' as 'A') and reports the default character.
struct ExactConversion {
    UINT codePage;
    DWORD flags;
    bool reportsDefault;
};
ExactConversion ExactConversionFor(UINT codePage);
// Converts `text` to `codePage` (CP_ACP: the system code page) character for character;
// false, with `out` emptied, when a character has no exact form there (a look-alike
// would name another file or key) or the result does not fit `capacity` bytes.
bool ToSystemCodePageExactly(const wchar_t* text, char* out, int capacity, UINT codePage);

// The program's own folder, "<system drive>:/ZemaActiveX/"; false when the system
// directory cannot be read or the path does not fit `capacity`.
bool ProgramFolder(wchar_t* folder, int capacity);
// The program's folders below "<drive>:/ZemaActiveX/" belong to administrators: SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from above.
// Creates `folder` with that security; true only when this call created it.
bool CreateProtectedFolder(const wchar_t* folder);
// Makes sure `folder` is a folder this program made, with that security, and holds it
// (ReleaseProtectedFolders). A folder made here has its file identity (volume serial and
// file index) recorded below HKEY_LOCAL_MACHINE (ProtectedFolderRecords); an existing
// one is used only when its identity is the one recorded for its path. Anything else at
// the name (a folder someone else made, a file) is moved aside to "<name>-moved-<unix
// seconds>[-n]" in the same folder, never deleted, and the folder made anew. A link or
// reparse point at the name is refused and left as it is.
bool PrepareProtectedFolder(const wchar_t* folder);
// Holds `folder`, a real folder (no link, no reparse point), until ReleaseProtectedFolders.
bool HoldProtectedFolder(const wchar_t* folder);
// Ends every hold. A held folder is open for listing, shared for reading and writing but
// not for deletion, so that neither it nor anything above it can be renamed or replaced.
void ReleaseProtectedFolders();
// Where the identities are kept: one REG_BINARY value per folder path (backslashes, no
// trailing one) below this key of HKEY_LOCAL_MACHINE, which only administrators may write.
constexpr wchar_t ProtectedFolderRecords[] = L"Software\\ZemaActiveX\\Folders";

// That security, built in the caller's storage: `descriptor` points into `sids` and `acl`
// (SYSTEM, Administrators, Users in this order), so the record must not be copied.
constexpr int ProtectedFolderAceCount = 3;
struct ProtectedFolderSecurity {
    alignas(DWORD) BYTE sids[ProtectedFolderAceCount][SECURITY_MAX_SID_SIZE];
    alignas(DWORD) BYTE acl[sizeof(ACL) + ProtectedFolderAceCount * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    SECURITY_DESCRIPTOR descriptor;
};
bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security);
// True when the owner and DACL of `current` (absolute or self-relative) are exactly those
// of `wanted`: the same owner, a protected DACL with the same entries in the same order.
// A folder whose security already is so is not set again: setting it makes the platform
// pass the inheritable entries on to everything below.
bool FolderSecurityIsAsWanted(PSECURITY_DESCRIPTOR current, PSECURITY_DESCRIPTOR wanted);
