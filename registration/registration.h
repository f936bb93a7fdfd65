#pragma once
// Component registration: drop intake, the regsvr32 runner, cabinet extraction.
#include <windows.h>
#include <shellapi.h>

constexpr int StatusTextCapacity = 1000;
// What InfoEdit shows while a cabinet is handled; "拖入文件路径:" at rest.
extern wchar_t StatusText[StatusTextCapacity];

// Appends one line of the list of unpacked files to StatusText (ExtractCabinet shows it).
// Near the limit the list ends with a "..." line, so that the final status line always fits.
void AppendStatusListLine(const wchar_t* line);

// Handles a WM_DROPFILES of the Register page; releases the drop handle.
void HandleFileDrop(HDROP drop);

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

// The folder of the latest cabinet, e.g. "C:/ZemaActiveX/1765321234/" (system code page
// and UTF-16), made by that cabinet's drop; empty before the first cabinet and when the
// latest one got no folder of its own (nothing is then scanned). The drop intake's folder
// search appends "*.*" to ExtractFolderW, which keeps it until the next cabinet.
constexpr int ExtractFolderCapacity = 500;
constexpr int ExtractFolderWCapacity = 256;
extern char ExtractFolder[ExtractFolderCapacity];
extern wchar_t ExtractFolderW[ExtractFolderWCapacity];

// Unpacks the cabinet into a new time-named folder, listing each file in StatusText; the
// drop intake shows the list with its result (InfoEdit is set here only before a message
// box). `cabinetPathA` (the same path in the system code page, writable; empty when it
// did not convert exactly) is cut after its last backslash. The file is read through
// the UTF-16 path, once checked by IsSoundCabinet. False only when the cabinet library
// could not be used at all; the user has then been told by a message box.
bool ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA);
// Converts `text` to the system code page character for character; false, with `out`
// emptied, when a character has no exact form there (a best-fit look-alike would name
// another file) or the result does not fit `capacity` bytes.
bool ToSystemCodePageExactly(const wchar_t* text, char* out, int capacity);
// True when the cabinet open as `descriptor` describes itself soundly: at least one
// folder, every file in one of them and within its data, every entry and data block
// inside the file. The cabinet library is given no other.
bool IsSoundCabinet(int descriptor);
// Gives the file open as `descriptor` the date, time (MS-DOS words, local time) and
// attributes stored with it in a cabinet: read-only, hidden, system and archive pass.
void SetStoredDateAndAttributes(int descriptor, USHORT date, USHORT time, USHORT attributes);

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
