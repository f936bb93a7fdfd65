#pragma once
// Component registration: drop intake, the regsvr32 runner, cabinet extraction.
#include <windows.h>
#include <shellapi.h>

constexpr int StatusTextCapacity = 1000;
// What InfoEdit shows while a cabinet is handled; "拖入文件路径:" at rest.
extern wchar_t StatusText[StatusTextCapacity];

// Appends one line of the list of unpacked files and shows StatusText in InfoEdit. Near
// the limit the list ends with a "..." line, so that the final status line always fits.
void AppendStatusListLine(const wchar_t* line);

// Handles a WM_DROPFILES of the Register page; releases the drop handle.
void HandleFileDrop(HDROP drop);

// Run regsvr32 silently: unregister then register / unregister only.
// True when every command run ended with status 0.
bool RegisterComponentFile(const wchar_t* path);
bool UnregisterComponentFile(const wchar_t* path);

// Runs `command` through the command interpreter ("/c") and waits for it: the interpreter
// named by COMSPEC, else cmd.exe from the current folder, then from PATH. Returns the
// interpreter's exit code, or -1 when none could be started.
int RunCommandInterpreter(const wchar_t* command);

// The folder of the latest cabinet, e.g. "C:/ZemaActiveX/1765321234/" (system code page
// and UTF-16); empty before the first cabinet. The drop intake's folder search appends
// "*.*" to ExtractFolderW, which keeps it until the next cabinet.
constexpr int ExtractFolderCapacity = 500;
constexpr int ExtractFolderWCapacity = 256;
extern char ExtractFolder[ExtractFolderCapacity];
extern wchar_t ExtractFolderW[ExtractFolderWCapacity];

// Unpacks the cabinet into a new time-named folder, listing each file in StatusText and
// InfoEdit. `cabinetPathA` (the same path in the system code page, writable) is cut after
// its last backslash. False only when the cabinet library could not be used at all; the
// user has then been told by a message box.
bool ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA);
// Creates the base folder and a subfolder named after the current time in seconds;
// returns the subfolder's path, ending in "/", in storage that outlives the call.
const char* CreateExtractionFolder(const char* baseFolder);

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
