#pragma once
// What the elevated program needs from the platform, shared by registration and
// uninstall: the regsvr32 runner, the program's own protected folders and the exact
// conversion to the system code page.
#include <windows.h>

// Run regsvr32 silently: unregister then register / unregister only.
// True when every command run ended with status 0. A path holding '%', '"' or a control
// character is refused before anything runs: the uninstall passes a server path read from
// the registry already unquoted and expanded.
bool RegisterComponentFile(const wchar_t* path);
bool UnregisterComponentFile(const wchar_t* path);

// Runs `command` through the system directory's cmd.exe ("/d /c"), started in the system
// directory, and waits for it; COMSPEC, the current folder and PATH are never consulted.
// Returns the interpreter's exit code, or -1 when it could not be started.
int RunCommandInterpreter(const wchar_t* command);

// Converts `text` to the system code page character for character; false, with `out`
// emptied, when a character has no exact form there (a best-fit look-alike would name
// another file) or the result does not fit `capacity` bytes.
bool ToSystemCodePageExactly(const wchar_t* text, char* out, int capacity);

// The program's own folder, "<system drive>:/ZemaActiveX/"; false when the system
// directory cannot be read or the path does not fit `capacity`.
bool ProgramFolder(wchar_t* folder, int capacity);
// The program's folders below "<drive>:/ZemaActiveX/" belong to administrators: SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from above.
// Creates `folder` with that security; true only when this call created it.
bool CreateProtectedFolder(const wchar_t* folder);
// Makes sure `folder` exists with that security: created so, or, when it exists already,
// accepted only when it is a real folder (no link, no reparse point) whose security
// could be set so (owner Administrators, protected DACL).
bool PrepareProtectedFolder(const wchar_t* folder);

// That security, built in the caller's storage: `descriptor` points into `sids` and `acl`
// (SYSTEM, Administrators, Users in this order), so the record must not be copied.
constexpr int ProtectedFolderAceCount = 3;
struct ProtectedFolderSecurity {
    alignas(DWORD) BYTE sids[ProtectedFolderAceCount][SECURITY_MAX_SID_SIZE];
    alignas(DWORD) BYTE acl[sizeof(ACL) + ProtectedFolderAceCount * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    SECURITY_DESCRIPTOR descriptor;
};
bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security);
