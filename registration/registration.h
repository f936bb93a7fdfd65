#pragma once
// Component registration: drop intake and cabinet extraction.
#include <windows.h>
#include <shellapi.h>

// The main window's two edit controls: the dropped path, and what became of it.
extern HWND PathEdit;
extern HWND InfoEdit;

constexpr int StatusTextCapacity = 1000;
// What InfoEdit shows while a cabinet is handled; "拖入文件路径:" at rest.
extern wchar_t StatusText[StatusTextCapacity];

// Appends one line of the list of unpacked files to StatusText (ExtractCabinet shows it).
// Near the limit the list ends with a "..." line, so that the final status line always fits.
void AppendStatusListLine(const wchar_t* line);

// Handles a WM_DROPFILES of the Register page; releases the drop handle.
void HandleFileDrop(HDROP drop);

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
// True when the cabinet open as `descriptor` describes itself soundly: at least one
// folder, every file in one of them and within its data, every entry and data block
// inside the file. The cabinet library is given no other.
bool IsSoundCabinet(int descriptor);
// Gives the file written through `descriptor` the date and time (MS-DOS words, local
// time) stored with it in a cabinet, closes the descriptor, then gives the file at
// `target` the stored attributes: read-only, hidden, system and archive pass.
void SetStoredDateAndAttributes(int descriptor, const wchar_t* target, USHORT date, USHORT time,
                                USHORT attributes);
