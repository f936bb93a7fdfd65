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
